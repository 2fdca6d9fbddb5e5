#include "system/files.h"

#include "childrun.h"
#include "harness.h"

TEST_F(GameRun, FilesAreTakenLiterallyAndAFailedRenameIsReported) {
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

    writeFile("checkpoint.sav/keep", "");  // a folder in the way: the rename fails
    EXPECT_THROW(writeFileAtomically(folder.string() + "/checkpoint.sav", "23\r\n"), FileFailure);
    EXPECT_TRUE(temporaries(folder).empty());
}
