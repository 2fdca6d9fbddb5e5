// The worst case: whether every place the player can reach still has a way
// on (the exit, or a lost life), proven without seeing every pattern of
// crumbled floor. The room is played as a game against an adversary who
// decides each changeable cell (crumbling floor whole or gone, a cell an
// enemy may pass in its first code or empty) the first time a tick reads
// it; the cells near the player are then remembered, the others forgotten
// and decided anew when they are read again. Enemies are left out: they
// only take lives, and a lost life is a way on. Where the player can force
// the exit or a lost life whatever the adversary decides, every real
// state there (one way the adversary could have decided) has a way on.
// What the game cannot prove is looked at in play (search.cpp's phases):
// a way there, and every state after it.
#include <algorithm>

#include "check/job.h"

using namespace successor;

namespace {

// The cells remembered around the player: as far as a tick's reads reach
// over a few ticks (a jump's rise above, a fall below, a run-up beside).
constexpr int nearColumns = 3, nearAbove = 4, nearBelow = 3;

bool near(int x, int y, int px, int py, bool windowed) {
    if (!windowed) return x >= px - 1 && x <= px + 1 && y >= py - 1 && y <= py + 2;
    return x >= px - nearColumns && x <= px + nearColumns && y >= py - nearAbove && y <= py + nearBelow;
}

// A key: the first word (the player and the slot), the cells' bits, then which of them are undecided.
uint64_t* unknownOf(const SearchJob& job, uint64_t* key) { return key + 1 + job.cellWords; }

// The bits of a changeable cell that the worst case follows: crumbled and emptied.
void cellBits(const MutableCell& m, int bits[2]) {
    bits[0] = m.crumbledBit;
    bits[1] = m.emptyBit;
}

}  // namespace

void beginWorstCase(SearchJob& job, bool windowed) {
    WorstCase& worst = job.worst;
    worst = WorstCase{};
    worst.windowed = windowed;
    worst.table.keyWords = 1 + 2 * job.cellWords;
    std::vector<uint64_t> first(worst.table.keyWords, 0);
    first[0] = job.startKey[0] & (word::playerBits | uint64_t(1) << word::slot);
    settleWorst(job, first.data(), windowed);
    addState(worst.table, first.data(), hashKey(first.data(), worst.table.keyWords));
}

namespace {

// One state's moves: each choice, each way the undecided cells it reads may be.
void expandWorst(SearchJob& job, uint32_t s) {
    WorstCase& worst = job.worst;
    const int words = worst.table.keyWords;
    std::vector<uint64_t>& key = worst.scratch;
    key.assign(keyOf(worst.table, s), keyOf(worst.table, s) + words);
    std::vector<uint64_t> decided(key), next(words);
    PlayerState from;
    enterState(job, key.data(), from, false);
    room.verticalEnemy.active = room.horizontalEnemy.active = false;
    leaveState(job);
    // The undecided bits a tick from here may read.
    std::vector<int> open;
    for (int cx = from.playerX - 1; cx <= from.playerX + 1; ++cx)
        for (int cy = from.playerY - 1; cy <= from.playerY + 2; ++cy) {
            if (!insideMap(cx, cy)) continue;
            int m = job.mutableOf[cellIndex(cx, cy)];
            if (m < 0) continue;
            int bits[2];
            cellBits(job.mutableCells[m], bits);
            for (int bit : bits)
                if (bit >= 0 && testBit(unknownOf(job, key.data()), bit)) open.push_back(bit);
        }
    if (open.size() > 16) {
        worst.overBudget = true;  // too many cells undecided at once: this game gives up
        return;
    }
    const size_t ways = size_t(1) << open.size();
    std::vector<uint32_t> targets;
    for (int c = 0; c < choiceCount; ++c) {
        worst.first.push_back(static_cast<uint32_t>(worst.to.size()));
        if (c > 0) {
            PlayerState pressed = from;
            applyTickKey(pressed, choices[c]);
            if (playerWord(pressed) == playerWord(from)) {
                worst.valid.push_back(0);
                continue;
            }
        }
        worst.valid.push_back(1);
        targets.clear();
        for (size_t way = 0; way < ways; ++way) {
            decided = key;
            for (size_t i = 0; i < open.size(); ++i) {
                clearBit(unknownOf(job, decided.data()), open[i]);
                if ((way >> i) & 1) setBit(decided.data() + 1, open[i]);
            }
            PlayerState p;
            enterState(job, decided.data(), p, false);
            room.verticalEnemy.active = room.horizontalEnemy.active = false;
            game.lives = 1;
            game.goodsCollected = 0;
            TickOutcome outcome = stepTickWith(p, choices[c]);
            if (outcome != TickOutcome::GoOn) {
                room.levelMap = job.start.levelMap;
                continue;  // the exit or a lost life: a way on
            }
            // The cells the tick may have written: crumbled floor under the player.
            next = decided;
            next[0] = playerWord(p);
            for (const CrumbleSlot& slot : room.crumbleSlots)
                if (slot.active) next[0] |= uint64_t(1) << word::slot;
            for (int cx = from.playerX - 1; cx <= from.playerX + 1; ++cx)
                for (int cy = from.playerY - 1; cy <= from.playerY + 2; ++cy) {
                    if (!insideMap(cx, cy)) continue;
                    int m = job.mutableOf[cellIndex(cx, cy)];
                    if (m < 0 || job.mutableCells[m].crumbledBit < 0) continue;
                    int bit = job.mutableCells[m].crumbledBit;
                    if (cellAt(cx, cy) == Crumbled) setBit(next.data() + 1, bit);
                }
            room.levelMap = job.start.levelMap;
            // Cells far from the player are forgotten; those out of its reach can no longer matter.
            settleWorst(job, next.data(), worst.windowed);
            uint64_t hash = hashKey(next.data(), words);
            targets.push_back(addState(worst.table, next.data(), hash));
        }
        std::sort(targets.begin(), targets.end());
        targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
        worst.to.insert(worst.to.end(), targets.begin(), targets.end());
    }
}

}  // namespace

void settleWorst(const SearchJob& job, uint64_t* key, bool windowed) {
    int px = wordX(key[0]), py = wordY(key[0]);
    uint64_t* unknown = key + 1 + job.cellWords;
    for (const MutableCell& m : job.mutableCells) {
        // An enemy may pass a cell between any two ticks, and leave it empty for
        // good: a cell known to be as drawn is not known so after a tick.
        if (m.emptyBit >= 0 && !testBit(key + 1, m.emptyBit)) setBit(unknown, m.emptyBit);
        int bits[2];
        cellBits(m, bits);
        CellXY at = cellXY(m.cell);
        if (near(at.x, at.y, px, py, windowed)) continue;
        for (int bit : bits)
            if (bit >= 0) {
                clearBit(key + 1, bit);
                setBit(unknown, bit);
            }
    }
    // What the relaxed walk says can no longer be read: decided, and the same in every state.
    if (!insideMap(px, py) || job.nodeEnemies.empty()) return;
    int rise =
        field(key[0], word::jumping, 1)
            ? std::max(0, (field(key[0], word::spring, 1) ? 8 : 3) - static_cast<int>(field(key[0], word::jumpStep, 4)))
            : 0;
    size_t node = size_t(cellIndex(px, py)) * riseLevels + rise;
    if (job.nodeEnemies[node] == 0xFF) return;
    const uint64_t* mask = job.nodeMasks.data() + node * job.cellWords;
    for (int i = 0; i < job.cellWords; ++i) {
        key[1 + i] &= mask[i];
        unknown[i] &= mask[i];
    }
}

bool advanceWorstCase(SearchJob& job, Clock::time_point until) {
    WorstCase& worst = job.worst;
    if (worst.solved) return true;
    bool sliceOver = false;
    for (size_t done = 0; worst.next < worst.table.count && !worst.overBudget; ++done) {
        if ((done & 63) == 63 && outOfTime(job, until, sliceOver)) return job.report.done;
        if (worst.table.count >= worst.budget) {
            worst.overBudget = true;
            return true;
        }
        if ((done & 63) == 0 && !roomFor(job, growthBytes(worst.table, 64 * choiceCount) + 64 * 40)) return true;
        expandWorst(job, static_cast<uint32_t>(worst.next++));
    }
    if (worst.overBudget) return true;
    worst.first.push_back(static_cast<uint32_t>(worst.to.size()));
    // Backwards from the moves whose every outcome is a way on: a state is
    // won once some choice of it leads only to states already won.
    size_t n = worst.table.count;
    std::vector<uint32_t> left(n * choiceCount), backFirst(n + 1, 0), back;
    for (size_t e = 0; e < n * choiceCount; ++e) {
        left[e] = worst.first[e + 1] - worst.first[e];
        for (uint32_t i = worst.first[e]; i < worst.first[e + 1]; ++i) ++backFirst[worst.to[i] + 1];
    }
    for (size_t i = 0; i < n; ++i) backFirst[i + 1] += backFirst[i];
    back.resize(backFirst[n]);
    std::vector<uint32_t> fill(backFirst.begin(), backFirst.end() - 1);
    for (size_t e = 0; e < n * choiceCount; ++e)
        for (uint32_t i = worst.first[e]; i < worst.first[e + 1]; ++i) back[fill[worst.to[i]]++] = uint32_t(e);
    worst.won.assign(n, 0);
    std::vector<uint32_t> queue;
    for (size_t e = 0; e < n * choiceCount; ++e)
        if (worst.valid[e] && left[e] == 0 && !worst.won[e / choiceCount]) {
            worst.won[e / choiceCount] = 1;
            queue.push_back(static_cast<uint32_t>(e / choiceCount));
        }
    for (size_t head = 0; head < queue.size(); ++head)
        for (uint32_t i = backFirst[queue[head]]; i < backFirst[queue[head] + 1]; ++i) {
            uint32_t e = back[i];
            if (--left[e] == 0 && worst.valid[e] && !worst.won[e / choiceCount]) {
                worst.won[e / choiceCount] = 1;
                queue.push_back(e / choiceCount);
            }
        }
    worst.solved = true;
    return true;
}

size_t bytesOf(const WorstCase& worst) {
    return bytesOf(worst.table) + bytesOf(worst.first) + bytesOf(worst.to) + bytesOf(worst.valid) + bytesOf(worst.won);
}
