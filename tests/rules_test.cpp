#include "roomfixture.h"
#include "shell/flow.h"
#include "shell/sound.h"

namespace {

class Rules : public RoomTest {
protected:
    void SetUp() override {
        RoomTest::SetUp();
        installCueFiles();
        for (int n = 2; n <= 6; ++n) writeFile("levels/" + std::to_string(n) + ".lvl", "i\r\n");
    }
};

TEST_F(Rules, ExitScoresTheRoomAndCheckpointsEveryFifth) {
    play({{20, "    ijk9"}});
    game.score = 120;
    arrowNow(scan::right);
    ticks(2);
    EXPECT_EQ(statusRow(25).substr(0, 11), " Goods: 2/0");
    ASSERT_EQ(tick(), TickOutcome::ExitReached);
    uint64_t before = virtualNow();
    completeRoom();
    EXPECT_EQ(game.score, 139);  // past 127 and still positive
    EXPECT_EQ(game.totalGoods, 2);
    EXPECT_EQ(game.levelNumber, 2);
    EXPECT_GE(virtualNow() - before, 1750u);
    EXPECT_EQ(soundLog().back(), "once Sound/next.wav");
    EXPECT_FALSE(exists("checkpoint.sav"));

    game.levelNumber = 4;
    game.goodsCollected = 0;
    game.lives = 1;
    game.score = -6;
    completeRoom();
    EXPECT_EQ(game.score, -3);
    EXPECT_EQ(game.lives, 3);
    EXPECT_EQ(readFile("checkpoint.sav"), "38\r\n135\r\n-3\r\n");
    std::filesystem::remove(folder / "checkpoint.sav");
    completeRoom();
    EXPECT_FALSE(exists("checkpoint.sav"));
}

TEST_F(Rules, LastLifeScoresTheRoomsGoods) {
    play({{20, "    i2"}});
    game.goodsCollected = 4;
    game.lives = 1;
    arrowNow(scan::right);
    EXPECT_EQ(tick(), TickOutcome::GameOver);
    EXPECT_EQ(game.score, 20);
}

TEST_F(Rules, LostLifeRestartsWithGoodsGoneEnemiesOnAndFloorWhole) {
    play({{5, "                   1 8         1"}, {20, "  ij     2"}, {21, "11114441111111"}});
    arrowNow(scan::right);
    ticks(6);
    ASSERT_EQ(cellAt(5, 21), Crumbled);
    int enemyBefore = room.horizontalEnemy.x;
    EXPECT_EQ(tick(), TickOutcome::LifeLost);
    EXPECT_EQ(soundLog().back(), "once Sound/lava.wav");
    EXPECT_EQ(game.lives, 2);
    EXPECT_EQ(game.goodsCollected, 1);
    EXPECT_EQ(cellAt(4, 20), Empty);
    EXPECT_EQ(room.horizontalEnemy.x, enemyBefore + 1);
    for (int x = 5; x <= 7; ++x) {
        EXPECT_EQ(cellAt(x, 21), Crumbling);
        EXPECT_EQ(glyphAt(x, 21), 0xB0);
        EXPECT_EQ(colourAt(x, 21), 8);
    }
    for (const CrumbleSlot& slot : room.crumbleSlots) EXPECT_FALSE(slot.active);
    EXPECT_EQ(glyphAt(10, 20), 0xB1);  // the lava again, over the dead player
    EXPECT_EQ(colourAt(10, 20), 4);
    EXPECT_EQ(statusRow(24), " Lives: \x03\x03");
    tick();
    EXPECT_EQ(player.playerX, 3);  // stands at the start
}

TEST_F(Rules, SpikeArrowComesBackAfterADeath) {
    play({{20, "    i3"}});
    arrowNow(scan::right);
    EXPECT_EQ(tick(), TickOutcome::LifeLost);
    EXPECT_EQ(glyphAt(6, 20), 0x1E);  // floor below: points up
}

TEST_F(Rules, MessageShowsOnceForFortyTicksWithoutMovingTheView) {
    play({{20, "    i mn         1"}});
    roomMessage(13) = "Mind the gap";
    roomMessage(14) = std::string(200, 'x');
    arrowNow(scan::right);
    ticks(2);
    EXPECT_EQ(statusRow(24).substr(14), "Mind the gap");
    EXPECT_EQ(colourAt(15, 24), 0x70);
    tick();  // the long one replaces it, cut short of the last cell
    EXPECT_EQ(viewTop(), 1);
    EXPECT_EQ(statusRow(25), std::string(79, 'x'));
    ticks(39);
    EXPECT_EQ(statusRow(24).size(), 80u);
    tick();
    EXPECT_EQ(statusRow(24), " Lives: \x03\x03\x03");
    arrowNow(scan::left);
    ticks(12);  // back over both message cells
    EXPECT_EQ(player.playerX, 5);
    EXPECT_EQ(statusRow(24), " Lives: \x03\x03\x03");
}

TEST_F(Rules, StatusLinesAndSoundKey) {
    play({{20, "    ij"}});
    room.goodsInRoom = 5;
    game.levelNumber = 5;
    player = startRoom();
    std::string checkpointRow = " Level: 5" + std::string(25, ' ') + "Checkpoint";
    EXPECT_EQ(statusRow(23), checkpointRow);
    EXPECT_EQ(statusRow(25), " Goods: 0/5" + std::string(67, ' ') + "\x0e");
    keyNow('m');
    tick();
    EXPECT_EQ(statusRow(25), " Goods: 0/5");
    arrowNow(scan::right);
    tick();
    EXPECT_EQ(statusRow(25), " Goods: 1/5");
    EXPECT_TRUE(soundLog().empty());  // the goods' cue stayed silent
    ticks(38);
    EXPECT_EQ(statusRow(23), checkpointRow);
    tick();
    EXPECT_EQ(statusRow(23), " Level: 5");
    keyNow('M');
    tick();
    EXPECT_EQ(glyphAt(79, 25), 0x0E);
    EXPECT_TRUE(run.soundOn);
}

TEST_F(Rules, QuitPrompt) {
    play({{20, "    i"}});
    arrowNow(scan::right);
    tick();
    keyNow(13);
    keyNow(13);  // the Enter repeating: not an answer
    keyNow('x');
    arrowNow(scan::up);  // both bytes read and ignored
    keyNow('n');
    tick();
    EXPECT_EQ(player.playerX, 7);  // walking on
    EXPECT_EQ(bufferRowText(25).substr(33, 10), std::string(10, ' '));
    keyNow(13);
    scriptKey(virtualNow() + 50, {13, false});
    tick();  // a second Enter, pressed after the first was let go, answers No
    EXPECT_EQ(player.playerX, 8);

    run.playingCustomPack = true;
    keyNow(13);
    keyNow('Y');
    EXPECT_THROW(tick(), MenuReturn);
    EXPECT_FALSE(exists("save.sav"));
    run.playingCustomPack = false;
    game.levelNumber = 7;
    game.totalGoods = 12;
    game.score = 40;
    keyNow(13);
    keyNow('y');
    EXPECT_THROW(tick(), MenuReturn);
    EXPECT_EQ(readFile("save.sav"), "48\r\n885\r\n40\r\n");
    keyNow(13);
    keyNow(27);
    EXPECT_THROW(tick(), ProgramEnd);
}

}  // namespace
