// Names from data on standard output and error: escaped, whole, a lost write
// reported; through the checker's text and --solution and the editor's exit line.
#include "system/output.h"

#include "roomfixture.h"
#include "tmux.h"

namespace {

// No byte that a terminal would take as the start of a control sequence.
bool terminalSafe(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
    return text.find("\xC2\x9B") == std::string::npos && text.find('\x9B') == std::string::npos;
}

TEST(TerminalText, ControlBytesAreEscapedAndTextIsKept) {
    std::string hostile = std::string("a\x1b]0;TITLE\x07 b\x1b[2J c") + '\0' + "d\x7f e\xC2\x9B f\xff\n";
    EXPECT_EQ(escapedForTerminal(hostile, true), "a\\x1B]0;TITLE\\x07 b\\x1B[2J c\\x00d\\x7F e\\xC2\\x9B f\\xFF\n");
    // Names in UTF-8 stay readable where the terminal speaks it, and only there.
    EXPECT_EQ(escapedForTerminal("jsön/rööm.lvl\tx", true), "jsön/rööm.lvl\\x09x");
    EXPECT_EQ(escapedForTerminal("jsön", false), "js\\xC3\\xB6n");
    // Truncated, overlong and surrogate sequences are not UTF-8.
    EXPECT_EQ(escapedForTerminal("\xC3 \xE2\x82 \xC0\xAF \xED\xA0\x80", true),
              "\\xC3 \\xE2\\x82 \\xC0\\xAF \\xED\\xA0\\x80");
}

using HostileOutput = GameRun;

// A room finished in one step: the start beside the exit.
const std::string room = levelText({{20, "i9"}});

TEST_F(HostileOutput, CheckerEscapesPackEntriesAndReportsLostOutput) {
    writeFile("pk/pk.txt", std::string("\x1b]0;OWNED\x07\r\n\x1b[2Jwipe\r\nnul") + '\0' + "cut\r\nroom\r\n*me\r\n");
    writeFile("pk/room.lvl", room);
    std::string checker = std::string(QUORVEX_CHECK_BINARY) + " pk";
    std::string out = commandOutput(checker + " 2>&1");
    EXPECT_TRUE(terminalSafe(out)) << out;
    EXPECT_NE(out.find("\\x1B]0;OWNED\\x07"), std::string::npos) << out;
    EXPECT_NE(out.find("nul\\x00cut"), std::string::npos) << out;
    // Nothing cut at the NUL: the summary line and its end are there.
    EXPECT_NE(out.find(" errors, "), std::string::npos) << out;
    EXPECT_EQ(out.back(), '\n');

    // A level file with an escape sequence in its name, through --solution.
    std::string name = "\x1b[2Jr.lvl";
    writeFile(name, room);
    out = commandOutput(std::string(QUORVEX_CHECK_BINARY) + " --solution " + shellQuoted(name) + " 2>&1");
    EXPECT_TRUE(terminalSafe(out)) << out;
    EXPECT_NE(out.find("# \\x1B[2Jr.lvl: "), std::string::npos) << out;

    EXPECT_EQ(commandOutput(checker + " >/dev/full 2>/dev/null; echo $?"), "2\n");
    EXPECT_EQ(commandOutput(std::string(QUORVEX_CHECK_BINARY) + " --help >/dev/full 2>/dev/null; echo $?"), "2\n");
}

TEST_F(HostileOutput, EditorExitLineNamesAHostilePathEscaped) {
    std::filesystem::create_directory(folder / "\x1b]0;T\x07");
    TmuxGame editor;
    editor.command = std::string(QUORVEX_EDIT_BINARY) + " " + shellQuoted("\x1b]0;T\x07/r.lvl") + " 2>err.txt";
    editor.start(folder, "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));  // its log stays here
    ASSERT_TRUE(editor.waitFor("F1 help")) << editor.screen();
    editor.keys("5");
    ASSERT_TRUE(editor.waitFor("\u2302")) << editor.screen();
    editor.keys("C-c");
    EXPECT_EQ(editor.waitExit(), 130);
    std::string err = readFile("err.txt");
    EXPECT_TRUE(terminalSafe(err)) << err;
    EXPECT_EQ(err.rfind("quorvex-edit: unsaved room kept in \\x1B]0;T\\x07/r.lvl.", 0), 0u) << err;
    EXPECT_NE(err.find(".rescue\n"), std::string::npos) << err;
}

// A full device behind standard output is said in a line on standard error
// by every program, and the status is not a success; the checker's numbers
// and usage line say what is so.
TEST_F(HostileOutput, LostOutputIsSaidAndTheCheckersWordsAreTrue) {
    for (std::string program : {QUORVEX_BINARY, QUORVEX_CHECK_BINARY, QUORVEX_EDIT_BINARY}) {
        std::string name = std::filesystem::path(program).filename().string();
        for (const char* option : {"--help", "--version"})
            EXPECT_EQ(commandOutput(program + " " + option + " </dev/null 2>&1 >/dev/full; echo $?"),
                      name + ": cannot write standard output: No space left on device\n2\n")
                << option;
    }
    std::string checker = QUORVEX_CHECK_BINARY;
    EXPECT_EQ(commandOutput(checker + " --max-seconds=99999999999999999999 2>&1; echo $?"),
              "quorvex-check: too large (at most 1000000000): --max-seconds=99999999999999999999\n2\n");
    EXPECT_EQ(commandOutput(checker + " --max-states=0 2>&1; echo $?"),
              "quorvex-check: not a positive number: --max-states=0\n2\n");
    std::string help = commandOutput(checker + " --help");
    std::string usage = help.substr(0, help.find("\nChecks"));
    for (const char* option : {"--solution", "--show", "--json", "--max-seconds=N", "--max-states=N", "--max-memory=N",
                               "--help", "--version", "PATH"})
        EXPECT_NE(usage.find(option), std::string::npos) << option << " not in\n" << usage;
}

// Help and version of every program, in an empty folder: words, no folders.
TEST_F(HostileOutput, HelpAndVersionCreateNothing) {
    for (std::string program : {QUORVEX_BINARY, QUORVEX_CHECK_BINARY, QUORVEX_EDIT_BINARY})
        for (const char* option : {"-h", "--help", "--version"})
            EXPECT_EQ(commandOutput(program + " " + option + " >/dev/null 2>&1 </dev/null; echo $?"), "0\n")
                << program << " " << option;
    EXPECT_EQ(commandOutput(std::string(QUORVEX_EDIT_BINARY) + " --frobnicate </dev/null >/dev/null 2>&1; echo $?"),
              "2\n");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
