#include <vector>

#include "roomfixture.h"

namespace {

using Enemies = RoomTest;
using CrumblingFloor = RoomTest;

const std::string standStill(70, ' ');

TEST_F(Enemies, PatrolAndTurnAtAnythingNotEmpty) {
    std::string column(30, ' ');
    play({{3, column + "j"}, {5, "       1 8   1"}, {6, column + "7"}, {9, column + "9"}, {20, standStill + "i"}});
    std::vector<int> across, down;
    for (int i = 0; i < 9; ++i) {
        tick();
        across.push_back(room.horizontalEnemy.x);
        down.push_back(room.verticalEnemy.y);
    }
    EXPECT_EQ(across, (std::vector<int>{11, 12, 13, 12, 11, 10, 9, 10, 11}));
    EXPECT_EQ(down, (std::vector<int>{5, 4, 5, 6, 7, 8, 7, 6, 5}));  // goods above, the exit below
    EXPECT_EQ(cellAt(11, 5), HorizontalEnemy);
    EXPECT_EQ(glyphAt(11, 5), 0x9D);
    EXPECT_EQ(colourAt(11, 5), 13);
    EXPECT_EQ(cellAt(10, 5), Empty);
    EXPECT_EQ(glyphAt(10, 5), ' ');
    EXPECT_EQ(cellAt(31, 3), GoodsDiamond);
    EXPECT_EQ(cellAt(31, 9), Exit);
}

TEST_F(Enemies, FirstMoveIsNotTested) {
    std::string column(49, ' ');
    play({{3, column + "1"}, {5, column + "1"}, {6, column + "7"}, {20, standStill + "i"}});
    tick();
    EXPECT_EQ(cellAt(50, 5), VerticalEnemy);  // into the wall's cell
    tick();
    EXPECT_EQ(room.verticalEnemy.y, 4);
    EXPECT_EQ(cellAt(50, 5), Empty);  // the wall is gone
    tick();
    EXPECT_EQ(room.verticalEnemy.y, 5);  // turned by the wall above
}

TEST_F(CrumblingFloor, WalkingAcrossLeavesGapsWithoutFalling) {
    play({{20, "    i"}, {21, "11111444441111"}, {22, std::string(80, '1')}});
    arrowNow(scan::right);
    for (int i = 0; i < 8; ++i) {
        tick();
        EXPECT_EQ(player.playerY, 20);
    }
    for (int x = 6; x <= 10; ++x) {
        EXPECT_EQ(cellAt(x, 21), Crumbled);
        EXPECT_EQ(glyphAt(x, 21), ' ');
    }
}

TEST_F(CrumblingFloor, CrackingCellHoldsThenTheStillPlayerFalls) {
    room.crumbleSlots[0] = {true, 2, 21, 1};  // left over from another room: freed at the start
    play({{20, "    i"}, {21, "111114111"}, {22, std::string(80, '1')}});
    arrowNow(scan::right);
    tick();
    EXPECT_EQ(cellAt(6, 21), Crumbling);  // cracked, still solid
    EXPECT_EQ(glyphAt(6, 21), 0xB1);
    EXPECT_EQ(colourAt(6, 21), 7);
    arrowNow(scan::down);
    tick();
    EXPECT_EQ(player.playerY, 20);
    EXPECT_EQ(cellAt(6, 21), Crumbled);
    EXPECT_EQ(glyphAt(6, 21), 0xB1);  // registered once more while standing on it
    tick();
    EXPECT_EQ(player.playerY, 21);
    EXPECT_EQ(cellAt(2, 21), Wall);
}

}  // namespace
