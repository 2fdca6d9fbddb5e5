// The difficulty figure: simulated players on the table of moves the search
// explored, no game tick stepped. Each player knows the room: from the state
// it is in it finds the first key of a shortest way (waiting with no key
// until then, the walk held), and the window of that key: the ticks around
// the best one at which the press is still safe and costs no more ticks than
// it is late (early is free). It aims at the window's middle and presses a
// whole number of ticks off, from a normal spread cut at 3 ticks; then it
// plans again from where it really is. A lost life, or a state with no way
// on, ends the try as a failure. The random numbers come from a fixed seed,
// so the figure is the same on every run and every machine.
#include "check/success.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

using namespace successor;

namespace {

constexpr int windowSide = windowReach;  // as far as a window is looked for on each side
constexpr int maxLayers = 16;            // goods sets: up to four loose goods items
constexpr double hands[] = {1.0, 0.5};   // spread in ticks: new hand, practised
constexpr uint64_t seed = 0x51756F7276657821ull;

uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A normal draw, Box and Muller's way.
double normal(uint64_t& state) {
    double u = (static_cast<double>(nextRandom(state) >> 11) + 1) * 0x1.0p-53;  // (0, 1]
    double v = static_cast<double>(nextRandom(state) >> 11) * 0x1.0p-53;
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
}

uint32_t goodsBit(uint8_t item) { return item == noGoods ? 0u : 1u << item; }

bool allGoodsPlayer(const SuccessWork& work) { return work.player >= 2; }

// What the current player counts as done at the exit, leaving state s with goods g.
bool exitCounts(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods) {
    return !allGoodsPlayer(work) || std::popcount(goods) + moves.onWayGoods[s] >= moves.goodsTarget;
}

uint32_t distance(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods) {
    if (!allGoodsPlayer(work)) return work.toExit[s];
    return work.toExitAllGoods[size_t(goods) * moves.states + s];
}

// Ticks to the exit when choice c is taken in state s with goods g; unreachable if none.
uint32_t valueOf(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods, int c) {
    size_t e = size_t(s) * choiceCount + c;
    uint32_t t = moves.successors[e];
    if (t == dead) return unreachable;
    uint32_t taken = goods | goodsBit(moves.edgeGoods[e]);
    if (t == atExit) return exitCounts(work, moves, s, taken) ? 1 : unreachable;
    uint32_t d = distance(work, moves, t, taken);
    return d == unreachable ? d : d + 1;
}

void reverseMoves(SuccessWork& work, const MoveTable& moves) {
    size_t n = moves.states;
    work.firstIn.assign(n + 1, 0);
    for (size_t e = 0; e < n * choiceCount; ++e)
        if (moves.successors[e] < n) ++work.firstIn[moves.successors[e] + 1];
    for (size_t i = 0; i < n; ++i) work.firstIn[i + 1] += work.firstIn[i];
    work.from.resize(work.firstIn[n]);
    std::vector<uint32_t> fill(work.firstIn.begin(), work.firstIn.end() - 1);
    for (size_t e = 0; e < n * choiceCount; ++e)
        if (moves.successors[e] < n) work.from[fill[moves.successors[e]]++] = static_cast<uint32_t>(e);
}

// Distances backwards from the given first values (seeds), over the moves
// that keep the goods set: with goods set `layer`, a move that takes an item
// not yet in it leads to another layer, already in its seeds.
void spreadBack(const SuccessWork& work, const MoveTable& moves, uint32_t* dist, int layer) {
    // The first values in order of ticks, counted out: cheaper than a sort.
    uint32_t most = 0;
    for (size_t s = 0; s < moves.states; ++s)
        if (dist[s] != unreachable) most = std::max(most, dist[s]);
    std::vector<uint32_t> first(size_t(most) + 2, 0), seeds;
    for (size_t s = 0; s < moves.states; ++s)
        if (dist[s] != unreachable) ++first[dist[s] + 1];
    for (size_t d = 0; d + 1 < first.size(); ++d) first[d + 1] += first[d];
    seeds.resize(first.back());
    for (size_t s = 0; s < moves.states; ++s)
        if (dist[s] != unreachable) seeds[first[dist[s]]++] = static_cast<uint32_t>(s);
    std::vector<uint32_t> queue;  // states in order of ticks, as breadth first finds them
    queue.reserve(moves.states / 4);
    size_t nextSeed = 0, head = 0;
    while (nextSeed < seeds.size() || head < queue.size()) {
        bool fromSeeds =
            head >= queue.size() || (nextSeed < seeds.size() && dist[seeds[nextSeed]] <= dist[queue[head]]);
        uint32_t t = fromSeeds ? seeds[nextSeed++] : queue[head++];
        uint32_t d = dist[t];
        for (uint32_t i = work.firstIn[t]; i < work.firstIn[t + 1]; ++i) {
            uint32_t e = work.from[i];
            uint8_t item = moves.edgeGoods[e];
            if (layer >= 0 && item != noGoods && !(uint32_t(layer) & goodsBit(item))) continue;
            uint32_t p = e / choiceCount;
            if (d + 1 < dist[p]) {
                dist[p] = d + 1;
                queue.push_back(p);
            }
        }
    }
}

void distancesToExit(SuccessWork& work, const MoveTable& moves) {
    work.toExit.assign(moves.states, unreachable);
    for (size_t e = 0; e < moves.states * choiceCount; ++e)
        if (moves.successors[e] == atExit) work.toExit[e / choiceCount] = 1;
    spreadBack(work, moves, work.toExit.data(), -1);
}

// The distances of one goods set; the sets with more items come first.
void distancesWithGoods(SuccessWork& work, const MoveTable& moves, int layer) {
    size_t n = moves.states;
    uint32_t* dist = work.toExitAllGoods.data() + size_t(layer) * n;
    for (size_t s = 0; s < n; ++s)
        for (int c = 0; c < choiceCount; ++c) {
            size_t e = s * choiceCount + c;
            uint32_t t = moves.successors[e];
            if (t == dead) continue;
            uint32_t taken = uint32_t(layer) | goodsBit(moves.edgeGoods[e]);
            uint32_t d = unreachable;
            if (t == atExit) {
                if (std::popcount(taken) + moves.onWayGoods[s] >= moves.goodsTarget) d = 1;
            } else if (taken != uint32_t(layer)) {
                uint32_t later = work.toExitAllGoods[size_t(taken) * n + t];
                if (later != unreachable) d = later + 1;
            }
            dist[s] = std::min(dist[s], d);
        }
    spreadBack(work, moves, dist, layer);
}

struct Step {
    uint32_t state, goods;
};

// Waiting with no key from `at`, the chain of states met, at least up to
// `length` entries while neither a life nor the room is left.
void extendChain(SuccessWork& work, const MoveTable& moves, size_t length) {
    while (work.chainState.size() < length) {
        size_t e = size_t(work.chainState.back()) * choiceCount;
        uint32_t t = moves.successors[e];
        if (t >= moves.states) return;
        work.chainGoods.push_back(work.chainGoods.back() | goodsBit(moves.edgeGoods[e]));
        work.chainState.push_back(t);
    }
}

// One try of the current player: true when it finishes as it counts finishing.
bool playTry(SuccessWork& work, const MoveTable& moves, double spread) {
    uint32_t s = 0, goods = 0;
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
            if (moves.successors[size_t(w) * choiceCount] == atExit) return true;  // no key needed
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
        double aim = (early + late) / 2.0;
        double off;
        do off = spread * normal(work.random);
        while (std::abs(std::round(off)) > 3);
        int press = std::max(0, static_cast<int>(std::floor(aim + off + 0.5)));
        // Wait, then press.
        for (int t = 0; t <= press; ++t) {
            size_t e = size_t(s) * choiceCount + (t == press ? key : 0);
            uint32_t next = moves.successors[e];
            uint32_t taken = goods | goodsBit(moves.edgeGoods[e]);
            if (next == dead) return false;
            if (next == atExit) return exitCounts(work, moves, s, taken);
            s = next;
            goods = taken;
        }
        ticks += press + 1;
    }
    return false;
}

}  // namespace

bool advanceSuccess(SuccessWork& work, const MoveTable& moves, std::chrono::steady_clock::time_point until) {
    SuccessFigure& f = work.figure;
    for (bool first = true; work.stage < 3; first = false) {
        if (!first && std::chrono::steady_clock::now() > until) return false;
        if (work.stage == 0) {
            reverseMoves(work, moves);
            distancesToExit(work, moves);
            f.allGoodsMeasured = (1 << std::min(moves.looseGoods, 8)) <= maxLayers;
            if (f.allGoodsMeasured && moves.goodsTarget > 0) {
                int layers = 1 << moves.looseGoods;
                work.toExitAllGoods.assign(size_t(layers) * moves.states, unreachable);
                work.layer = layers - 1;
            }
            work.stage = 1;
        } else if (work.stage == 1) {
            if (work.layer < 0) {
                work.stage = 2;
                work.random = seed;
                continue;
            }
            distancesWithGoods(work, moves, work.layer--);
        } else {
            // A few tries a step; each player's own run of random numbers.
            bool allGoods = allGoodsPlayer(work);
            if (allGoods && (!f.allGoodsMeasured || moves.goodsTarget == 0)) {
                // Without goods the player who takes them all is the plain one.
                if (moves.goodsTarget == 0) f.allGoodsNew = f.newHand, f.allGoodsPractised = f.practised;
                work.stage = 3;
                break;
            }
            for (int i = 0; i < 20 && work.tries < successTries; ++i, ++work.tries)
                work.finished += playTry(work, moves, hands[work.player % 2]);
            if (work.tries < successTries) continue;
            double share = double(work.finished) / successTries;
            double* into[] = {&f.newHand, &f.practised, &f.allGoodsNew, &f.allGoodsPractised};
            *into[work.player] = share;
            work.tries = work.finished = 0;
            work.random = seed + static_cast<uint64_t>(++work.player);
            if (work.player == 4) work.stage = 3;
        }
    }
    f.measured = true;
    // The tables are large; only the figure is kept.
    work.firstIn = {};
    work.from = {};
    work.toExit = {};
    work.toExitAllGoods = {};
    return true;
}
