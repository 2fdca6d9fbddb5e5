#include <vector>

#include "roomfixture.h"

namespace {

struct Movement : RoomTest {
    void arrowFor(int scanCode, int ticks) { arrow(virtualNow(), scanCode), tick(ticks); }
    void textFor(const char* keys, int ticks) { text(virtualNow(), keys), tick(ticks); }
};

TEST_F(Movement, WalkingStopsAtWallsAndResumesJumpsWaitForGroundWithRoomAbove) {
    play({{20, "    i    1"}});
    arrowFor(scan::right, 8);
    EXPECT_EQ(bufferRowText(20).substr(4, 6), "    \x02\xb2");
    setCell(10, 20, Empty);
    tick(2);
    arrowFor(scan::down, 3);
    EXPECT_EQ(where(), XY(11, 20));
    text(virtualNow(), "   ");  // the first jumps; the later two, in the air, are kept for every landing
    std::string heights;
    for (int i = 0; i < 21; ++i, heights += char('0' + 20 - player.playerY)) tick();
    EXPECT_EQ(heights, "123210012321001232100");  // straight up, again and again
    EXPECT_EQ(player.playerX, 11);

    // A running jump over flat ground, then from a spring.
    play({{20, "    i"}, {21, std::string(29, '1') + "5" + std::string(50, '1')}});
    arrowFor(scan::right, 1);
    text(virtualNow(), " ");
    heights.clear();
    for (int i = 0; i < 42; ++i, heights += char('0' + 20 - player.playerY)) tick();
    // Three rows up and back in six ticks, then eight up from the spring at column 30.
    EXPECT_EQ(heights, "123210" + std::string(18, '0') + "1234567876543210" + "00");
    EXPECT_EQ(player.playerX, 48);  // a column every tick: the walk went on throughout

    // Alt+D is an extended key like any other: it stops the walk, though its scan code is the space's byte.
    play({{20, "    i"}});
    arrowFor(scan::right, 2);
    arrowFor(32, 3);
    EXPECT_EQ(where(), XY(7, 20));

    // Space in the air waits for ground with room above.
    play({{14, "    i"}, {15, "11111111    11111111111"}, {19, "                  11111"}});
    arrowFor(scan::right, 4);  // walked off the ledge
    textFor(" ", 5);
    EXPECT_EQ(where(), XY(9, 20));  // the space stopped the sideways motion
    tick();
    EXPECT_EQ(where(), XY(10, 19));  // jumps on landing, the way walked before
    tick(9);                         // landed, and walked on under the low ceiling
    textFor(" ", 4);
    EXPECT_EQ(where(), XY(19, 20));
}

TEST_F(Movement, EnemiesTurnAtAnythingNotEmptyButNotOnTheirFirstMove) {
    std::string column(30, ' ');
    play({{3, column + "j"}, {5, "       1 81    1"}, {6, column + "7"}, {9, column + "9"}, {20, "i"}});
    std::vector<int> across, down;
    for (int i = 0; i < 12; ++i, across.push_back(room.horizontalEnemy.x), down.push_back(room.verticalEnemy.y)) tick();
    // Straight into the wall beside it, erasing it; turned by walls, goods and the exit.
    EXPECT_EQ(across, (std::vector<int>{11, 12, 13, 14, 15, 14, 13, 12, 11, 10, 9, 10}));
    EXPECT_EQ(down, (std::vector<int>{5, 4, 5, 6, 7, 8, 7, 6, 5, 4, 5, 6}));
    EXPECT_EQ(cellAt(10, 5), HorizontalEnemy);
    EXPECT_EQ(bufferRowText(5).substr(8, 2), " \x9d");
}

TEST_F(Movement, IceLocksTheSlideUntilItEndsCrumblingFloorCracksHoldsThenGives) {
    play({{20, "    i"}, {21, std::string(7, '1') + "6666666" + std::string(66, '1')}});
    arrowFor(scan::right, 3);
    arrow(virtualNow(), scan::left);
    arrow(virtualNow(), scan::right);  // its second byte is no "M": the sound stays on
    tick(8);
    EXPECT_TRUE(run.soundOn);
    EXPECT_EQ(player.playerX, 16);  // Left never took hold
    arrowFor(scan::left, 2);
    EXPECT_EQ(player.playerX, 14);

    room.crumbleSlots[0] = {true, 2, 21, 1};  // left over from another room: freed at the start
    play({{20, "    i"}, {21, "11111444441111"}, {22, std::string(80, '1')}});
    arrowFor(scan::right, 1);
    EXPECT_EQ(cellAt(6, 21), Crumbling);  // cracked, still solid
    tick(7);                              // across at walking speed without falling
    EXPECT_EQ(where(), XY(13, 20));
    EXPECT_EQ(bufferRowText(21).substr(0, 10), "\xb2\xb2\xb2\xb2\xb2     ");

    play({{20, "    i"}, {21, "111114111"}, {22, "111119111"}});
    arrow(virtualNow(), scan::right);
    arrowFor(scan::down, 2);
    EXPECT_EQ(cellAt(6, 21), Crumbled);
    EXPECT_EQ(looks(6, 21).first, 0xB1);  // registered once more while standing on it
    EXPECT_EQ(tick(), TickOutcome::GoOn);
    EXPECT_EQ(where(), XY(6, 21));
    EXPECT_EQ(tick(), TickOutcome::ExitReached);  // falling on into the exit
}

}  // namespace
