// The main series is finished with every goods item and no lost life, by the
// checker's search and through the game's tick, along its difficulty curve;
// every shipped message fits its row.
#include <algorithm>
#include <set>
#include <string>

#include "check/check.h"
#include "console/console.h"
#include "game/par.h"
#include "game/runfile.h"
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

// How keys end through the game's own loader and console, a key a tick: the checker's copies agree.
std::string playInGame(int number, const std::vector<TickKey>& keys) {
    resetWorld();
    startMemoryConsole();
    run.baseDirectory = std::string(QUORVEX_SOURCE_DIR) + "/data/";
    for (int n = 1; n <= number; ++n) {
        game.levelNumber = static_cast<int8_t>(n);
        loadLevel(std::to_string(n));
    }
    PlayerState player = startRoom();
    const KeyEvent events[] = {{0, false},       {scan::left, true}, {scan::right, true},
                               {scan::up, true}, {scan::down, true}, {' ', false}};
    for (size_t t = 0; t < keys.size(); ++t) {
        if (keys[t] != TickKey::None) scriptKey(virtualNow(), events[static_cast<int>(keys[t])]);
        TickOutcome outcome = stepTickWith(player, readRoomInput().key);
        delayMs(tickMs);
        if (outcome == TickOutcome::ExitReached) return "exit";
        if (outcome != TickOutcome::GoOn) return "a life lost at tick " + std::to_string(t + 1);
    }
    return "short of the exit";
}

// Every state seen, whatever the machine's speed: no stuck place may hide.
SearchReport searchSeriesRoom(const RoomState& loaded) {
    SearchLimits limits;
    limits.maxSeconds = 120;
    return searchRoom(loaded, limits);
}

long messagesLeft() {
    return std::count_if(room.roomMessages.begin(), room.roomMessages.end(), [](auto& m) { return !m.empty(); });
}

// The shortest way's tick at which the player first comes within a cell of a `kind` cell
// or enemy, and the tick of the first message shown before it (0: at the start); -1: none.
std::pair<int, int> firstMeeting(const RoomState& loaded, const std::vector<TickKey>& keys, int kind) {
    room = loaded;
    long before = messagesLeft();
    PlayerState player = startRoom();
    int message = messagesLeft() < before ? 0 : -1;
    for (size_t t = 0; t < keys.size(); ++t) {
        before = messagesLeft();
        stepTickWith(player, keys[t]);
        if (message < 0 && messagesLeft() < before) message = int(t) + 1;
        const EnemySlot& enemy = kind == VerticalEnemy ? room.verticalEnemy : room.horizontalEnemy;
        bool met = (kind == VerticalEnemy || kind == HorizontalEnemy) && std::abs(enemy.x - player.playerX) <= 1 &&
                   std::abs(enemy.y - player.playerY) <= 1;
        for (int x = player.playerX - 1; x <= player.playerX + 1; ++x)
            for (int y = player.playerY - 1; y <= player.playerY + 1; ++y)
                met |= x >= 1 && x <= mapWidth && y >= 1 && y <= mapHeight &&
                       std::abs(cellAt(room.levelMap, x, y)) == kind;
        if (met) return {int(t) + 1, message};
    }
    return {-1, message};
}

// The curve falls, checkpoint rooms breathe, the series is long, the goods are
// often a detour worth choosing, and each hazard is first met after a message
// had two seconds to be read.
TEST_F(GameRun, TheMainSeriesIsFinishedWithEveryGoodsItemAndFallsFromTeachingToChallenge) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the search takes minutes under the sanitizers";
#endif
    std::vector<double> success(22);
    const std::string parFile = readTextFile(levelsDir + "main.par");
    const std::vector<std::string_view> pars = splitLines(parFile);
    ASSERT_EQ(pars.size(), 21u);
    int ticks = 0, detours = 0;
    std::set<int> met;
    for (int number = 1; number <= 21; ++number) {
        SCOPED_TRACE("room " + std::to_string(number));
        RoomState loaded = seriesRoom(number);
        SearchReport report = searchSeriesRoom(loaded);
        EXPECT_EQ(loaded.goodsInRoom, report.goodsOnMap) << "the goods line counts the goods of the map";
        ASSERT_EQ(report.verdict, Verdict::Finishable) << report.stopReason;
        EXPECT_TRUE(report.decided) << "not fully checked: " << report.stopReason;
        EXPECT_FALSE(report.stuck) << "stuck alive at (" << report.stuckAt.x << ", " << report.stuckAt.y << ")";
        // The first room forgives most; no key anywhere on one exact tick.
        EXPECT_GE(report.narrowestWindow, number == 1 ? 6 : number <= 7 ? 4 : 2);
        ASSERT_GE(report.allGoodsTicks, 0) << "no way found that takes all " << report.goodsOnMap << " goods";
        int played = 0;
        EXPECT_EQ(replayKeys(loaded, report.allGoodsSolution, &played), TickOutcome::ExitReached);
        EXPECT_EQ(played, report.allGoodsTicks);
        EXPECT_EQ(playInGame(number, report.solution), "exit");
        EXPECT_EQ(playInGame(number, report.allGoodsSolution), "exit");
        // Every message is read on the ways a player takes: none lies where they jump over it.
        for (const Finding& finding : searchFindings(loaded, report))
            EXPECT_EQ(finding.text.find("is never passed"), std::string::npos) << finding.text;
        // The shipped pars are the checker's own (quorvex-check --par=levels/main.par levels).
        RoomPar par;
        ASSERT_TRUE(readParLine(pars[number - 1], par)) << pars[number - 1];
        EXPECT_EQ(par.roomHash, roomFileHash(readTextFile(levelsDir + std::to_string(number) + ".lvl")));
        EXPECT_EQ(par.ticks, report.ticks);
        EXPECT_EQ(par.allGoodsTicks, report.allGoodsTicks);

        // The targets for a new hand's share of tries without a lost life.
        ASSERT_TRUE(report.success.measured && report.success.allGoodsMeasured);
        success[number] = report.success.newHand;
        EXPECT_GE(success[number], number <= 4 ? 0.95 : number <= 10 ? 0.75 : 0.20);
        EXPECT_GE(report.success.practised, success[number]);
        EXPECT_GE(report.success.allGoodsNew, 0.15) << "the goods ask for a press on one exact tick";
        EXPECT_TRUE(number < 11 || report.ticks >= 150) << report.ticks;
        EXPECT_TRUE(number < 18 || (success[number] >= 0.25 && success[number] <= 0.60)) << success[number];
        ticks += report.ticks;
        detours += report.allGoodsTicks * 5 >= report.ticks * 6;  // at least 20 % longer
        for (int kind = Lava; kind <= HorizontalEnemy; ++kind) {
            auto [reached, message] = firstMeeting(loaded, report.solution, kind);
            if (reached < 0 || !met.insert(kind).second) continue;
            EXPECT_GE(message, 0) << "cell kind " << kind << ": no message first";
            EXPECT_GE(reached - message, 27) << "cell kind " << kind << " met at tick " << reached;
        }
    }
    EXPECT_GE(ticks, 3500) << "the shortest ways through the series";
    EXPECT_GE(detours, 8) << "rooms whose goods are worth a detour";
    EXPECT_EQ(met.size(), 7u) << "every hazard and every enemy met on the shortest ways";
    for (int checkpoint : {15, 20}) {
        EXPECT_GT(success[checkpoint], success[checkpoint - 1]) << "room " << checkpoint;
        EXPECT_GT(success[checkpoint], success[checkpoint + 1]) << "room " << checkpoint;
    }
    // A least-squares line through the new hand's success falls, also over the second half.
    auto slope = [&](int first, int last) {
        double n = last - first + 1, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int x = first; x <= last; ++x) sx += x, sy += success[x], sxx += double(x) * x, sxy += x * success[x];
        return (n * sxy - sx * sy) / (n * sxx - sx * sx);
    };
    EXPECT_LT(slope(1, 21), 0);
    EXPECT_LT(slope(11, 21), 0);
}

// A message longer than the 66 cells from column 15 on wraps over the goods counter, to stay.
TEST(ShippedRooms, EveryMessageFitsTheMessageArea) {
    int rooms = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(levelsDir)) {
        if (entry.path().extension() != ".lvl") continue;
        ++rooms;
        std::string text = readTextFile(entry.path().string());
        std::vector<std::string_view> lines = splitLines(text);
        for (size_t n = 23; n < lines.size(); ++n)  // after the map rows and the goods line
            EXPECT_LE(lines[n].size(), 66u) << entry.path() << " line " << n + 1 << ": \"" << lines[n] << "\"";
    }
    EXPECT_GE(rooms, 22) << "the main series alone has 22 rooms";
}

}  // namespace
