// The simulated player of the difficulty figure, over any table of moves
// that can say, for a state and a choice, the state it leads to, and for a
// state its ticks to the exit: the exact search's table (success.cpp),
// where every answer is known, and a table filled in as the players go
// (estimate.cpp), where each answer is worked out when first asked.
//
// Each player knows the room: from the state it is in it finds the first
// key of a shortest way (waiting with no key until then, the walk held),
// and the window of that key: the ticks around the best one at which the
// press is still safe and costs no more ticks than it is late (early is
// free). It aims at the window's middle and presses a whole number of ticks
// off, from a normal spread cut at 3 ticks; then it plans again from where
// it really is. A lost life, or a state with no way on, ends the try as a
// failure. The random numbers come from a fixed seed, so the figure is the
// same on every run and every machine.
//
// A table of moves gives, as free functions found by its type:
//   successorOf(moves, e), goodsOf(moves, e)   for the move e = state * choiceCount + choice
//   cellOf(moves, s), onWayOf(moves, s)        the player's cell, the goods on enemies' ways taken
//   goodsTargetOf(moves)                       every goods item of the map
//   exitDistance(work, moves, s)               ticks to the exit, unreachable when none
//   goodsDistance(work, moves, s, goods)       the same with every goods item, loose ones `goods` taken
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "check/success.h"

namespace noisy {

using namespace successor;

constexpr int windowSide = windowReach;  // as far as a window is looked for on each side
constexpr double hands[] = {1.0, 0.5};   // spread in ticks: new hand, practised
constexpr uint64_t seed = 0x51756F7276657821ull;
constexpr uint32_t noPress = ~0u;

inline uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A normal draw, Box and Muller's way.
inline double normal(uint64_t& state) {
    double u = (static_cast<double>(nextRandom(state) >> 11) + 1) * 0x1.0p-53;  // (0, 1]
    double v = static_cast<double>(nextRandom(state) >> 11) * 0x1.0p-53;
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
}

inline uint32_t goodsBit(uint8_t item) { return item == noGoods ? 0u : 1u << item; }

inline bool allGoodsPlayer(const SuccessWork& work) { return work.player >= 2; }

// What the current player counts as done at the exit, leaving state s with goods g.
template <typename Moves>
bool exitCounts(const SuccessWork& work, Moves& moves, uint32_t s, uint32_t goods) {
    return !allGoodsPlayer(work) || std::popcount(goods) + onWayOf(moves, s) >= goodsTargetOf(moves);
}

template <typename Moves>
uint32_t distance(SuccessWork& work, Moves& moves, uint32_t s, uint32_t goods) {
    if (!allGoodsPlayer(work)) return exitDistance(work, moves, s);
    return goodsDistance(work, moves, s, goods);
}

// Ticks to the exit when choice c is taken in state s with goods g; unreachable if none.
template <typename Moves>
uint32_t valueOf(SuccessWork& work, Moves& moves, uint32_t s, uint32_t goods, int c) {
    size_t e = size_t(s) * choiceCount + c;
    uint32_t t = successorOf(moves, e);
    if (t == dead) return unreachable;
    uint32_t taken = goods | goodsBit(goodsOf(moves, e));
    if (t == atExit) return exitCounts(work, moves, s, taken) ? 1 : unreachable;
    uint32_t d = distance(work, moves, t, taken);
    return d == unreachable ? d : d + 1;
}

// Waiting with no key from `at`, the chain of states met, at least up to
// `length` entries while neither a life nor the room is left.
template <typename Moves>
void extendChain(SuccessWork& work, Moves& moves, size_t length) {
    while (work.chainState.size() < length) {
        size_t e = size_t(work.chainState.back()) * choiceCount;
        uint32_t t = successorOf(moves, e);
        if (t == dead || t == atExit) return;
        work.chainGoods.push_back(work.chainGoods.back() | goodsBit(goodsOf(moves, e)));
        work.chainState.push_back(t);
    }
}

// One try of the current player: true when it finishes as it counts finishing.
// work.press is left at the last press it planned: the one a failure is put down to.
template <typename Moves>
bool playTry(SuccessWork& work, Moves& moves, double spread) {
    uint32_t s = 0, goods = 0;
    work.press = noPress;
    uint32_t first = distance(work, moves, 0, 0);
    if (first == unreachable) return false;
    const long tickLimit = 4L * first + 1000;  // a player that wanders this long has not made it
    long ticks = 0;
    while (ticks < tickLimit) {
        uint32_t total = distance(work, moves, s, goods);
        if (total == unreachable) return false;  // doomed: a life will be lost, or nothing more is possible
        work.chainState.assign(1, s);
        work.chainGoods.assign(1, goods);
        // The first key of a shortest way: wait while waiting is as short.
        int best = 0;
        for (;; ++best) {
            uint32_t w = work.chainState[best], g = work.chainGoods[best];
            if (valueOf(work, moves, w, g, 0) != total - best) break;
            if (successorOf(moves, size_t(w) * choiceCount) == atExit) return true;  // no key needed
            extendChain(work, moves, best + 2);
        }
        // Its window: safe, and no dearer than late. The widest key if several are as short.
        auto inWindow = [&](int t, int c) {
            if (t < 0) return false;
            extendChain(work, moves, size_t(t) + 1);
            if (size_t(t) >= work.chainState.size()) return false;
            uint32_t v = valueOf(work, moves, work.chainState[t], work.chainGoods[t], c);
            if (v == unreachable) return false;
            return t <= best ? t + v <= total : v <= total - best;
        };
        int key = 0, early = 0, late = 0;
        for (int c = 1; c < choiceCount; ++c) {
            uint32_t w = work.chainState[best], g = work.chainGoods[best];
            if (valueOf(work, moves, w, g, c) != total - best) continue;
            int a = best, b = best;
            while (a > best - windowSide && inWindow(a - 1, c)) --a;
            while (b < best + windowSide && inWindow(b + 1, c)) ++b;
            if (key == 0 || b - a > late - early) key = c, early = a, late = b;
        }
        if (key == 0) return false;  // cannot happen: some choice keeps the shortest way
        work.press = uint32_t(cellOf(moves, work.chainState[best])) * choiceCount + uint32_t(key);
        bool onTime = work.press == work.perfectPress;
        double aim = (early + late) / 2.0;
        double off;
        do off = spread * normal(work.random);
        while (std::abs(std::round(off)) > 3);
        if (onTime) off = 0;  // drawn all the same: the other presses keep their draws
        int press = std::max(0, static_cast<int>(std::floor(aim + off + 0.5)));
        // Wait, then press.
        for (int t = 0; t <= press; ++t) {
            size_t e = size_t(s) * choiceCount + (t == press ? key : 0);
            if (onTime && t == press) ++work.pressedAt[uint64_t(ticks + t + 1) << 16 | cellOf(moves, s)];
            uint32_t next = successorOf(moves, e);
            uint32_t taken = goods | goodsBit(goodsOf(moves, e));
            if (next == dead) return false;
            if (next == atExit) return exitCounts(work, moves, s, taken);
            s = next;
            goods = taken;
        }
        ticks += press + 1;
    }
    return false;
}

// The press the new hand's tries failed on most, if any failed.
inline uint32_t mostFailedPress(const SuccessWork& work) {
    uint32_t most = noPress, count = 0;
    for (size_t p = 0; p < work.failures.size(); ++p)
        if (work.failures[p] > count) most = static_cast<uint32_t>(p), count = work.failures[p];
    return most;
}

// Where and when that press is made: by a player who never misses when it
// comes to it there, else the most usual tick and cell of the tries.
inline void recordHardestPress(SuccessWork& work, uint64_t ideal) {
    HardestPress& hardest = work.figure.hardest;
    uint64_t at = ideal;
    int count = 0;
    if (at == 0)
        for (auto [pressed, times] : work.pressedAt)
            if (times > count) count = times, at = pressed;
    constexpr TickKey keys[] = {TickKey::None, TickKey::Left, TickKey::Right, TickKey::Up, TickKey::Space};
    hardest.found = at != 0;
    hardest.tick = static_cast<int>(at >> 16);
    hardest.at = {static_cast<int>(at & 0xFFFF) / mapHeight + 1, static_cast<int>(at & 0xFFFF) % mapHeight + 1};
    hardest.key = keys[work.perfectPress % choiceCount];
    work.hardestCell = static_cast<int>(work.perfectPress / choiceCount);
    hardest.successWithout = double(work.finished) / work.tryCount;
}

// A few tries of the stages Tries and HardestPress; true once the stage is Done.
template <typename Moves>
bool playTries(SuccessWork& work, Moves& moves) {
    SuccessFigure& f = work.figure;
    if (work.stage == SuccessStage::Tries) {
        // A few tries a step; each player's own run of random numbers.
        bool allGoods = allGoodsPlayer(work);
        if (allGoods && (!f.allGoodsMeasured || goodsTargetOf(moves) == 0)) {
            // Without goods the player who takes them all is the plain one.
            if (goodsTargetOf(moves) == 0) f.allGoodsNew = f.newHand, f.allGoodsPractised = f.practised;
            work.player = 4;
        }
        if (work.player < 4) {
            for (int i = 0; i < 20 && work.tries < work.tryCount; ++i, ++work.tries) {
                bool finished = playTry(work, moves, hands[work.player % 2]);
                work.finished += finished;
                if (!finished && work.player == 0 && work.press != noPress) ++work.failures[work.press];
            }
            if (work.tries < work.tryCount) return false;
            double share = double(work.finished) / work.tryCount;
            double* into[] = {&f.newHand, &f.practised, &f.allGoodsNew, &f.allGoodsPractised};
            *into[work.player] = share;
            work.tries = work.finished = 0;
            work.random = seed + static_cast<uint64_t>(++work.player);
            if (work.player < 4) return false;
        }
        // The new hand's tries once more, with the press that failed most always on time;
        // first a player who never misses, to see where and when that press comes.
        work.perfectPress = mostFailedPress(work);
        work.stage = work.perfectPress == noPress ? SuccessStage::Done : SuccessStage::HardestPress;
        if (work.perfectPress != noPress) {
            work.player = 0;
            playTry(work, moves, 0.0);
            work.idealPress = work.pressedAt.empty() ? 0 : work.pressedAt.begin()->first;
            work.pressedAt.clear();
        }
        work.tries = work.finished = 0;
        work.random = seed;
        return work.stage == SuccessStage::Done;
    }
    if (work.stage == SuccessStage::HardestPress) {
        for (int i = 0; i < 20 && work.tries < work.tryCount; ++i, ++work.tries)
            work.finished += playTry(work, moves, hands[0]);
        if (work.tries < work.tryCount) return false;
        recordHardestPress(work, work.idealPress);
        work.stage = SuccessStage::Done;
    }
    return work.stage == SuccessStage::Done;
}

// The found way's press at `tick` (from 1) made at tick+shift instead, no
// key in the ticks it skips: is the exit still ahead without a lost life?
// Followed over the moves from the states the way is in (`along`, one a tick).
template <typename Moves>
bool pressStillWorks(SuccessWork& work, Moves& moves, const std::vector<uint32_t>& along,
                     const std::vector<TickKey>& way, int tick, int shift) {
    int at = tick + shift;
    if (at < 1) return false;
    int restart = shift < 0 ? at - 1 : tick - 1;
    constexpr TickKey keys[] = {TickKey::None, TickKey::Left, TickKey::Right, TickKey::Up, TickKey::Space};
    int key = static_cast<int>(std::find(std::begin(keys), std::end(keys), way[tick - 1]) - std::begin(keys));
    uint32_t s = along[restart];
    for (int t = restart + 1; t <= at; ++t) {
        uint32_t next = successorOf(moves, size_t(s) * choiceCount + (t == at ? key : 0));
        if (next == atExit) return true;
        if (next == dead) return false;
        s = next;
    }
    return exitDistance(work, moves, s) != unreachable;
}

// How early and late the press windows[index] may come, as far as windowReach.
template <typename Moves>
void measureWindow(SuccessWork& work, Moves& moves, const std::vector<uint32_t>& along, const std::vector<TickKey>& way,
                   KeyWindow& window) {
    while (window.early < windowReach && pressStillWorks(work, moves, along, way, window.tick, -(window.early + 1)))
        ++window.early;
    while (window.late < windowReach && pressStillWorks(work, moves, along, way, window.tick, window.late + 1))
        ++window.late;
}

}  // namespace noisy
