#include "shell/files.h"

#include <sys/resource.h>

#include <csignal>

#include "harness.h"

namespace fs = std::filesystem;

using Lines = std::vector<std::string_view>;

TEST_F(GameRun, FileExistsTakesThePathLiterally) {
    writeFile("levels/1.lvl", "x");
    std::string base = folder.string() + "/";
    EXPECT_TRUE(fileExists(base + "levels/1.lvl"));
    EXPECT_TRUE(fileExists(base + "levels"));
    EXPECT_TRUE(fileExists(base + "levels\\1.lvl"));
    EXPECT_FALSE(fileExists(base + "levels/2.lvl"));
    EXPECT_FALSE(fileExists(base + "levels/*"));
    EXPECT_FALSE(fileExists(base + "levels/?.lvl"));
    EXPECT_FALSE(fileExists(""));
    writeFile("levels/*", "");
    EXPECT_TRUE(fileExists(base + "levels/*"));
}

TEST_F(GameRun, AtomicWriteReplacesTheWholeFileOrLeavesTheOldOne) {
    std::string path = folder.string() + "/save.sav";
    writeFile("save.sav", "68\r\n60\r\n1234567\r\n");
    writeFileAtomically(path, "18\r\n");
    EXPECT_EQ(readFile("save.sav"), "18\r\n");

    // A disk that fills up in the middle of the save.
    const std::string old = readFile("save.sav");
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 2;
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    try {
        writeFileAtomically(path, "23\r\n135\r\n4000\r\n");
        ADD_FAILURE() << "a failed write was reported as success";
    } catch (const FileFailure& failure) {
        EXPECT_EQ(failure.path, path);
        EXPECT_EQ(describeFailure(failure), "quorvex: cannot write " + path + ": File too large");
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(readFile("save.sav"), old);

    // The rename itself fails (a folder with something in it holds the name).
    writeFile("checkpoint.sav/keep", "mine");
    EXPECT_THROW(writeFileAtomically(folder.string() + "/checkpoint.sav", "23\r\n"), FileFailure);
    EXPECT_EQ(readFile("checkpoint.sav/keep"), "mine");

    int entries = 0;
    for (const auto& entry : fs::directory_iterator(folder)) ++entries, (void)entry;
    EXPECT_EQ(entries, 2) << "a failed save left a temporary file behind";
}

TEST_F(GameRun, ReadingIsCappedAndFailuresNameThePath) {
    writeFile("big.lvl", std::string(5000, 'x') + "END");
    EXPECT_EQ(readTextFile(folder.string() + "/big.lvl", 5000), std::string(5000, 'x'));
    EXPECT_EQ(readTextFile(folder.string() + "\\big.lvl").size(), 5003u);
    try {
        readTextFile(folder.string() + "/levels");
        ADD_FAILURE() << "reading a missing file succeeded";
    } catch (const FileFailure& failure) {
        EXPECT_EQ(failure.path, folder.string() + "/levels");
        EXPECT_FALSE(failure.reason.empty());
    }
    fs::create_directories(folder / "levels");
    EXPECT_THROW(readTextFile(folder.string() + "/levels"), FileFailure);
    EXPECT_THROW(deleteFile(folder.string() + "/save.sav"), FileFailure);
}

TEST(SplitLines, EveryLineEndAndAFinalLineWithout) {
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\r\n\r\nb\n\n"), (Lines{"a", "", "b", ""}));
    EXPECT_EQ(splitLines("a\n\rb\r"), (Lines{"a", "", "b"}));  // LF then CR: two ends
    EXPECT_EQ(splitLines("\r\n"), (Lines{""}));
    EXPECT_TRUE(splitLines("").empty());
}
