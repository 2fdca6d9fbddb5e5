#include "system/files.h"

#include <sys/resource.h>

#include <csignal>

#include "harness.h"

TEST_F(GameRun, FilesAreTakenLiterallyAndAFailedSaveKeepsTheOldOne) {
    std::string base = folder.string() + "/";
    writeFile("levels/1.lvl", std::string(5000, 'x') + "END");
    for (const char* name : {"levels/1.lvl", "levels", "levels\\1.lvl"}) EXPECT_TRUE(fileExists(base + name)) << name;
    for (const char* name : {"levels/2.lvl", "levels/*", "levels/?.lvl"}) EXPECT_FALSE(fileExists(base + name)) << name;
    EXPECT_FALSE(fileExists(""));
    writeFile("levels/*", "");
    EXPECT_TRUE(fileExists(base + "levels/*"));

    EXPECT_EQ(readTextFile(base + "levels\\1.lvl", 5000), std::string(5000, 'x'));
    EXPECT_EQ(readTextFile(base + "levels/1.lvl").size(), 5003u);
    EXPECT_THROW(readTextFile(base + "levels/2.lvl"), FileFailure);
    EXPECT_THROW(readTextFile(base + "levels"), FileFailure);
    EXPECT_THROW(deleteFile(base + "save.sav"), FileFailure);

    using Lines = std::vector<std::string_view>;
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\r\n\r\nb\n\n"), (Lines{"a", "", "b", ""}));
    EXPECT_EQ(splitLines("a\n\rb\r"), (Lines{"a", "", "b"}));  // LF then CR: two ends
    EXPECT_TRUE(splitLines("").empty());

    std::string path = folder.string() + "/save.sav";
    writeFile("save.sav", "18\r\n");
    // A disk that fills up in the middle of the save.
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny{2, saved.rlim_max};
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    std::string report = "reported as success";
    try {
        writeFileAtomically(path, "23\r\n135\r\n4000\r\n");
    } catch (const FileFailure& failure) {
        report = describeFailure(failure);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(report, "quorvex: cannot write " + path + ": File too large");
    EXPECT_EQ(readFile("save.sav"), "18\r\n");

    writeFile("checkpoint.sav/keep", "");  // a folder in the way: the rename fails
    EXPECT_THROW(writeFileAtomically(folder.string() + "/checkpoint.sav", "23\r\n"), FileFailure);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3) << "a temporary file is left";
}
