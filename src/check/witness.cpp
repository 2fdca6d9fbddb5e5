// Ways the game's tick plays, found without seeing every state: best first
// over the exact states (the same keys, stepped by the same tick as the
// exact search), ordered by the ticks so far plus the best case's ticks
// still to go. The best case never promises more than play gives, so the
// first way found is a shortest one, and states that cannot lie on a way
// as short are never looked at: on a bridge of crumbling floor the player
// who turns back only costs ticks, and the patterns of holes it leaves
// behind are never reached. A way found is played again through the game's
// tick before anything is said about it.
#include <algorithm>
#include <bit>

#include "check/job.h"

using namespace successor;

namespace {

constexpr uint8_t expanded = 0x80;
constexpr uint8_t exactlyKnown = 0x40;  // its ticks to go are known exactly: reaching it is the goal
constexpr uint16_t farAway = 0xFFFF;

bool goodsMode(const WayHunt& hunt) { return hunt.goal == WayGoal::AllGoods; }

int goodsTakenCount(const SearchJob& job, const uint64_t* key, uint64_t looseSet) {
    int count = std::popcount(looseSet);
    for (int i = 0; i < job.cellWords; ++i) count += std::popcount(key[1 + i] & job.takenMask[i]);
    return count;
}

// With every goods item still to take: the best case's ticks to each in
// turn, then to the exit, in the best order (a few items), or to the
// farthest of them and on from it (more).
uint32_t ticksForGoods(const SearchJob& job, const uint64_t* key, uint32_t node) {
    uint64_t loose = key[job.keyWords];
    std::vector<int> left;
    for (size_t g = 0; g < job.goodsCells.size(); ++g)
        if (!goodsTakenIn(job, key, loose, g)) left.push_back(static_cast<int>(g));
    auto add = [](uint32_t a, uint32_t b) { return a == unreachable || b == unreachable ? unreachable : a + b; };
    uint32_t least = 0;
    if (left.size() > 5) {
        for (int g : left) least = std::max(least, add(job.toGoods[g][node], job.goodsOnward[g]));
        return least;
    }
    least = unreachable;
    const size_t n = job.goodsCells.size();
    do {
        uint32_t ticks = left.empty() ? 0 : job.toGoods[left[0]][node];
        for (size_t i = 1; i < left.size(); ++i) ticks = add(ticks, job.goodsBetween[left[i - 1] * n + left[i]]);
        if (!left.empty()) ticks = add(ticks, job.goodsOnward[left.back()]);
        least = std::min(least, ticks);
    } while (std::next_permutation(left.begin(), left.end()));
    return least;
}

// The ticks still to go at least, farAway when the best case knows no way;
// exact where the hunt's table of known ticks has them.
uint16_t ticksToGo(const SearchJob& job, const WayHunt& hunt, const uint64_t* key, bool& exact) {
    exact = false;
    if (hunt.known != nullptr) {
        uint32_t ticks = knownTicks(*hunt.known, key, goodsMode(hunt));
        if (ticks != unknown) {
            exact = ticks != unreachable;
            return ticks >= farAway ? farAway : static_cast<uint16_t>(ticks);
        }
    }
    uint32_t node = bestNodeOf(job, key);
    if (node == noState) return 0;  // nothing known: nothing promised
    uint32_t least = (*hunt.aim)[node];
    if (goodsMode(hunt) && least != unreachable) least = std::max(least, ticksForGoods(job, key, node));
    return least >= farAway ? farAway : static_cast<uint16_t>(least);
}

// Where a state stands in the queue: its ticks so far and still to go, the
// latter weighted where any way will do (weight 1: a shortest way).
size_t rankOf(const WayHunt& hunt, uint32_t s) { return size_t(hunt.ticks[s]) + size_t(hunt.weight) * hunt.left[s]; }

void push(WayHunt& hunt, uint32_t s) {
    size_t f = rankOf(hunt, s);
    if (f >= hunt.open.size()) hunt.open.resize(f + 1);
    hunt.open[f].push_back(s);
    hunt.lowest = std::min(hunt.lowest, f);
}

// The keys from the hunt's start to state s, then `last`.
std::vector<TickKey> wayTo(const WayHunt& hunt, uint32_t s, uint8_t last) {
    std::vector<TickKey> keys{choices[last]};
    for (; hunt.parent[s] != noState; s = hunt.parent[s]) keys.push_back(choices[hunt.how[s] & 7]);
    std::reverse(keys.begin(), keys.end());
    return keys;
}

void found(WayHunt& hunt, uint32_t s, uint8_t choice, int x, int y) {
    hunt.result = HuntResult::Found;
    hunt.found = s;
    hunt.total = hunt.ticks[s] + 1;
    hunt.lastChoice = choice;
    hunt.arrived = {x, y};
    hunt.keys = wayTo(hunt, s, choice);
}

// Whether the step from `key` to `next` took goods item g.
bool takes(const SearchJob& job, const uint64_t* key, const uint64_t* next, const ChoiceStep& step, size_t g) {
    int cell = job.goodsCells[g];
    if (job.looseIndex[cell] >= 0) return step.loose == job.looseIndex[cell];
    int m = job.mutableOf[cell];
    int bit = m >= 0 ? job.mutableCells[m].takenBit : -1;
    return bit >= 0 && testBit(next + 1, bit) && !testBit(key + 1, bit);
}

// One state's five steps; false once the goal is found. A cell arrived at
// is a state of the hunt like any other, so a hunt for more such places
// can go on from where it found one.
bool expand(SearchJob& job, WayHunt& hunt, uint32_t s) {
    const int kw = job.keyWords;
    const int words = hunt.table.keyWords;
    std::vector<uint64_t>& scratch = hunt.scratch;
    scratch.resize(size_t(words) * 2);
    std::copy_n(keyOf(hunt.table, s), words, scratch.begin());
    const uint64_t* key = scratch.data();
    uint64_t* next = scratch.data() + words;
    ChoiceStep steps[choiceCount];
    stepEachChoice(job, key, hunt.allowLoss, true, hunt.nexts, steps);
    for (int c = 0; c < choiceCount; ++c) {
        const ChoiceStep& step = steps[c];
        const PlayerState& p = step.player;
        if (step.asNoKey || step.outcome == TickOutcome::GameOver) continue;
        std::copy_n(hunt.nexts.data() + size_t(c) * kw, kw, next);
        uint64_t looseSet = goodsMode(hunt) ? key[kw] | (step.loose == noGoods ? 0 : uint64_t(1) << step.loose) : 0;
        if (step.outcome == TickOutcome::ExitReached) {
            if (hunt.goal == WayGoal::Exit ||
                (hunt.goal == WayGoal::AllGoods && goodsTakenCount(job, key, looseSet) >= job.goodsTarget)) {
                found(hunt, s, static_cast<uint8_t>(c), p.playerX, p.playerY);
                return false;
            }
            continue;
        }
        if (hunt.goal == WayGoal::Goods && takes(job, key, next, step, hunt.goodsItem)) {
            found(hunt, s, static_cast<uint8_t>(c), p.playerX, p.playerY);
            return false;
        }
        bool arrived = hunt.goal == WayGoal::Cells && insideMap(p.playerX, p.playerY) &&
                       hunt.cells[cellIndex(p.playerX, p.playerY)] && !step.loss;
        if (goodsMode(hunt)) next[kw] = looseSet;
        bool exact;
        uint16_t toGo = ticksToGo(job, hunt, next, exact);
        if (toGo == farAway && !arrived) continue;
        uint32_t ticks = hunt.ticks[s] + 1;
        size_t before = hunt.table.count;
        uint32_t t = addState(hunt.table, next, hashKey(next, words));
        if (hunt.table.count > before) {
            growBlocks(hunt.parent, hunt.table.count);
            growBlocks(hunt.ticks, hunt.table.count);
            growBlocks(hunt.left, hunt.table.count);
            growBlocks(hunt.how, hunt.table.count);
            hunt.left[t] = toGo;
        } else if ((hunt.how[t] & expanded) || hunt.ticks[t] <= ticks) {
            continue;
        }
        hunt.parent[t] = s;
        hunt.ticks[t] = ticks;
        hunt.how[t] = static_cast<uint8_t>(c | (exact ? exactlyKnown : 0));
        if (toGo != farAway) push(hunt, t);
        if (arrived && hunt.table.count > before) hunt.arrivals.push_back(t);
    }
    return true;
}

}  // namespace

bool goodsTakenIn(const SearchJob& job, const uint64_t* key, uint64_t looseSet, size_t g) {
    int cell = job.goodsCells[g];
    if (job.looseIndex[cell] >= 0) return (looseSet >> job.looseIndex[cell]) & 1;
    int m = job.mutableOf[cell];
    return m >= 0 && job.mutableCells[m].takenBit >= 0 && testBit(key + 1, job.mutableCells[m].takenBit);
}

void beginHunt(SearchJob& job, WayHunt& hunt, const std::vector<uint64_t>& from) {
    hunt.table = StateTable{};
    hunt.table.keyWords = job.keyWords + (goodsMode(hunt) ? 1 : 0);
    hunt.parent = {};
    hunt.ticks = {};
    hunt.left = {};
    hunt.how = {};
    hunt.open.clear();
    hunt.lowest = 0;
    hunt.result = HuntResult::Running;
    hunt.found = noState;
    hunt.keys.clear();
    hunt.arrivals.clear();
    hunt.reported = 0;
    std::vector<uint64_t> first = from.empty() ? (hunt.allowLoss ? job.startKeyWithLoss : job.startKey) : from;
    first.resize(hunt.table.keyWords, 0);
    bool exact;
    uint16_t toGo = ticksToGo(job, hunt, first.data(), exact);
    if (toGo == farAway) {
        hunt.result = HuntResult::None;
        return;
    }
    uint32_t s = addState(hunt.table, first.data(), hashKey(first.data(), hunt.table.keyWords));
    growBlocks(hunt.parent, 1);
    growBlocks(hunt.ticks, 1);
    growBlocks(hunt.left, 1);
    growBlocks(hunt.how, 1);
    hunt.parent[s] = noState;
    hunt.ticks[s] = 0;
    hunt.left[s] = toGo;
    hunt.how[s] = exact ? exactlyKnown : 0;
    push(hunt, s);
}

bool advanceHunt(SearchJob& job, WayHunt& hunt, Clock::time_point until) {
    bool sliceOver = false;
    for (size_t done = 0; hunt.result == HuntResult::Running; ++done) {
        if (hunt.reported < hunt.arrivals.size()) {
            uint32_t t = hunt.arrivals[hunt.reported];
            const uint64_t* key = keyOf(hunt.table, t);
            found(hunt, hunt.parent[t], hunt.how[t] & 7, wordX(key[0]), wordY(key[0]));
            hunt.found = t;
            break;
        }
        if ((done & 255) == 255 && outOfTime(job, until, sliceOver)) return job.report.done;
        if (hunt.table.count >= hunt.budget) {
            hunt.result = HuntResult::OverBudget;
            break;
        }
        if (job.limits.maxStates > 0 && statesSeen(job) >= job.limits.maxStates) {
            stopSearch(job, SearchLimit::States);
            return true;
        }
        if ((done & 63) == 0 &&
            !roomFor(job, growthBytes(hunt.table, 64 * choiceCount) + 64 * choiceCount * (3 * sizeof(uint32_t) + 3)))
            return true;
        while (hunt.lowest < hunt.open.size() && hunt.open[hunt.lowest].empty()) ++hunt.lowest;
        if (hunt.lowest >= hunt.open.size()) {
            hunt.result = HuntResult::None;  // every state that might lead there looked at: none does
            break;
        }
        uint32_t s = hunt.open[hunt.lowest].back();
        hunt.open[hunt.lowest].pop_back();
        // Met again since with fewer ticks, or done already.
        if ((hunt.how[s] & expanded) || rankOf(hunt, s) != hunt.lowest) continue;
        hunt.how[s] |= expanded;
        if (hunt.how[s] & exactlyKnown) {
            hunt.result = HuntResult::Found;
            hunt.found = s;
            hunt.total = hunt.ticks[s] + hunt.left[s];
            hunt.keys =
                hunt.parent[s] == noState ? std::vector<TickKey>{} : wayTo(hunt, hunt.parent[s], hunt.how[s] & 7);
            break;
        }
        expand(job, hunt, s);
    }
    return true;
}

size_t bytesOf(const WayHunt& hunt) {
    size_t open = 0;
    for (const auto& bucket : hunt.open) open += bytesOf(bucket);
    return bytesOf(hunt.table) + bytesOf(hunt.parent) + bytesOf(hunt.ticks) + bytesOf(hunt.left) + bytesOf(hunt.how) +
           open + bytesOf(hunt.cells);
}
