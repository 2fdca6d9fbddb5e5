// Every room of the main series, loaded over the ones before as in a game, is
// finished with every goods item and no lost life by the checker's search and
// again through the game's own tick; the difficulty figure holds the series
// to its curve: rooms 1 to 10 teach and forgive, 11 to 21 grow harder.
#include <algorithm>
#include <set>
#include <string>

#include "check/check.h"
#include "console/console.h"
#include "harness.h"
#include "levels/levels.h"
#include "system/files.h"

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

// Keys through the room loop's own path (the game's loader, startRoom, a tick
// per key read from the console): the checker's copies agree with the game.
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

// Exact all the way: no stuck place may hide behind the quick search.
SearchReport searchSeriesRoom(const RoomState& loaded) {
    SearchLimits limits;
    limits.exactStates = limits.exploreStates = 4'000'000;
    limits.exactWays = 40'000'000;
    limits.maxStates = 5'000'000;
    limits.maxSeconds = 120;
    return searchRoom(loaded, limits);
}

// The targets for a new hand's share of tries without a lost life.
double leastSuccess(int number) { return number <= 4 ? 0.95 : number <= 10 ? 0.75 : 0.20; }

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "the search takes minutes under the sanitizers"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

class MainSeries : public GameRun, public ::testing::WithParamInterface<int> {};

TEST_P(MainSeries, RoomIsFinishedWithEveryGoodsItemWithoutLosingALife) {
    SKIP_UNDER_SANITIZERS();
    const int number = GetParam();
    RoomState loaded = seriesRoom(number);
    EXPECT_EQ(loaded.goodsInRoom, goodsOnMap(loaded)) << "the goods line counts the goods of the map";

    SearchReport report = searchSeriesRoom(loaded);
    ASSERT_EQ(report.verdict, Verdict::Finishable) << "room " << number << ": " << report.gaveUpReason;
    EXPECT_TRUE(report.explored) << "room " << number << ": not every reachable state was seen";
    EXPECT_TRUE(report.shortest && report.allGoodsShortest) << "room " << number << ": ways not proven shortest";
    EXPECT_FALSE(report.stuck) << "room " << number << ": stuck alive at (" << report.stuckAt.x << ", "
                               << report.stuckAt.y << ")";
    EXPECT_TRUE(report.unreachableGoods.empty()) << "room " << number;
    // The first room forgives most; no key anywhere on one exact tick.
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

    const SuccessFigure& success = report.success;
    ASSERT_TRUE(success.measured && success.allGoodsMeasured) << "room " << number;
    EXPECT_GE(success.newHand, leastSuccess(number)) << "room " << number;
    EXPECT_GE(success.practised, success.newHand) << "room " << number;
    EXPECT_GE(success.allGoodsNew, 0.15) << "room " << number << ": the goods ask for a press on one exact tick";
    if (number >= 11) {
        EXPECT_GE(report.ticks, 150) << "room " << number;
    }
    if (number >= 18) {
        EXPECT_LE(success.newHand, 0.60) << "room " << number;
        EXPECT_GE(success.newHand, 0.25) << "room " << number;
    }

    RecordProperty("ticks", report.ticks);
    RecordProperty("allGoodsTicks", report.allGoodsTicks);
    RecordProperty("window", report.narrowestWindow);
    RecordProperty("successNew", std::to_string(success.newHand));
    RecordProperty("successPractised", std::to_string(success.practised));
    RecordProperty("allGoodsNew", std::to_string(success.allGoodsNew));
}

INSTANTIATE_TEST_SUITE_P(Rooms, MainSeries, ::testing::Range(1, 22),
                         [](const ::testing::TestParamInfo<int>& info) { return "Room" + std::to_string(info.param); });

// The shortest way's tick at which the player first comes within a cell of a
// `kind` cell (or of that enemy), and the tick of the first message shown
// before it (0: at the start); -1 where there is none.
long messagesLeft(const RoomState& state) {
    return std::count_if(state.roomMessages.begin(), state.roomMessages.end(), [](auto& m) { return !m.empty(); });
}

std::pair<int, int> firstMeeting(const RoomState& loaded, const std::vector<TickKey>& keys, int kind) {
    room = loaded;
    PlayerState player = startRoom();
    int message = messagesLeft(room) < messagesLeft(loaded) ? 0 : -1;
    for (size_t t = 0; t < keys.size(); ++t) {
        long before = messagesLeft(room);
        stepTickWith(player, keys[t]);
        if (message < 0 && messagesLeft(room) < before) message = int(t) + 1;
        auto near = [&](int x, int y) {
            return std::abs(x - player.playerX) <= 1 && std::abs(y - player.playerY) <= 1;
        };
        bool met = kind == VerticalEnemy     ? near(room.verticalEnemy.x, room.verticalEnemy.y)
                   : kind == HorizontalEnemy ? near(room.horizontalEnemy.x, room.horizontalEnemy.y)
                                             : false;
        for (int x = player.playerX - 1; x <= player.playerX + 1; ++x)
            for (int y = player.playerY - 1; y <= player.playerY + 1; ++y)
                if (x >= 1 && x <= mapWidth && y >= 1 && y <= mapHeight)
                    met |= std::abs(cellAt(room.levelMap, x, y)) == kind;
        if (met) return {int(t) + 1, message};
    }
    return {-1, message};
}

// The curve falls, checkpoint rooms breathe, the series is long, the goods are
// often a detour worth choosing, and each hazard is first met after a message
// had two seconds to be read.
using MainSeriesCurve = GameRun;
TEST_F(MainSeriesCurve, FallsFromTeachingToChallengeWithGoodsAsAChoice) {
    SKIP_UNDER_SANITIZERS();
    std::vector<SearchReport> rooms(22);
    for (int n = 1; n <= 21; ++n) {
        rooms[n] = searchSeriesRoom(seriesRoom(n));
        ASSERT_TRUE(rooms[n].success.measured) << "room " << n;
    }
    auto success = [&](int n) { return rooms[n].success.newHand; };
    int ticks = 0, detours = 0;
    for (int n = 1; n <= 21; ++n) {
        ticks += rooms[n].ticks;
        detours += rooms[n].allGoodsTicks * 5 >= rooms[n].ticks * 6;  // at least 20 % longer
    }
    EXPECT_GE(ticks, 3500) << "the shortest ways through the series";
    EXPECT_GE(detours, 8) << "rooms whose goods are worth a detour";
    for (int checkpoint : {15, 20}) {
        EXPECT_GT(success(checkpoint), success(checkpoint - 1)) << "room " << checkpoint;
        EXPECT_GT(success(checkpoint), success(checkpoint + 1)) << "room " << checkpoint;
    }
    // A least-squares line through the new hand's success falls, also over the second half.
    auto slope = [&](int first, int last) {
        double n = last - first + 1, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int x = first; x <= last; ++x) sx += x, sy += success(x), sxx += double(x) * x, sxy += x * success(x);
        return (n * sxy - sx * sy) / (n * sxx - sx * sx);
    };
    std::set<int> met;
    for (int n = 1; n <= 21; ++n) {
        RoomState loaded = seriesRoom(n);
        for (int kind = Lava; kind <= HorizontalEnemy; ++kind) {
            if (met.count(kind)) continue;
            auto [reached, message] = firstMeeting(loaded, rooms[n].solution, kind);
            if (reached < 0) continue;
            met.insert(kind);
            EXPECT_GE(message, 0) << "room " << n << ", cell kind " << kind << ": no message first";
            EXPECT_GE(reached - message, 27) << "room " << n << ", cell kind " << kind << " met at tick " << reached;
        }
    }
    EXPECT_EQ(met.size(), 7u) << "every hazard and every enemy met on the shortest ways";
    EXPECT_LT(slope(1, 21), 0);
    EXPECT_LT(slope(11, 21), 0);
    std::string curve;
    for (int n = 1; n <= 21; ++n) curve += " " + std::to_string(int(success(n) * 100 + 0.5));
    RecordProperty("curve", curve);
}

}  // namespace
