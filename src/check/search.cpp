// The search: breadth first over ticks, one of five choices a tick (no key,
// Left, Right, Up, Space), each stepped by the game's own tick rules on the
// global room, silently. A state is what can change future play, packed in
// a few words: the player's movement fields, lives, the crumbling slot,
// both enemies with the code of their cell, and one bit for each thing a
// cell can turn into (crumbled, emptied by an enemy, a goods item taken).
// The message texts and timers only change what the status line shows and
// are left out. Parts of a state that can no longer matter are cleared (see
// the room's model below), so states that differ only there are one.
#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "check/check.h"
#include "check/success.h"
#include "console/console.h"
#include "system/machine.h"
#include "system/sound.h"

namespace {

using namespace successor;

constexpr TickKey choices[] = {TickKey::None, TickKey::Left, TickKey::Right, TickKey::Up, TickKey::Space};
constexpr uint32_t unknown = 0xFFFFFFFD;  // not expanded yet
constexpr int mapCells = mapWidth * mapHeight;
constexpr int maxLooseGoods = 32;
constexpr int riseLevels = 9;  // rows a jump may still rise: 0 to 8
constexpr uint32_t noState = 0xFFFFFFFF;

using Clock = std::chrono::steady_clock;

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

bool isGoodsCode(int code) { return code >= GoodsDiamond && code <= GoodsSpade; }
int cellIndex(int x, int y) { return (x - 1) * mapHeight + (y - 1); }
CellXY cellXY(int cell) { return {cell / mapHeight + 1, cell % mapHeight + 1}; }

// --- the first word of a state ---
// Bits 0-6 x, 7-11 y, 12-13 direction (none, left, right, space), 14-15 the
// direction saved before a space (only while a space waits), 16-17 slide
// (none, left, right), 18 jumping, 19-22 ticks into the jump (no more than
// its height: past the top a fall is a fall), 23 a spring's jump, 24-25
// lives, 26 a crumbling slot runs (always under the player: it was taken
// there at the end of the tick). The vertical enemy from bit 27: present,
// row (5 bits), stepping down, the code of its cell (8 bits); the
// horizontal one from bit 42: present, column (7 bits), stepping right, code.
namespace word {
constexpr int x = 0, y = 7, direction = 12, saved = 14, slide = 16, jumping = 18, jumpStep = 19, spring = 23,
              lives = 24, slot = 26;
constexpr int vertical = 27, horizontal = 42;
constexpr uint64_t verticalBits = uint64_t(0x7FFF) << vertical;       // 15 bits
constexpr uint64_t horizontalBits = uint64_t(0x1FFFF) << horizontal;  // 17 bits
}  // namespace word

uint64_t field(uint64_t w, int at, int bits) { return (w >> at) & ((uint64_t(1) << bits) - 1); }

int directionCode(uint8_t direction) {
    return direction == scan::left ? 1 : direction == scan::right ? 2 : direction == key::space ? 3 : 0;
}
constexpr uint8_t directionBytes[] = {0, scan::left, scan::right, key::space};

// A map cell that play can change, and its bits in a state.
struct MutableCell {
    int cell = 0;
    CellCode initial = Empty;
    int crumbledBit = -1;  // crumbling floor: gone
    int emptyBit = -1;     // an enemy passed over it, and left it empty
    int takenBit = -1;     // a goods item on an enemy's way, taken by the player
};

// The states of play, each expanded once. Goods off the enemies' ways change
// nothing in play once taken (an open cell either way), so they are left out
// of the states and tracked as a set beside them: each move says which such
// item it takes.
// Memory of the search's largest tables. The hash table and the keys are
// read at random, a few times for every state: on large pages (where the
// system gives them) far fewer of those reads wait for the page tables.
struct FreeMemory {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Memory = std::unique_ptr<T[], FreeMemory>;

template <typename T>
Memory<T> allocate(size_t count) {
    size_t bytes = std::max<size_t>(count * sizeof(T), sizeof(T));
    Memory<T> memory(static_cast<T*>(bytes < largePageBytes ? std::malloc(bytes) : allocateLargePages(bytes)));
    if (!memory) throw std::bad_alloc();
    return memory;
}

constexpr int keyBlockBits = 17;      // states per block of keys: 131072
constexpr uint32_t firstKeys = 1024;  // the first block starts this small and grows

struct StateTable {
    bool allowLoss = false;
    bool keepMoves = false;              // the moves of each state kept (the main table)
    std::vector<Memory<uint64_t>> keys;  // keyWords per state, in blocks of whole keys
    size_t keyRoom = 0;                  // states the blocks hold
    BlockArray<uint32_t> successors;     // choiceCount per state; unknown until expanded
    std::vector<uint32_t> goodsMoves;    // the moves (state * choiceCount + choice) that take a loose goods item
    std::vector<uint8_t> goodsTaken;     // the item each takes
    // Open addressing: a slot's tag (a few bits of the key's hash, never 0)
    // and its state; tag 0 marks a free slot. The tag spares reading the key
    // of every other state met on the way.
    Memory<uint8_t> tags;
    Memory<uint32_t> slots;
    size_t slotCount = 0;
    std::vector<uint32_t> levelStart;  // the first state of each tick from the start
    size_t count = 0;
    size_t nextToExpand = 0;
    bool exhausted = false;
};

// A table whose states have gone: only how many there were stays.
StateTable emptied(const StateTable& table) {
    StateTable left;
    left.allowLoss = table.allowLoss;
    left.count = table.count;
    return left;
}

// A way through the room for the goods: a state with the set of loose goods
// taken on the way there. Breadth first over these gives the shortest way
// that takes them all.
struct WayNode {
    uint32_t state, goods, parent;  // parent: the way before, or noState
};
// The goods sets that ways brought to one state, a few to a chunk; `next`
// is the state's next chunk, + 1 (0: none).
struct GoodsSeen {
    static constexpr int room = 6;
    uint32_t goods[room];
    uint32_t count;
    uint32_t next;
};

// One choice of a state being expanded, worked out before the table is asked.
struct Step {
    uint32_t target;  // dead, atExit, or unknown until resolved
    uint8_t loose;    // the loose goods item it takes, or noGoods
    int8_t same;      // an earlier choice of the state with the same next state, or -1
    uint64_t hash;
};

constexpr size_t batchStates = 16;  // states stepped before the table is asked for their successors

// A batch of states stepped and waiting for the table.
struct Batch {
    uint32_t first = 0;
    size_t count = 0;
    std::vector<Step> steps;
    std::vector<uint64_t> keys;
};

// The player's position and what is left of its rise, as a node of the
// room's model.
int nodeOf(int x, int y, int rise) { return cellIndex(x, y) * riseLevels + rise; }

}  // namespace

enum class Phase : uint8_t {
    Explore,    // every state reachable without losing a life
    WithLoss,   // no exit that way: is there one after a lost life?
    Analyse,    // stuck places, goods out of reach, which states still finish
    Distances,  // the figure's distances to the exit, with every goods item too
    AllGoods,   // the shortest way with every goods item
    Windows,    // how early or late each press on the way may come
    Figure,     // the difficulty figure
    Done,
};

struct SearchJob {
    RoomState start;  // the loaded room as the room loop starts it, its messages left out
    PlayerState startPlayer;
    SearchLimits limits;
    SearchReport report;
    Phase phase = Phase::Explore;

    // --- the room's model ---
    int keyWords = 1;  // the first word, then the cells' bits
    int cellWords = 0;
    std::vector<MutableCell> mutableCells;
    std::vector<int16_t> mutableOf;    // per map cell: its index in mutableCells, or -1
    std::vector<int8_t> looseIndex;    // per map cell: its bit among the loose goods, or -1
    std::vector<int> crumblingCells;   // indices in mutableCells
    std::vector<uint64_t> takenMask;   // the cells' bits of goods taken on the enemies' ways
    std::vector<uint64_t> nodeMasks;   // per node: the cells' bits that can still matter
    std::vector<uint8_t> nodeEnemies;  // per node: bit 0 the vertical enemy can still matter, bit 1 the horizontal
    int startNode = 0;
    int looseGoods = 0;
    std::vector<int> goodsCells;  // every goods cell of the map
    std::vector<uint8_t> goodsReached;
    int goodsTarget = 0;

    // --- the states ---
    StateTable main, withLoss;
    std::vector<uint64_t> stateKey;
    Batch batches[2];
    std::vector<int> changed;   // map cells a step may have written
    std::vector<int> written;   // map cells enterState wrote
    std::vector<int> bitOwner;  // per cell bit: its index in mutableCells
    uint32_t firstExit = noState, firstExitChoice = 0;
    bool lossExit = false;
    bool edgeReached = false;
    CellXY edgeAt;
    std::vector<uint32_t> exitAlong;  // the states along the shortest way

    // --- the goods' ways ---
    BlockArray<WayNode> ways;
    size_t wayCount = 0, nextWay = 0;
    std::vector<uint32_t> seenFirst;  // per state: its first GoodsSeen + 1, 0 none
    BlockArray<GoodsSeen> seen;
    size_t seenCount = 0;
    uint32_t seenFree = 0;  // the first chunk of seen free again, + 1
    std::vector<uint32_t> goodsScratch;

    size_t windowPress = 0;
    MoveTable moves;
    SuccessWork success;

    // --- limits ---
    double spent = 0;
    double sliceBegan = 0;
    bool begun = false;
};

void SearchJobDeleter::operator()(SearchJob* job) const { delete job; }

namespace {

template <typename T>
size_t bytesOf(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

size_t bytesOf(const StateTable& table, int keyWords) {
    return table.keyRoom * keyWords * sizeof(uint64_t) + bytesOf(table.successors) + bytesOf(table.goodsMoves) +
           bytesOf(table.goodsTaken) + table.slotCount * (sizeof(uint32_t) + 1) + bytesOf(table.levelStart);
}

// The search's tables as they stand.
size_t memoryUsed(const SearchJob& job) {
    return bytesOf(job.main, job.keyWords) + bytesOf(job.withLoss, job.keyWords) + bytesOf(job.exitAlong) +
           bytesOf(job.ways) + bytesOf(job.seenFirst) + bytesOf(job.seen) + bytesOf(job.nodeMasks) +
           bytesOf(job.moves.onWayGoods) + bytesOf(job.moves.cells) + bytesOf(job.success.firstIn) +
           bytesOf(job.success.from) + bytesOf(job.success.special) + bytesOf(job.success.toExit) +
           bytesOf(job.success.toExitAllGoods);
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

struct CellClass {
    bool mayPass = false;        // some code it may hold is not solid
    bool mayJumpGround = false;  // Wall, Crumbling or Ice
    bool maySpring = false;
};

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

void setBit(uint64_t* words, int bit) { words[bit >> 6] |= uint64_t(1) << (bit & 63); }
bool testBit(const uint64_t* words, int bit) { return (words[bit >> 6] >> (bit & 63)) & 1; }
void clearBit(uint64_t* words, int bit) { words[bit >> 6] &= ~(uint64_t(1) << (bit & 63)); }

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

void buildModel(SearchJob& job) {
    const RoomState& r = job.start;
    const CellCode* code = &r.levelMap.cells[0][0];
    std::vector<uint8_t> reach[2];
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
    std::vector<CellClass> classes(mapCells);
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

// What a state says a cell holds, an enemy's own cell aside.
CellCode cellValue(const MutableCell& m, const uint64_t* cells) {
    if ((m.takenBit >= 0 && testBit(cells, m.takenBit)) || (m.emptyBit >= 0 && testBit(cells, m.emptyBit)))
        return Empty;
    if (m.crumbledBit >= 0 && testBit(cells, m.crumbledBit)) return Crumbled;
    return m.initial;
}

int verticalCell(const SearchJob& job, uint64_t w) {
    return cellIndex(job.start.verticalEnemy.x, static_cast<int>(field(w, word::vertical + 1, 5)));
}
int horizontalCell(const SearchJob& job, uint64_t w) {
    return cellIndex(static_cast<int>(field(w, word::horizontal + 1, 7)), job.start.horizontalEnemy.y);
}

// Everything a state says about one map cell.
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

CellCode* worldCells() { return &room.levelMap.cells[0][0]; }

// Puts the world into the state: the player, the counters, the slot, the
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

// The player's part of a state's first word: all of the player that future play reads.
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

// One tick from the world as it stands, which holds state `key`; the state
// after it into `next` when play goes on. looseTaken: the loose goods item taken, if any.
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

// The world back to state `key` after a step from it.
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

const uint64_t* keyOf(const SearchJob& job, const StateTable& table, uint32_t s) {
    return table.keys[s >> keyBlockBits].get() + size_t(s & ((1u << keyBlockBits) - 1)) * job.keyWords;
}

bool sameKey(const uint64_t* a, const uint64_t* b, int words) {
    for (int i = 0; i < words; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

size_t slotOf(uint64_t hash, const StateTable& table) { return (hash >> 20) & (table.slotCount - 1); }
uint8_t tagOf(uint64_t hash) { return static_cast<uint8_t>(hash | 1); }

// The bytes the table grows by with its next `more` states, when that is more than nothing.
size_t growthBytes(const SearchJob& job, const StateTable& table, size_t more) {
    size_t bytes = 0;
    size_t n = table.count + more;
    if (n * 8 > table.slotCount * 5) bytes += table.slotCount * 2 * (sizeof(uint32_t) + 1);
    auto block = [&](const auto& array, size_t elements, size_t size) {
        if (elements > array.blocks.size() * array.blockSize) bytes += array.blockSize * size;
    };
    if (n > table.keyRoom)
        bytes += std::min<size_t>(std::max<size_t>(table.keyRoom, firstKeys), size_t(1) << keyBlockBits) *
                 job.keyWords * sizeof(uint64_t);
    if (table.keepMoves) block(table.successors, n * choiceCount, sizeof(uint32_t));
    return bytes;
}

void growSlots(const SearchJob& job, StateTable& table) {
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
            hashes[i] = hashKey(keyOf(job, table, first + i), job.keyWords);
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

// The state with this key (and this hash), added when new.
uint32_t addState(SearchJob& job, StateTable& table, const uint64_t* key, uint64_t hash) {
    if ((table.count + 1) * 8 > table.slotCount * 5) growSlots(job, table);  // at most 5/8 full
    size_t mask = table.slotCount - 1;
    size_t slot = slotOf(hash, table);
    uint8_t tag = tagOf(hash);
    for (; table.tags[slot] != 0; slot = (slot + 1) & mask)
        if (table.tags[slot] == tag && sameKey(keyOf(job, table, table.slots[slot]), key, job.keyWords))
            return table.slots[slot];
    uint32_t s = static_cast<uint32_t>(table.count++);
    table.tags[slot] = tag;
    table.slots[slot] = s;
    if (table.count > table.keyRoom) {
        const size_t full = size_t(1) << keyBlockBits;
        if (table.keyRoom < full) {
            // The first block doubles until it is whole: small rooms keep small tables.
            size_t room = table.keyRoom == 0 ? firstKeys : table.keyRoom * 2;
            Memory<uint64_t> block = allocate<uint64_t>(room * job.keyWords);
            if (table.keyRoom > 0) std::memcpy(block.get(), table.keys[0].get(), table.keyRoom * job.keyWords * 8);
            table.keys.clear();
            table.keys.push_back(std::move(block));
            table.keyRoom = room;
        } else {
            table.keys.push_back(allocate<uint64_t>(full * job.keyWords));
            table.keyRoom += full;
        }
    }
    std::memcpy(const_cast<uint64_t*>(keyOf(job, table, s)), key, size_t(job.keyWords) * 8);
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

bool onEdge(int x, int y) { return x == 1 || x == mapWidth || y == 1 || y == mapHeight; }

// The five steps of state s, stepped and hashed, their slots fetched.
void stepChoices(SearchJob& job, const StateTable& table, uint32_t s, Step* steps, uint64_t* keys) {
    const int kw = job.keyWords;
    job.stateKey.assign(keyOf(job, table, s), keyOf(job, table, s) + kw);
    const uint64_t* key = job.stateKey.data();
    PlayerState p;
    enterState(job, key, p, table.allowLoss);
    if (!table.allowLoss && !job.edgeReached && onEdge(p.playerX, p.playerY)) {
        job.edgeReached = true;
        job.edgeAt = {p.playerX, p.playerY};
    }
    const PlayerState player = p;
    const uint64_t playerAsItIs = playerWord(player);
    const EnemySlot vertical = room.verticalEnemy, horizontal = room.horizontalEnemy;
    const auto slots = room.crumbleSlots;
    const int8_t lives = game.lives;
    for (int c = 0; c < choiceCount; ++c) {
        if (c > 0) {
            p = player;
            room.verticalEnemy = vertical;
            room.horizontalEnemy = horizontal;
            room.crumbleSlots = slots;
            game.lives = lives;
        }
        Step& step = steps[c];
        uint64_t* next = keys + size_t(c) * kw;
        if (c > 0) {
            // A key that leaves the player as it was (Left while walking left) plays as no key.
            PlayerState pressed = player;
            applyTickKey(pressed, choices[c]);
            if (playerWord(pressed) == playerAsItIs) {
                step = steps[0];
                if (step.target == unknown) step.same = 0;
                continue;
            }
        }
        bool loss;
        TickOutcome outcome = stepState(job, key, p, choices[c], table.allowLoss, next, step.loose, loss);
        undoStep(job, key, loss);
        step.same = -1;
        if (outcome == TickOutcome::GameOver || (outcome == TickOutcome::LifeLost && !table.allowLoss)) {
            step.target = dead;
        } else if (outcome == TickOutcome::ExitReached) {
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
    leaveState(job);
}

// The key each step will be compared with first: fetched before it is needed.
void fetchKeys(const SearchJob& job, const StateTable& table, const Step* steps, size_t count) {
    if (table.slotCount == 0) return;
    size_t mask = table.slotCount - 1;
    for (size_t i = 0; i < count; ++i) {
        if (steps[i].target != unknown || steps[i].same >= 0) continue;
        uint8_t tag = tagOf(steps[i].hash);
        for (size_t slot = slotOf(steps[i].hash, table); table.tags[slot] != 0; slot = (slot + 1) & mask)
            if (table.tags[slot] == tag) {
                __builtin_prefetch(keyOf(job, table, table.slots[slot]));
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
            step.target = step.same >= 0 ? steps[step.same].target
                                         : addState(job, table, keys + size_t(c) * job.keyWords, step.hash);
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

// The keys and states of the shortest way to the exit, back from its last
// state: each state's first state of the tick before that leads to it, by
// its first such key, as breadth first found them.
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

// --- limits ---

// Stops the search: a limit ran out before everything was known.
void stopSearch(SearchJob& job, SearchLimit limit) {
    SearchReport& r = job.report;
    // The exit met on the way is met at the fewest ticks: its way stands.
    if (job.firstExit != noState && r.ticks < 0 && job.main.successors.size > 0) recordWay(job);
    r.stoppedBy = limit;
    r.stopReason = limitText(limit, job.limits);
    r.decided = false;
    r.verdict = r.ticks >= 0 ? Verdict::Finishable : Verdict::Unknown;
    r.done = true;
    job.phase = Phase::Done;
}

double spentNow(const SearchJob& job) { return job.spent + threadSeconds() - job.sliceBegan; }

// Whether `more` bytes still fit beside the tables; the memory limit stops the search when not.
bool roomFor(SearchJob& job, size_t more) {
    size_t used = memoryUsed(job);
    job.report.peakBytes = std::max(job.report.peakBytes, used);
    if (used + more <= job.limits.maxMemory) return true;
    stopSearch(job, SearchLimit::Memory);
    return false;
}

// The clock of the slice and the processor time of the search.
bool outOfTime(SearchJob& job, Clock::time_point until, bool& sliceOver) {
    if (Clock::now() > until) sliceOver = true;
    if (spentNow(job) >= job.limits.maxSeconds) {
        stopSearch(job, SearchLimit::Seconds);
        return true;
    }
    return sliceOver;
}

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
            size_t growth = growthBytes(job, table, (n + waiting->count) * choiceCount);
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
        fetchKeys(job, table, next->steps.data(), n * choiceCount);
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
    for (size_t s = 0; s < t.count; ++s) {
        const uint64_t* key = keyOf(job, t, uint32_t(s));
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

void runExplore(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    if (!exploreTable(job, job.main, slice.states, until)) return;
    job.report.explored = true;
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
    if (!exploreTable(job, job.withLoss, slice.states, until)) return;
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

// The keys of a way: from each way before it, the first key that leads to
// it (the one that added it: a later key to the same state and goods was
// covered by it).
std::vector<TickKey> keysOfWay(const SearchJob& job, uint32_t way, uint32_t lastChoice) {
    std::vector<TickKey> keys{choices[lastChoice]};
    for (uint32_t i = way; job.ways[i].parent != noState; i = job.ways[i].parent) {
        const WayNode& after = job.ways[i];
        const WayNode& before = job.ways[after.parent];
        for (int c = 0; c < choiceCount; ++c) {
            size_t e = size_t(before.state) * choiceCount + c;
            uint8_t taken = goodsOf(job.moves, e);
            if (successorOf(job.moves, e) == after.state &&
                (before.goods | (taken == noGoods ? 0u : 1u << taken)) == after.goods) {
                keys.push_back(choices[c]);
                break;
            }
        }
    }
    std::reverse(keys.begin(), keys.end());
    return keys;
}

void searchWays(SearchJob& job, SearchSlice slice, Clock::time_point until);

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

// The shortest way with every goods item: read off the figure's distances
// where it has them for every goods set, else breadth first over the ways
// (below).
void runAllGoods(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    SearchReport& r = job.report;
    const MoveTable& m = job.moves;
    if (job.goodsTarget == 0) {
        r.allGoodsTicks = r.ticks;
        r.allGoodsSolution = r.solution;
        r.allGoodsLookedFor = true;
        job.phase = Phase::Windows;
        return;
    }
    if (!job.success.toExitAllGoods.empty()) {
        for (int c : allGoodsWay(job.success, m)) r.allGoodsSolution.push_back(choices[c]);
        if (!r.allGoodsSolution.empty()) r.allGoodsTicks = static_cast<int>(r.allGoodsSolution.size());
        r.allGoodsLookedFor = true;
        job.phase = Phase::Windows;
        return;
    }
    searchWays(job, slice, until);
}

// A chunk for a state's goods sets: one freed before, or a new one.
uint32_t takeChunk(SearchJob& job) {
    uint32_t chunk = job.seenFree;
    if (chunk != 0) {
        job.seenFree = job.seen[chunk - 1].next;
    } else {
        growBlocks(job.seen, job.seenCount + 1);
        chunk = static_cast<uint32_t>(++job.seenCount);
    }
    job.seen[chunk - 1].count = 0;
    job.seen[chunk - 1].next = 0;
    return chunk;
}

// Whether a way with `goods` to `state` is worth keeping: no earlier way
// there holds them all. If so, it joins the state's sets, and the sets it
// holds go: they can cover nothing that it does not.
bool newGoodsSet(SearchJob& job, uint32_t state, uint32_t goods) {
    bool holdsSome = false;
    uint32_t last = 0;
    for (uint32_t chunk = job.seenFirst[state]; chunk != 0; chunk = job.seen[chunk - 1].next) {
        const GoodsSeen& seen = job.seen[chunk - 1];
        for (uint32_t i = 0; i < seen.count; ++i) {
            uint32_t both = seen.goods[i] | goods;
            if (both == seen.goods[i]) return false;
            holdsSome = holdsSome || both == goods;
        }
        last = chunk;
    }
    if (holdsSome) {
        // Gather the sets that stay, then write them back, the chunks left over freed.
        std::vector<uint32_t>& kept = job.goodsScratch;
        kept.clear();
        for (uint32_t chunk = job.seenFirst[state]; chunk != 0; chunk = job.seen[chunk - 1].next) {
            const GoodsSeen& seen = job.seen[chunk - 1];
            for (uint32_t i = 0; i < seen.count; ++i)
                if ((seen.goods[i] | goods) != goods) kept.push_back(seen.goods[i]);
        }
        uint32_t* link = &job.seenFirst[state];
        last = 0;
        for (size_t at = 0; at < kept.size(); at += GoodsSeen::room) {
            GoodsSeen& chunk = job.seen[*link - 1];
            chunk.count = static_cast<uint32_t>(std::min<size_t>(GoodsSeen::room, kept.size() - at));
            std::copy_n(kept.begin() + at, chunk.count, chunk.goods);
            last = *link;
            link = &chunk.next;
        }
        for (uint32_t rest = *link; rest != 0;) {
            uint32_t next = job.seen[rest - 1].next;
            job.seen[rest - 1].next = job.seenFree;
            job.seenFree = rest;
            rest = next;
        }
        *link = 0;
    }
    if (last == 0 || job.seen[last - 1].count == GoodsSeen::room) {
        uint32_t chunk = takeChunk(job);
        (last == 0 ? job.seenFirst[state] : job.seen[last - 1].next) = chunk;
        last = chunk;
    }
    GoodsSeen& tail = job.seen[last - 1];
    tail.goods[tail.count++] = goods;
    return true;
}

// The ways, breadth first, until the shortest way with every goods item is
// known. A way that reaches a state with no more goods than an earlier way
// that reached it is dropped: whatever follows, the earlier one does too.
void searchWays(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    SearchReport& r = job.report;
    const MoveTable& m = job.moves;
    if (job.wayCount == 0) {
        if (!roomFor(job, m.states * sizeof(uint32_t))) return;
        job.seenFirst.assign(m.states, 0);
        growBlocks(job.ways, 1);
        job.ways[0] = {0, 0, noState};
        job.wayCount = 1;
    }
    bool sliceOver = false;
    for (size_t done = 0; done < slice.states && !r.allGoodsLookedFor; ++done) {
        if (job.nextWay >= job.wayCount) {
            r.allGoodsLookedFor = true;  // every way seen: none takes them all
            break;
        }
        if ((done & 255) == 255 && outOfTime(job, until, sliceOver)) return;
        // Room for another block of ways and of goods sets, before they are needed.
        bool newBlock = job.wayCount + choiceCount > job.ways.blocks.size() * job.ways.blockSize ||
                        job.seenCount + choiceCount > job.seen.blocks.size() * job.seen.blockSize;
        if (newBlock && !roomFor(job, job.ways.blockSize * (sizeof(WayNode) + sizeof(GoodsSeen)))) return;
        uint32_t w = static_cast<uint32_t>(job.nextWay++);
        WayNode node = job.ways[w];
        for (int c = 0; c < choiceCount; ++c) {
            size_t e = size_t(node.state) * choiceCount + c;
            uint32_t target = successorOf(m, e);
            uint8_t taken = goodsOf(m, e);
            uint32_t goods = node.goods | (taken == noGoods ? 0u : 1u << taken);
            if (target == dead) continue;
            if (target == atExit) {
                if (std::popcount(goods) + m.onWayGoods[node.state] >= job.goodsTarget) {
                    r.allGoodsSolution = keysOfWay(job, w, static_cast<uint32_t>(c));
                    r.allGoodsTicks = static_cast<int>(r.allGoodsSolution.size());
                    r.allGoodsLookedFor = true;
                    break;
                }
                continue;
            }
            if (!newGoodsSet(job, target, goods)) continue;
            growBlocks(job.ways, job.wayCount + 1);
            job.ways[job.wayCount++] = {target, goods, w};
        }
    }
    if (!r.allGoodsLookedFor) return;
    // The ways are no longer needed; their memory goes back.
    job.ways = {};
    job.seen = {};
    job.seenFirst = std::vector<uint32_t>();
    job.wayCount = job.nextWay = job.seenCount = 0;
    job.seenFree = 0;
    job.phase = Phase::Windows;
}

// The found way's press at `tick` (from 1) made at tick+shift instead, no
// key in the ticks it skips: is the exit still ahead without a lost life?
// Followed over the explored moves from the state the way is in.
bool pressStillWorks(SearchJob& job, int tick, int shift) {
    int at = tick + shift;
    if (at < 1) return false;
    int restart = shift < 0 ? at - 1 : tick - 1;
    TickKey pressed = job.report.solution[tick - 1];
    int key = static_cast<int>(std::find(std::begin(choices), std::end(choices), pressed) - std::begin(choices));
    uint32_t s = job.exitAlong[restart];
    for (int t = restart + 1; t <= at; ++t) {
        uint32_t next = successorOf(job.moves, size_t(s) * choiceCount + (t == at ? key : 0));
        if (next == atExit) return true;
        if (next == dead) return false;
        s = next;
    }
    return job.success.toExit[s] != unreachable;
}

void runWindows(SearchJob& job, Clock::time_point until) {
    SearchReport& r = job.report;
    if (job.windowPress == 0 && r.windows.empty())
        for (int t = 1; t <= r.ticks; ++t)
            if (r.solution[t - 1] != TickKey::None) r.windows.push_back({t, r.solution[t - 1], 0, 0});
    for (size_t done = 0; job.windowPress < r.windows.size(); ++done) {
        if (done > 0 && Clock::now() > until) return;
        KeyWindow& window = r.windows[job.windowPress++];
        while (window.early < windowReach && pressStillWorks(job, window.tick, -(window.early + 1))) ++window.early;
        while (window.late < windowReach && pressStillWorks(job, window.tick, window.late + 1)) ++window.late;
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
    job.main.keepMoves = true;
    job.withLoss.allowLoss = true;
    room = job.start;
    std::vector<uint64_t> first(job.keyWords, 0);
    job.changed.clear();
    readState(job, first.data(), job.startPlayer, false, first.data(), false);
    job.main.levelStart.push_back(0);
    addState(job, job.main, first.data(), hashKey(first.data(), job.keyWords));
    readState(job, first.data(), job.startPlayer, false, first.data(), true);
    job.withLoss.levelStart.push_back(0);
    addState(job, job.withLoss, first.data(), hashKey(first.data(), job.keyWords));
}

SearchLimits ceiling{0, 0, 0};

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

SearchJobPtr startSearch(const RoomState& loaded, SearchLimits limits) {
    if (limits.maxMemory == 0) limits.maxMemory = searchMemoryShare();
    if (ceiling.maxStates > 0 && (limits.maxStates == 0 || limits.maxStates > ceiling.maxStates))
        limits.maxStates = ceiling.maxStates;
    if (ceiling.maxMemory > 0 && limits.maxMemory > ceiling.maxMemory) limits.maxMemory = ceiling.maxMemory;
    if (ceiling.maxSeconds > 0 && limits.maxSeconds > ceiling.maxSeconds) limits.maxSeconds = ceiling.maxSeconds;
    SearchJobPtr job(new SearchJob);
    job->start = loaded;
    job->limits = limits;
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
        size_t states = job.main.count + job.withLoss.count;
        job.main = StateTable{};
        job.withLoss = StateTable{};
        job.ways = {};
        job.seen = {};
        job.seenFirst = {};
        job.moves = MoveTable{};
        job.success = SuccessWork{};
        job.report.states = states > 0 ? states - 1 : 0;
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
    if (size_t states = job.main.count + job.withLoss.count; states > 0) job.report.states = states - 1;
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

TickOutcome replayKeys(const RoomState& loaded, const std::vector<TickKey>& keys, int* ticksPlayed) {
    Silence saved = enterSilence();
    room = loaded;
    PlayerState p = startRoom();
    TickOutcome outcome = TickOutcome::GoOn;
    int played = 0;
    for (TickKey key : keys) {
        outcome = stepTickWith(p, key);
        ++played;
        if (outcome != TickOutcome::GoOn) break;
    }
    leaveSilence(saved);
    if (ticksPlayed != nullptr) *ticksPlayed = played;
    return outcome;
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
