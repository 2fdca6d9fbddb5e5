#include <sstream>

#include "game/tick.h"
#include "harness.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "shell/flow.h"

namespace {

struct Packs : GameRun {
    void SetUp() override {
        GameRun::SetUp();
        run.baseDirectory = folder.string() + "/";
        run.packName = "demo";
        writeFile("levels/custom levels/demo/alpha.lvl", "1j\r\n");
        writeFile("levels/custom levels/demo/sub/my room.lvl", "2k\r\n");
    }
    // Loads pack room n; false when the end screen or the missing-file screen took over.
    bool loadRoom(const std::string& index, int n) {
        writeFile("levels/custom levels/demo/demo.txt", index);
        game.levelNumber = static_cast<int8_t>(n);
        key(virtualNow() + 10, 13);
        try {
            loadPackLevel();
            return true;
        } catch (const MenuReturn&) {
            return false;
        }
    }
};

}  // namespace

TEST_F(Packs, RoomsComeFromTheIndexUntilItsEnd) {
    const std::string index = "alpha\r\nsub\\my room\nsub/my room\r../../x\n*xyz\nalpha\n";
    ASSERT_TRUE(loadRoom(index, 1));
    EXPECT_EQ(cellAt(2, 1), GoodsDiamond);
    ASSERT_TRUE(loadRoom(index, 2));
    EXPECT_EQ(cellAt(2, 1), GoodsClub);
    ASSERT_TRUE(loadRoom(index, 3));
    EXPECT_FALSE(loadRoom(index, 4));
    EXPECT_EQ(bufferRow(4), "File missing: " + folder.string() + "/levels/custom levels/demo/../../x.lvl");
    EXPECT_FALSE(loadRoom(std::string("sub\0x", 5), 1));  // the system would open the folder "sub"
    EXPECT_EQ(bufferRow(4).substr(0, 14), "File missing: ");

    setTextColor(2);
    EXPECT_FALSE(loadRoom(index, 5));
    EXPECT_EQ(bufferRow(1), "");
    EXPECT_EQ(bufferRow(5), std::string(36, ' ') + "THE  END");
    EXPECT_EQ(bufferCell(37, 5).attribute, 0x02);  // the colour in effect
    EXPECT_EQ(bufferRow(8), std::string(31, ' ') + "Level Pack made by");
    EXPECT_EQ(bufferCell(32, 8).attribute, 0x0F);
    EXPECT_EQ(bufferRow(9), std::string(38, ' ') + "xyz");
}

TEST_F(Packs, EndScreensWithoutAuthorAndWithAnOverlongOne) {
    for (const char* index : {"*\n", "", "alpha\n"}) {
        EXPECT_FALSE(loadRoom(index, 2 - (index[0] != 'a'))) << index;
        EXPECT_EQ(bufferRow(8) + "|" + bufferRow(9), std::string(31, ' ') + "Level Pack made by|") << index;
    }
    EXPECT_FALSE(loadRoom("*" + std::string(100, 'a') + std::string(200, 'b'), 1));
    EXPECT_EQ(bufferRow(9) + "|" + bufferRow(10), std::string(80, 'a') + "|");
}

// The shipped example pack can be finished room by room with all its goods.
TEST_F(Packs, SamplerCanBePlayedThroughToItsEndScreen) {
    run.baseDirectory = std::string(QUORVEX_SOURCE_DIR) + "/data/";
    run.packName = "sampler";
    const char* runs[] = {"1 r 8 s 15 s 22 s 23 l 24 r 32 s 42 s", "1 r 3 s 17 s 27 s 37 s 66 s", "1 r"};
    for (int number = 1; number <= 3; ++number) {
        game.levelNumber = static_cast<int8_t>(number);
        loadPackLevel();
        PlayerState player = startRoom();
        std::istringstream keys(runs[number - 1]);
        int at = 0;
        char name = 0;
        keys >> at >> name;
        TickOutcome outcome = TickOutcome::GoOn;
        for (int tick = 1; tick < 300 && outcome == TickOutcome::GoOn; ++tick) {
            if (tick == at) {
                scriptKey(virtualNow(),
                          name == 's' ? KeyEvent{' ', false} : KeyEvent{name == 'l' ? scan::left : scan::right, true});
                keys >> at >> name;
            }
            outcome = stepTick(player);
            delayMs(tickMs);
        }
        EXPECT_EQ(outcome, TickOutcome::ExitReached) << number;
        EXPECT_EQ(game.goodsCollected, room.goodsInRoom) << number;
    }
    game.levelNumber = 4;
    key(virtualNow() + 10, 13);
    EXPECT_THROW(loadPackLevel(), MenuReturn);
    EXPECT_EQ(bufferRow(9), std::string(28, ' ') + "the Quorvex sampler crew");
}
