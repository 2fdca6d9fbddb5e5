// The file layer taken literally, and the screen for a file that is missing.
#include "shell/missingfile.h"

#include "childrun.h"
#include "harness.h"
#include "shell/flow.h"
#include "system/files.h"

TEST_F(GameRun, MissingFileScreenEchoesTypingAndOnlyEnterLeaves) {
    moveCursor(1, 9);
    writeText("left over from the room");
    const std::string path = folder.string() + "/levels\\7.lvl";
    text(10, "abc\x1bwhere?");  // Esc only wipes the typed line
    key(20, 13);
    showMissingFile(path);
    EXPECT_EQ(virtualNow(), 20u);  // it waited for the Enter
    std::string shown;
    for (int row = 1; row <= 9; ++row) shown += screenRow(row) + "|";
    EXPECT_EQ(shown,
              "The Quorvex has stoped because there where important files missing.|"
              "Reinstaling the game may solve the problem.||File missing: " +
                  path + "||Press ENTER to go to Menu.|where?|||");
}

TEST_F(GameRun, FilesAreTakenLiterallyEvenInAFolderNamedWithABackslashAndAFailedRenameIsReported) {
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
    EXPECT_EQ(splitLines("a\n\rb\r"), (Lines{"a", "", "b"}));  // LF then CR: two ends
    EXPECT_TRUE(splitLines("").empty());

    writeFile("checkpoint.sav/keep", "");  // a folder in the way: the rename fails
    EXPECT_THROW(writeFileAtomically(folder.string() + "/checkpoint.sav", "23\r\n"), FileFailure);
    EXPECT_TRUE(temporaries(folder).empty());

    // A backslash in the working directory's name is part of that name; only
    // the names from data have '\' as a separator.
    std::filesystem::path inner = folder / "my\\games";
    std::filesystem::create_directories(inner / "levels");
    std::filesystem::copy_file(std::filesystem::path(QUORVEX_SOURCE_DIR) / "data/levels/1.lvl", inner / "levels/1.lvl");
    std::filesystem::current_path(inner);
    key(10, 13);  // New Game
    setStopTime(2000);
    EXPECT_EQ(runGame(), -1);
    EXPECT_EQ(run.baseDirectory, inner.string() + "/");
    EXPECT_EQ(screenRow(1), std::string(80, '\xb2'));  // room 1's wall, not the missing-file screen
}
