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

constexpr uint16_t unreachable16 = 0xFFFF;

uint32_t withGoods(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods) {
    uint16_t d = work.toExitAllGoods[size_t(goods) * moves.states + s];
    return d == unreachable16 ? unreachable : d;
}

uint32_t distance(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods) {
    if (!allGoodsPlayer(work)) return work.toExit[s];
    return withGoods(work, moves, s, goods);
}

// Ticks to the exit when choice c is taken in state s with goods g; unreachable if none.
uint32_t valueOf(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods, int c) {
    size_t e = size_t(s) * choiceCount + c;
    uint32_t t = successorOf(moves, e);
    if (t == dead) return unreachable;
    uint32_t taken = goods | goodsBit(goodsOf(moves, e));
    if (t == atExit) return exitCounts(work, moves, s, taken) ? 1 : unreachable;
    uint32_t d = distance(work, moves, t, taken);
    return d == unreachable ? d : d + 1;
}

}  // namespace

// The moves backwards, once for each state and next state (more keys to the
// same next state change nothing backwards), and the few moves that reach
// the exit or take a loose goods item: only those start or change a distance
// between layers.
void reverseMoves(SuccessWork& work, const MoveTable& moves) {
    size_t n = moves.states;
    auto firstTo = [&](size_t s, int c, uint32_t t) {
        for (int earlier = 0; earlier < c; ++earlier)
            if (successorOf(moves, s * choiceCount + earlier) == t) return false;
        return true;
    };
    work.firstIn.assign(n + 1, 0);
    work.special.clear();
    for (size_t s = 0; s < n; ++s)
        for (int c = 0; c < choiceCount; ++c) {
            uint32_t t = successorOf(moves, s * choiceCount + c);
            if (t < n && firstTo(s, c, t)) ++work.firstIn[t + 1];
            if (t == atExit) work.special.push_back(static_cast<uint32_t>(s * choiceCount + c));
        }
    // The moves that take goods, in order like the rest.
    std::vector<uint32_t> none;
    const std::vector<uint32_t>& goodsMoves = moves.goodsMoves ? *moves.goodsMoves : none;
    for (uint32_t e : goodsMoves)
        if (successorOf(moves, e) < n) work.special.push_back(e);
    std::sort(work.special.begin(), work.special.end());
    for (size_t i = 0; i < n; ++i) work.firstIn[i + 1] += work.firstIn[i];
    work.from.resize(work.firstIn[n]);
    std::vector<uint32_t> fill(work.firstIn.begin(), work.firstIn.end() - 1);
    size_t nextGoods = 0;
    for (size_t s = 0; s < n; ++s)
        for (int c = 0; c < choiceCount; ++c) {
            size_t e = s * choiceCount + c;
            // Every key from s to the same next state takes the same goods: it is the cell it ends in.
            bool takes = nextGoods < goodsMoves.size() && goodsMoves[nextGoods] == e;
            nextGoods += takes;
            if (uint32_t t = successorOf(moves, e); t < n && firstTo(s, c, t))
                work.from[fill[t]++] = static_cast<uint32_t>(s) | (takes ? takesGoods : 0);
        }
}

namespace {

// The goods item a move from state p to state t takes.
uint8_t goodsOnTheWay(const MoveTable& moves, uint32_t p, uint32_t t) {
    for (int c = 0; c < choiceCount; ++c)
        if (successorOf(moves, size_t(p) * choiceCount + c) == t) return goodsOf(moves, size_t(p) * choiceCount + c);
    return noGoods;
}

// Distances backwards from the first values given to the states in `seeds`,
// over the moves that keep the goods set: with goods set `layer`, a move that
// takes an item not yet in it leads to another layer, already in the seeds.
// `farthest`: the largest distance the table holds; false when a longer one came.
template <typename Distance>
bool spreadBack(const SuccessWork& work, const MoveTable& moves, Distance* dist, int layer,
                std::vector<uint32_t>& seeds, uint32_t farthest) {
    std::sort(seeds.begin(), seeds.end(), [dist](uint32_t a, uint32_t b) { return dist[a] < dist[b]; });
    std::vector<uint32_t> queue;  // states in order of ticks, as breadth first finds them
    queue.reserve(moves.states / 4);
    size_t nextSeed = 0, head = 0;
    bool fits = true;
    while (nextSeed < seeds.size() || head < queue.size()) {
        // A seed that a shorter way has since reached only spreads again what it spread.
        bool fromSeeds =
            head >= queue.size() || (nextSeed < seeds.size() && dist[seeds[nextSeed]] <= dist[queue[head]]);
        uint32_t t = fromSeeds ? seeds[nextSeed++] : queue[head++];
        uint32_t d = dist[t];
        if (d + 1 > farthest) {
            fits = false;
            continue;
        }
        for (uint32_t i = work.firstIn[t]; i < work.firstIn[t + 1]; ++i) {
            uint32_t p = work.from[i] & ~takesGoods;
            if (layer >= 0 && (work.from[i] & takesGoods) && !(uint32_t(layer) & goodsBit(goodsOnTheWay(moves, p, t))))
                continue;
            if (d + 1 < dist[p]) {
                dist[p] = static_cast<Distance>(d + 1);
                queue.push_back(p);
            }
        }
    }
    return fits;
}

}  // namespace

void distancesToExit(SuccessWork& work, const MoveTable& moves) {
    if (work.firstIn.size() != moves.states + 1) reverseMoves(work, moves);
    work.toExit.assign(moves.states, unreachable);
    std::vector<uint32_t> seeds;
    for (uint32_t e : work.special)
        if (successorOf(moves, e) == atExit && work.toExit[e / choiceCount] != 1) {
            work.toExit[e / choiceCount] = 1;
            seeds.push_back(e / choiceCount);
        }
    spreadBack(work, moves, work.toExit.data(), -1, seeds, unreachable - 1);
}

namespace {

// The distances of one goods set; the sets with more items come first.
void distancesWithGoods(SuccessWork& work, const MoveTable& moves, int layer) {
    size_t n = moves.states;
    uint16_t* dist = work.toExitAllGoods.data() + size_t(layer) * n;
    std::vector<uint32_t> seeds;
    for (uint32_t e : work.special) {
        uint32_t s = e / choiceCount, t = successorOf(moves, e);
        uint32_t taken = uint32_t(layer) | goodsBit(goodsOf(moves, e));
        uint32_t d = unreachable;
        if (t == atExit) {
            if (std::popcount(taken) + moves.onWayGoods[s] >= moves.goodsTarget) d = 1;
        } else if (taken != uint32_t(layer)) {
            uint32_t later = withGoods(work, moves, t, taken);
            if (later != unreachable) d = later + 1;
        }
        if (d != unreachable && d >= unreachable16) work.tooFar = true;
        if (d < dist[s] && d < unreachable16) {
            dist[s] = static_cast<uint16_t>(d);
            seeds.push_back(s);
        }
    }
    if (!spreadBack(work, moves, dist, layer, seeds, unreachable16 - 1)) work.tooFar = true;
}

struct Step {
    uint32_t state, goods;
};

// Waiting with no key from `at`, the chain of states met, at least up to
// `length` entries while neither a life nor the room is left.
void extendChain(SuccessWork& work, const MoveTable& moves, size_t length) {
    while (work.chainState.size() < length) {
        size_t e = size_t(work.chainState.back()) * choiceCount;
        uint32_t t = successorOf(moves, e);
        if (t >= moves.states) return;
        work.chainGoods.push_back(work.chainGoods.back() | goodsBit(goodsOf(moves, e)));
        work.chainState.push_back(t);
    }
}

constexpr uint32_t noPress = ~0u;

// One try of the current player: true when it finishes as it counts finishing.
// work.press is left at the last press it planned: the one a failure is put down to.
bool playTry(SuccessWork& work, const MoveTable& moves, double spread) {
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
        work.press = uint32_t(moves.cells[work.chainState[best]]) * choiceCount + uint32_t(key);
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
            if (onTime && t == press) ++work.pressedAt[uint64_t(ticks + t + 1) << 16 | moves.cells[s]];
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
uint32_t mostFailedPress(const SuccessWork& work) {
    uint32_t most = noPress, count = 0;
    for (size_t p = 0; p < work.failures.size(); ++p)
        if (work.failures[p] > count) most = static_cast<uint32_t>(p), count = work.failures[p];
    return most;
}

// Where and when that press is made: by a player who never misses when it
// comes to it there, else the most usual tick and cell of the tries.
void recordHardestPress(SuccessWork& work, uint64_t ideal) {
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
    hardest.successWithout = double(work.finished) / successTries;
}

}  // namespace

size_t successBytes(const MoveTable& moves) {
    size_t perState = sizeof(uint32_t);
    if (moves.goodsTarget > 0 && moves.looseGoods <= 4) perState += sizeof(uint16_t) << moves.looseGoods;
    return moves.states * perState;
}

std::vector<int> allGoodsWay(const SuccessWork& work, const MoveTable& moves) {
    std::vector<int> way;
    if (work.toExitAllGoods.empty()) return way;
    uint32_t s = 0, goods = 0, left = withGoods(work, moves, 0, 0);
    if (left == unreachable) return way;
    for (;;) {
        int chosen = -1;
        for (int c = 0; c < choiceCount && chosen < 0; ++c) {
            size_t e = size_t(s) * choiceCount + c;
            uint32_t t = successorOf(moves, e), taken = goods | goodsBit(goodsOf(moves, e));
            if (t == atExit) {
                if (left == 1 && std::popcount(taken) + moves.onWayGoods[s] >= moves.goodsTarget) chosen = c;
            } else if (t != dead && withGoods(work, moves, t, taken) == left - 1) {
                chosen = c;
            }
        }
        way.push_back(chosen);
        size_t e = size_t(s) * choiceCount + chosen;
        if (left == 1) return way;
        goods |= goodsBit(goodsOf(moves, e));
        s = successorOf(moves, e);
        --left;
    }
}

bool advanceSuccess(SuccessWork& work, const MoveTable& moves, std::chrono::steady_clock::time_point until,
                    SuccessStage upTo) {
    SuccessFigure& f = work.figure;
    for (bool first = true; work.stage < upTo; first = false) {
        if (!first && std::chrono::steady_clock::now() > until) return false;
        switch (work.stage) {
            case SuccessStage::Distances:
                if (work.toExit.size() != moves.states) distancesToExit(work, moves);
                f.allGoodsMeasured = (1 << std::min(moves.looseGoods, 8)) <= maxLayers;
                if (f.allGoodsMeasured && moves.goodsTarget > 0) {
                    int layers = 1 << moves.looseGoods;
                    work.toExitAllGoods.assign(size_t(layers) * moves.states, unreachable16);
                    work.layer = layers - 1;
                }
                work.stage = SuccessStage::AllGoodsDistances;
                break;
            case SuccessStage::AllGoodsDistances:
                if (work.layer >= 0) {
                    distancesWithGoods(work, moves, work.layer--);
                    break;
                }
                if (work.tooFar) {
                    // Ways of more than 65534 ticks (some 80 minutes): the table holds no such distances.
                    f.allGoodsMeasured = false;
                    work.toExitAllGoods = {};
                }
                work.stage = SuccessStage::Tries;
                work.random = seed;
                work.failures.assign(size_t(mapWidth) * mapHeight * choiceCount, 0);
                break;
            case SuccessStage::Tries: {
                // A few tries a step; each player's own run of random numbers.
                bool allGoods = allGoodsPlayer(work);
                if (allGoods && (!f.allGoodsMeasured || moves.goodsTarget == 0)) {
                    // Without goods the player who takes them all is the plain one.
                    if (moves.goodsTarget == 0) f.allGoodsNew = f.newHand, f.allGoodsPractised = f.practised;
                    work.player = 4;
                }
                if (work.player < 4) {
                    for (int i = 0; i < 20 && work.tries < successTries; ++i, ++work.tries) {
                        bool finished = playTry(work, moves, hands[work.player % 2]);
                        work.finished += finished;
                        if (!finished && work.player == 0 && work.press != noPress) ++work.failures[work.press];
                    }
                    if (work.tries < successTries) break;
                    double share = double(work.finished) / successTries;
                    double* into[] = {&f.newHand, &f.practised, &f.allGoodsNew, &f.allGoodsPractised};
                    *into[work.player] = share;
                    work.tries = work.finished = 0;
                    work.random = seed + static_cast<uint64_t>(++work.player);
                    if (work.player < 4) break;
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
                break;
            }
            case SuccessStage::HardestPress:
                for (int i = 0; i < 20 && work.tries < successTries; ++i, ++work.tries)
                    work.finished += playTry(work, moves, hands[0]);
                if (work.tries < successTries) break;
                recordHardestPress(work, work.idealPress);
                work.stage = SuccessStage::Done;
                break;
            case SuccessStage::Done:
                break;
        }
    }
    if (work.stage != SuccessStage::Done) return true;
    f.measured = true;
    work.shortest = work.toExit[0];
    if (moves.goodsTarget == 0)
        work.allGoodsShortest = work.shortest;
    else if (!work.toExitAllGoods.empty())
        work.allGoodsShortest = withGoods(work, moves, 0, 0);
    // The tables are large; only the figure is kept.
    work.firstIn = {};
    work.from = {};
    work.toExit = {};
    work.toExitAllGoods = {};
    work.special = {};
    work.failures = {};
    work.pressedAt = {};
    return true;
}
