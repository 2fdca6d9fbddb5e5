#include "roomfixture.h"

namespace {

using Movement = RoomTest;

TEST_F(Movement, WalkingLastsStopsAtWallsResumesAndDownStops) {
    play({{20, "    i    1"}});
    arrowNow(scan::right);
    ticks(8);
    EXPECT_EQ(player.playerX, 9);
    EXPECT_EQ(glyphAt(9, 20), 0x02);
    EXPECT_EQ(glyphAt(8, 20), ' ');
    setCell(10, 20, Empty);
    ticks(2);
    EXPECT_EQ(player.playerX, 11);
    arrowNow(scan::down);
    ticks(3);
    EXPECT_EQ(player.playerX, 11);
    EXPECT_EQ(player.playerY, 20);
}

TEST_F(Movement, JumpOverFlatGroundAndFromASpring) {
    std::string floor(80, '1');
    floor[29] = '5';
    play({{20, "    i"}, {21, floor}});
    arrowNow(scan::right);
    tick();
    keyNow(' ');
    ticks(3);
    EXPECT_EQ(player.playerY, 17);  // three rows up
    ticks(3);
    EXPECT_EQ(player.playerX, 12);  // back on its row after six ticks and six columns
    EXPECT_EQ(player.playerY, 20);
    EXPECT_TRUE(player.jumping);
    tick();
    EXPECT_FALSE(player.jumping);
    ticks(17);  // on to the spring at column 30
    ASSERT_EQ(player.playerX, 30);
    int highest = 20;
    for (int i = 0; i < 9; ++i, tick()) highest = std::min(highest, player.playerY);
    EXPECT_EQ(highest, 12);
    EXPECT_EQ(player.playerX, 39);  // the walk went on
}

TEST_F(Movement, SpaceWaitsForGroundWithRoomAbove) {
    play({{14, "    i"}, {15, "11111111    11111111111"}, {19, "                  11111"}});
    arrowNow(scan::right);
    ticks(4);
    ASSERT_EQ(player.playerY, 15);  // walked off the ledge
    keyNow(' ');
    ticks(5);
    EXPECT_EQ(player.playerX, 9);  // the space stops the sideways motion
    EXPECT_EQ(player.playerY, 20);
    tick();
    EXPECT_EQ(player.playerX, 10);  // jumps on landing, the way walked before
    EXPECT_EQ(player.playerY, 19);
    ticks(9);  // landed, and walked on under the low ceiling
    keyNow(' ');
    ticks(4);
    EXPECT_EQ(player.playerY, 20);
    EXPECT_EQ(player.playerX, 19);
    arrowNow(scan::left);
    tick();
    EXPECT_EQ(player.playerX, 18);
}

TEST_F(Movement, TwoSpacesMakeRepeatedStraightJumps) {
    play({{20, "    i"}});
    keyNow(' ');
    tick();
    keyNow(' ');
    tick();
    keyNow(' ');
    int takeOffs = 0;
    for (int i = 0; i < 28; ++i) {
        int before = player.playerY;
        tick();
        takeOffs += before == 20 && player.playerY == 19;
    }
    EXPECT_GE(takeOffs, 3);
    EXPECT_EQ(player.playerX, 5);
}

TEST_F(Movement, IceLocksTheSlideUntilTheIceEnds) {
    play({{20, "    i"}, {21, std::string(7, '1') + "6666666" + std::string(66, '1')}});
    arrowNow(scan::right);
    ticks(3);
    ASSERT_EQ(player.slide, 1);
    arrowNow(scan::left);
    tick();
    arrowNow(scan::right);  // its second byte is no "M": the sound stays on
    ticks(7);
    EXPECT_TRUE(run.soundOn);
    EXPECT_EQ(player.playerX, 16);  // Left never took hold
    arrowNow(scan::left);
    ticks(2);
    EXPECT_EQ(player.playerX, 14);
}

TEST_F(Movement, FallingIntoTheExitEndsTheRoom) {
    play({{18, "    i"}, {20, "    9"}});
    EXPECT_EQ(tick(), TickOutcome::GoOn);
    EXPECT_EQ(tick(), TickOutcome::ExitReached);
}

}  // namespace
