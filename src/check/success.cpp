// The difficulty figure over the table of moves the exact search explored,
// no game tick stepped: every state's ticks to the exit (and with every
// goods item) worked out backwards, then the simulated players of
// check/noisy.h on the table.
#include "check/success.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

#include "check/noisy.h"

using namespace successor;

namespace {

constexpr int maxLayers = 16;  // goods sets: up to four loose goods items

constexpr uint16_t unreachable16 = 0xFFFF;

uint32_t withGoods(const SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods) {
    uint16_t d = work.toExitAllGoods[size_t(goods) * moves.states + s];
    return d == unreachable16 ? unreachable : d;
}

}  // namespace

uint16_t cellOf(const MoveTable& moves, uint32_t s) { return moves.cells[s]; }
int onWayOf(const MoveTable& moves, uint32_t s) { return moves.onWayGoods[s]; }
int goodsTargetOf(const MoveTable& moves) { return moves.goodsTarget; }
uint32_t exitDistance(SuccessWork& work, const MoveTable&, uint32_t s) { return work.toExit[s]; }
uint32_t goodsDistance(SuccessWork& work, const MoveTable& moves, uint32_t s, uint32_t goods) {
    return withGoods(work, moves, s, goods);
}

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
            if (layer >= 0 && (work.from[i] & takesGoods) &&
                !(uint32_t(layer) & noisy::goodsBit(goodsOnTheWay(moves, p, t))))
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
        uint32_t taken = uint32_t(layer) | noisy::goodsBit(goodsOf(moves, e));
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
            uint32_t t = successorOf(moves, e), taken = goods | noisy::goodsBit(goodsOf(moves, e));
            if (t == atExit) {
                if (left == 1 && std::popcount(taken) + moves.onWayGoods[s] >= moves.goodsTarget) chosen = c;
            } else if (t != dead && withGoods(work, moves, t, taken) == left - 1) {
                chosen = c;
            }
        }
        way.push_back(chosen);
        size_t e = size_t(s) * choiceCount + chosen;
        if (left == 1) return way;
        goods |= noisy::goodsBit(goodsOf(moves, e));
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
                work.random = noisy::seed;
                work.failures.assign(size_t(mapWidth) * mapHeight * choiceCount, 0);
                break;
            case SuccessStage::Tries:
            case SuccessStage::HardestPress:
                noisy::playTries(work, moves);
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
