// Key windows and the difficulty figure where the exact search would not
// end: the same simulated players (check/noisy.h) on a table of moves that
// is filled in as they go. A state's successors are stepped by the game's
// tick when first asked; its ticks to the exit are hunted for (witness.cpp)
// when first asked, and every state on the way found then knows its own.
// Players stay near the ways they plan, so the table stays small. A hunt
// that outgrows its share gives a way's length instead of a shortest one:
// the figure is an estimate, and is said to be one.
#include <algorithm>

#include "check/job.h"
#include "check/noisy.h"

using namespace successor;

namespace {

constexpr size_t askBudget = 10'000;  // states a hunt for one distance may take before any way will do
// The estimate's share of the search: states its hunts may take in all, and
// of the processor time given. Past it the figure is left out; the verdict
// it would only have decorated stands.
constexpr size_t estimateStates = 2'000'000;
constexpr double estimateTime = 0.25;

bool estimateSpent(const SearchJob& job) {
    return statesSeen(job) - job.estimateFrom > estimateStates ||
           searchSeconds(job) - job.estimateBegan > estimateTime * job.limits.maxSeconds;
}

SearchJob* owner = nullptr;  // the job whose table the players ask (one at a time)

uint64_t goodsKey(uint32_t s, uint32_t goods) { return uint64_t(s) << 32 | goods; }

uint32_t findWithGoods(const LazyMoves& m, uint64_t key) {
    if (m.withGoodsKeys.empty()) return unknown;
    size_t mask = m.withGoodsKeys.size() - 1;
    for (size_t i = (key * 0x9E3779B97F4A7C15ull) >> 40 & mask;; i = (i + 1) & mask) {
        if (m.withGoodsKeys[i] == ~uint64_t(0)) return unknown;
        if (m.withGoodsKeys[i] == key) return m.withGoodsTicks[i];
    }
}

void setWithGoods(LazyMoves& m, uint64_t key, uint32_t ticks) {
    if ((m.withGoodsCount + 1) * 2 > m.withGoodsKeys.size()) {
        std::vector<uint64_t> keys = std::move(m.withGoodsKeys);
        std::vector<uint32_t> values = std::move(m.withGoodsTicks);
        m.withGoodsKeys.assign(std::max<size_t>(1024, keys.size() * 2), ~uint64_t(0));
        m.withGoodsTicks.assign(m.withGoodsKeys.size(), 0);
        m.withGoodsCount = 0;
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] != ~uint64_t(0)) setWithGoods(m, keys[i], values[i]);
    }
    size_t mask = m.withGoodsKeys.size() - 1;
    for (size_t i = (key * 0x9E3779B97F4A7C15ull) >> 40 & mask;; i = (i + 1) & mask)
        if (m.withGoodsKeys[i] == ~uint64_t(0) || m.withGoodsKeys[i] == key) {
            if (m.withGoodsKeys[i] != key) ++m.withGoodsCount;
            m.withGoodsKeys[i] = key;
            m.withGoodsTicks[i] = ticks;
            return;
        }
}

// A state into the table (the exact key), numbered when new.
uint32_t addLazy(SearchJob& job, LazyMoves& m, const uint64_t* key) {
    size_t before = m.table.count;
    uint32_t s = addState(m.table, key, hashKey(key, job.keyWords));
    if (m.table.count == before) return s;
    growBlocks(m.successors, m.table.count * choiceCount);
    growBlocks(m.taken, m.table.count * choiceCount);
    growBlocks(m.cells, m.table.count);
    growBlocks(m.onWay, m.table.count);
    growBlocks(m.toExit, m.table.count);
    for (int c = 0; c < choiceCount; ++c) m.successors[size_t(s) * choiceCount + c] = unknown;
    m.cells[s] = static_cast<uint16_t>(wordCell(key[0]));
    int onWay = 0;
    for (int i = 0; i < job.cellWords; ++i) onWay += std::popcount(key[1 + i] & job.takenMask[i]);
    m.onWay[s] = static_cast<uint16_t>(onWay);
    m.toExit[s] = unknown;
    return s;
}

// State s's five steps through the game's tick.
void stepLazy(SearchJob& job, LazyMoves& m, uint32_t s) {
    std::vector<uint64_t> key(keyOf(m.table, s), keyOf(m.table, s) + job.keyWords), next;
    ChoiceStep steps[choiceCount];
    stepEachChoice(job, key.data(), false, false, next, steps);
    for (int c = 0; c < choiceCount; ++c) {
        uint32_t target = steps[c].outcome == TickOutcome::ExitReached ? atExit
                          : steps[c].outcome != TickOutcome::GoOn
                              ? dead
                              : addLazy(job, m, next.data() + size_t(c) * job.keyWords);
        m.successors[size_t(s) * choiceCount + c] = target;
        m.taken[size_t(s) * choiceCount + c] = steps[c].loose;
    }
}

// The ticks from state s (with the loose goods `goods` taken, when every
// item counts) to the exit, hunted for; every state on the way found learns its own.
uint32_t askTicks(SearchJob& job, LazyMoves& m, uint32_t s, bool allGoods, uint32_t goods) {
    if (m.spent || (m.spent = estimateSpent(job))) return unreachable;
    WayHunt& hunt = job.hunt;
    // A goods item or the exit the player can no longer come near: no way, known at once.
    std::vector<uint8_t>& within = m.within;
    cellsWithin(job, keyOf(m.table, s), within);
    bool possible = false;
    for (int c = 0; c < mapCells; ++c)
        possible = possible || (within[c] && (&job.start.levelMap.cells[0][0])[c] == Exit);
    for (size_t g = 0; g < job.goodsCells.size() && allGoods && possible; ++g)
        possible = within[job.goodsCells[g]] || goodsTakenIn(job, keyOf(m.table, s), goods, g);
    if (!possible) {
        if (allGoods)
            setWithGoods(m, goodsKey(s, goods), unreachable);
        else
            m.toExit[s] = unreachable;
        return unreachable;
    }
    hunt.goal = allGoods ? WayGoal::AllGoods : WayGoal::Exit;
    hunt.allowLoss = false;
    hunt.aim = &job.best.toExit;
    hunt.known = &m;
    std::vector<uint64_t> from(keyOf(m.table, s), keyOf(m.table, s) + job.keyWords);
    if (allGoods) from.push_back(goods);
    Clock::time_point never = Clock::now() + std::chrono::hours(24);
    for (int weight : {1, 4}) {
        hunt.weight = weight;
        hunt.budget = weight == 1 ? askBudget : 2 * askBudget;
        beginHunt(job, hunt, from);
        while (hunt.result == HuntResult::Running)
            if (!advanceHunt(job, hunt, never) || job.report.done) return unreachable;
        job.huntStates += hunt.table.count;
        if (hunt.result == HuntResult::OverBudget) continue;
        if (hunt.result != HuntResult::Found) break;
        uint32_t total = hunt.total;
        m.rough = m.rough || weight > 1;
        // The way's states, each with its ticks still to go (only the first where the way is any way).
        std::vector<std::pair<std::vector<uint64_t>, uint32_t>> learnt;
        for (uint32_t t = hunt.found; t != noState; t = hunt.parent[t]) {
            if (weight > 1 && hunt.parent[t] != noState) continue;
            const uint64_t* key = keyOf(hunt.table, t);
            learnt.push_back({std::vector<uint64_t>(key, key + hunt.table.keyWords), total - hunt.ticks[t]});
        }
        for (auto& [key, ticks] : learnt) {
            uint32_t id = addLazy(job, m, key.data());
            if (allGoods)
                setWithGoods(m, goodsKey(id, static_cast<uint32_t>(key[job.keyWords])), ticks);
            else
                m.toExit[id] = ticks;
        }
        return total;
    }
    // None (proven), or no way even for any way within the budget.
    if (hunt.result != HuntResult::None) {
        m.rough = true;
    } else if (hunt.table.count <= askBudget) {
        // Every state the hunt met has no way either: its hunt would see no more than this one.
        for (uint32_t t = 0; t < hunt.table.count; ++t) {
            std::vector<uint64_t> key(keyOf(hunt.table, t), keyOf(hunt.table, t) + hunt.table.keyWords);
            uint32_t id = addLazy(job, m, key.data());
            if (allGoods)
                setWithGoods(m, goodsKey(id, static_cast<uint32_t>(key[job.keyWords])), unreachable);
            else
                m.toExit[id] = unreachable;
        }
    }
    if (allGoods)
        setWithGoods(m, goodsKey(s, goods), unreachable);
    else
        m.toExit[s] = unreachable;
    return unreachable;
}

}  // namespace

uint32_t knownTicks(const LazyMoves& m, const uint64_t* key, bool withGoods) {
    uint32_t s = findState(m.table, key, hashKey(key, m.table.keyWords));
    if (s == noState) return unknown;
    if (!withGoods) return m.toExit[s];
    return findWithGoods(m, goodsKey(s, static_cast<uint32_t>(key[m.table.keyWords])));
}

// The table as the simulated players ask it.
uint32_t successorOf(LazyMoves& m, size_t e) {
    if (m.successors[e] == unknown) stepLazy(*owner, m, static_cast<uint32_t>(e / choiceCount));
    return m.successors[e];
}
uint8_t goodsOf(LazyMoves& m, size_t e) {
    successorOf(m, e);
    return m.taken[e];
}
uint16_t cellOf(LazyMoves& m, uint32_t s) { return m.cells[s]; }
int onWayOf(LazyMoves& m, uint32_t s) { return m.onWay[s]; }
int goodsTargetOf(LazyMoves& m) { return m.goodsTarget; }
uint32_t exitDistance(SuccessWork&, LazyMoves& m, uint32_t s) {
    if (m.toExit[s] == unknown) askTicks(*owner, m, s, false, 0);
    return m.toExit[s];
}
uint32_t goodsDistance(SuccessWork&, LazyMoves& m, uint32_t s, uint32_t goods) {
    uint32_t ticks = findWithGoods(m, goodsKey(s, goods));
    return ticks != unknown ? ticks : askTicks(*owner, m, s, true, goods);
}

void runEstimate(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    LazyMoves& m = job.lazy;
    SuccessWork& work = job.success;
    owner = &job;
    if (m.table.count == 0) {
        job.estimateFrom = statesSeen(job);
        job.estimateBegan = searchSeconds(job);
        m.table.keyWords = job.keyWords;
        m.goodsTarget = job.goodsTarget;
        addLazy(job, m, job.startKey.data());
        // The way's states, one a tick, and its presses.
        job.exitAlong = {0};
        for (int t = 0; t + 1 < r.ticks; ++t) {
            int c = static_cast<int>(std::find(std::begin(choices), std::end(choices), r.solution[t]) -
                                     std::begin(choices));
            job.exitAlong.push_back(successorOf(m, size_t(job.exitAlong.back()) * choiceCount + c));
        }
        r.windows.clear();
        for (int t = 1; t <= r.ticks; ++t)
            if (r.solution[t - 1] != TickKey::None) r.windows.push_back({t, r.solution[t - 1], 0, 0});
        job.windowPress = 0;
        work = SuccessWork{};
        // As the exact figure: the players who take every item only with a few loose ones.
        work.figure.allGoodsMeasured = job.looseGoods <= 4;
        work.stage = SuccessStage::Tries;
        work.random = noisy::seed;
        work.failures.assign(size_t(mapWidth) * mapHeight * choiceCount, 0);
    }
    while (job.windowPress < r.windows.size() && !m.spent) {
        noisy::measureWindow(work, m, job.exitAlong, r.solution, r.windows[job.windowPress++]);
        if (r.done || Clock::now() > until) return;
    }
    while (!m.spent && !noisy::playTries(work, m)) {
        if (r.done || Clock::now() > until) return;
    }
    if (r.done) return;
    if (m.spent) {
        // The share ran out: neither windows nor figure, said so.
        r.windows.clear();
        r.figureLeftOut = true;
        job.lazy = LazyMoves{};
        job.success = SuccessWork{};
        closeLarge(job);
        return;
    }
    r.narrowestWindow = 2 * windowReach + 1;
    for (const KeyWindow& w : r.windows) r.narrowestWindow = std::min(r.narrowestWindow, w.width());
    r.success = work.figure;
    r.success.measured = true;
    r.success.estimated = m.rough;  // every distance proven: the figure is the exact one
    // The hardest press as the found way makes it, when it does: the same key where it is due.
    HardestPress& hardest = r.success.hardest;
    for (int t = 1; hardest.found && t <= r.ticks; ++t)
        if (r.solution[t - 1] == hardest.key && m.cells[job.exitAlong[t - 1]] == work.hardestCell) {
            hardest.tick = t;
            hardest.at = cellXY(work.hardestCell);
            break;
        }
    job.lazy = LazyMoves{};
    job.success = SuccessWork{};
    closeLarge(job);
}

size_t bytesOf(const LazyMoves& m) {
    return bytesOf(m.table) + bytesOf(m.successors) + bytesOf(m.taken) + bytesOf(m.cells) + bytesOf(m.onWay) +
           bytesOf(m.toExit) + bytesOf(m.withGoodsKeys) + bytesOf(m.withGoodsTicks);
}
