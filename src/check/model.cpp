// The room's model: which cells play can change, and which of them can
// still matter from where the player is. Crumbling floor; the cells the
// enemies can ever stand on (they leave each one empty, walls their first
// step or a squeeze pushes them into included); goods. A relaxed walk over
// the map, where every cell that may ever be open is open and every one
// that may be ground is ground, and a jump may rise from any ground, finds
// every cell the player can still come near (a cell is read only from the
// player's own cell or one beside it). Crumbled floor out of that reach is
// the same as whole, and an enemy whose cells are out of it (and out of the
// other enemy's way) can no longer touch the player.
#include <algorithm>

#include "check/job.h"

namespace {

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

void whatCanMatter(const SearchJob& job, const std::vector<uint8_t>& from, std::vector<CellXY>& crumbling,
                   uint8_t& enemies) {
    crumbling.clear();
    enemies = 0;
    if (job.nodeEnemies.empty()) return;
    std::vector<uint64_t> bits(job.cellWords, 0);
    for (int c = 0; c < mapCells; ++c) {
        if (!from[c]) continue;
        for (int rise = 0; rise < riseLevels; ++rise) {
            size_t node = size_t(c) * riseLevels + rise;
            if (job.nodeEnemies[node] == notReached) continue;
            enemies |= job.nodeEnemies[node];
            for (int i = 0; i < job.cellWords; ++i) bits[i] |= job.nodeMasks[node * job.cellWords + i];
        }
    }
    for (int index : job.crumblingCells) {
        const MutableCell& m = job.mutableCells[index];
        if (testBit(bits.data(), m.crumbledBit)) crumbling.push_back(cellXY(m.cell));
    }
    if (!job.start.verticalEnemy.active) enemies &= ~1;
    if (!job.start.horizontalEnemy.active) enemies &= ~2;
}
