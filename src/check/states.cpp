// A state of play in a few words, and the world put into it and read back:
// the player's movement fields, lives, the crumbling slot, both enemies with
// the code of their cell, and one bit for each thing a cell can turn into
// (crumbled, emptied by an enemy, a goods item taken). The message texts and
// timers only change what the status line shows and are left out. Parts of
// a state that can no longer matter are cleared (see the room's model
// below), so states that differ only there are one. Then the table that
// numbers states by their keys.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "check/job.h"
#include "console/console.h"
#include "system/machine.h"

using namespace successor;

namespace {

// The player's position and what is left of its rise, as a node of the
// room's model.
int nodeOf(int x, int y, int rise) { return cellIndex(x, y) * riseLevels + rise; }

int directionCode(uint8_t direction) {
    return direction == scan::left ? 1 : direction == scan::right ? 2 : direction == key::space ? 3 : 0;
}
constexpr uint8_t directionBytes[] = {0, scan::left, scan::right, key::space};

template <typename T>
Memory<T> allocate(size_t count) {
    size_t bytes = std::max<size_t>(count * sizeof(T), sizeof(T));
    Memory<T> memory(static_cast<T*>(bytes < largePageBytes ? std::malloc(bytes) : allocateLargePages(bytes)));
    if (!memory) throw std::bad_alloc();
    return memory;
}

// --- the room's model ---
//
// Which cells play can change: crumbling floor; the cells the enemies can
// ever stand on (they leave each one empty, walls their first step or a
// squeeze pushes them into included); goods. And which of those can still
// matter from where the player is: a relaxed walk over the map, where every
// cell that may ever be open is open and every one that may be ground is
// ground, and a jump may rise from any ground, finds every cell the player
// can still come near (a cell is read only from the player's own cell or
// one beside it). Crumbled floor out of that reach is the same as whole, and
// an enemy whose cells are out of it (and out of the other enemy's way)
// can no longer touch the player.

// The cells an enemy can ever stand on, for both enemies at once. An enemy
// moves one cell a tick along its axis into a cell that was empty when it
// turned, except for its first step, which goes wherever it points; a turn
// with something on both sides, which sends it back into the cell behind;
// and the map's edge, which turns it before it moves.
void enemyCells(const SearchJob& job, std::vector<uint8_t> reach[2]) {
    const EnemySlot* enemies[2] = {&job.start.verticalEnemy, &job.start.horizontalEnemy};
    const CellCode* code = &job.start.levelMap.cells[0][0];
    for (int e = 0; e < 2; ++e) reach[e].assign(mapCells, 0);
    auto along = [&](int e, int p) { return e == 0 ? cellIndex(enemies[0]->x, p) : cellIndex(p, enemies[1]->y); };
    auto length = [](int e) { return e == 0 ? mapHeight : mapWidth; };
    auto canBeEmpty = [&](int cell) {
        return code[cell] == Empty || isGoodsCode(code[cell]) || reach[0][cell] || reach[1][cell];
    };
    auto canBeFull = [&](int e, int cell) { return code[cell] != Empty || reach[1 - e][cell]; };
    for (int e = 0; e < 2; ++e) {
        if (!enemies[e]->active || !insideMap(enemies[e]->x, enemies[e]->y)) continue;
        int p = e == 0 ? enemies[e]->y : enemies[e]->x;
        int step = e == 0 ? -1 : 1;
        reach[e][along(e, p)] = 1;
        int first = p + step >= 1 && p + step <= length(e) ? p + step : p - step;
        reach[e][along(e, first)] = 1;
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (int e = 0; e < 2; ++e) {
            if (!enemies[e]->active) continue;
            int n = length(e);
            for (int p = 1; p <= n; ++p) {
                if (!reach[e][along(e, p)]) continue;
                for (int d : {-1, 1}) {
                    int q = p + d;
                    bool enters;
                    if (q < 1 || q > n) {
                        q = p - d;  // turned at the edge
                        enters = q >= 1 && q <= n;
                    } else {
                        bool behindFull = p + 1 > n || canBeFull(e, along(e, p + 1));
                        enters = canBeEmpty(along(e, q)) || (d == -1 && behindFull);
                    }
                    if (enters && !reach[e][along(e, q)]) reach[e][along(e, q)] = 1, grew = true;
                }
            }
        }
    }
}

// The relaxed walk's moves from one node: each tick one column at most
// either way, then one row up (while the jump may still rise) or down.
template <typename Visit>
void relaxedMoves(const std::vector<CellClass>& classes, int node, Visit visit) {
    int rise = node % riseLevels, cell = node / riseLevels;
    int x = cell / mapHeight + 1, y = cell % mapHeight + 1;
    auto at = [&](int cx, int cy) { return insideMap(cx, cy) ? classes[cellIndex(cx, cy)] : CellClass{}; };
    CellClass below = at(x, y + 1);
    int r = rise;
    if (below.maySpring) r = 8;
    if (below.mayJumpGround) r = std::max(r, 3);
    for (int dx = -1; dx <= 1; ++dx) {
        int nx = x + dx;
        if (dx != 0 && !at(nx, y).mayPass) continue;
        if (!insideMap(nx, y)) continue;
        visit(nodeOf(nx, y, 0));
        if (r > 0 && at(nx, y - 1).mayPass) visit(nodeOf(nx, y - 1, r - 1));
        if (at(nx, y + 1).mayPass) visit(nodeOf(nx, y + 1, 0));
    }
}

constexpr uint8_t notReached = 0xFF;  // in nodeEnemies: a node the relaxed walk never reaches

// For every node of the relaxed walk that the start leads to, what can still
// matter from it: strongly connected parts of the walk first, then their
// reach, sinks first.
void reachMasks(SearchJob& job, const std::vector<CellClass>& classes, const std::vector<uint8_t> reach[2], int start) {
    const int nodes = mapCells * riseLevels;
    const int w = job.cellWords;
    // What a node itself comes near: crumbled bits of the nine cells around it, and the enemies' ways.
    auto nearOf = [&](int node, uint64_t* mask, uint8_t& enemies) {
        int cell = node / riseLevels;
        int x = cell / mapHeight + 1, y = cell % mapHeight + 1;
        for (int cx = x - 1; cx <= x + 1; ++cx)
            for (int cy = y - 1; cy <= y + 1; ++cy) {
                if (!insideMap(cx, cy)) continue;
                int c = cellIndex(cx, cy);
                if (job.mutableOf[c] >= 0 && job.mutableCells[job.mutableOf[c]].crumbledBit >= 0)
                    setBit(mask, job.mutableCells[job.mutableOf[c]].crumbledBit);
                for (int e = 0; e < 2; ++e)
                    if (reach[e][c]) enemies |= uint8_t(1 << e);
            }
    };
    // Tarjan's strongly connected parts, without recursion.
    std::vector<int> index(nodes, -1), low(nodes, 0), part(nodes, -1), stack, calls;
    std::vector<uint8_t> onStack(nodes, 0);
    std::vector<int> succ;  // each node's moves, written when it is first met
    std::vector<int> succStart(nodes, 0), succEnd(nodes, 0);
    std::vector<int> cursor(nodes, 0);
    int counter = 0, parts = 0;
    std::vector<uint64_t> partMask;
    std::vector<uint8_t> partEnemies;
    for (int root : {start}) {
        calls.push_back(root);
        while (!calls.empty()) {
            int v = calls.back();
            if (index[v] < 0) {
                index[v] = low[v] = counter++;
                stack.push_back(v);
                onStack[v] = 1;
                succStart[v] = static_cast<int>(succ.size());
                relaxedMoves(classes, v, [&](int t) { succ.push_back(t); });
                succEnd[v] = static_cast<int>(succ.size());
                cursor[v] = succStart[v];
            }
            if (cursor[v] < succEnd[v]) {
                int t = succ[cursor[v]++];
                if (index[t] < 0)
                    calls.push_back(t);
                else if (onStack[t])
                    low[v] = std::min(low[v], index[t]);
                continue;
            }
            calls.pop_back();
            if (!calls.empty()) low[calls.back()] = std::min(low[calls.back()], low[v]);
            if (low[v] != index[v]) continue;
            // A part is complete; every part it leads to is already complete.
            int p = parts++;
            partMask.resize(size_t(parts) * w, 0);
            partEnemies.push_back(0);
            size_t begin = stack.size();
            while (stack[begin - 1] != v) --begin;
            --begin;
            for (size_t i = begin; i < stack.size(); ++i) part[stack[i]] = p;
            for (size_t i = begin; i < stack.size(); ++i) {
                int u = stack[i];
                uint8_t enemies = 0;
                nearOf(u, partMask.data() + size_t(p) * w, enemies);
                partEnemies[p] |= enemies;
                for (int k = succStart[u]; k < succEnd[u]; ++k) {
                    int q = part[succ[k]];
                    if (q == p) continue;
                    for (int i2 = 0; i2 < w; ++i2) partMask[size_t(p) * w + i2] |= partMask[size_t(q) * w + i2];
                    partEnemies[p] |= partEnemies[q];
                }
            }
            for (size_t i = begin; i < stack.size(); ++i) onStack[stack[i]] = 0;
            stack.resize(begin);
        }
    }
    // Enemies whose ways touch are one: what one does the other meets.
    bool touching = false;
    for (int c = 0; c < mapCells && !touching; ++c) {
        if (!reach[0][c]) continue;
        int x = c / mapHeight + 1, y = c % mapHeight + 1;
        for (int cx = x - 1; cx <= x + 1; ++cx)
            for (int cy = y - 1; cy <= y + 1; ++cy)
                if (insideMap(cx, cy) && reach[1][cellIndex(cx, cy)]) touching = true;
    }
    std::vector<uint64_t> enemyBits[2];
    for (int e = 0; e < 2; ++e) {
        enemyBits[e].assign(w, 0);
        for (const MutableCell& m : job.mutableCells)
            if (m.emptyBit >= 0 && reach[e][m.cell]) setBit(enemyBits[e].data(), m.emptyBit);
    }
    job.nodeMasks.assign(size_t(nodes) * w, 0);
    job.nodeEnemies.assign(nodes, notReached);
    for (int v = 0; v < nodes; ++v) {
        int p = part[v];
        if (p < 0) continue;
        uint8_t enemies = partEnemies[p];
        if (touching && enemies) enemies = 3;
        job.nodeEnemies[v] = enemies;
        uint64_t* mask = job.nodeMasks.data() + size_t(v) * w;
        for (int i = 0; i < w; ++i) {
            mask[i] = partMask[size_t(p) * w + i] | job.takenMask[i];
            for (int e = 0; e < 2; ++e)
                if (enemies & (1 << e)) mask[i] |= enemyBits[e][i];
        }
    }
}

}  // namespace

void buildModel(SearchJob& job) {
    const RoomState& r = job.start;
    const CellCode* code = &r.levelMap.cells[0][0];
    std::vector<uint8_t>* reach = job.enemyReach;
    enemyCells(job, reach);
    job.mutableOf.assign(mapCells, -1);
    job.looseIndex.assign(mapCells, -1);
    auto onEnemyLine = [&](int x, int y) {
        return (r.verticalEnemy.active && x == r.verticalEnemy.x) ||
               (r.horizontalEnemy.active && y == r.horizontalEnemy.y);
    };
    int bits = 0;
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) {
            int c = cellIndex(x, y);
            CellCode k = code[c];
            bool goods = isGoodsCode(k);
            if (goods) {
                job.goodsCells.push_back(c);
                if (!onEnemyLine(x, y) && job.looseGoods < maxLooseGoods)
                    job.looseIndex[c] = static_cast<int8_t>(job.looseGoods++);
            }
            bool crumbling = k == Crumbling || k == Crumbled;
            bool eaten = (reach[0][c] || reach[1][c]) && k != Empty;
            bool taken = goods && job.looseIndex[c] < 0;
            if (!crumbling && !eaten && !taken) continue;
            MutableCell m;
            m.cell = c;
            m.initial = k;
            if (crumbling) m.crumbledBit = bits++;
            if (eaten) m.emptyBit = bits++;
            if (taken) m.takenBit = bits++;
            job.mutableOf[c] = static_cast<int16_t>(job.mutableCells.size());
            if (crumbling) job.crumblingCells.push_back(static_cast<int>(job.mutableCells.size()));
            job.mutableCells.push_back(m);
        }
    job.cellWords = (bits + 63) / 64;
    job.bitOwner.assign(size_t(job.cellWords) * 64, 0);
    for (size_t i = 0; i < job.mutableCells.size(); ++i)
        for (int bit : {job.mutableCells[i].crumbledBit, job.mutableCells[i].emptyBit, job.mutableCells[i].takenBit})
            if (bit >= 0) job.bitOwner[bit] = static_cast<int>(i);
    job.keyWords = 1 + job.cellWords;
    job.takenMask.assign(job.cellWords, 0);
    for (const MutableCell& m : job.mutableCells)
        if (m.takenBit >= 0) setBit(job.takenMask.data(), m.takenBit);

    // The cells as the relaxed walk sees them: every code each may ever hold.
    std::vector<CellClass>& classes = job.cellClasses;
    classes.assign(mapCells, CellClass{});
    for (int c = 0; c < mapCells; ++c) {
        CellCode held[4] = {code[c], code[c], code[c], code[c]};
        int count = 1;
        if (code[c] == Crumbling || code[c] == Crumbled) held[count++] = Crumbling, held[count++] = Crumbled;
        if (reach[0][c] || reach[1][c] || isGoodsCode(code[c])) held[count++] = Empty;
        CellClass& k = classes[c];
        for (int i = 0; i < count; ++i) {
            k.mayPass |= !isSolid(held[i]);
            k.mayJumpGround |= held[i] == Wall || held[i] == Crumbling || held[i] == Ice;
            k.maySpring |= held[i] == Spring;
        }
    }
    int sx = insideMap(job.startPlayer.playerX, job.startPlayer.playerY) ? job.startPlayer.playerX : 1;
    int sy = insideMap(job.startPlayer.playerX, job.startPlayer.playerY) ? job.startPlayer.playerY : 1;
    job.startNode = nodeOf(sx, sy, 0);
    // With no crumbling floor, nothing an enemy can clear and no enemy, nothing can be cleared.
    if (job.cellWords > 0 || r.verticalEnemy.active || r.horizontalEnemy.active)
        reachMasks(job, classes, reach, job.startNode);
}

// --- states into the world and back ---

CellCode cellValue(const MutableCell& m, const uint64_t* cells) {
    if ((m.takenBit >= 0 && testBit(cells, m.takenBit)) || (m.emptyBit >= 0 && testBit(cells, m.emptyBit)))
        return Empty;
    if (m.crumbledBit >= 0 && testBit(cells, m.crumbledBit)) return Crumbled;
    return m.initial;
}

namespace {

int verticalCell(const SearchJob& job, uint64_t w) {
    return cellIndex(job.start.verticalEnemy.x, static_cast<int>(field(w, word::vertical + 1, 5)));
}
int horizontalCell(const SearchJob& job, uint64_t w) {
    return cellIndex(static_cast<int>(field(w, word::horizontal + 1, 7)), job.start.horizontalEnemy.y);
}

}  // namespace

CellCode stateCell(const SearchJob& job, const uint64_t* key, int cell) {
    uint64_t w = key[0];
    if (field(w, word::horizontal, 1) && horizontalCell(job, w) == cell)
        return static_cast<CellCode>(static_cast<int8_t>(field(w, word::horizontal + 9, 8)));
    if (field(w, word::vertical, 1) && verticalCell(job, w) == cell)
        return static_cast<CellCode>(static_cast<int8_t>(field(w, word::vertical + 7, 8)));
    int m = job.mutableOf[cell];
    if (m >= 0) return cellValue(job.mutableCells[m], key + 1);
    return (&job.start.levelMap.cells[0][0])[cell];
}

namespace {
CellCode* worldCells() { return &room.levelMap.cells[0][0]; }
}  // namespace

// The player, the counters, the slot, the
// enemies and the cells. The world's map is the start's before the call.
// Where a lost life ends the way, the player has one life: the rules then
// end the tick at once instead of restoring the floor for nothing.
void enterState(SearchJob& job, const uint64_t* key, PlayerState& p, bool allowLoss) {
    uint64_t w = key[0];
    p = job.startPlayer;
    p.playerX = static_cast<int>(field(w, word::x, 7));
    p.playerY = static_cast<int>(field(w, word::y, 5));
    p.direction = directionBytes[field(w, word::direction, 2)];
    p.savedDirection = directionBytes[field(w, word::saved, 2)];
    p.slide = static_cast<int8_t>(field(w, word::slide, 2) == 1 ? -1 : field(w, word::slide, 2) == 2 ? 1 : 0);
    p.jumping = field(w, word::jumping, 1);
    p.jumpStep = static_cast<int>(field(w, word::jumpStep, 4));
    p.jumpHeight = p.jumping && field(w, word::spring, 1) ? 8 : 3;
    p.messageShown = false;
    p.checkpointLabelShown = false;
    game.lives = static_cast<int8_t>(allowLoss ? field(w, word::lives, 2) : 1);
    game.goodsCollected = 0;
    room.crumbleSlots = {};
    if (field(w, word::slot, 1))
        room.crumbleSlots[0] = {true, static_cast<uint8_t>(p.playerX), static_cast<uint8_t>(p.playerY + 1), 1};
    CellCode* cells = worldCells();
    const uint64_t* bits = key + 1;
    job.written.clear();
    for (int i = 0; i < job.cellWords; ++i)
        for (uint64_t rest = bits[i]; rest; rest &= rest - 1) {
            const MutableCell& m = job.mutableCells[job.bitOwner[i * 64 + std::countr_zero(rest)]];
            cells[m.cell] = cellValue(m, bits);
            job.written.push_back(m.cell);
        }
    // An enemy: its flag, its place along its line (`length` bits), its direction, the cell it stands on.
    auto unpackEnemy = [&](EnemySlot& enemy, uint8_t& place, int at, int length, auto cellOf) {
        enemy.active = field(w, at, 1);
        if (!enemy.active) return;
        place = static_cast<uint8_t>(field(w, at + 1, length));
        enemy.step = static_cast<int8_t>(field(w, at + 1 + length, 1) ? 1 : -1);
        int cell = cellOf();
        cells[cell] = static_cast<CellCode>(static_cast<int8_t>(field(w, at + 2 + length, 8)));
        job.written.push_back(cell);
    };
    unpackEnemy(room.verticalEnemy, room.verticalEnemy.y, word::vertical, 5, [&] { return verticalCell(job, w); });
    unpackEnemy(room.horizontalEnemy, room.horizontalEnemy.x, word::horizontal, 7,
                [&] { return horizontalCell(job, w); });
}

// The start's map again where enterState wrote (the steps from it undone).
void leaveState(const SearchJob& job) {
    CellCode* cells = worldCells();
    const CellCode* base = &job.start.levelMap.cells[0][0];
    for (int c : job.written) cells[c] = base[c];
}

namespace {

// Clears what can no longer matter from where the player is.
void settle(const SearchJob& job, uint64_t* key, bool allowLoss) {
    uint64_t w = key[0];
    int x = static_cast<int>(field(w, word::x, 7)), y = static_cast<int>(field(w, word::y, 5));
    if (!insideMap(x, y)) return;  // the rules never take the player there; nothing is cleared
    int rise = field(w, word::jumping, 1)
                   ? std::max(0, (field(w, word::spring, 1) ? 8 : 3) - static_cast<int>(field(w, word::jumpStep, 4)))
                   : 0;
    int node = nodeOf(x, y, rise);
    if (job.nodeEnemies.empty() || job.nodeEnemies[node] == notReached) return;  // nothing known: all is kept
    const uint64_t* mask = job.nodeMasks.data() + size_t(node) * job.cellWords;
    uint8_t enemies = job.nodeEnemies[node];
    if (allowLoss) {
        // A lost life puts the player back at the start, crumbled floor whole, the enemies where they are.
        const uint64_t* fromStart = job.nodeMasks.data() + size_t(job.startNode) * job.cellWords;
        for (int i = 0; i < job.cellWords; ++i) key[1 + i] &= mask[i] | fromStart[i];
        enemies |= job.nodeEnemies[job.startNode];
    } else {
        for (int i = 0; i < job.cellWords; ++i) key[1 + i] &= mask[i];
    }
    if (!(enemies & 1)) key[0] &= ~word::verticalBits;
    if (!(enemies & 2)) key[0] &= ~word::horizontalBits;
}

}  // namespace

uint64_t playerWord(const PlayerState& p) {
    uint64_t w = 0;
    w |= uint64_t(p.playerX & 0x7F) << word::x;
    w |= uint64_t(p.playerY & 0x1F) << word::y;
    int direction = directionCode(p.direction);
    w |= uint64_t(direction) << word::direction;
    // The saved direction is read only by a jump that a space starts.
    if (direction == 3) w |= uint64_t(directionCode(p.savedDirection)) << word::saved;
    w |= uint64_t(p.slide == -1 ? 1 : p.slide == 1 ? 2 : 0) << word::slide;
    if (p.jumping) {
        w |= uint64_t(1) << word::jumping;
        w |= uint64_t(std::min(p.jumpStep, p.jumpHeight)) << word::jumpStep;
        if (p.jumpHeight == 8) w |= uint64_t(1) << word::spring;
    }
    return w;
}

// The world's state after a step, from the state before it (`key`) and the
// cells the step may have written; loss: every crumbling cell too.
void readState(const SearchJob& job, const uint64_t* key, const PlayerState& p, bool loss, uint64_t* next,
               bool allowLoss) {
    uint64_t w = playerWord(p);
    if (allowLoss) w |= uint64_t(game.lives & 3) << word::lives;
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) w |= uint64_t(1) << word::slot;
    const CellCode* cells = worldCells();
    const EnemySlot& v = room.verticalEnemy;
    const EnemySlot& h = room.horizontalEnemy;
    int vCell = -1, hCell = -1;
    if (v.active && insideMap(v.x, v.y)) {
        vCell = cellIndex(v.x, v.y);
        w |= uint64_t(1) << word::vertical;
        w |= uint64_t(v.y & 0x1F) << (word::vertical + 1);
        w |= uint64_t(v.step == 1) << (word::vertical + 6);
        w |= uint64_t(static_cast<uint8_t>(cells[vCell])) << (word::vertical + 7);
    }
    if (h.active && insideMap(h.x, h.y)) {
        hCell = cellIndex(h.x, h.y);
        w |= uint64_t(1) << word::horizontal;
        w |= uint64_t(h.x & 0x7F) << (word::horizontal + 1);
        w |= uint64_t(h.step == 1) << (word::horizontal + 8);
        w |= uint64_t(static_cast<uint8_t>(cells[hCell])) << (word::horizontal + 9);
    }
    next[0] = w;
    uint64_t* bits = next + 1;
    for (int i = 0; i < job.cellWords; ++i) bits[i] = key[1 + i];
    // A goods item on an enemy's way taken in this tick: where the player stands.
    if (game.goodsCollected > 0 && insideMap(p.playerX, p.playerY)) {
        int m = job.mutableOf[cellIndex(p.playerX, p.playerY)];
        if (m >= 0 && job.mutableCells[m].takenBit >= 0) setBit(bits, job.mutableCells[m].takenBit);
    }
    auto readCell = [&](int cell) {
        int index = job.mutableOf[cell];
        if (index < 0) return;
        const MutableCell& m = job.mutableCells[index];
        bool taken = m.takenBit >= 0 && testBit(bits, m.takenBit);
        CellCode now = cells[cell];
        // Under an enemy the cell is empty once it moves on, whatever it held.
        bool empty = !taken && (cell == vCell || cell == hCell || now == Empty);
        bool crumbled = !empty && !taken && now == Crumbled;
        if (m.emptyBit >= 0) empty ? setBit(bits, m.emptyBit) : clearBit(bits, m.emptyBit);
        if (m.crumbledBit >= 0) crumbled ? setBit(bits, m.crumbledBit) : clearBit(bits, m.crumbledBit);
    };
    for (int cell : job.changed) readCell(cell);
    if (loss)
        for (int index : job.crumblingCells) readCell(job.mutableCells[index].cell);
    settle(job, next, allowLoss);
}

namespace {

// The cells a step from the world as it stands may write: the slot's, the
// player's, the enemies' before and after. Before the step: the first part.
void noteCellsBefore(SearchJob& job) {
    job.changed.clear();
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active && insideMap(slot.x, slot.y)) job.changed.push_back(cellIndex(slot.x, slot.y));
    for (const EnemySlot* e : {&room.verticalEnemy, &room.horizontalEnemy})
        if (e->active && insideMap(e->x, e->y)) job.changed.push_back(cellIndex(e->x, e->y));
}

void noteCellsAfter(SearchJob& job, const PlayerState& p) {
    if (insideMap(p.playerX, p.playerY)) job.changed.push_back(cellIndex(p.playerX, p.playerY));
    for (const EnemySlot* e : {&room.verticalEnemy, &room.horizontalEnemy})
        if (e->active && insideMap(e->x, e->y)) job.changed.push_back(cellIndex(e->x, e->y));
}

}  // namespace

TickOutcome stepState(SearchJob& job, const uint64_t* key, PlayerState& p, TickKey choice, bool allowLoss,
                      uint64_t* next, uint8_t& looseTaken, bool& loss) {
    noteCellsBefore(job);
    game.goodsCollected = 0;
    TickOutcome outcome = stepTickWith(p, choice);
    noteCellsAfter(job, p);
    loss = outcome == TickOutcome::LifeLost || outcome == TickOutcome::GameOver;
    looseTaken = noGoods;
    if (game.goodsCollected > 0 && insideMap(p.playerX, p.playerY)) {
        int cell = cellIndex(p.playerX, p.playerY);
        for (size_t g = 0; g < job.goodsCells.size(); ++g)
            if (job.goodsCells[g] == cell) job.goodsReached[g] = 1;
        if (job.looseIndex[cell] >= 0) looseTaken = static_cast<uint8_t>(job.looseIndex[cell]);
    }
    bool goesOn = outcome == TickOutcome::GoOn || (outcome == TickOutcome::LifeLost && allowLoss);
    if (goesOn) readState(job, key, p, loss, next, allowLoss);
    return outcome;
}

void undoStep(SearchJob& job, const uint64_t* key, bool loss) {
    CellCode* cells = worldCells();
    for (int cell : job.changed) cells[cell] = stateCell(job, key, cell);
    if (loss)
        for (int index : job.crumblingCells) {
            int cell = job.mutableCells[index].cell;
            cells[cell] = stateCell(job, key, cell);
        }
}

// --- the table of states ---

uint64_t hashKey(const uint64_t* key, int words) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < words; ++i) {
        h = (h ^ key[i]) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    return h * 0x94D049BB133111EBull;
}

bool sameKey(const uint64_t* a, const uint64_t* b, int words) {
    for (int i = 0; i < words; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

size_t growthBytes(const StateTable& table, size_t more) {
    size_t bytes = 0;
    size_t n = table.count + more;
    if (n * 8 > table.slotCount * 5) bytes += table.slotCount * 2 * (sizeof(uint32_t) + 1);
    auto block = [&](const auto& array, size_t elements, size_t size) {
        if (elements > array.blocks.size() * array.blockSize) bytes += array.blockSize * size;
    };
    if (n > table.keyRoom)
        bytes += std::min<size_t>(std::max<size_t>(table.keyRoom, firstKeys), size_t(1) << keyBlockBits) *
                 table.keyWords * sizeof(uint64_t);
    if (table.keepMoves) block(table.successors, n * choiceCount, sizeof(uint32_t));
    return bytes;
}

namespace {

void growSlots(StateTable& table) {
    size_t size = table.slotCount == 0 ? 1u << 10 : table.slotCount * 2;  // small rooms stay small
    table.slots.reset();
    table.tags.reset();
    table.slots = allocate<uint32_t>(size);
    table.tags = allocate<uint8_t>(size);
    table.slotCount = size;
    std::memset(table.tags.get(), 0, size);
    // A run of states hashed and their slots fetched, then placed.
    constexpr uint32_t run = 32;
    uint64_t hashes[run];
    for (uint32_t first = 0; first < table.count; first += run) {
        uint32_t count = static_cast<uint32_t>(std::min<size_t>(run, table.count - first));
        for (uint32_t i = 0; i < count; ++i) {
            hashes[i] = hashKey(keyOf(table, first + i), table.keyWords);
            __builtin_prefetch(&table.tags[slotOf(hashes[i], table)]);
            __builtin_prefetch(&table.slots[slotOf(hashes[i], table)]);
        }
        for (uint32_t i = 0; i < count; ++i) {
            size_t slot = slotOf(hashes[i], table);
            while (table.tags[slot] != 0) slot = (slot + 1) & (size - 1);
            table.tags[slot] = tagOf(hashes[i]);
            table.slots[slot] = first + i;
        }
    }
}

}  // namespace

uint32_t addState(StateTable& table, const uint64_t* key, uint64_t hash) {
    if ((table.count + 1) * 8 > table.slotCount * 5) growSlots(table);  // at most 5/8 full
    size_t mask = table.slotCount - 1;
    size_t slot = slotOf(hash, table);
    uint8_t tag = tagOf(hash);
    for (; table.tags[slot] != 0; slot = (slot + 1) & mask)
        if (table.tags[slot] == tag && sameKey(keyOf(table, table.slots[slot]), key, table.keyWords))
            return table.slots[slot];
    uint32_t s = static_cast<uint32_t>(table.count++);
    table.tags[slot] = tag;
    table.slots[slot] = s;
    if (table.count > table.keyRoom) {
        const size_t full = size_t(1) << keyBlockBits;
        if (table.keyRoom < full) {
            // The first block doubles until it is whole: small rooms keep small tables.
            size_t room = table.keyRoom == 0 ? firstKeys : table.keyRoom * 2;
            Memory<uint64_t> block = allocate<uint64_t>(room * table.keyWords);
            if (table.keyRoom > 0) std::memcpy(block.get(), table.keys[0].get(), table.keyRoom * table.keyWords * 8);
            table.keys.clear();
            table.keys.push_back(std::move(block));
            table.keyRoom = room;
        } else {
            table.keys.push_back(allocate<uint64_t>(full * table.keyWords));
            table.keyRoom += full;
        }
    }
    std::memcpy(const_cast<uint64_t*>(keyOf(table, s)), key, size_t(table.keyWords) * 8);
    if (table.keepMoves) {
        growBlocks(table.successors, table.count * choiceCount);
        for (int c = 0; c < choiceCount; ++c) table.successors[size_t(s) * choiceCount + c] = unknown;
    }
    return s;
}

int depthOf(const StateTable& table, uint32_t s) {
    return static_cast<int>(std::upper_bound(table.levelStart.begin(), table.levelStart.end(), s) -
                            table.levelStart.begin()) -
           1;
}

uint32_t findState(const StateTable& table, const uint64_t* key, uint64_t hash) {
    if (table.slotCount == 0) return noState;
    size_t mask = table.slotCount - 1;
    uint8_t tag = tagOf(hash);
    for (size_t slot = slotOf(hash, table); table.tags[slot] != 0; slot = (slot + 1) & mask)
        if (table.tags[slot] == tag && sameKey(keyOf(table, table.slots[slot]), key, table.keyWords))
            return table.slots[slot];
    return noState;
}

size_t bytesOf(const StateTable& table) {
    return table.keyRoom * table.keyWords * sizeof(uint64_t) + bytesOf(table.successors) + bytesOf(table.goodsMoves) +
           bytesOf(table.goodsTaken) + table.slotCount * (sizeof(uint32_t) + 1) + bytesOf(table.levelStart);
}

StateTable emptied(const StateTable& table) {
    StateTable left;
    left.keyWords = table.keyWords;
    left.allowLoss = table.allowLoss;
    left.count = table.count;
    return left;
}

void cellsWithin(const SearchJob& job, const uint64_t* key, std::vector<uint8_t>& cells) {
    cells.assign(mapCells, 0);
    int x = wordX(key[0]), y = wordY(key[0]);
    if (!insideMap(x, y) || job.cellClasses.empty()) {
        cells.assign(mapCells, 1);  // nothing known: anything may be
        return;
    }
    // Crumbled floor stays gone while no life is lost.
    std::vector<CellClass> classes = job.cellClasses;
    for (int index : job.crumblingCells) {
        const MutableCell& m = job.mutableCells[index];
        if (testBit(key + 1, m.crumbledBit) && !job.enemyReach[0][m.cell] && !job.enemyReach[1][m.cell])
            classes[m.cell] = {true, false, false};
    }
    int rise =
        field(key[0], word::jumping, 1)
            ? std::max(0, (field(key[0], word::spring, 1) ? 8 : 3) - static_cast<int>(field(key[0], word::jumpStep, 4)))
            : 0;
    std::vector<uint8_t> seen(size_t(mapCells) * riseLevels, 0);
    std::vector<int> queue{nodeOf(x, y, rise)};
    seen[queue[0]] = 1;
    for (size_t head = 0; head < queue.size(); ++head) {
        cells[queue[head] / riseLevels] = 1;
        relaxedMoves(classes, queue[head], [&](int t) {
            if (!seen[t]) seen[t] = 1, queue.push_back(t);
        });
    }
}
