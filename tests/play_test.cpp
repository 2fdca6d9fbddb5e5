#include "harness.h"
#include "levels/world.h"
#include "shell/flow.h"
#include "shell/sound.h"
#include "tmux.h"

namespace {

// A level file: rows 1 to 19 empty, row 20 as given (filled up with blanks,
// as the map keeps what the last room left) over a wall floor, then the goods line.
std::string levelText(std::string row20, const std::string& row1 = "") {
    row20.resize(80, ' ');
    std::string text = row1 + "\r\n";
    for (int row = 2; row <= 19; ++row) text += "\r\n";
    return text + row20 + "\r\n" + std::string(80, '1') + "\r\n\r\n0\r\n";
}

class PlayRun : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
    }
};

TEST_F(PlayRun, NewGameWalksThroughTheExitIntoRoomTwo) {
    writeFile("levels/1.lvl", levelText("    i   9"));
    writeFile("levels/2.lvl", levelText("  i", "11111"));
    key(10, 13);  // New Game: the marker starts there when there is no save
    arrow(1000, scan::right);
    setStopTime(5000);
    EXPECT_EQ(runGame(), -1);
    EXPECT_EQ(game.levelNumber, 2);
    EXPECT_EQ(game.score, 9);
    EXPECT_EQ(screenRow(1), "\xb2\xb2\xb2\xb2\xb2");
    EXPECT_EQ(screenRow(23).substr(0, 9), " Level: 2");
    EXPECT_EQ(screenRow(20), "  \x02");
    bool nextCue = false;
    for (const std::string& entry : soundLog()) nextCue = nextCue || entry == "once Sound/next.wav";
    EXPECT_TRUE(nextCue);
    EXPECT_FALSE(exists("checkpoint.sav"));
}

TEST_F(PlayRun, QuitPromptYesSavesTheRoomAndShowsTheMenu) {
    writeFile("levels/1.lvl", levelText("    ij"));
    key(10, 13);
    arrow(1000, scan::right);  // picks up a goods item, which the save does not hold
    key(1500, 13);
    key(1600, 'y');
    EXPECT_EQ(runGame(), -1);  // the menu waits for a key
    EXPECT_EQ(readFile("save.sav"), "18\r\n-15\r\n0\r\n");
    EXPECT_NE(screenRow(10).find("Continue (Save)"), std::string::npos);
}

TEST_F(PlayRun, QuitPromptNoGoesOnAndEscEndsWithoutSaving) {
    writeFile("levels/1.lvl", levelText("    i                                       1"));
    key(10, 13);
    arrow(1000, scan::right);
    key(1500, 13);
    key(1600, 'n');
    key(3000, 27);
    EXPECT_EQ(runGame(), 0);
    EXPECT_FALSE(exists("save.sav"));
    EXPECT_EQ(screenRow(25).substr(33, 10), std::string(10, ' '));
    // Walking went on after the No: well past where it stood at the prompt.
    EXPECT_GT(screenRow(20).find('\x02'), 20u);
}

TEST_F(PlayRun, ThirdDeathEndsTheGameDeletingTheSaveOnly) {
    writeFile("levels/1.lvl", levelText("    i2"));
    writeFile("save.sav", "18\r\n-15\r\n0\r\n");
    writeFile("checkpoint.sav", "38\r\n-15\r\n0\r\n");
    key(10, 13);  // Continue (Save): room 1 again
    arrow(1000, scan::right);
    arrow(2000, scan::right);
    arrow(3000, scan::right);
    EXPECT_EQ(runGame(), -1);  // the game-over screen waits for Enter
    EXPECT_EQ(game.lives, 0);
    EXPECT_FALSE(exists("save.sav"));
    EXPECT_TRUE(exists("checkpoint.sav"));
    EXPECT_EQ(screenRow(10), std::string(35, ' ') + "GAME OVER!");
}

TEST_F(PlayRun, QuitFromARealTerminalSavesAndOffersContinue) {
    writeFile("levels/1.lvl", levelText("    i                                  1"));
    TmuxGame terminal;
    terminal.start(folder);
    ASSERT_TRUE(terminal.waitFor("New Game"));
    terminal.keys("Enter");
    ASSERT_TRUE(terminal.waitFor("Lives:"));
    terminal.keys("Right");
    EXPECT_TRUE(terminal.waitFor("     \u263b"));  // a few columns right of the start
    terminal.keys("Enter");
    ASSERT_TRUE(terminal.waitFor("QUIT? Y/N"));
    terminal.keys("y");
    EXPECT_TRUE(terminal.waitFor("Continue (Save)"));
    terminal.keys("Escape");
    EXPECT_EQ(terminal.waitExit(), 0);
    EXPECT_EQ(readFile("save.sav"), "18\r\n-15\r\n0\r\n");
}

}  // namespace
