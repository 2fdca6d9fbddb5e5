// The difficulty figure's work over the states the search explored: the
// search (check/search.cpp) hands over its table of moves, this plays the
// simulated players on it, a slice at a time.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "check/check.h"

namespace successor {
constexpr int choiceCount = 5;           // no key, Left, Right, Up, Space
constexpr uint32_t dead = 0xFFFFFFFF;    // the choice loses a life
constexpr uint32_t atExit = 0xFFFFFFFE;  // the choice reaches the exit
constexpr uint8_t noGoods = 0xFF;        // no loose goods item taken
constexpr uint32_t unreachable = 0xFFFFFFFF;
}  // namespace successor

// A growing array kept in blocks: growing never moves what it holds, so it
// never needs a second copy of it for a moment, as a doubling vector does.
// The search's tables live in these.
template <typename T>
struct BlockArray {
    static constexpr size_t blockBits = 16;
    static constexpr size_t blockSize = size_t(1) << blockBits;
    std::vector<std::unique_ptr<T[]>> blocks;
    size_t size = 0;
    T& operator[](size_t i) { return blocks[i >> blockBits][i & (blockSize - 1)]; }
    const T& operator[](size_t i) const { return blocks[i >> blockBits][i & (blockSize - 1)]; }
};

// Room for n elements: the blocks it takes, uninitialised.
template <typename T>
void growBlocks(BlockArray<T>& array, size_t n) {
    while (array.blocks.size() * array.blockSize < n)
        array.blocks.push_back(std::make_unique_for_overwrite<T[]>(array.blockSize));
    if (n > array.size) array.size = n;
}

template <typename T>
size_t bytesOf(const BlockArray<T>& array) {
    return array.blocks.size() * array.blockSize * sizeof(T) + array.blocks.capacity() * sizeof(void*);
}

// Every state reachable without losing a life, each with its successor for
// every choice; state 0 is the start.
struct MoveTable {
    size_t states = 0;
    const BlockArray<uint32_t>* successors = nullptr;  // choiceCount per state: a state, dead or atExit
    // The few moves that take a loose goods item, in order, and the item each takes.
    const std::vector<uint32_t>* goodsMoves = nullptr;
    const std::vector<uint8_t>* goodsTaken = nullptr;
    std::vector<uint16_t> onWayGoods;  // per state: goods on the enemies' ways already taken
    std::vector<uint16_t> cells;       // per state: the player's map cell, (x - 1) * 22 + y - 1
    int goodsTarget = 0;               // every goods item of the map
    int looseGoods = 0;                // goods tracked beside the states, as bits
};

inline uint32_t successorOf(const MoveTable& moves, size_t e) { return (*moves.successors)[e]; }
inline uint8_t goodsOf(const MoveTable& moves, size_t e) {
    if (!moves.goodsMoves) return successor::noGoods;
    auto at = std::lower_bound(moves.goodsMoves->begin(), moves.goodsMoves->end(), uint32_t(e));
    if (at == moves.goodsMoves->end() || *at != e) return successor::noGoods;
    return (*moves.goodsTaken)[at - moves.goodsMoves->begin()];
}

enum class SuccessStage : uint8_t {
    Distances,          // ticks to the exit from every state
    AllGoodsDistances,  // the same with every goods item, one goods set after another
    Tries,              // the simulated players
    HardestPress,       // the new hand's tries again, the press that failed most made on time
    Done,
};

struct SuccessWork {
    SuccessStage stage = SuccessStage::Distances;
    std::vector<uint32_t> firstIn, from;   // the moves backwards: into state t, moves from[firstIn[t] ..]
    std::vector<uint32_t> special;         // the moves to the exit or taking a loose goods item
    std::vector<uint32_t> toExit;          // per state: ticks on the shortest way to the exit
    std::vector<uint16_t> toExitAllGoods;  // per goods set taken, per state: the same with every item (0xFFFF none)
    bool tooFar = false;                   // a distance with every item past what 16 bits hold
    int layer = -1;                        // the goods set whose distances come next
    int player = 0;                        // new hand, practised, then both taking every item
    int tries = 0, finished = 0;
    int tryCount = successTries;  // tries a player makes
    uint64_t random = 0;
    std::vector<uint32_t> chainState, chainGoods;  // the states met waiting with no key
    // The new hand's failed tries by the press they failed on: the player's
    // cell where the press was due, and its key. Then that press made on time.
    std::vector<uint32_t> failures;
    uint32_t press = 0;                 // the press being planned, as cell * choiceCount + key
    uint32_t perfectPress = ~0u;        // the press made on time in the rerun
    std::map<uint64_t, int> pressedAt;  // in the rerun: (tick, cell) of that press, how often
    uint64_t idealPress = 0;            // the same for a player who never misses; 0: it never made it
    int hardestCell = -1;               // where the hardest press is due, when found
    SuccessFigure figure;
    // From the start, over every state: the shortest ways' lengths, proven.
    uint32_t shortest = successor::unreachable, allGoodsShortest = successor::unreachable;
};

// The exact table of moves as the simulated players (check/noisy.h) ask it.
uint16_t cellOf(const MoveTable& moves, uint32_t s);
int onWayOf(const MoveTable& moves, uint32_t s);
int goodsTargetOf(const MoveTable& moves);
uint32_t exitDistance(SuccessWork& work, const MoveTable& moves, uint32_t s);
uint32_t goodsDistance(SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods);

// The moves backwards (into work.firstIn, work.from, work.special): in
// from, the move's number, and this bit when it takes a loose goods item.
constexpr uint32_t takesGoods = 0x80000000;
void reverseMoves(SuccessWork& work, const MoveTable& moves);
// Every state's ticks to the exit (work.toExit, unreachable where there is
// no way), the moves backwards first; the search's analysis uses them too.
void distancesToExit(SuccessWork& work, const MoveTable& moves);

// The bytes the figure's own tables will take beyond the moves backwards.
size_t successBytes(const MoveTable& moves);

// Works until `until`, at least one step; true once the stage `upTo` is
// reached (at Done: once work.figure is final).
bool advanceSuccess(SuccessWork& work, const MoveTable& moves, std::chrono::steady_clock::time_point until,
                    SuccessStage upTo = SuccessStage::Done);

// Once the distances with every goods item are worked out (at the stage
// Tries, where figure.allGoodsMeasured and the map has goods): the shortest
// way that takes every item, a choice a tick, the first choice of each tick
// that keeps it shortest; empty when there is none.
std::vector<int> allGoodsWay(const SuccessWork& work, const MoveTable& moves);
