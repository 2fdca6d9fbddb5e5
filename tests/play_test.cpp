#include "roomfixture.h"
#include "shell/flow.h"
#include "system/sound.h"

namespace {

using Play = RoomTest;

TEST_F(Play, ExitScoresTheRoomAndCheckpointsEveryFifth) {
    for (int n = 2; n <= 6; ++n) writeFile("levels/" + std::to_string(n) + ".lvl", "i\r\n");
    play({{20, "    ijk9"}});
    game = {1, 3, 0, 0, 120};
    arrow(virtualNow(), scan::right);
    ASSERT_EQ(tick(3), TickOutcome::ExitReached);
    completeRoom();
    EXPECT_EQ(game.score, 139);  // 2 goods and 3 lives: past 127 and still positive
    EXPECT_EQ(soundLog().back(), "once Sound/next.wav");
    EXPECT_FALSE(exists("checkpoint.sav"));

    game = {4, 1, 0, game.totalGoods, -6};  // room 4 left with one life and no goods
    completeRoom();
    EXPECT_EQ(readFile("checkpoint.sav"), "38\r\n135\r\n-3\r\n");
    std::filesystem::remove(folder / "checkpoint.sav");
    completeRoom();
    EXPECT_FALSE(exists("checkpoint.sav"));

    // Room 5 says "Checkpoint" in the series, and nothing in a pack, which writes none.
    for (bool inPack : {false, true}) {
        game.levelNumber = 5;
        run.playingCustomPack = inPack;
        clearScreen();
        play({{20, "    i"}});
        EXPECT_EQ(bufferRow(23).find("Checkpoint") != std::string::npos, !inPack);
    }
}

TEST_F(Play, LostLifeRestartsTheRoomAndTheLastScoresItsGoods) {
    play({{5, "                   1 8         1"}, {20, "  ij     3"}, {21, "11114441111111"}});
    arrow(virtualNow(), scan::right);
    tick(6);
    ASSERT_EQ(cellAt(5, 21), Crumbled);
    EXPECT_EQ(tick(), TickOutcome::LifeLost);
    EXPECT_EQ(soundLog().back(), "once Sound/spike.wav");
    EXPECT_EQ(game.lives, 2);
    EXPECT_EQ(game.goodsCollected, 1);
    EXPECT_EQ(cellAt(4, 20), Empty);
    EXPECT_EQ(room.horizontalEnemy.x, 29);  // seven steps on from column 22
    for (int x = 5; x <= 7; ++x) EXPECT_EQ(cellAt(x, 21), Crumbling);
    EXPECT_EQ(bufferRowText(21).substr(4, 3), "\xb0\xb0\xb0");
    for (const CrumbleSlot& slot : room.crumbleSlots) EXPECT_FALSE(slot.active);
    EXPECT_EQ(looks(10, 20), XY(0x1E, 7));  // the spike again over the dead player, pointing up
    EXPECT_EQ(bufferRow(24), " Lives: \x03\x03");
    tick();
    EXPECT_EQ(player.playerX, 3);  // stands at the start

    game = {0, 1, 4, 0, 0};  // the last life, with 4 goods from this room
    arrow(virtualNow(), scan::right);
    EXPECT_EQ(tick(7), TickOutcome::GameOver);
    EXPECT_EQ(game.score, 20);
}

TEST_F(Play, MessagesShowOnceTheSoundKeySilencesCuesAndEscAtTheQuitPromptEnds) {
    play({{20, "    ijmn         1"}, {24, "Mind the gap"}, {25, std::string(300, 'x')}});
    text(virtualNow(), "m");
    arrow(virtualNow(), scan::right);
    tick(2);
    EXPECT_EQ(bufferRow(25), " Goods: 1/0");
    EXPECT_TRUE(soundLog().empty());  // the goods' cue stayed silent
    tick();
    EXPECT_EQ(bufferRow(24).substr(14), "Mind the gap");
    tick();  // the long one replaces it, cut short of the last cell
    EXPECT_EQ(viewTop(), 1);
    EXPECT_EQ(bufferRow(25), std::string(79, 'x'));
    tick(39);
    EXPECT_EQ(bufferRow(24).size(), 80u);  // still up on its 40th tick
    text(virtualNow(), "M");
    tick();
    EXPECT_EQ(bufferRow(24), " Lives: \x03\x03\x03");
    EXPECT_EQ(bufferCell(79, 25).character, 0x0E);
    arrow(virtualNow(), scan::left);
    tick(12);  // back over both message cells
    EXPECT_EQ(player.playerX, 5);
    EXPECT_EQ(bufferRow(24), " Lives: \x03\x03\x03");
    text(virtualNow(), "\r\x1b");
    tick();
    EXPECT_EQ(ended, RoomEnd::Leave);
}

TEST_F(Play, QuitPromptNoGoesOnAndEscEndsWithoutSaving) {
    writeFile("levels/1.lvl", levelText({{20, "    i" + std::string(40, ' ') + "1"}}));
    key(10, 13);
    arrow(1000, scan::right);
    text(1500, "\r\rx");  // the Enter repeating, then keys that are no answer
    arrow(1500, scan::up);
    key(1500, 'n');
    key(3000, 27);
    EXPECT_EQ(runGame(), 0);
    EXPECT_FALSE(exists("save.sav"));
    EXPECT_EQ(screenRow(25).find("QUIT"), std::string::npos);
    EXPECT_GT(screenRow(20).find('\x02'), 20u);  // walked on after the No
}

}  // namespace
