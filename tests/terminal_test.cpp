// The terminal form: keys and pictures through ncurses on a pipe, the
// pictures replayed in a real terminal (tmux), and the game itself in tmux.
#include "console/terminal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "console/console.h"
#include "console/cp437.h"
#include "tmux.h"

namespace fs = std::filesystem;

namespace {

std::string commandOutput(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, got);
        pclose(pipe);
    }
    return text;
}

std::string tmuxFormat(const TmuxGame& game, const std::string& format) {
    return commandOutput("tmux -L " + game.socket + " display -p -t 0 '" + format + "'");
}

std::string capturedRow(const std::string& screen, int row) {
    std::istringstream lines(screen);
    std::string line;
    for (int i = 0; i < row; ++i) std::getline(lines, line);
    return line;
}

fs::path freshFolder() {
    std::string pattern = (fs::temp_directory_path() / "quorvex-terminal-XXXXXX").string();
    return mkdtemp(pattern.data());
}

// The terminal form with a pipe for a keyboard and a file for a screen.
struct PipeTerminal {
    int keyboard[2];
    FILE* input;
    FILE* output = std::tmpfile();

    explicit PipeTerminal(const char* terminalType) {
        EXPECT_EQ(pipe(keyboard), 0);
        input = fdopen(keyboard[0], "r");
        startMemoryConsole();  // the view is sent only when the test says so
        std::string failure;
        EXPECT_TRUE(openTerminalOn(input, output, terminalType, failure)) << failure;
    }
    ~PipeTerminal() {
        closeTerminal();
        fclose(input);
        close(keyboard[1]);
        fclose(output);
    }
    std::vector<int> bytesFor(const std::string& typed) {
        EXPECT_EQ(write(keyboard[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        terminalPumpKeys();
        std::vector<int> bytes;
        while (keyPressed()) bytes.push_back(readKey());
        return bytes;
    }
    std::string sent() {
        fflush(output);
        std::string all;
        char chunk[4096];
        for (ssize_t got; (got = pread(fileno(output), chunk, sizeof chunk, static_cast<off_t>(all.size()))) > 0;)
            all.append(chunk, static_cast<size_t>(got));
        return all;
    }
};

}  // namespace

TEST(TerminalKeys, KeyboardSequencesBecomeConsoleBytes) {
    PipeTerminal terminal("xterm");
    // clang-format off
    const std::pair<std::string, std::vector<int>> cases[] = {
        {"\x1bOA", {0, 72}}, {"\x1bOD", {0, 75}}, {"\x1bOH", {0, 71}}, {"\x1b[6~", {0, 81}}, {"\x1b[3~", {0, 83}},
        {"\x1bOP", {0, 59}}, {"\x1b[21~", {0, 68}}, {"\x1b[23~", {0, 133}}, {"\x1b[24~", {0, 134}},
        {"\r", {13}}, {"\n", {13}}, {"\x1bOM", {13}}, {"\x7f", {8}}, {"\b", {8}}, {"\t", {9}}, {"\x13\x11", {19, 17}},
        {"\x1b" "a", {0, 30}}, {"\x1bM", {0, 50}}, {"\x1bp", {0, 25}}, {"\x1b[99~", {}}, {"\x1b[1;5A", {}},
        {"¥░", {157, 176}}, {"€←", {}}, {"Yx", {89, 120}}, {"\x1b\x1b", {27, 27}}, {"\x1b", {27}},
    };
    // clang-format on
    for (const auto& [typed, bytes] : cases)
        EXPECT_EQ(terminal.bytesFor(typed), bytes) << ::testing::PrintToString(typed);

    // Keys that come while the game sleeps stay queued.
    EXPECT_EQ(write(terminal.keyboard[1], "ab", 2), 2);
    terminalSleep(20);
    EXPECT_EQ(terminal.bytesFor(""), (std::vector<int>{'a', 'b'}));
    EXPECT_THROW(terminal.bytesFor("\x03"), ConsoleInterrupt);
}

TEST(TerminalPicture, EveryByteShowsAsItsGlyphInARealTerminal) {
    std::string picture;
    {
        PipeTerminal terminal("tmux-256color");
        for (int byte = 0; byte < 256; ++byte) {
            moveCursor(1 + byte % 64, 1 + byte / 64);
            setTextColor(static_cast<uint8_t>(byte % 16));
            setTextBackground(static_cast<uint8_t>(byte / 16 % 8));
            writeChar(static_cast<uint8_t>(byte));  // 7, 8, 10 and 13 only move the cursor
        }
        setTextBackground(0);
        moveCursor(1, 6);
        for (uint8_t colour : {4, 1, 12, 6}) {
            setTextColor(colour);
            writeChar('C');
        }
        terminalShowView();
        picture = terminal.sent();

        // Only what changed is sent: a glyph moving one cell.
        moveCursor(10, 10);
        writeChar(2);
        terminalShowView();
        size_t before = terminal.sent().size();
        moveCursor(10, 10);
        writeChar(' ');
        writeChar(2);
        terminalShowView();
        EXPECT_LT(terminal.sent().size() - before, 60u);
    }
    fs::path folder = freshFolder();
    std::ofstream(folder / "picture", std::ios::binary) << picture;
    TmuxGame replay;
    // The replay's "environment" runs a shell that plays the bytes back in the terminal.
    replay.start(folder, "sh -c 'stty raw -echo; cat picture; exec sleep 60'");
    ASSERT_TRUE(replay.waitFor("☺☻♥"));
    std::string screen = replay.screen();
    for (int row = 1; row <= 4; ++row) {
        std::string expected = cp437ToUtf8(bufferRowText(row).substr(0, 64));
        expected.erase(expected.find_last_not_of(' ') + 1);
        EXPECT_EQ(capturedRow(screen, row), expected) << "row " << row;
    }
    // Red, blue, light red, brown: curses numbers them differently.
    std::string colours = capturedRow(commandOutput("tmux -L " + replay.socket + " capture-pane -p -e -t 0"), 6);
    for (size_t at; (at = colours.find("\x1b[40m")) != std::string::npos;) colours.erase(at, 5);
    EXPECT_NE(colours.find("\x1b[31mC\x1b[34mC\x1b[91mC\x1b[33mC"), std::string::npos) << colours.substr(0, 60);
    fs::remove_all(folder);
}

TEST(TerminalGame, EveryEndRestoresTheTerminal) {
    const std::pair<std::string, int> ends[] = {{"Escape", 0}, {"C-c", 130}, {"TERM", 143}, {"HUP", 129}};
    for (const auto& [end, status] : ends) {
        SCOPED_TRACE(end);
        fs::path folder = freshFolder();
        TmuxGame game;
        game.start(folder);
        ASSERT_TRUE(game.waitFor("The Quorvex")) << game.screen();
        EXPECT_EQ(tmuxFormat(game, "#{alternate_on} #{cursor_flag}"), "1 0\n");
        if (end == "TERM" || end == "HUP")
            kill(game.pid(), end == "TERM" ? SIGTERM : SIGHUP);
        else
            game.keys(end);
        EXPECT_EQ(game.waitExit(), status);
        std::string modes = " " + game.sttyAfterExit();
        std::replace(modes.begin(), modes.end(), '\n', ' ');
        for (const char* mode : {" icanon ", " echo ", " isig ", " ixon "})
            EXPECT_NE(modes.find(mode), std::string::npos) << mode;
        EXPECT_EQ(tmuxFormat(game, "#{alternate_on} #{cursor_flag} #{keypad_flag}"), "0 1 0\n");
        fs::remove_all(folder);
    }
}

// Standard input and output elsewhere, a locale without UTF-8: the game
// still reads and draws on the terminal, glyphs and all.
TEST(TerminalGame, RedirectedAndInTheCLocaleItStillDrawsGlyphs) {
    fs::path folder = freshFolder();
    TmuxGame game;
    game.start(folder, "-u LC_ALL -u LC_CTYPE LANG=C </dev/null >out.txt");
    ASSERT_TRUE(game.waitFor("The Quorvex")) << game.screen();
    EXPECT_NE(capturedRow(game.screen(), 1).find("░░░"), std::string::npos) << game.screen();
    game.keys("Escape");
    EXPECT_EQ(game.waitExit(), 0);
    EXPECT_EQ(fs::file_size(folder / "out.txt"), 0u);
    fs::remove_all(folder);
}

TEST(TerminalGame, SmallWindowShowsANoticeWhileTheGameRunsOn) {
    fs::path folder = freshFolder();
    TmuxGame game;
    game.start(folder);
    ASSERT_TRUE(game.waitFor("The Quorvex"));
    std::string resize = "tmux -L " + game.socket + " resize-window -t 0 ";
    std::system((resize + "-x 60 -y 20").c_str());
    ASSERT_TRUE(game.waitFor("at least 80 x 25")) << game.screen();
    game.keys("Down");  // the menu moves its marker, out of sight
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(game.screen().find("░"), std::string::npos) << game.screen();
    std::system((resize + "-x 80 -y 25").c_str());
    ASSERT_TRUE(game.waitFor("Custom Levels"));
    std::string screen = game.screen();
    EXPECT_NE(capturedRow(screen, 12).find("►░Custom Levels"), std::string::npos) << screen;
    fs::remove_all(folder);
}

TEST(TerminalGame, WithoutATerminalTheProgramSaysSoAndEnds) {
    std::string result =
        commandOutput(std::string("setsid -w ") + QUORVEX_BINARY + " </dev/null 2>&1 >/dev/null; echo status $?");
    EXPECT_EQ(result, "No way to get the console handle\nstatus 1\n");
}
