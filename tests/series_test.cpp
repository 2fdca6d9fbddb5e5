// Every room of the main series can be finished without losing a life, with
// every goods item taken: the level checker's search proves it on the
// shipped level files, each room loaded over the one before it as in a game,
// and the way it finds is played again through the game's own tick.
#include <string>

#include "check/check.h"
#include "console/console.h"
#include "harness.h"
#include "levels/levels.h"
#include "shell/files.h"

namespace {

const std::string levelsDir = std::string(QUORVEX_SOURCE_DIR) + "/data/levels/";

// Room n as a game loads it: rooms 1 to n, each over the one before.
RoomState seriesRoom(int number) {
    RoomState loaded{};
    for (int n = 1; n <= number; ++n)
        loaded = roomFromText(readTextFile(levelsDir + std::to_string(n) + ".lvl"), loaded);
    return loaded;
}

int goodsOnMap(const RoomState& loaded) {
    int goods = 0;
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) {
            CellCode code = cellAt(loaded.levelMap, x, y);
            goods += code >= GoodsDiamond && code <= GoodsSpade;
        }
    return goods;
}

// Plays keys through the room loop's own path: rooms 1 to n loaded by the
// game's loader, each over the one before, then startRoom and one tick per
// key read from the console. The checker steps copies of the room; this shows it agrees with the game.
TickOutcome playInGame(int number, const std::vector<TickKey>& keys, int& lifeLostAt) {
    run.baseDirectory = std::string(QUORVEX_SOURCE_DIR) + "/data/";
    for (int n = 1; n <= number; ++n) {
        game.levelNumber = static_cast<int8_t>(n);
        loadLevel(std::to_string(n));
    }
    PlayerState player = startRoom();
    lifeLostAt = 0;
    TickOutcome outcome = TickOutcome::GoOn;
    const KeyEvent events[] = {{0, false},       {scan::left, true}, {scan::right, true},
                               {scan::up, true}, {scan::down, true}, {' ', false}};
    for (size_t t = 0; t < keys.size() && outcome != TickOutcome::ExitReached; ++t) {
        // Each key typed on the console just before its tick reads it.
        if (keys[t] != TickKey::None) scriptKey(virtualNow(), events[static_cast<int>(keys[t])]);
        outcome = stepTick(player);
        delayMs(tickMs);
        if (outcome == TickOutcome::LifeLost || outcome == TickOutcome::GameOver) {
            lifeLostAt = static_cast<int>(t) + 1;
            break;
        }
    }
    return outcome;
}

class MainSeries : public GameRun, public ::testing::WithParamInterface<int> {};

TEST_P(MainSeries, RoomIsFinishedWithEveryGoodsItemWithoutLosingALife) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the search takes minutes under the sanitizers; the plain build runs it";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the search takes minutes under the sanitizers; the plain build runs it";
#endif
#endif
    const int number = GetParam();
    RoomState loaded = seriesRoom(number);
    EXPECT_EQ(loaded.goodsInRoom, goodsOnMap(loaded)) << "the goods line counts the goods of the map";

    // Exact all the way, so every reachable state is seen: no stuck place may
    // hide behind the quick search (the largest room needs about 1.5 million).
    SearchLimits limits;
    limits.exactStates = limits.exploreStates = 4'000'000;
    limits.exactWays = 40'000'000;
    limits.maxStates = 5'000'000;
    limits.maxSeconds = 120;
    SearchReport report = searchRoom(loaded, limits);
    ASSERT_EQ(report.verdict, Verdict::Finishable) << "room " << number << ": " << report.gaveUpReason;
    EXPECT_TRUE(report.explored) << "room " << number << ": not every reachable state was seen";
    EXPECT_FALSE(report.stuck) << "room " << number << ": stuck alive at (" << report.stuckAt.x << ", "
                               << report.stuckAt.y << ")";
    EXPECT_TRUE(report.unreachableGoods.empty()) << "room " << number;
    // The first room forgives most, the early rooms much; no key anywhere
    // must fall on one exact tick.
    const int windowTarget = number == 1 ? 6 : number <= 7 ? 4 : 2;
    EXPECT_GE(report.narrowestWindow, windowTarget) << "room " << number;
    EXPECT_EQ(replayKeys(loaded, report.solution), TickOutcome::ExitReached);
    ASSERT_GE(report.allGoodsTicks, 0) << "room " << number << ": no way found that takes all " << report.goodsOnMap
                                       << " goods";
    int played = 0;
    EXPECT_EQ(replayKeys(loaded, report.allGoodsSolution, &played), TickOutcome::ExitReached);
    EXPECT_EQ(played, report.allGoodsTicks);
    for (const std::vector<TickKey>* keys : {&report.solution, &report.allGoodsSolution}) {
        int lifeLostAt = 0;
        EXPECT_EQ(playInGame(number, *keys, lifeLostAt), TickOutcome::ExitReached)
            << "room " << number << ": the game's own loop disagrees, life lost at tick " << lifeLostAt;
    }
    RecordProperty("ticks", report.ticks);
    RecordProperty("allGoodsTicks", report.allGoodsTicks);
    RecordProperty("window", report.narrowestWindow);
}

INSTANTIATE_TEST_SUITE_P(Rooms, MainSeries, ::testing::Range(1, 22),
                         [](const ::testing::TestParamInfo<int>& info) { return "Room" + std::to_string(info.param); });

}  // namespace
