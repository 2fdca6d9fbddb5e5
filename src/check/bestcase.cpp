// The best case: the room with every cell that play can change as the
// player would wish it at every tick (crumbling floor whole or gone, a cell
// an enemy may pass empty, in its first code or holding the enemy), and the
// player alone, its movement fields its whole state. Every real way maps to
// a way here, tick for tick, so:
//   - what cannot happen here never happens (an exit, a goods item or a
//     cell out of reach is proven out of reach);
//   - the ticks to anything here are never more than in play: the witness
//     searches aim by them, and a way they find is a shortest one.
// The graph is small (the player's positions and motions), built once by
// stepping the game's own tick from each node with each choice and each
// way the changeable cells around the player may be.
#include <algorithm>
#include <cstring>

#include "check/job.h"
#include "console/console.h"

using namespace successor;

namespace {

constexpr uint32_t lostLife = 0x80000000;  // in an edge: the move loses a life (it leads to the start)
// In a node's word: the player walked onto crumbling floor in the last tick
// without falling, so the floor was whole then, and no slot can have taken
// it yet: it is whole in this tick too. Without this the best case would let
// a player who stops on crumbling floor fall a tick early, and every way
// that stops there would look a tick shorter than it is.
constexpr uint32_t freshFloor = uint32_t(1) << word::lives;

// Crumbling floor that only the player's own steps change (no enemy passes it).
bool playersFloor(const SearchJob& job, int x, int y) {
    if (!insideMap(x, y)) return false;
    int c = cellIndex(x, y);
    CellCode k = (&job.start.levelMap.cells[0][0])[c];
    return (k == Crumbling || k == Crumbled) && !job.enemyReach[0][c] && !job.enemyReach[1][c];
}

// The codes a cell may hold in play, as far as a tick can tell them apart.
std::vector<CellCode> cellOptions(const SearchJob& job, int cell, bool withEnemies) {
    CellCode k = (&job.start.levelMap.cells[0][0])[cell];
    std::vector<CellCode> held{k};
    auto add = [&](CellCode code) {
        if (std::find(held.begin(), held.end(), code) == held.end()) held.push_back(code);
    };
    if (k == Crumbling || k == Crumbled) add(k == Crumbling ? Crumbled : Crumbling);
    for (int e = 0; e < 2; ++e) {
        if (!job.enemyReach[e][cell]) continue;
        if (k != Empty) add(Empty);
        if (k == Crumbling) add(Crumbled);
        // An enemy's code is open like an empty cell: it only adds a lost life.
        if (withEnemies) add(e == 0 ? VerticalEnemy : HorizontalEnemy);
    }
    return held;
}

uint32_t findNode(const BestCase& best, uint32_t w) {
    if (best.slots.empty()) return noState;
    size_t mask = best.slots.size() - 1;
    for (size_t i = (w * 0x9E3779B1u) & mask;; i = (i + 1) & mask) {
        uint64_t slot = best.slots[i];
        if (slot == 0) return noState;
        if (uint32_t(slot >> 32) == w) return uint32_t(slot) - 1;
    }
}

uint32_t addNode(BestCase& best, uint32_t w) {
    if ((best.word.size() + 1) * 2 > best.slots.size()) {
        std::vector<uint64_t> old = std::move(best.slots);
        best.slots.assign(std::max<size_t>(1024, old.size() * 2), 0);
        for (uint64_t slot : old)
            if (slot != 0)
                for (size_t i = (uint32_t(slot >> 32) * 0x9E3779B1u) & (best.slots.size() - 1);;
                     i = (i + 1) & (best.slots.size() - 1))
                    if (best.slots[i] == 0) {
                        best.slots[i] = slot;
                        break;
                    }
    }
    size_t mask = best.slots.size() - 1;
    for (size_t i = (w * 0x9E3779B1u) & mask;; i = (i + 1) & mask) {
        uint64_t slot = best.slots[i];
        if (slot == 0) {
            best.word.push_back(w);
            best.slots[i] = uint64_t(w) << 32 | best.word.size();
            return static_cast<uint32_t>(best.word.size() - 1);
        }
        if (uint32_t(slot >> 32) == w) return uint32_t(slot) - 1;
    }
}

// The player as a node's word says.
PlayerState playerOf(const SearchJob& job, uint32_t w) {
    PlayerState p = job.startPlayer;
    p.playerX = wordX(w);
    p.playerY = wordY(w);
    constexpr uint8_t bytes[] = {0, scan::left, scan::right, key::space};
    p.direction = bytes[field(w, word::direction, 2)];
    p.savedDirection = bytes[field(w, word::saved, 2)];
    int slide = static_cast<int>(field(w, word::slide, 2));
    p.slide = static_cast<int8_t>(slide == 1 ? -1 : slide == 2 ? 1 : 0);
    p.jumping = field(w, word::jumping, 1);
    p.jumpStep = static_cast<int>(field(w, word::jumpStep, 4));
    p.jumpHeight = p.jumping && field(w, word::spring, 1) ? 8 : 3;
    return p;
}

// The cells around the player that one tick may read and that may hold more
// than one code; the floor under the player left out when it is fresh.
void cellsAround(const std::vector<std::vector<CellCode>>& options, int x, int y, bool fresh, std::vector<int>& cells) {
    cells.clear();
    for (int cx = x - 1; cx <= x + 1; ++cx)
        for (int cy = y - 1; cy <= y + 2; ++cy)
            if (insideMap(cx, cy) && options[cellIndex(cx, cy)].size() > 1 && !(fresh && cx == x && cy == y + 1))
                cells.push_back(cellIndex(cx, cy));
}

// Backwards from the seeds (distance 1) over the edges, lost lives only where allowed.
std::vector<uint32_t> distancesBack(const BestCase& best, std::vector<uint32_t> seeds, bool overLoss) {
    std::vector<uint32_t> dist(best.word.size(), unreachable);
    for (uint32_t s : seeds) dist[s] = 1;
    for (size_t head = 0; head < seeds.size(); ++head) {
        uint32_t t = seeds[head];
        for (uint32_t i = best.backFirst[t]; i < best.backFirst[t + 1]; ++i) {
            uint32_t from = best.back[i];
            if ((from & lostLife) && !overLoss) continue;
            from &= ~lostLife;
            if (dist[from] != unreachable) continue;
            dist[from] = dist[t] + 1;
            seeds.push_back(from);
        }
    }
    return dist;
}

}  // namespace

std::vector<std::vector<CellCode>> changeableCells(const SearchJob& job, bool withEnemies) {
    std::vector<std::vector<CellCode>> options(mapCells);
    for (int c = 0; c < mapCells; ++c) options[c] = cellOptions(job, c, withEnemies);
    return options;
}

uint32_t bestNodeOf(const SearchJob& job, const uint64_t* key) {
    uint32_t w = static_cast<uint32_t>(key[0] & word::playerBits);
    int x = wordX(key[0]), y = wordY(key[0]);
    if (!field(key[0], word::jumping, 1) && playersFloor(job, x, y + 1)) {
        const MutableCell& m = job.mutableCells[job.mutableOf[cellIndex(x, y + 1)]];
        if (!testBit(key + 1, m.crumbledBit))
            if (uint32_t node = findNode(job.best, w | freshFloor); node != noState) return node;
    }
    return findNode(job.best, w);
}

void buildBestCase(SearchJob& job) {
    BestCase& best = job.best;
    std::vector<std::vector<CellCode>> options = changeableCells(job, true);
    RoomState& world = room;
    world = job.start;
    world.verticalEnemy.active = world.horizontalEnemy.active = false;
    const LevelMap base = world.levelMap;
    CellCode* cells = &world.levelMap.cells[0][0];
    best.start = addNode(best, static_cast<uint32_t>(playerWord(job.startPlayer)));
    std::vector<int> around;
    std::vector<uint32_t> outcomes;
    best.first.push_back(0);
    for (uint32_t n = 0; n < best.word.size(); ++n) {
        const uint32_t w = best.word[n];
        const PlayerState from = playerOf(job, w);
        const bool fresh = w & freshFloor;
        cellsAround(options, from.playerX, from.playerY, fresh, around);
        if (fresh) cells[cellIndex(from.playerX, from.playerY + 1)] = Crumbling;
        size_t ways = 1;
        for (int c : around) ways *= options[c].size();
        for (int c = 0; c < choiceCount; ++c) {
            outcomes.clear();
            uint8_t ends = 0;
            for (size_t way = 0; way < ways; ++way) {
                size_t rest = way;
                for (int cell : around) {
                    cells[cell] = options[cell][rest % options[cell].size()];
                    rest /= options[cell].size();
                }
                PlayerState p = from;
                world.crumbleSlots = {};
                game.lives = 2;
                game.goodsCollected = 0;
                TickOutcome outcome = stepTickWith(p, choices[c]);
                if (outcome == TickOutcome::ExitReached) {
                    ends |= 1;
                } else if (outcome == TickOutcome::LifeLost) {
                    ends |= 2;
                    outcomes.push_back(addNode(best, static_cast<uint32_t>(playerWord(p))) | lostLife);
                    world.levelMap = base;  // the lost life made the floor whole
                } else {
                    uint32_t next = static_cast<uint32_t>(playerWord(p));
                    if (!p.jumping && p.playerY == from.playerY && p.playerX != from.playerX &&
                        playersFloor(job, p.playerX, p.playerY + 1) && cellAt(p.playerX, p.playerY + 1) == Crumbling)
                        next |= freshFloor;
                    outcomes.push_back(addNode(best, next));
                }
                // The tick may have written the cells around it (a crumbled cell, a goods item taken).
                for (int cx = from.playerX - 1; cx <= from.playerX + 1; ++cx)
                    for (int cy = from.playerY - 1; cy <= from.playerY + 2; ++cy)
                        if (insideMap(cx, cy)) cells[cellIndex(cx, cy)] = (&base.cells[0][0])[cellIndex(cx, cy)];
                if (fresh) cells[cellIndex(from.playerX, from.playerY + 1)] = Crumbling;
            }
            std::sort(outcomes.begin(), outcomes.end());
            outcomes.erase(std::unique(outcomes.begin(), outcomes.end()), outcomes.end());
            best.to.insert(best.to.end(), outcomes.begin(), outcomes.end());
            best.first.push_back(static_cast<uint32_t>(best.to.size()));
            best.ends.push_back(ends);
        }
    }
    world = job.start;
    // The moves backwards, for the distances.
    size_t n = best.word.size();
    best.backFirst.assign(n + 1, 0);
    for (uint32_t t : best.to) ++best.backFirst[(t & ~lostLife) + 1];
    for (size_t i = 0; i < n; ++i) best.backFirst[i + 1] += best.backFirst[i];
    best.back.resize(best.to.size());
    std::vector<uint32_t> fill(best.backFirst.begin(), best.backFirst.end() - 1);
    for (uint32_t v = 0; v < n; ++v)
        for (uint32_t i = best.first[v * choiceCount]; i < best.first[(v + 1) * choiceCount]; ++i)
            best.back[fill[best.to[i] & ~lostLife]++] = v | (best.to[i] & lostLife);
    // Reached from the start without a lost life.
    best.reached.assign(n, 0);
    std::vector<uint32_t> queue{best.start};
    best.reached[best.start] = 1;
    for (size_t head = 0; head < queue.size(); ++head) {
        uint32_t v = queue[head];
        for (uint32_t i = best.first[v * choiceCount]; i < best.first[(v + 1) * choiceCount]; ++i)
            if (uint32_t t = best.to[i]; !(t & lostLife) && !best.reached[t]) {
                best.reached[t] = 1;
                queue.push_back(t);
            }
    }
    std::vector<uint32_t> seeds;
    for (uint32_t v = 0; v < n; ++v)
        for (int c = 0; c < choiceCount; ++c)
            if (best.ends[v * choiceCount + c] & 1) {
                seeds.push_back(v);
                break;
            }
    best.toExit = distancesBack(best, seeds, false);
    best.toExitWithLoss = distancesBack(best, seeds, true);
}

std::vector<uint32_t> bestDistancesTo(const BestCase& best, const std::vector<uint8_t>& targetCells, bool overLoss) {
    std::vector<uint32_t> seeds;
    for (uint32_t v = 0; v < best.word.size(); ++v)
        for (uint32_t i = best.first[v * choiceCount]; i < best.first[(v + 1) * choiceCount]; ++i)
            if (uint32_t t = best.to[i]; !(t & lostLife) && targetCells[wordCell(best.word[t])]) {
                seeds.push_back(v);
                break;
            }
    return distancesBack(best, seeds, overLoss);
}

bool bestArrives(const BestCase& best, const std::vector<uint8_t>& targetCells, bool overLoss) {
    for (uint32_t v = 0; v < best.word.size(); ++v) {
        if (!best.reached[v] && !overLoss) continue;
        for (uint32_t i = best.first[v * choiceCount]; i < best.first[(v + 1) * choiceCount]; ++i)
            if (uint32_t t = best.to[i]; !(t & lostLife) && targetCells[wordCell(best.word[t])]) return true;
    }
    return false;
}

size_t bytesOf(const BestCase& best) {
    return bytesOf(best.word) + bytesOf(best.slots) + bytesOf(best.first) + bytesOf(best.to) + bytesOf(best.ends) +
           bytesOf(best.backFirst) + bytesOf(best.back) + bytesOf(best.reached) + bytesOf(best.toExit) +
           bytesOf(best.toExitWithLoss);
}

// A node's word without what only the best case knows: the player's part of a state's first word.
