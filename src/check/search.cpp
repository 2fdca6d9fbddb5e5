// The search: the phases that prove a room's verdict, in order, within the
// limits given (processor time, states, memory), in slices that hand back
// to the caller (the editor runs it between its keys). The game's room,
// counters, screen, clock and sound are as they were after every slice.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "check/job.h"
#include "console/console.h"
#include "system/machine.h"
#include "system/sound.h"

using namespace successor;

void SearchJobDeleter::operator()(SearchJob* job) const { delete job; }

namespace {

// Processor time of this thread: the search's limits hold the same on a
// busy machine as on an idle one.
double threadSeconds() { return threadProcessorSeconds(); }

// The caller's world around a batch of steps, and the console's silence.
struct Silence {
    WorldSnapshot world;
    bool consoleWasSilent;
};

Silence enterSilence() {
    Silence saved{saveWorld(), consoleSilent()};
    setConsoleSilent(true);
    setSoundSilent(true);
    return saved;
}

void leaveSilence(const Silence& saved) {
    restoreWorld(saved.world);
    setConsoleSilent(saved.consoleWasSilent);
    setSoundSilent(false);
}

// The search's tables as they stand.
size_t memoryUsed(const SearchJob& job) {
    size_t aims = bytesOf(job.cellsAim) + bytesOf(job.goodsBetween) + bytesOf(job.doubtful);
    for (const std::vector<uint32_t>& to : job.toGoods) aims += bytesOf(to);
    return aims + bytesOf(job.best) + bytesOf(job.hunt) + bytesOf(job.worst) + bytesOf(job.lazy) + bytesOf(job.region) +
           bytesOf(job.main) + bytesOf(job.withLoss) + bytesOf(job.exitAlong) + bytesOf(job.ways) +
           bytesOf(job.seenFirst) + bytesOf(job.seen) + bytesOf(job.nodeMasks) + bytesOf(job.moves.onWayGoods) +
           bytesOf(job.moves.cells) + bytesOf(job.success.firstIn) + bytesOf(job.success.from) +
           bytesOf(job.success.special) + bytesOf(job.success.toExit) + bytesOf(job.success.toExitAllGoods);
}

std::string mebibytes(size_t bytes) {
    if (bytes < (1u << 20)) return std::to_string((bytes + 1023) >> 10) + " KiB";
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// A figure as short as it can be written and still read back the same: 0.4 stays 0.4.
std::string figure(double value) {
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::to_string(value);
}

}  // namespace

size_t statesSeen(const SearchJob& job) {
    size_t states = job.exactStates + job.main.count + job.withLoss.count + job.huntStates + job.hunt.table.count +
                    job.worstStates + job.worst.table.count + job.regionStates + job.region.count +
                    job.lazy.table.count;
    return states > 0 ? states - 1 : 0;
}

namespace {

double spentNow(const SearchJob& job) { return job.spent + threadSeconds() - job.sliceBegan; }

}  // namespace

double searchSeconds(const SearchJob& job) { return spentNow(job); }

namespace {}  // namespace

void stopSearch(SearchJob& job, SearchLimit limit) {
    SearchReport& r = job.report;
    // The exit met on the way is met at the fewest ticks: its way stands.
    if (job.firstExit != noState && r.ticks < 0 && job.main.successors.size > 0) recordWay(job);
    r.stoppedBy = limit;
    r.stopReason = limitText(limit, job.limits);
    // What filled the states: what can matter where the proofs stopped, or from the start.
    std::vector<uint8_t> from = job.doubtful;
    if (from.empty() || (job.report.stuckKnown && job.phase != Phase::Region)) {
        from.assign(mapCells, 0);
        if (insideMap(job.startPlayer.playerX, job.startPlayer.playerY))
            from[cellIndex(job.startPlayer.playerX, job.startPlayer.playerY)] = 1;
    }
    whatCanMatter(job, from, r.openCrumbling, r.openEnemies);
    r.decided = false;
    // A verdict proven already stands (a way found, or none even in the best case).
    if (r.ticks >= 0)
        r.verdict = Verdict::Finishable;
    else if (r.verdict != Verdict::ExitNotReachable && r.verdict != Verdict::ExitOnlyByLosingLife)
        r.verdict = Verdict::Unknown;
    r.done = true;
    job.phase = Phase::Done;
}

bool roomFor(SearchJob& job, size_t more) {
    size_t used = memoryUsed(job);
    job.report.peakBytes = std::max(job.report.peakBytes, used);
    if (used + more <= job.limits.maxMemory) return true;
    stopSearch(job, SearchLimit::Memory);
    return false;
}

bool outOfTime(SearchJob& job, Clock::time_point until, bool& sliceOver) {
    if (Clock::now() > until) sliceOver = true;
    if (spentNow(job) >= job.limits.maxSeconds) {
        stopSearch(job, SearchLimit::Seconds);
        return true;
    }
    return sliceOver;
}

namespace {

void runPhase(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    switch (job.phase) {
        case Phase::Explore:
            return runExplore(job, slice, until);
        case Phase::WithLoss:
            return runWithLoss(job, slice, until);
        case Phase::Analyse:
            return runAnalyse(job);
        case Phase::Distances:
            return runDistances(job, until);
        case Phase::AllGoods:
            return runAllGoods(job, slice, until);
        case Phase::Windows:
            return runWindows(job, until);
        case Phase::Figure:
            return runFigure(job, until);
        case Phase::Outline:
            return runOutline(job);
        case Phase::Way:
            return runWay(job, until);
        case Phase::LossWay:
            return runLossWay(job, until);
        case Phase::AllGoodsWay:
            return runAllGoodsWay(job, until);
        case Phase::GoodsWays:
            return runGoodsWays(job, until);
        case Phase::Stuck:
            return runStuck(job, until);
        case Phase::Confirm:
            return runConfirm(job, until);
        case Phase::Region:
            return runRegion(job, until);
        case Phase::DeadEnds:
            return runDeadEnds(job, until);
        case Phase::Estimate:
            return runEstimate(job, until);
        case Phase::Done:
            return;
    }
}

// The room's model and the start state, once, in the job's first slice.
void prepare(SearchJob& job) {
    room = job.start;
    game.levelNumber = 1;
    job.startPlayer = startRoom();  // silent: counters, enemy steps, slots freed
    job.start = room;
    // The texts show on the status line only: a message cell is an empty one in play.
    for (std::string& message : job.start.roomMessages) message.clear();
    buildModel(job);
    job.report.goodsOnMap = job.goodsTarget = static_cast<int>(job.goodsCells.size());
    job.goodsReached.assign(job.goodsCells.size(), 0);
    job.main.keyWords = job.withLoss.keyWords = job.keyWords;
    job.main.keepMoves = true;
    job.withLoss.allowLoss = true;
    room = job.start;
    std::vector<uint64_t> first(job.keyWords, 0);
    job.changed.clear();
    readState(job, first.data(), job.startPlayer, false, first.data(), false);
    job.startKey = first;
    job.main.levelStart.push_back(0);
    addState(job.main, first.data(), hashKey(first.data(), job.keyWords));
    readState(job, first.data(), job.startPlayer, false, first.data(), true);
    job.startKeyWithLoss = first;
    job.withLoss.levelStart.push_back(0);
    addState(job.withLoss, first.data(), hashKey(first.data(), job.keyWords));
}

SearchLimits ceiling{0, 0, 0};
constexpr size_t defaultExactShare = 300'000;
size_t exactShare = defaultExactShare;
}  // namespace

std::string limitText(SearchLimit limit, const SearchLimits& limits) {
    switch (limit) {
        case SearchLimit::States:
            return "more than " + std::to_string(limits.maxStates) + " states (--max-states)";
        case SearchLimit::Seconds:
            return "more than " + figure(limits.maxSeconds) + " s of processor time (--max-seconds)";
        case SearchLimit::Memory:
            return "more than " + mebibytes(limits.maxMemory) + " of memory (--max-memory)";
        case SearchLimit::MemoryRefused:
            return "the system refusing more memory";
        case SearchLimit::None:
            break;
    }
    return "";
}

size_t searchMemoryShare() { return usableMemory() / 4; }

void setSearchCeiling(const SearchLimits& limits) { ceiling = limits; }

void setExactShare(size_t states) { exactShare = states > 0 ? states : defaultExactShare; }

SearchJobPtr startSearch(const RoomState& loaded, SearchLimits limits) {
    if (limits.maxMemory == 0) limits.maxMemory = searchMemoryShare();
    if (ceiling.maxStates > 0 && (limits.maxStates == 0 || limits.maxStates > ceiling.maxStates))
        limits.maxStates = ceiling.maxStates;
    if (ceiling.maxMemory > 0 && limits.maxMemory > ceiling.maxMemory) limits.maxMemory = ceiling.maxMemory;
    if (ceiling.maxSeconds > 0 && limits.maxSeconds > ceiling.maxSeconds) limits.maxSeconds = ceiling.maxSeconds;
    SearchJobPtr job(new SearchJob);
    job->start = loaded;
    job->limits = limits;
    // Rooms the exact search decides within this many states are decided by it whole, as
    // always; beyond it the large room's phases take over, unless the limit given is lower.
    if (limits.maxStates == 0 || limits.maxStates > exactShare) job->exactBudget = exactShare;
    return job;
}

bool advanceSearch(SearchJob& job, SearchSlice slice) {
    if (job.report.done) return true;
    Clock::time_point sliceStart = Clock::now();
    job.sliceBegan = threadSeconds();
    // A slice ends by the time limit too: processor time never runs ahead of the clock.
    double milliseconds = std::min(slice.milliseconds, (job.limits.maxSeconds - job.spent) * 1000);
    Clock::time_point until =
        sliceStart + std::chrono::microseconds(static_cast<long>(std::max(milliseconds, 0.0) * 1000));
    Silence saved = enterSilence();
    try {
        if (!job.begun) {
            job.begun = true;
            prepare(job);
        }
        // Each slice steps the job's own room: the caller's may be anything by now.
        room = job.start;
        Phase before = Phase::Done;
        // A slice may run several short phases, but never past its time.
        while (!job.report.done && job.phase != before && Clock::now() <= until) {
            before = job.phase;
            runPhase(job, slice, until);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory anyway (the system was short): the tables go back.
        size_t states = statesSeen(job);
        job.main = StateTable{};
        job.withLoss = StateTable{};
        job.ways = {};
        job.seen = {};
        job.seenFirst = {};
        job.moves = MoveTable{};
        job.success = SuccessWork{};
        job.report.states = states;
        job.report.windows.clear();
        job.report.narrowestWindow = 0;
        stopSearch(job, SearchLimit::MemoryRefused);
    } catch (...) {
        leaveSilence(saved);
        throw;
    }
    leaveSilence(saved);
    job.spent += threadSeconds() - job.sliceBegan;
    job.report.seconds = job.spent;
    job.report.edgeReached = job.edgeReached;
    job.report.edgeAt = job.edgeAt;
    job.report.peakBytes = std::max(job.report.peakBytes, memoryUsed(job));
    job.report.states = statesSeen(job);
    if (!job.report.done && job.spent >= job.limits.maxSeconds) stopSearch(job, SearchLimit::Seconds);
    return job.report.done;
}

const SearchReport& searchReport(const SearchJob& job) { return job.report; }

SearchReport searchRoom(const RoomState& loaded, SearchLimits limits) {
    SearchJobPtr job = startSearch(loaded, limits);
    while (!advanceSearch(*job, {1'000'000, 1000})) {
    }
    return job->report;
}

TickOutcome playKeys(const RoomState& loaded, const std::vector<TickKey>& keys, bool throughLosses, int* ticksPlayed) {
    Silence saved = enterSilence();
    room = loaded;
    game.levelNumber = 1;
    PlayerState p = startRoom();
    TickOutcome outcome = TickOutcome::GoOn;
    int played = 0;
    for (TickKey key : keys) {
        outcome = stepTickWith(p, key);
        ++played;
        if (outcome != TickOutcome::GoOn && !(outcome == TickOutcome::LifeLost && throughLosses)) break;
    }
    leaveSilence(saved);
    if (ticksPlayed != nullptr) *ticksPlayed = played;
    return outcome;
}

std::vector<CellXY> wayCells(const RoomState& loaded, const std::vector<TickKey>& keys) {
    Silence saved = enterSilence();
    room = loaded;
    game.levelNumber = 1;
    PlayerState p = startRoom();
    std::vector<CellXY> cells;
    for (TickKey key : keys) {
        TickOutcome outcome = stepTickWith(p, key);
        cells.push_back({p.playerX, p.playerY});
        if (outcome != TickOutcome::GoOn) break;
    }
    leaveSilence(saved);
    return cells;
}

TickOutcome replayKeys(const RoomState& loaded, const std::vector<TickKey>& keys, int* ticksPlayed) {
    return playKeys(loaded, keys, false, ticksPlayed);
}

const char* tickKeyName(TickKey key) {
    switch (key) {
        case TickKey::Left:
            return "left";
        case TickKey::Right:
            return "right";
        case TickKey::Up:
            return "up";
        case TickKey::Down:
            return "down";
        case TickKey::Space:
            return "space";
        case TickKey::None:
            break;
    }
    return "none";
}

std::string solutionScript(const std::vector<TickKey>& keys) {
    std::string script;
    for (size_t t = 0; t < keys.size(); ++t)
        if (keys[t] != TickKey::None) script += std::to_string(t + 1) + " " + tickKeyName(keys[t]) + "\n";
    return script;
}
