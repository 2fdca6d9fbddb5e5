// The exact search: breadth first over ticks, one of five choices a tick (no
// key, Left, Right, Up, Space), each stepped by the game's own tick rules on
// the global room, silently, every reachable state once. A room that fits
// is decided by it whole: the shortest way is the first found, places with
// no way on are the states that lead neither to the exit nor to a lost life,
// and the figure's tables are its moves.
#include <algorithm>
#include <bit>

#include "check/job.h"
#include "check/noisy.h"

using namespace successor;

namespace {

// The five steps of state s, stepped and hashed, their slots fetched.
void stepChoices(SearchJob& job, const StateTable& table, uint32_t s, Step* steps, uint64_t* keys) {
    const int kw = job.keyWords;
    job.stateKey.assign(keyOf(table, s), keyOf(table, s) + kw);
    const uint64_t* key = job.stateKey.data();
    if (!table.allowLoss && !job.edgeReached && onEdge(wordX(key[0]), wordY(key[0]))) {
        job.edgeReached = true;
        job.edgeAt = {wordX(key[0]), wordY(key[0])};
    }
    ChoiceStep stepped[choiceCount];
    stepEachChoice(job, key, table.allowLoss, true, job.nexts, stepped);
    std::copy(job.nexts.begin(), job.nexts.end(), keys);
    for (int c = 0; c < choiceCount; ++c) {
        Step& step = steps[c];
        if (stepped[c].asNoKey) {
            step = steps[0];
            if (step.target == unknown) step.same = 0;
            continue;
        }
        const uint64_t* next = keys + size_t(c) * kw;
        step.loose = stepped[c].loose;
        step.same = -1;
        if (stepped[c].outcome == TickOutcome::GameOver) {
            step.target = dead;
        } else if (stepped[c].outcome == TickOutcome::ExitReached) {
            step.target = atExit;
        } else {
            step.target = unknown;
            for (int d = 0; d < c && step.same < 0; ++d)
                if (steps[d].target == unknown && sameKey(keys + size_t(d) * kw, next, kw))
                    step.same = static_cast<int8_t>(d);
            if (step.same < 0) {
                step.hash = hashKey(next, kw);
                if (table.slotCount > 0) {
                    __builtin_prefetch(&table.tags[slotOf(step.hash, table)]);
                    __builtin_prefetch(&table.slots[slotOf(step.hash, table)]);
                }
            }
        }
    }
}

// The key each step will be compared with first: fetched before it is needed.
void fetchKeys(const StateTable& table, const Step* steps, size_t count) {
    if (table.slotCount == 0) return;
    size_t mask = table.slotCount - 1;
    for (size_t i = 0; i < count; ++i) {
        if (steps[i].target != unknown || steps[i].same >= 0) continue;
        uint8_t tag = tagOf(steps[i].hash);
        for (size_t slot = slotOf(steps[i].hash, table); table.tags[slot] != 0; slot = (slot + 1) & mask)
            if (table.tags[slot] == tag) {
                __builtin_prefetch(keyOf(table, table.slots[slot]));
                break;
            }
    }
}

// State s's successors into the table, in choice order; true when one is the exit.
bool resolveChoices(SearchJob& job, StateTable& table, uint32_t s, Step* steps, const uint64_t* keys) {
    bool exit = false;
    for (int c = 0; c < choiceCount; ++c) {
        Step& step = steps[c];
        if (step.target == unknown)
            step.target =
                step.same >= 0 ? steps[step.same].target : addState(table, keys + size_t(c) * job.keyWords, step.hash);
        exit = exit || step.target == atExit;
        if (!table.keepMoves) continue;
        table.successors[size_t(s) * choiceCount + c] = step.target;
        if (step.loose != noGoods) {
            table.goodsMoves.push_back(static_cast<uint32_t>(size_t(s) * choiceCount + c));
            table.goodsTaken.push_back(step.loose);
        }
        if (step.target == atExit && job.firstExit == noState) {
            job.firstExit = s;
            job.firstExitChoice = static_cast<uint32_t>(c);
        }
    }
    return exit;
}

}  // namespace

// Each state's first state of the tick before that leads to it, by its
// first such key, as breadth first found them.
void recordWay(SearchJob& job) {
    SearchReport& r = job.report;
    const StateTable& t = job.main;
    std::vector<uint32_t> along{job.firstExit};
    std::vector<TickKey> keys{choices[job.firstExitChoice]};
    for (int d = depthOf(t, job.firstExit); d > 0; --d) {
        uint32_t target = along.back();
        bool found = false;
        for (uint32_t p = t.levelStart[d - 1]; p < t.levelStart[d] && !found; ++p)
            for (int c = 0; c < choiceCount && !found; ++c)
                if (t.successors[size_t(p) * choiceCount + c] == target) {
                    along.push_back(p);
                    keys.push_back(choices[c]);
                    found = true;
                }
    }
    std::reverse(along.begin(), along.end());
    std::reverse(keys.begin(), keys.end());
    job.exitAlong = along;
    r.solution = keys;
    r.ticks = static_cast<int>(keys.size());
    r.verdict = Verdict::Finishable;
}

namespace {

// --- the phases ---

// The batch's states' successors into the table, in order; true when one of
// them is the exit and losses are allowed (the table then has what it needs).
bool resolveBatch(SearchJob& job, StateTable& table, Batch& batch) {
    const size_t keysPerState = size_t(choiceCount) * job.keyWords;
    for (size_t i = 0; i < batch.count; ++i) {
        uint32_t s = batch.first + uint32_t(i);
        // The states of the next tick begin where this tick's first state adds its own.
        if (s == table.levelStart.back()) table.levelStart.push_back(static_cast<uint32_t>(table.count));
        if (resolveChoices(job, table, s, batch.steps.data() + i * choiceCount, batch.keys.data() + i * keysPerState) &&
            table.allowLoss) {
            batch.count = 0;
            return true;
        }
    }
    batch.count = 0;
    return false;
}

// Breadth first over the table's states, each expanded in turn; true when
// every state is expanded (or, with losses allowed, the exit is reached).
// States are stepped in batches, so that the table's memory is fetched for
// many lookups at once, while the batch before waits for it; they are
// resolved in order, so the states are numbered as one at a time would
// number them.
bool exploreTable(SearchJob& job, StateTable& table, size_t budget, Clock::time_point until) {
    bool sliceOver = false;
    Batch* batches = job.batches;
    for (Batch& batch : job.batches) {
        batch.steps.resize(batchStates * choiceCount);
        batch.keys.resize(batchStates * choiceCount * job.keyWords);
        batch.count = 0;
    }
    const size_t keysPerState = size_t(choiceCount) * job.keyWords;
    Batch* waiting = &batches[0];
    Batch* next = &batches[1];
    for (size_t done = 0, rounds = 0;; ++rounds) {
        // Only states that already exist can be stepped: the waiting batch adds more.
        size_t n = std::min({batchStates, table.count - table.nextToExpand, budget - std::min(budget, done)});
        bool stop = false;
        if (rounds % 16 == 15 && outOfTime(job, until, sliceOver)) stop = true;
        // Every successor must fit under the state limit: the limit is never passed.
        if (!stop && job.limits.maxStates > 0) {
            size_t states = job.main.count + job.withLoss.count - 1 + waiting->count * choiceCount;
            size_t room = job.limits.maxStates > states ? (job.limits.maxStates - states) / choiceCount : 0;
            n = std::min(n, room);
            if (n == 0 && waiting->count == 0 && table.nextToExpand < table.count) {
                stopSearch(job, SearchLimit::States);
                stop = true;
            }
        }
        if (!stop && n > 0) {
            size_t growth = growthBytes(table, (n + waiting->count) * choiceCount);
            if (growth > 0 && !roomFor(job, growth)) stop = true;
        }
        if (stop && job.report.stoppedBy == SearchLimit::Memory) {
            // Its successors would not fit: the batch waiting is left unexpanded.
            table.nextToExpand = waiting->count > 0 ? waiting->first : table.nextToExpand;
            waiting->count = 0;
            return false;
        }
        if (stop || n == 0) {
            if (resolveBatch(job, table, *waiting)) return true;
            if (stop || sliceOver) return false;
            if (table.nextToExpand >= table.count) {
                table.exhausted = true;
                return true;
            }
            if (done >= budget) return false;
            continue;
        }
        next->first = static_cast<uint32_t>(table.nextToExpand);
        next->count = n;
        for (size_t i = 0; i < n; ++i)
            stepChoices(job, table, next->first + uint32_t(i), next->steps.data() + i * choiceCount,
                        next->keys.data() + i * keysPerState);
        table.nextToExpand += n;
        done += n;
        fetchKeys(table, next->steps.data(), n * choiceCount);
        if (resolveBatch(job, table, *waiting)) return true;
        std::swap(waiting, next);
    }
}

// What the later phases need of the states, kept beside the moves: the
// player's cell and the goods on the enemies' ways taken. The states
// themselves and their table go: the rest works on the moves alone.
void keepOfStates(SearchJob& job) {
    StateTable& t = job.main;
    MoveTable& m = job.moves;
    m.states = t.count;
    m.successors = &t.successors;
    if (!t.goodsMoves.empty()) {
        m.goodsMoves = &t.goodsMoves;
        m.goodsTaken = &t.goodsTaken;
    }
    m.goodsTarget = job.goodsTarget;
    m.looseGoods = job.looseGoods;
    m.onWayGoods.resize(t.count);
    m.cells.resize(t.count);
    job.standing.assign(t.count, 0);
    for (size_t s = 0; s < t.count; ++s) {
        const uint64_t* key = keyOf(t, uint32_t(s));
        job.standing[s] = standsOn(job, key);
        int count = 0;
        for (int i = 0; i < job.cellWords; ++i) count += std::popcount(key[1 + i] & job.takenMask[i]);
        m.onWayGoods[s] = static_cast<uint16_t>(count);
        m.cells[s] = static_cast<uint16_t>(
            cellIndex(static_cast<int>(field(key[0], word::x, 7)), static_cast<int>(field(key[0], word::y, 5))));
    }
    t.keys = std::vector<Memory<uint64_t>>();
    t.keyRoom = 0;
    t.slots.reset();
    t.tags.reset();
    t.slotCount = 0;
}

// The table's next states within the exact search's budget; past it, the
// large room's phases take over.
bool exploreWithin(SearchJob& job, StateTable& table, SearchSlice slice, Clock::time_point until) {
    size_t states = slice.states;
    if (job.exactBudget > 0) {
        size_t seen = job.main.count + job.withLoss.count;
        if (seen >= job.exactBudget) {
            leaveExact(job);
            return false;
        }
        states = std::min(states, (job.exactBudget - seen) / choiceCount + 1);
    }
    return exploreTable(job, table, states, until);
}

}  // namespace

void runExplore(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    if (!exploreWithin(job, job.main, slice, until)) return;
    job.report.explored = job.report.goodsKnown = job.report.stuckKnown = true;
    if (!roomFor(job, job.main.count * 2 * sizeof(uint16_t))) return;
    keepOfStates(job);
    if (job.firstExit != noState) {
        recordWay(job);
        job.phase = Phase::Analyse;
    } else {
        job.phase = Phase::WithLoss;
    }
}

void runWithLoss(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    if (!exploreWithin(job, job.withLoss, slice, until)) return;
    job.lossExit = !job.withLoss.exhausted;
    job.withLoss = emptied(job.withLoss);
    job.phase = Phase::Analyse;
}

// Which states lead to the exit without a lost life (and in how many
// ticks: the figure's distances, worked out here once), and which to
// neither the exit nor a lost life: backwards over the explored moves.
void runAnalyse(SearchJob& job) {
    const MoveTable& m = job.moves;
    size_t n = m.states;
    size_t edges = 0;
    for (size_t e = 0; e < n * choiceCount; ++e) edges += successorOf(m, e) < n;
    if (!roomFor(job, (n + 1) * sizeof(uint32_t) * 3 + edges * sizeof(uint32_t) + n)) return;
    distancesToExit(job.success, m);
    const std::vector<uint32_t>& firstIn = job.success.firstIn;
    const std::vector<uint32_t>& from = job.success.from;
    // A state that can finish has a way on already, and so has everything before it:
    // only the ways to a lost life are followed back, through the rest.
    const std::vector<uint32_t>& toExit = job.success.toExit;
    std::vector<uint8_t> canLeave(n, 0);
    std::vector<uint32_t> queue;
    for (size_t s = 0; s < n; ++s) {
        if (toExit[s] != unreachable) {
            canLeave[s] = 1;
            continue;
        }
        for (int c = 0; c < choiceCount; ++c)
            if (successorOf(m, s * choiceCount + c) == dead) {
                canLeave[s] = 1;
                queue.push_back(static_cast<uint32_t>(s));
                break;
            }
    }
    for (size_t q = 0; q < queue.size(); ++q)
        for (uint32_t i = firstIn[queue[q]]; i < firstIn[queue[q] + 1]; ++i)
            if (uint32_t p = from[i] & ~takesGoods; !canLeave[p]) {
                canLeave[p] = 1;
                queue.push_back(p);
            }
    SearchReport& r = job.report;
    for (size_t s = 0; s < n; ++s)
        if (!canLeave[s]) {
            r.stuck = true;
            r.stuckAt = cellXY(m.cells[s]);
            r.stuckTick = depthOf(job.main, static_cast<uint32_t>(s));
            break;
        }
    for (size_t g = 0; g < job.goodsCells.size(); ++g)
        if (!job.goodsReached[g]) r.unreachableGoods.push_back(cellXY(job.goodsCells[g]));
    // A place the player stands in where the exit can no longer be reached:
    // the only way on is losing a life (or none, which is said above).
    for (size_t s = 0; s < n && r.ticks >= 0 && !r.stuck; ++s)
        if (job.standing[s] && toExit[s] == unreachable) {
            r.deadEnd = true;
            r.deadEndAt = cellXY(m.cells[s]);
            r.deadEndTick = depthOf(job.main, static_cast<uint32_t>(s));
            break;
        }
    job.standing = {};
    if (r.ticks >= 0) {
        job.phase = Phase::Distances;
        return;
    }
    // No way without a lost life: nothing more to measure.
    job.success = SuccessWork{};
    r.verdict = job.lossExit ? Verdict::ExitOnlyByLosingLife : Verdict::ExitNotReachable;
    r.decided = true;
    r.done = true;
    job.phase = Phase::Done;
}

void runDistances(SearchJob& job, Clock::time_point until) {
    if (job.success.stage == SuccessStage::Distances && !roomFor(job, successBytes(job.moves))) return;
    try {
        if (!advanceSuccess(job.success, job.moves, until, SuccessStage::Tries)) return;
    } catch (const std::bad_alloc&) {
        job.success = SuccessWork{};
        return stopSearch(job, SearchLimit::MemoryRefused);
    }
    job.phase = Phase::AllGoods;
}

namespace {}  // namespace

void runWindows(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    if (job.windowPress == 0 && r.windows.empty())
        for (int t = 1; t <= r.ticks; ++t)
            if (r.solution[t - 1] != TickKey::None) r.windows.push_back({t, r.solution[t - 1], 0, 0});
    for (size_t done = 0; job.windowPress < r.windows.size(); ++done) {
        if (done > 0 && Clock::now() > until) return;
        noisy::measureWindow(job.success, job.moves, job.exitAlong, r.solution, r.windows[job.windowPress++]);
    }
    r.narrowestWindow = 2 * windowReach + 1;
    for (const KeyWindow& w : r.windows) r.narrowestWindow = std::min(r.narrowestWindow, w.width());
    job.phase = Phase::Figure;
}

void runFigure(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    try {
        if (!advanceSuccess(job.success, job.moves, until)) return;
    } catch (const std::bad_alloc&) {
        job.success = SuccessWork{};
        return stopSearch(job, SearchLimit::MemoryRefused);
    }
    r.success = job.success.figure;
    // The hardest press as the found way makes it, when it does: the same key where it is due.
    HardestPress& hardest = r.success.hardest;
    for (int t = 1; hardest.found && t <= r.ticks; ++t)
        if (r.solution[t - 1] == hardest.key && job.moves.cells[job.exitAlong[t - 1]] == job.success.hardestCell) {
            hardest.tick = t;
            hardest.at = cellXY(job.success.hardestCell);
            break;
        }
    job.moves = MoveTable{};
    job.success = SuccessWork{};
    job.main = emptied(job.main);
    r.decided = true;
    r.done = true;
    job.phase = Phase::Done;
}
