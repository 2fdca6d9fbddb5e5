// The exact search from where the worst case could not prove a way on:
// every reachable state at those places, found breadth first from the
// start through only the states that might still lead there (the best case
// knows which cannot), each stepped by the game's tick. A state anywhere
// else has a way on already (the worst case proved it), so the states at
// the doubtful places are stuck exactly when none of their ways leads out
// of them, to the exit or to a lost life.
#include <algorithm>

#include "check/job.h"

using namespace successor;

namespace {

constexpr uint32_t wayOn = 0xFFFFFFFC;  // a move to a state the worst case proved to have a way on

bool doubtfulAt(const SearchJob& job, const uint64_t* key) {
    int x = wordX(key[0]), y = wordY(key[0]);
    return insideMap(x, y) && job.doubtful[cellIndex(x, y)];
}

void expandRegion(SearchJob& job, uint32_t s) {
    StateTable& table = job.region;
    std::vector<uint64_t> key(keyOf(table, s), keyOf(table, s) + job.keyWords), next;
    ChoiceStep steps[choiceCount];
    stepEachChoice(job, key.data(), false, false, next, steps);
    for (int c = 0; c < choiceCount; ++c) {
        const uint64_t* after = next.data() + size_t(c) * job.keyWords;
        uint32_t target = steps[c].outcome == TickOutcome::ExitReached ? atExit : dead;
        if (steps[c].outcome == TickOutcome::GoOn) {
            bool there = doubtfulAt(job, after);
            uint32_t node = bestNodeOf(job, after);
            // Out of the doubtful places for good: its way on is proven, nothing after it matters.
            if (!there && (node == noState || job.cellsAim[node] == unreachable))
                target = wayOn;
            else
                target = addState(table, after, hashKey(after, job.keyWords));
        }
        table.successors[size_t(s) * choiceCount + c] = target;
    }
}

}  // namespace

void beginRegion(SearchJob& job) {
    job.region = StateTable{};
    job.region.keyWords = job.keyWords;
    job.region.keepMoves = true;
    job.region.levelStart.push_back(0);
    addState(job.region, job.startKey.data(), hashKey(job.startKey.data(), job.keyWords));
}

// Breadth first until every state is expanded; then backwards from the ways on.
bool advanceRegion(SearchJob& job, Clock::time_point until) {
    StateTable& table = job.region;
    bool sliceOver = false;
    for (size_t done = 0; table.nextToExpand < table.count; ++done) {
        if ((done & 255) == 255 && outOfTime(job, until, sliceOver)) return job.report.done;
        if ((done & 63) == 0) {
            if (!roomFor(job, growthBytes(table, 64 * choiceCount))) return true;
            if (job.limits.maxStates > 0 && statesSeen(job) + 64 * choiceCount > job.limits.maxStates) {
                stopSearch(job, SearchLimit::States);
                return true;
            }
        }
        uint32_t s = static_cast<uint32_t>(table.nextToExpand++);
        if (s == table.levelStart.back()) table.levelStart.push_back(static_cast<uint32_t>(table.count));
        expandRegion(job, s);
    }
    size_t n = table.count;
    std::vector<uint32_t> backFirst(n + 1, 0), back;
    for (size_t e = 0; e < n * choiceCount; ++e)
        if (uint32_t t = table.successors[e]; t < n) ++backFirst[t + 1];
    for (size_t i = 0; i < n; ++i) backFirst[i + 1] += backFirst[i];
    back.resize(backFirst[n]);
    std::vector<uint32_t> fill(backFirst.begin(), backFirst.end() - 1);
    for (size_t e = 0; e < n * choiceCount; ++e)
        if (uint32_t t = table.successors[e]; t < n) back[fill[t]++] = static_cast<uint32_t>(e / choiceCount);
    std::vector<uint8_t> out(n, 0);
    std::vector<uint32_t> queue;
    for (uint32_t s = 0; s < n; ++s) {
        bool leaves = !doubtfulAt(job, keyOf(table, s));
        for (int c = 0; c < choiceCount && !leaves; ++c) leaves = table.successors[size_t(s) * choiceCount + c] >= n;
        if (leaves) out[s] = 1, queue.push_back(s);
    }
    for (size_t head = 0; head < queue.size(); ++head)
        for (uint32_t i = backFirst[queue[head]]; i < backFirst[queue[head] + 1]; ++i)
            if (!out[back[i]]) out[back[i]] = 1, queue.push_back(back[i]);
    SearchReport& r = job.report;
    for (uint32_t s = 0; s < n; ++s)
        if (!out[s]) {
            r.stuck = true;
            r.stuckAt = cellXY(wordCell(keyOf(table, s)[0]));
            r.stuckTick = depthOf(table, s);
            break;
        }
    r.stuckKnown = true;
    job.regionStates = n;
    job.region = StateTable{};
    return true;
}
