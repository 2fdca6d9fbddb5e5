// The checker at its edges: memory bounds (the option, the default share,
// an allocation that fails under an address-space limit), paths in JSON that
// give back their bytes, time limits small and shown as given, link loops,
// and --show with no terminal.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "checker.h"
#include "childrun.h"

namespace {

// Walled all round, two enemies and thirty loose goods over open floors, the
// exit shut in: the goods sets multiply the ways until a limit stops them.
std::string vastRoom() {
    std::string text = std::string(80, '1') + "\n";
    for (int y = 2; y <= 21; ++y) {
        std::string row(78, ' ');
        if (y == 8 || y == 14)
            for (int x = 5; x < 70; x += 7) row.replace(x, 3, "111");
        if (y == 7 || y == 13 || y == 19)
            for (int x = 6; x < 70; x += 7) row[x] = 'j';
        if (y == 20) row[0] = 'i';
        if (y == 2) row[30] = '7', row.replace(70, 3, "191");
        if (y == 4) row[1] = '8';
        text += "1" + row + "1\n";
    }
    return text + std::string(80, '1') + "\n0\n";
}

// Undoes the checker's JSON string: \uDC80..\uDCFF back to the byte, other
// escapes to their UTF-8, everything else as it stands.
std::string jsonBytes(const std::string& json, size_t& at) {
    std::string bytes;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] != '\\') {
            bytes += json[at];
            continue;
        }
        char escape = json[++at];
        if (escape != 'u') {
            bytes += escape;
            continue;
        }
        unsigned code = std::stoul(json.substr(at + 1, 4), nullptr, 16);
        at += 4;
        if (code >= 0xDC80 && code <= 0xDCFF) {
            bytes += static_cast<char>(code - 0xDC00);
        } else if (code < 0x80) {
            bytes += static_cast<char>(code);
        } else if (code < 0x800) {
            bytes += static_cast<char>(0xC0 | code >> 6);
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes += static_cast<char>(0xE0 | code >> 12);
            bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            bytes += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return bytes;
}

// Every "path" of the JSON output, decoded.
std::vector<std::string> jsonPaths(const std::string& json) {
    std::vector<std::string> paths;
    for (size_t at = json.find("\"path\":\""); at != std::string::npos; at = json.find("\"path\":\"", at))
        paths.push_back(jsonBytes(json, at += 7));
    return paths;
}

using CheckerEdges = Checker;

// The checker in a child process whose address space is limited to what it
// uses now and `headroom` bytes more: its output, status and whether the
// default memory share is a quarter of that.
std::string checkUnderLimit(const std::vector<std::string>& arguments, size_t headroom) {
    return inChild([&] {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        rlimit space{};
        space.rlim_cur = space.rlim_max = size_t(pages) * size_t(sysconf(_SC_PAGESIZE)) + headroom;
        setrlimit(RLIMIT_AS, &space);
        std::string out, err;
        int status = runChecker(arguments, out, err);
        return out + "status " + std::to_string(status) + " share " +
               std::to_string(searchMemoryShare() * 4 == space.rlim_cur ? 1 : 0) + "\n";
    });
}

TEST_F(CheckerEdges, TheSearchIsBoundedByMemoryAndRunningOutGivesUpInsteadOfAborting) {
    writeFile("vast.lvl", vastRoom());
    writeFile("flat.lvl", boxRoom(flatRoom()));
    EXPECT_EQ(check({"--max-memory=64K", "flat.lvl"}), 0);
    EXPECT_TRUE(says("flat.lvl:20:2: warning: the search gave up (more than 64 KiB of memory)")) << out;
    for (const char* bad : {"--max-memory=0", "--max-memory=-5", "--max-memory=12X", "--max-memory=", "--max-memory=G"})
        EXPECT_EQ(check({bad, "flat.lvl"}), 2) << bad;
    EXPECT_EQ(check({"--max-memory=0.5G", "flat.lvl"}), 0);
    EXPECT_TRUE(says("finishable in 76 ticks")) << out;
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory leaves no room for an address-space limit";
#else
    // States without number: the default share (a quarter of the address
    // space left) stops the search, and a bound set past what the system
    // gives ends in a failed allocation, which gives up too.
    std::string output = checkUnderLimit({"--max-states=1e9", "--max-seconds=600", "vast.lvl"}, 200 << 20);
    EXPECT_NE(output.find("vast.lvl:20:2: warning: the search gave up (more than "), std::string::npos) << output;
    EXPECT_NE(output.find(" MiB of memory) after "), std::string::npos) << output;
    EXPECT_NE(output.find("status 0 share 1"), std::string::npos) << output;
    output = checkUnderLimit({"--max-states=1e9", "--max-seconds=600", "--max-memory=100G", "vast.lvl", "flat.lvl"},
                             200 << 20);
    EXPECT_NE(output.find("vast.lvl:20:2: warning: the search gave up (the memory ran out) after "), std::string::npos)
        << output;
    EXPECT_NE(output.find("flat.lvl:20:2: note: finishable in 76 ticks"), std::string::npos) << output;
    EXPECT_NE(output.find("status 0 "), std::string::npos) << output;
#endif
}

TEST_F(CheckerEdges, JsonPathsGiveBackTheirBytesUtf8AsItIsOtherBytesEscaped) {
    const std::vector<std::string> names = {"jsön/rööm.lvl", "b\xff\xc3(\xed\xa0\x80z.lvl", "tab\tquote\"\xc2\x85.lvl"};
    for (const std::string& name : names) writeFile(name, boxRoom(flatRoom()));
    EXPECT_EQ(check({"--json", names[0], names[1], names[2]}), 0) << out;
    EXPECT_TRUE(says("{\"path\":\"jsön/rööm.lvl\",")) << out;
    EXPECT_TRUE(says("b\\udcff\\udcc3(\\udced\\udca0\\udc80z.lvl")) << out;
    EXPECT_TRUE(says("tab\\u0009quote\\\"\\u0085.lvl")) << out;
    std::vector<std::string> paths = jsonPaths(out);
    ASSERT_EQ(paths.size(), 9u) << out;  // two findings (the way, the success) and a room each
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(paths[i], names[i < 6 ? i / 2 : i - 6]);
        EXPECT_TRUE(exists(paths[i])) << paths[i];
    }
    for (unsigned char c : out) EXPECT_TRUE(c >= 0x20 || c == '\n') << int(c);
}

TEST_F(CheckerEdges, TimeLimitsHoldWhenSmallAndAreShownAsGiven) {
    writeFile("vast.lvl", vastRoom());
    EXPECT_EQ(check({"--max-seconds=0.4", "vast.lvl"}), 0);
    EXPECT_TRUE(says("warning: the search gave up (more than 0.4 s of processor time) after ")) << out;
    // So small that not one state is expanded: the start alone.
    EXPECT_EQ(check({"--max-seconds=1e-9", "vast.lvl"}), 0);
    EXPECT_TRUE(says("warning: the search gave up (more than 1e-09 s of processor time) after 1 state:")) << out;
}

TEST_F(CheckerEdges, ALoopOfLinksIsNamedSo) {
    ASSERT_EQ(symlink("b.lvl", (folder / "a.lvl").c_str()), 0);
    ASSERT_EQ(symlink("a.lvl", (folder / "b.lvl").c_str()), 0);
    EXPECT_EQ(check({"a.lvl", "none.lvl"}), 2);
    EXPECT_TRUE(says("a.lvl: error: cannot read: a loop of links\n")) << out;
    EXPECT_TRUE(says("none.lvl: error: cannot read: no such file\n")) << out;
    writeFile("p/p.txt", "one\r\n*me\r\n");
    ASSERT_EQ(symlink("one.lvl", (folder / "p/one.lvl").c_str()), 0);
    EXPECT_EQ(check({"p"}), 1);
    // A looping entry resolves nowhere: the pack rule keeps it out, unread.
    EXPECT_TRUE(says("p/p.txt:1:1: error: the entry \"one\" leads outside the pack folder")) << out;
}

TEST_F(CheckerEdges, ShowWithoutATerminalFailsWithStatusTwoAndSaysWhy) {
    writeFile("flat.lvl", boxRoom(flatRoom()));
    pid_t child = fork();
    if (child == 0) {
        setsid();  // no controlling terminal, and no terminal on the standard streams
        int output = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(output, 1);
        dup2(output, 2);
        execl(QUORVEX_CHECK_BINARY, "quorvex-check", "--show", "flat.lvl", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(readFile("out.txt"), "quorvex-check: --show needs a terminal to play the ways in, and there is none\n");
}

}  // namespace
