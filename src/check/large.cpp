// Rooms the exact search would not end in (past its budget of states this
// takes over): each question of the verdict answered on its own, by a way
// the game's tick plays (to the exit, with every goods item, to a goods
// item) or by the best case saying there is none; places with no way on by
// the worst case, and where it cannot prove them, by a way there and every
// state after it. A limit that ends any of it stops the search as it stops
// the exact one: what is not yet known is said to be not known.
#include <algorithm>

#include "check/job.h"

using namespace successor;

namespace {

// States a hunt for a shortest way may take; past them it starts again for
// any way, which it finds sooner (the best case's ticks still to go weigh
// more than those gone). On a bridge of crumbling floor the best case may
// promise a tick or two less than play gives, and every way that falls
// short of the promise by a tick has many patterns of jumps over the floor.
constexpr size_t shortestBudget = 400'000;
constexpr int anyWayWeight = 4;

void startHunt(SearchJob& job, WayGoal goal, bool allowLoss, const std::vector<uint32_t>& aim, bool shortest = true) {
    WayHunt& hunt = job.hunt;
    hunt.goal = goal;
    hunt.allowLoss = allowLoss;
    hunt.aim = &aim;
    hunt.weight = shortest ? 1 : anyWayWeight;
    hunt.budget = shortest ? shortestBudget : SIZE_MAX;  // else the search's own limits bound it
    beginHunt(job, hunt);
}

// Works on the hunt; true once it has its result. A hunt for a shortest way
// that outgrew its budget goes on for any way.
bool huntDone(SearchJob& job, Clock::time_point until) {
    if (!advanceHunt(job, job.hunt, until) || job.report.done) return false;
    if (job.hunt.result != HuntResult::OverBudget) return true;
    job.huntStates += job.hunt.table.count;
    job.hunt.weight = anyWayWeight;
    job.hunt.budget = SIZE_MAX;
    beginHunt(job, job.hunt);
    return false;
}

// The hunt's states into the search's count, its tables freed.
void endHunt(SearchJob& job) {
    job.huntStates += job.hunt.table.count;
    WayHunt done;
    done.goal = job.hunt.goal;
    done.allowLoss = job.hunt.allowLoss;
    done.result = job.hunt.result;
    done.keys = std::move(job.hunt.keys);
    done.arrived = job.hunt.arrived;
    job.hunt = std::move(done);
}

bool hunting(const SearchJob& job, WayGoal goal) {
    return job.hunt.result == HuntResult::Running && job.hunt.goal == goal && job.hunt.table.count > 0;
}

// A way found, played through the game's tick: it must end as the hunt says.
bool plays(const SearchJob& job, const std::vector<TickKey>& keys, bool allowLoss) {
    int played = 0;
    TickOutcome outcome = playKeys(job.start, keys, allowLoss, &played);
    return outcome == TickOutcome::ExitReached && played == static_cast<int>(keys.size());
}

std::vector<uint8_t> oneCell(int cell) {
    std::vector<uint8_t> at(mapCells, 0);
    at[cell] = 1;
    return at;
}

// Every state after `from` without a lost life, breadth first, up to a few
// thousand: whether one reaches the exit or loses a life (a way on), or
// none does (stuck there), or there were more.
enum class Probe : uint8_t { WayOn, Stuck, TooMany };
constexpr size_t probeStates = 50'000;
constexpr size_t quickLooks = 4;  // places looked at so, before every state there is
// A place with no way to the exit but losing a life is only a note: looked for a little.
constexpr size_t deadEndStates = 100'000;
constexpr size_t deadEndLooks = 8;

Probe probe(SearchJob& job, const uint64_t* from, Clock::time_point until) {
    StateTable table;
    table.keyWords = job.keyWords;
    addState(table, from, hashKey(from, job.keyWords));
    std::vector<uint64_t> key(job.keyWords), next(job.keyWords);
    bool sliceOver = false;
    Probe result = Probe::Stuck;
    for (size_t s = 0; s < table.count && result == Probe::Stuck; ++s) {
        // A probe is short: it runs to its end within the search's limits, not the slice's.
        if ((s & 255) == 255 && outOfTime(job, until + std::chrono::hours(24), sliceOver)) return Probe::TooMany;
        if ((s & 63) == 0 && !roomFor(job, bytesOf(table) + growthBytes(table, 64 * choiceCount)))
            return Probe::TooMany;
        if (table.count > probeStates) {
            result = Probe::TooMany;
            break;
        }
        std::copy_n(keyOf(table, static_cast<uint32_t>(s)), job.keyWords, key.begin());
        ChoiceStep steps[choiceCount];
        stepEachChoice(job, key.data(), false, false, next, steps);
        for (int c = 0; c < choiceCount && result == Probe::Stuck; ++c)
            if (steps[c].outcome != TickOutcome::GoOn)
                result = Probe::WayOn;
            else
                addState(table, next.data() + size_t(c) * job.keyWords,
                         hashKey(next.data() + size_t(c) * job.keyWords, job.keyWords));
    }
    job.huntStates += table.count;
    return result;
}

}  // namespace

void leaveExact(SearchJob& job) {
    job.exactStates = job.main.count + job.withLoss.count;
    job.main = StateTable{};
    job.withLoss = StateTable{};
    job.main.keyWords = job.withLoss.keyWords = job.keyWords;
    job.firstExit = noState;
    job.goodsReached.assign(job.goodsCells.size(), 0);
    job.edgeReached = false;
    job.report.explored = false;
    job.phase = Phase::Outline;
}

void runOutline(SearchJob& job) {
    buildBestCase(job);
    job.phase = job.best.toExit[job.best.start] != unreachable ? Phase::Way : Phase::LossWay;
}

void runWay(SearchJob& job, Clock::time_point until) {
    if (!hunting(job, WayGoal::Exit)) startHunt(job, WayGoal::Exit, false, job.best.toExit);
    if (!huntDone(job, until)) return;
    SearchReport& r = job.report;
    HuntResult result = job.hunt.result;
    r.ticksShortest = job.hunt.weight == 1;
    endHunt(job);
    if (result == HuntResult::Found && plays(job, job.hunt.keys, false)) {
        r.solution = job.hunt.keys;
        r.ticks = static_cast<int>(r.solution.size());
        r.verdict = Verdict::Finishable;
        job.phase = Phase::AllGoodsWay;
    } else {
        job.phase = Phase::LossWay;  // every state that might lead there seen: none does
    }
}

void runLossWay(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    if (!hunting(job, WayGoal::Exit)) {
        if (job.best.toExitWithLoss[job.best.start] == unreachable) {
            r.verdict = Verdict::ExitNotReachable;
            job.phase = Phase::GoodsWays;
            return;
        }
        startHunt(job, WayGoal::Exit, true, job.best.toExitWithLoss);
    }
    if (!huntDone(job, until)) return;
    HuntResult result = job.hunt.result;
    endHunt(job);
    bool found = result == HuntResult::Found && plays(job, job.hunt.keys, true);
    r.verdict = found ? Verdict::ExitOnlyByLosingLife : Verdict::ExitNotReachable;
    job.phase = Phase::GoodsWays;
}

void runAllGoodsWay(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    if (job.goodsTarget == 0) {
        takeWayAsAllGoods(r);
        job.phase = Phase::GoodsWays;
        return;
    }
    WayHunt& hunt = job.hunt;
    if (!hunting(job, WayGoal::AllGoods)) {
        job.toGoods.clear();
        job.goodsOnward.clear();
        for (int cell : job.goodsCells) {
            job.toGoods.push_back(bestDistancesTo(job.best, oneCell(cell)));
            uint32_t onward = unreachable;
            for (uint32_t v = 0; v < job.best.word.size(); ++v)
                if (wordCell(job.best.word[v]) == cell) onward = std::min(onward, job.best.toExit[v]);
            job.goodsOnward.push_back(onward);
        }
        // From each goods item to each other one, at least.
        size_t n = job.goodsCells.size();
        job.goodsBetween.assign(n * n, unreachable);
        for (size_t a = 0; a < n; ++a)
            for (uint32_t v = 0; v < job.best.word.size(); ++v)
                if (wordCell(job.best.word[v]) == job.goodsCells[a])
                    for (size_t b = 0; b < n; ++b)
                        job.goodsBetween[a * n + b] = std::min(job.goodsBetween[a * n + b], job.toGoods[b][v]);
        startHunt(job, WayGoal::AllGoods, false, job.best.toExit);
    }
    if (!huntDone(job, until)) return;
    HuntResult result = hunt.result;
    r.allGoodsShortest = hunt.weight == 1;
    endHunt(job);
    if (result == HuntResult::Found && plays(job, job.hunt.keys, false)) {
        r.allGoodsSolution = job.hunt.keys;
        r.allGoodsTicks = static_cast<int>(r.allGoodsSolution.size());
    }
    r.allGoodsLookedFor = true;  // found, or proven that no way takes them all
    job.phase = Phase::GoodsWays;
}

void runGoodsWays(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    // As the exact search counts them: after a lost life too where the exit needs one.
    bool allowLoss = r.verdict != Verdict::Finishable;
    WayHunt& hunt = job.hunt;
    while (job.goodsAsked < job.goodsCells.size()) {
        size_t g = job.goodsAsked;
        int cell = job.goodsCells[g];
        if (!hunting(job, WayGoal::Goods)) {
            if (job.goodsReached[g]) {
                ++job.goodsAsked;
                continue;
            }
            if (!bestArrives(job.best, oneCell(cell), allowLoss)) {
                r.unreachableGoods.push_back(cellXY(cell));
                ++job.goodsAsked;
                continue;
            }
            hunt.goodsItem = g;
            job.cellsAim = bestDistancesTo(job.best, oneCell(cell), allowLoss);
            startHunt(job, WayGoal::Goods, allowLoss, job.cellsAim, false);
        }
        if (!huntDone(job, until)) return;
        if (hunt.result != HuntResult::Found) r.unreachableGoods.push_back(cellXY(cell));
        endHunt(job);
        ++job.goodsAsked;
    }
    r.goodsKnown = true;
    // The map's edge, as the exact search finds it: a place the player can be in.
    if (!job.edgeReached) {
        std::vector<uint8_t> edge(mapCells, 0);
        bool possible = false;
        for (int c = 0; c < mapCells; ++c) edge[c] = onEdge(cellXY(c).x, cellXY(c).y);
        for (uint32_t v = 0; v < job.best.word.size() && !possible; ++v)
            possible = job.best.reached[v] && edge[wordCell(job.best.word[v])];
        if (possible && !hunting(job, WayGoal::Cells)) {
            hunt.cells = edge;
            job.cellsAim = bestDistancesTo(job.best, edge);
            startHunt(job, WayGoal::Cells, false, job.cellsAim, false);
        }
        if (possible) {
            if (!huntDone(job, until)) return;
            if (hunt.result == HuntResult::Found) job.edgeReached = true, job.edgeAt = hunt.arrived;
            endHunt(job);
        }
    }
    job.phase = Phase::Stuck;
}

void runStuck(SearchJob& job, Clock::time_point until) {
    WorstCase& worst = job.worst;
    if (worst.table.count == 0) {
        beginWorstCase(job, true);
        worst.budget = SIZE_MAX;
    }
    if (!advanceWorstCase(job, until) || job.report.done) return;
    if (worst.overBudget) {
        // Too many cells undecided at once for the game near the player: the plainer one.
        job.worstStates += worst.table.count;
        beginWorstCase(job, false);
        worst.budget = SIZE_MAX;
        return;
    }
    job.doubtful.assign(mapCells, 0);
    bool any = false;
    for (uint32_t s = 0; s < worst.table.count; ++s)
        if (!worst.won[s]) {
            int x = wordX(keyOf(worst.table, s)[0]), y = wordY(keyOf(worst.table, s)[0]);
            if (insideMap(x, y)) job.doubtful[cellIndex(x, y)] = 1, any = true;
        }
    job.worstStates += worst.table.count;
    worst = WorstCase{};
    if (!any) {
        job.report.stuckKnown = true;
        afterStuck(job);
        return;
    }
    job.phase = Phase::Confirm;
}

void runConfirm(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    WayHunt& hunt = job.hunt;
    if (!hunting(job, WayGoal::Cells)) {
        hunt.cells = job.doubtful;
        job.cellsAim = bestDistancesTo(job.best, job.doubtful);
        startHunt(job, WayGoal::Cells, false, job.cellsAim);
        job.hunt.budget = shortestBudget / 4;
    }
    // A stuck place is usually where the first way there leads: a few are looked at.
    while (!r.done && hunt.reported < quickLooks) {
        if (!huntDone(job, until)) return;
        if (hunt.result != HuntResult::Found) {
            // Every state that might arrive there seen, and every one that did has a way on.
            r.stuckKnown = true;
            break;
        }
        std::vector<uint64_t> there(keyOf(hunt.table, hunt.found), keyOf(hunt.table, hunt.found) + job.keyWords);
        Probe found = probe(job, there.data(), until);
        if (r.done) return;
        if (found == Probe::Stuck) {
            r.stuck = r.stuckKnown = true;
            r.stuckAt = hunt.arrived;
            r.stuckTick = static_cast<int>(hunt.keys.size());
            break;
        }
        ++hunt.reported;
        hunt.result = HuntResult::Running;
        if (Clock::now() > until) return;
    }
    endHunt(job);
    if (!r.stuckKnown) {
        // None of those: every state there, exactly.
        beginRegion(job);
        job.phase = Phase::Region;
        return;
    }
    afterStuck(job);
}

void runRegion(SearchJob& job, Clock::time_point until) {
    if (!advanceRegion(job, until) || job.report.done) return;
    afterStuck(job);
}

void afterStuck(SearchJob& job) {
    job.phase = job.report.verdict != Verdict::Finishable ? Phase::Done
                : job.report.stuck                        ? Phase::Estimate
                                                          : Phase::DeadEnds;
    if (job.phase == Phase::Done) closeLarge(job);
}

void runDeadEnds(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    WayHunt& hunt = job.hunt;
    if (!hunting(job, WayGoal::Cells)) {
        // Where the best case itself knows no way to the exit from ground the player stands on.
        const BestCase& best = job.best;
        std::vector<uint8_t> places(mapCells, 0);
        bool any = false;
        for (uint32_t v = 0; v < best.word.size(); ++v) {
            int x = wordX(best.word[v]), y = wordY(best.word[v]);
            if (!best.reached[v] || best.toExit[v] != unreachable || field(best.word[v], word::jumping, 1) ||
                !insideMap(x, y))
                continue;
            if (isSolid(cellAt(job.start.levelMap, x, y + 1))) places[cellIndex(x, y)] = 1, any = true;
        }
        if (!any) {
            job.phase = Phase::Estimate;
            return;
        }
        hunt.cells = places;
        job.cellsAim = bestDistancesTo(job.best, places);
        startHunt(job, WayGoal::Cells, false, job.cellsAim, false);
        hunt.budget = deadEndStates;
    }
    while (hunt.reported < deadEndLooks) {
        if (!advanceHunt(job, hunt, until) || r.done) return;
        if (hunt.result != HuntResult::Found) break;  // none, or looked far enough: no note
        const uint64_t* key = keyOf(hunt.table, hunt.found);
        uint32_t node = bestNodeOf(job, key);
        if (standsOn(job, key) && node != noState && job.best.toExit[node] == unreachable) {
            r.deadEnd = true;
            r.deadEndAt = hunt.arrived;
            r.deadEndTick = static_cast<int>(hunt.keys.size());
            break;
        }
        ++hunt.reported;
        hunt.result = HuntResult::Running;
    }
    endHunt(job);
    job.phase = Phase::Estimate;
}

void closeLarge(SearchJob& job) {
    SearchReport& r = job.report;
    r.explored = r.goodsKnown && r.stuckKnown;
    r.decided = true;
    r.done = true;
    job.best = BestCase{};
    job.phase = Phase::Done;
}
