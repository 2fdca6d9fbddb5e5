// The difficulty figure's work over the states the search explored: the
// search (check/search.cpp) hands over its table of moves, this plays the
// simulated players on it, a slice at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "check/check.h"

namespace successor {
constexpr int choiceCount = 5;           // no key, Left, Right, Up, Space
constexpr uint32_t dead = 0xFFFFFFFF;    // the choice loses a life
constexpr uint32_t atExit = 0xFFFFFFFE;  // the choice reaches the exit
constexpr uint8_t noGoods = 0xFF;        // no loose goods item taken
constexpr uint32_t unreachable = 0xFFFFFFFF;
}  // namespace successor

// Every state reachable without losing a life, each with its successor for
// every choice; state 0 is the start.
struct MoveTable {
    size_t states = 0;
    const uint32_t* successors = nullptr;  // choiceCount per state: a state, dead or atExit
    const uint8_t* edgeGoods = nullptr;    // per successor: the loose goods item taken, or noGoods
    std::vector<uint8_t> onWayGoods;       // per state: goods on the enemies' ways already taken
    int goodsTarget = 0;                   // every goods item of the map
    int looseGoods = 0;                    // goods tracked beside the states, as bits
};

struct SuccessWork {
    int stage = 0;                         // 0 distances to the exit, 1 with every goods item, 2 tries, 3 done
    std::vector<uint32_t> firstIn, from;   // the moves backwards: into state t, from[firstIn[t] ..]
    std::vector<uint32_t> toExit;          // per state: ticks on the shortest way to the exit
    std::vector<uint32_t> toExitAllGoods;  // per goods set taken, per state: the same with every item
    int layer = -1;                        // the goods set whose distances come next
    int player = 0;                        // new hand, practised, then both taking every item
    int tries = 0, finished = 0;
    uint64_t random = 0;
    std::vector<uint32_t> chainState, chainGoods;  // the states met waiting with no key
    SuccessFigure figure;
};

// Works until `until`, at least one step; true once work.figure is final.
bool advanceSuccess(SuccessWork& work, const MoveTable& moves, std::chrono::steady_clock::time_point until);
