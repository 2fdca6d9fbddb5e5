// Every room of the main series can be finished from its start without
// losing a life: tests/solutions/<n>.txt holds a run through room n as
// "tick key" lines (ticks counted from 1, keys left, right, up, down,
// space), each key pressed at the start of its tick. The run is replayed on
// the shipped level file through the same ticks as the room loop.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "console/console.h"
#include "game/tick.h"
#include "harness.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "shell/files.h"

namespace {

const std::string sourceDir = QUORVEX_SOURCE_DIR;

// Malformed lines, unknown keys and two keys in one tick (the room loop
// takes one key per tick) fail the test instead of being skipped.
std::map<int, KeyEvent> readSolution(int room) {
    std::ifstream in(sourceDir + "/tests/solutions/" + std::to_string(room) + ".txt");
    EXPECT_TRUE(in) << "no solution for room " << room;
    const std::map<std::string, KeyEvent> keys = {{"left", {scan::left, true}},
                                                  {"right", {scan::right, true}},
                                                  {"up", {scan::up, true}},
                                                  {"down", {scan::down, true}},
                                                  {"space", {' ', false}}};
    std::map<int, KeyEvent> solution;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        int tick = 0;
        std::string name, rest;
        bool wellFormed = fields >> tick >> name && !(fields >> rest) && tick > 0 && keys.count(name) == 1;
        EXPECT_TRUE(wellFormed) << "room " << room << ": bad line \"" << line << "\"";
        if (wellFormed) {
            EXPECT_TRUE(solution.emplace(tick, keys.at(name)).second) << "two keys at tick " << tick;
        }
    }
    return solution;
}

int goodsOnMap() {
    int goods = 0;
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) goods += cellAt(x, y) >= GoodsDiamond && cellAt(x, y) <= GoodsSpade;
    return goods;
}

class MainSeries : public GameRun, public ::testing::WithParamInterface<int> {};

TEST_P(MainSeries, RoomCanBeFinishedWithoutLosingALife) {
    const int number = GetParam();
    run.baseDirectory = sourceDir + "/data/";
    ASSERT_TRUE(fileExists(run.baseDirectory + "levels/" + std::to_string(number) + ".lvl"));
    // As in a game, the room is loaded over the one before it: cells that
    // its file does not write (the enemies' start cells) keep that room's codes.
    for (int loaded = std::max(1, number - 1); loaded <= number; ++loaded) {
        game.levelNumber = static_cast<int8_t>(loaded);
        loadLevel(std::to_string(loaded));
    }
    EXPECT_EQ(room.goodsInRoom, goodsOnMap()) << "the goods line counts the goods of the map";
    const std::map<int, KeyEvent> solution = readSolution(number);
    ASSERT_FALSE(solution.empty());

    PlayerState player = startRoom();
    const int lastTick = solution.rbegin()->first + 2000;
    TickOutcome outcome = TickOutcome::GoOn;
    int tick = 1;
    for (; tick <= lastTick && outcome != TickOutcome::ExitReached; ++tick) {
        if (auto key = solution.find(tick); key != solution.end()) scriptKey(virtualNow(), key->second);
        outcome = stepTick(player);
        delayMs(tickMs);
        ASSERT_FALSE(outcome == TickOutcome::LifeLost || outcome == TickOutcome::GameOver)
            << "room " << number << ": life lost at tick " << tick << " at (" << player.playerX << ", "
            << player.playerY << ")";
    }
    EXPECT_EQ(outcome, TickOutcome::ExitReached)
        << "room " << number << ": the run ends at (" << player.playerX << ", " << player.playerY << ")";
    EXPECT_EQ(game.lives, 3);
    RecordProperty("goods", std::to_string(game.goodsCollected) + "/" + std::to_string(room.goodsInRoom));
    std::cout << "room " << number << ": exit at tick " << tick - 1 << ", goods " << game.goodsCollected << "/"
              << static_cast<int>(room.goodsInRoom) << "\n";
}

INSTANTIATE_TEST_SUITE_P(Rooms, MainSeries, ::testing::Range(1, 22),
                         [](const ::testing::TestParamInfo<int>& info) { return "Room" + std::to_string(info.param); });

}  // namespace
