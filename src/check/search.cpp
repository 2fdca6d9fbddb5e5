// The search: breadth first over ticks, one of five choices a tick (no key,
// Left, Right, Up, Space), each stepped by the game's own tick rules on the
// global room, silently. A state is what can change future play: the player's
// movement fields, lives, goods taken, both enemies, the crumbling slots and
// the few map cells that play can change; the message texts and timers only
// change what the status line shows and are left out.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <unordered_map>

#include "check/check.h"
#include "check/success.h"
#include "console/console.h"
#include "system/sound.h"

namespace {

constexpr TickKey choices[] = {TickKey::None, TickKey::Left, TickKey::Right, TickKey::Up, TickKey::Space};
constexpr int choiceCount = 5;
constexpr uint32_t dead = 0xFFFFFFFF;     // the choice loses a life
constexpr uint32_t atExit = 0xFFFFFFFE;   // the choice reaches the exit
constexpr uint32_t unknown = 0xFFFFFFFD;  // not expanded yet
constexpr size_t headerSize = 20;
static_assert(choiceCount == successor::choiceCount && dead == successor::dead && atExit == successor::atExit);

using Clock = std::chrono::steady_clock;

// Processor time of this thread: the search's limits hold the same on a
// busy machine as on an idle one.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The game's state around a batch of steps: saved, then put back.
struct SavedGame {
    RoomState room;
    GameCounters game;
    bool consoleWasSilent;
};

SavedGame enterSilence() {
    SavedGame saved{room, game, consoleSilent()};
    setConsoleSilent(true);
    setSoundSilent(true);
    return saved;
}

void leaveSilence(const SavedGame& saved) {
    room = saved.room;
    game = saved.game;
    setConsoleSilent(saved.consoleWasSilent);
    setSoundSilent(false);
}

bool isGoodsCode(int code) { return code >= GoodsDiamond && code <= GoodsSpade; }

// The states of play, each expanded once: its successor for each choice.
// Goods off the enemies' ways change nothing in play once taken (an open
// cell either way), so they are left out of these states and tracked as a
// set beside them, in the ways (below).
struct Explorer {
    bool allowLoss = false;
    std::vector<uint8_t> keys;       // every state's key, one after another
    std::vector<uint32_t> keyStart;  // state i: keys[keyStart[i] .. keyStart[i+1])
    std::vector<uint32_t> hashes;
    std::vector<uint16_t> depth;   // ticks from the start when first seen
    std::vector<uint32_t> parent;  // the state it was first seen from
    std::vector<uint8_t> parentChoice;
    std::vector<uint32_t> successors;  // choiceCount per state; unknown until expanded
    std::vector<uint8_t> edgeGoods;    // per successor: the loose goods item taken, or noGoods
    std::vector<uint32_t> table;       // open addressing: state + 1, 0 free
    size_t nextToExpand = 0;           // for a plain breadth-first pass over the states
    bool exhausted = false;
    size_t count() const { return hashes.size(); }
};

// A way through the room: a state with the set of loose goods taken on the
// way there. Breadth first over these gives the shortest ways.
struct WayNode {
    uint32_t state;
    uint32_t goods;
    uint32_t parent;
    uint8_t choice;
};

constexpr uint8_t noGoods = 0xFF;
constexpr int maxLooseGoods = 32;

}  // namespace

struct SearchJob {
    RoomState start;  // the loaded room, as the room loop starts it
    PlayerState startPlayer;
    SearchLimits limits;
    SearchReport report;
    std::vector<int> mutableCells;  // map indices (x-1)*22 + (y-1) that play can change
    int goodsTarget = 0;
    Explorer main, withLoss;
    std::vector<int> goodsCells;        // every goods cell of the map
    std::vector<int> looseIndex;        // per map cell: its bit among the loose goods, or -1
    std::vector<uint8_t> goodsReached;  // per goods cell
    std::vector<WayNode> ways;          // the breadth-first queue of ways
    size_t nextWay = 0;
    std::vector<std::vector<uint32_t>> goodsSeen;  // per state: the goods sets of ways that reached it
    size_t goodsSeenSets = 0;                      // in all of goodsSeen
    // Quick: crumbled floor left out of what makes ways alike.
    bool quick = false;
    bool coarse = false;               // quick, and the enemies left out too
    Explorer alike;                    // quick: the states without their crumbled floor
    std::vector<uint8_t> crumbleCell;  // per mutable cell: crumbling floor
    std::vector<uint32_t> exitAlong;   // the states along the shortest way to the exit
    uint32_t firstExit = dead, firstExitChoice = 0;
    uint32_t firstAllGoods = dead, firstAllGoodsChoice = 0;
    bool edgeReached = false;
    CellXY edgeAt;
    double sliceBegan = 0;
    std::vector<uint8_t> scratchKey;
    bool lossExit = false;  // the exit is reached with lives lost
    // 0 ways, 1 with losses, 6 all states after that, 2 all states, 3 analyse, 4 windows,
    // 7 the difficulty figure, 5 done
    int phase = 0;
    MoveTable moves;
    SuccessWork success;
    std::vector<uint8_t> canFinish;
    size_t windowPress = 0;
    double spent = 0;
    Clock::time_point began;
    bool begun = false;
};

void SearchJobDeleter::operator()(SearchJob* job) const { delete job; }

namespace {

uint32_t hashBytes(const uint8_t* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
    }
    for (; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

uint8_t movementByte(uint8_t direction) {
    bool moves = direction == scan::left || direction == scan::right || direction == key::space;
    return moves ? direction : 0;
}

// The key of the game's current state.
void makeKey(const SearchJob& job, const PlayerState& p, std::vector<uint8_t>& key) {
    key.assign(headerSize, 0);
    uint8_t* h = key.data();
    h[0] = static_cast<uint8_t>(p.playerX);
    h[1] = static_cast<uint8_t>(p.playerY);
    // Up, Down and no key all stand still: one value for them. The saved
    // direction is read only by a jump that a space starts, so it matters
    // only while a space waits.
    h[2] = movementByte(p.direction);
    h[3] = p.direction == key::space ? movementByte(p.savedDirection) : 0;
    h[4] = static_cast<uint8_t>(p.slide);
    h[5] = p.jumping;
    // Out of a jump its counters no longer matter; past the top of the rise
    // a fall is a fall however long it has lasted.
    h[6] = p.jumping ? static_cast<uint8_t>(std::min(p.jumpStep, p.jumpHeight)) : 0;
    h[7] = p.jumping ? static_cast<uint8_t>(p.jumpHeight) : 0;
    h[8] = static_cast<uint8_t>(game.lives);
    h[9] = static_cast<uint8_t>(std::clamp(game.goodsCollected, 0, 255));  // goods on the enemies' ways
    const EnemySlot* enemies[] = {&room.verticalEnemy, &room.horizontalEnemy};
    for (int e = 0; e < 2; ++e) {
        h[10 + e * 3] = enemies[e]->x;
        h[11 + e * 3] = enemies[e]->y;
        h[12 + e * 3] = static_cast<uint8_t>(enemies[e]->step);
    }
    // At the end of a tick at most one slot runs (taken this tick, age 1),
    // and which of the four it is changes nothing: the next one taken is
    // always another.
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) {
            h[16] = 1;
            h[17] = slot.x;
            h[18] = slot.y;
            h[19] = static_cast<uint8_t>(slot.age);
        }
    const CellCode* now = &room.levelMap.cells[0][0];
    const CellCode* base = &job.start.levelMap.cells[0][0];
    for (size_t m = 0; m < job.mutableCells.size(); ++m) {
        int cell = job.mutableCells[m];
        if (now[cell] == base[cell]) continue;
        key.push_back(static_cast<uint8_t>(m & 0xFF));
        key.push_back(static_cast<uint8_t>(m >> 8));
        key.push_back(static_cast<uint8_t>(now[cell]));
    }
}

// Puts the game into state i of the explorer.
void restoreState(const SearchJob& job, const Explorer& ex, uint32_t i, PlayerState& p) {
    const uint8_t* k = ex.keys.data() + ex.keyStart[i];
    size_t size = ex.keyStart[i + 1] - ex.keyStart[i];
    room.levelMap = job.start.levelMap;
    p = job.startPlayer;
    p.playerX = k[0];
    p.playerY = k[1];
    p.direction = k[2];
    p.savedDirection = k[3];
    p.slide = static_cast<int8_t>(k[4]);
    p.jumping = k[5] != 0;
    p.jumpStep = k[6];
    p.jumpHeight = p.jumping ? k[7] : 3;
    p.messageShown = false;
    p.checkpointLabelShown = false;
    game.lives = static_cast<int8_t>(k[8]);
    game.goodsCollected = k[9];
    EnemySlot* enemies[] = {&room.verticalEnemy, &room.horizontalEnemy};
    for (int e = 0; e < 2; ++e) {
        enemies[e]->x = k[10 + e * 3];
        enemies[e]->y = k[11 + e * 3];
        enemies[e]->step = static_cast<int8_t>(k[12 + e * 3]);
    }
    room.crumbleSlots = {};
    if (k[16]) room.crumbleSlots[0] = {true, k[17], k[18], static_cast<int8_t>(k[19])};
    CellCode* cells = &room.levelMap.cells[0][0];
    for (size_t at = headerSize; at + 3 <= size; at += 3) {
        size_t m = k[at] | (static_cast<size_t>(k[at + 1]) << 8);
        cells[job.mutableCells[m]] = static_cast<CellCode>(static_cast<int8_t>(k[at + 2]));
    }
}

void growTable(Explorer& ex) {
    size_t size = ex.table.empty() ? 1u << 10 : ex.table.size() * 2;  // small rooms stay small
    ex.table.assign(size, 0);
    for (uint32_t i = 0; i < ex.count(); ++i) {
        size_t slot = ex.hashes[i] & (size - 1);
        while (ex.table[slot] != 0) slot = (slot + 1) & (size - 1);
        ex.table[slot] = i + 1;
    }
}

// The state with this key; when it is new, added (insert) or dead.
uint32_t findState(Explorer& ex, const std::vector<uint8_t>& key, bool insert, bool& added) {
    added = false;
    uint32_t hash = hashBytes(key.data(), key.size());
    if (insert && (ex.count() + 1) * 2 > ex.table.size()) growTable(ex);
    if (ex.table.empty()) return dead;
    size_t mask = ex.table.size() - 1;
    size_t slot = hash & mask;
    while (ex.table[slot] != 0) {
        uint32_t i = ex.table[slot] - 1;
        size_t size = ex.keyStart[i + 1] - ex.keyStart[i];
        if (ex.hashes[i] == hash && size == key.size() &&
            std::memcmp(ex.keys.data() + ex.keyStart[i], key.data(), size) == 0)
            return i;
        slot = (slot + 1) & mask;
    }
    if (!insert) return dead;
    uint32_t i = static_cast<uint32_t>(ex.count());
    ex.table[slot] = i + 1;
    if (ex.keyStart.empty()) ex.keyStart.push_back(0);
    ex.keys.insert(ex.keys.end(), key.begin(), key.end());
    ex.keyStart.push_back(static_cast<uint32_t>(ex.keys.size()));
    ex.hashes.push_back(hash);
    ex.depth.push_back(0);
    ex.parent.push_back(dead);
    ex.parentChoice.push_back(0);
    ex.successors.insert(ex.successors.end(), choiceCount, unknown);
    ex.edgeGoods.insert(ex.edgeGoods.end(), choiceCount, noGoods);
    added = true;
    return i;
}

uint32_t addState(Explorer& ex, const std::vector<uint8_t>& key, uint32_t from, int choice) {
    bool added = false;
    uint32_t i = findState(ex, key, true, added);
    if (added && from != dead) {
        ex.depth[i] = static_cast<uint16_t>(std::min<int>(ex.depth[from] + 1, 0xFFFF));
        ex.parent[i] = from;
        ex.parentChoice[i] = static_cast<uint8_t>(choice);
    }
    return i;
}

bool onEdge(int x, int y) { return x == 1 || x == mapWidth || y == 1 || y == mapHeight; }

int cellIndex(int x, int y) { return (x - 1) * mapHeight + (y - 1); }

// One tick from the game's current state. A loose goods item taken is put
// back and given as its bit, so the state stays free of it.
TickOutcome stepLoose(SearchJob& job, PlayerState& p, TickKey key, uint8_t& looseTaken) {
    int before = game.goodsCollected;
    TickOutcome outcome = stepTickWith(p, key);
    looseTaken = noGoods;
    if (game.goodsCollected > before && insideMap(p.playerX, p.playerY)) {
        int cell = cellIndex(p.playerX, p.playerY);
        for (size_t g = 0; g < job.goodsCells.size(); ++g)
            if (job.goodsCells[g] == cell) job.goodsReached[g] = 1;
        if (job.looseIndex[cell] >= 0) {
            looseTaken = static_cast<uint8_t>(job.looseIndex[cell]);
            --game.goodsCollected;
            (&room.levelMap.cells[0][0])[cell] = (&job.start.levelMap.cells[0][0])[cell];
        }
    }
    return outcome;
}

// Works out state s's successors, once.
void expand(SearchJob& job, Explorer& ex, uint32_t s) {
    std::vector<uint8_t>& key = job.scratchKey;
    PlayerState p;
    restoreState(job, ex, s, p);
    if (!ex.allowLoss && !job.edgeReached && onEdge(p.playerX, p.playerY)) {
        job.edgeReached = true;
        job.edgeAt = {p.playerX, p.playerY};
    }
    const LevelMap before = room.levelMap;
    const EnemySlot vertical = room.verticalEnemy, horizontal = room.horizontalEnemy;
    const auto slots = room.crumbleSlots;
    const GameCounters counters = game;
    const PlayerState player = p;
    for (int c = 0; c < choiceCount; ++c) {
        if (c > 0) {
            room.levelMap = before;
            room.verticalEnemy = vertical;
            room.horizontalEnemy = horizontal;
            room.crumbleSlots = slots;
            game = counters;
            p = player;
        }
        uint8_t looseTaken;
        TickOutcome outcome = stepLoose(job, p, choices[c], looseTaken);
        uint32_t target;
        if (outcome == TickOutcome::GameOver || (outcome == TickOutcome::LifeLost && !ex.allowLoss)) {
            target = dead;
        } else if (outcome == TickOutcome::ExitReached) {
            target = atExit;
        } else {
            makeKey(job, p, key);
            target = addState(ex, key, s, c);
        }
        ex.successors[size_t(s) * choiceCount + c] = target;
        ex.edgeGoods[size_t(s) * choiceCount + c] = looseTaken;
    }
}

bool expanded(const Explorer& ex, uint32_t s) { return ex.successors[size_t(s) * choiceCount] != unknown; }

int onWayGoods(const Explorer& ex, uint32_t s) { return ex.keys[ex.keyStart[s] + 9]; }

std::vector<TickKey> keysOfWay(const SearchJob& job, uint32_t node, uint32_t lastChoice) {
    std::vector<TickKey> way{choices[lastChoice]};
    for (uint32_t i = node; job.ways[i].parent != dead; i = job.ways[i].parent)
        way.push_back(choices[job.ways[i].choice]);
    std::reverse(way.begin(), way.end());
    return way;
}

template <typename T>
size_t bytesOf(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

size_t bytesOf(const Explorer& ex) {
    return bytesOf(ex.keys) + bytesOf(ex.keyStart) + bytesOf(ex.hashes) + bytesOf(ex.depth) + bytesOf(ex.parent) +
           bytesOf(ex.parentChoice) + bytesOf(ex.successors) + bytesOf(ex.edgeGoods) + bytesOf(ex.table);
}

// The search's tables as they stand. The goods sets of a state are a small
// block of their own: counted with room to grow and the allocator's overhead.
size_t memoryUsed(const SearchJob& job) {
    return bytesOf(job.main) + bytesOf(job.withLoss) + bytesOf(job.alike) + bytesOf(job.ways) + bytesOf(job.goodsSeen) +
           job.goodsSeen.size() * 32 + job.goodsSeenSets * 2 * sizeof(uint32_t) + bytesOf(job.exitAlong);
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

bool overLimits(SearchJob& job, size_t states, int depth) {
    // The next growth of a table doubles it: stop while that still fits.
    if (size_t used = memoryUsed(job); used + used / 2 > job.limits.maxMemory) {
        job.report.gaveUpReason = "more than " + mebibytes(job.limits.maxMemory) + " of memory";
        return true;
    }
    if (states >= job.limits.maxStates) {
        job.report.gaveUpReason = "more than " + std::to_string(job.limits.maxStates) + " states";
        return true;
    }
    if (depth >= job.limits.maxTicks) {
        job.report.gaveUpReason = "ways longer than " + std::to_string(job.limits.maxTicks) + " ticks";
        return true;
    }
    return false;
}

// A state's key without its crumbled floor, as a state of `alike`.
uint32_t alikeState(SearchJob& job, uint32_t s) {
    const Explorer& ex = job.main;
    std::vector<uint8_t>& key = job.scratchKey;
    const uint8_t* k = ex.keys.data() + ex.keyStart[s];
    size_t size = ex.keyStart[s + 1] - ex.keyStart[s];
    key.assign(k, k + headerSize);
    if (job.coarse) {
        // Coarse: the player alone, wherever the enemies are.
        key.resize(10);
        size = 0;
    }
    for (size_t at = headerSize; at + 3 <= size; at += 3) {
        size_t m = k[at] | (static_cast<size_t>(k[at + 1]) << 8);
        if (job.crumbleCell[m] && static_cast<int8_t>(k[at + 2]) == Crumbled) continue;
        key.insert(key.end(), k + at, k + at + 3);
    }
    bool added;
    return findState(job.alike, key, true, added);
}

std::vector<uint32_t> statesAlong(const SearchJob& job, uint32_t node);

// The ways found so far, into the report, before the ways are dropped.
void recordWays(SearchJob& job) {
    SearchReport& r = job.report;
    if (job.firstExit != dead && r.ticks < 0) {
        r.solution = keysOfWay(job, job.firstExit, job.firstExitChoice);
        r.ticks = static_cast<int>(r.solution.size());
        r.shortest = !job.quick;
        r.verdict = Verdict::Finishable;  // known already; the rest adds detail
        job.exitAlong = statesAlong(job, job.firstExit);
    }
    if (job.firstAllGoods != dead && r.allGoodsTicks < 0) {
        r.allGoodsSolution = keysOfWay(job, job.firstAllGoods, job.firstAllGoodsChoice);
        r.allGoodsTicks = static_cast<int>(r.allGoodsSolution.size());
        r.allGoodsShortest = !job.quick;
    }
}

// The exact search has run out of room: start the ways again, quick; and
// when that runs out too, coarse.
void startQuickWays(SearchJob& job) {
    recordWays(job);
    if (job.quick) {
        job.coarse = true;
        job.alike = Explorer{};
    }
    job.quick = true;
    job.ways.assign(1, {0, 0, dead, 0});
    job.nextWay = 0;
    job.goodsSeen.clear();
    job.goodsSeenSets = 0;
    job.firstAllGoods = dead;
}

// The ways, breadth first, until the shortest way with every goods item is
// known. A way that reaches a state with no more goods than an earlier way
// that reached it is dropped: whatever follows, the earlier one does too.
// True when over.
bool searchWays(SearchJob& job, size_t budget, Clock::time_point until) {
    Explorer& ex = job.main;
    for (size_t done = 0; done < budget; ++done) {
        if (job.nextWay >= job.ways.size()) return true;
        if ((done & 255) == 255 && Clock::now() > until) return false;
        uint32_t w = static_cast<uint32_t>(job.nextWay++);
        WayNode node = job.ways[w];
        bool exactFull = ex.count() >= job.limits.exactStates || job.ways.size() >= job.limits.exactWays;
        if ((!job.quick && exactFull) || (job.quick && !job.coarse && ex.count() >= 2 * job.limits.exactStates)) {
            startQuickWays(job);
            continue;
        }
        if (overLimits(job, ex.count() + job.ways.size() / 4, ex.depth[node.state])) return true;
        if (!expanded(ex, node.state)) expand(job, ex, node.state);
        for (int c = 0; c < choiceCount; ++c) {
            uint32_t target = ex.successors[size_t(node.state) * choiceCount + c];
            uint8_t taken = ex.edgeGoods[size_t(node.state) * choiceCount + c];
            uint32_t goods = node.goods | (taken == noGoods ? 0u : 1u << taken);
            if (target == dead) continue;
            if (target == atExit) {
                if (job.firstExit == dead) {
                    job.firstExit = w;
                    job.firstExitChoice = static_cast<uint32_t>(c);
                }
                if (std::popcount(goods) + onWayGoods(ex, node.state) >= job.goodsTarget) {
                    job.firstAllGoods = w;
                    job.firstAllGoodsChoice = static_cast<uint32_t>(c);
                    return true;
                }
                continue;
            }
            uint32_t visit = job.quick ? alikeState(job, target) : target;
            if (job.goodsSeen.size() <= visit) job.goodsSeen.resize(std::max<size_t>(visit + 1, ex.count()));
            std::vector<uint32_t>& seen = job.goodsSeen[visit];
            // Quick too keeps every way whose goods no earlier way to the
            // state holds: keeping only the one with the most goods dropped
            // the way with the other item, and with it the all-goods way.
            bool covered = false;
            for (uint32_t earlier : seen)
                if ((earlier | goods) == earlier) covered = true;
            if (covered) continue;
            job.goodsSeenSets -= std::erase_if(seen, [goods](uint32_t earlier) { return (earlier | goods) == goods; });
            seen.push_back(goods);
            ++job.goodsSeenSets;
            job.ways.push_back({target, goods, w, static_cast<uint8_t>(c)});
        }
    }
    return false;
}

// Quick, when the ways found no way with every goods item: the goods one
// after another, the nearest first, then the exit. Taking an item can leave
// the player where nothing more is possible (in mid-air over lava), so each
// leg offers a few ways to its item and the next leg tries them in turn. A
// real way when it works, though rarely the shortest.
bool goodsInTurn(SearchJob& job, uint32_t from, uint32_t taken, std::vector<TickKey>& keys, int& legsLeft) {
    Explorer& ex = job.main;
    constexpr size_t legStates = 200'000;
    constexpr size_t offers = 6;
    if (--legsLeft < 0) return false;
    bool wantExit = std::popcount(taken) + onWayGoods(ex, from) >= job.goodsTarget;
    std::unordered_map<uint32_t, std::pair<uint32_t, uint8_t>> seen{{from, {dead, 0}}};
    std::vector<uint32_t> queue{from};
    struct Offer {
        uint32_t state, taken;
        std::vector<TickKey> leg;
    };
    std::vector<Offer> found;
    for (size_t q = 0; q < queue.size() && found.size() < offers; ++q) {
        if (queue.size() > legStates || ex.count() >= job.limits.maxStates || memoryUsed(job) > job.limits.maxMemory ||
            job.spent + threadSeconds() - job.sliceBegan > job.limits.maxSeconds)
            break;
        uint32_t s = queue[q];
        if (!expanded(ex, s)) expand(job, ex, s);
        for (int c = 0; c < choiceCount && found.size() < offers; ++c) {
            uint32_t t = ex.successors[size_t(s) * choiceCount + c];
            uint8_t g = ex.edgeGoods[size_t(s) * choiceCount + c];
            if (t == dead) continue;
            bool newGoods =
                t != atExit && ((g != noGoods && !(taken & (1u << g))) || onWayGoods(ex, t) > onWayGoods(ex, s));
            if ((wantExit && t == atExit) || (!wantExit && newGoods)) {
                std::vector<TickKey> leg{choices[c]};
                for (uint32_t i = s; seen.at(i).first != dead; i = seen.at(i).first)
                    leg.push_back(choices[seen.at(i).second]);
                std::reverse(leg.begin(), leg.end());
                found.push_back({t, taken | (g != noGoods ? 1u << g : 0u), std::move(leg)});
                if (wantExit) break;
            } else if (t != atExit && seen.emplace(t, std::make_pair(s, static_cast<uint8_t>(c))).second) {
                queue.push_back(t);
            }
        }
        if (wantExit && !found.empty()) break;
    }
    for (const Offer& offer : found) {
        size_t before = keys.size();
        keys.insert(keys.end(), offer.leg.begin(), offer.leg.end());
        if (wantExit || goodsInTurn(job, offer.state, offer.taken, keys, legsLeft)) return true;
        keys.resize(before);
    }
    return false;
}

// Every state not yet expanded, breadth first; true when over.
bool expandAll(SearchJob& job, Explorer& ex, size_t budget, Clock::time_point until) {
    for (size_t done = 0; done < budget; ++done) {
        while (ex.nextToExpand < ex.count() && expanded(ex, static_cast<uint32_t>(ex.nextToExpand))) ++ex.nextToExpand;
        if (ex.nextToExpand >= ex.count()) {
            ex.exhausted = true;
            return true;
        }
        if ((done & 255) == 255 && Clock::now() > until) return false;
        uint32_t s = static_cast<uint32_t>(ex.nextToExpand);
        if (!ex.allowLoss && ex.count() >= job.limits.exploreStates) return true;
        if (overLimits(job, ex.count(), ex.depth[s])) return true;
        expand(job, ex, s);
        if (ex.allowLoss)
            for (int c = 0; c < choiceCount; ++c)
                if (ex.successors[size_t(s) * choiceCount + c] == atExit) return true;
    }
    return false;
}

void addMutable(SearchJob& job, int x, int y) {
    if (!insideMap(x, y)) return;
    int cell = cellIndex(x, y);
    if (std::find(job.mutableCells.begin(), job.mutableCells.end(), cell) == job.mutableCells.end())
        job.mutableCells.push_back(cell);
}

void prepare(SearchJob& job) {
    room = job.start;
    game.levelNumber = 1;
    job.startPlayer = startRoom();  // silent: counters, enemy steps, slots freed
    job.start = room;
    const EnemySlot& vertical = room.verticalEnemy;
    const EnemySlot& horizontal = room.horizontalEnemy;
    auto onEnemyWay = [&](int x, int y) {
        return (vertical.active && x == vertical.x) || (horizontal.active && y == horizontal.y);
    };
    job.looseIndex.assign(mapWidth * mapHeight, -1);
    int loose = 0;
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) {
            CellCode code = cellAt(x, y);
            if (isGoodsCode(code)) {
                job.goodsCells.push_back(cellIndex(x, y));
                if (!onEnemyWay(x, y) && loose < maxLooseGoods)
                    job.looseIndex[cellIndex(x, y)] = loose++;
                else
                    addMutable(job, x, y);
            }
            if (code == Crumbling || code == Crumbled) addMutable(job, x, y);
        }
    if (vertical.active)
        for (int y = 1; y <= mapHeight; ++y) addMutable(job, vertical.x, y);
    if (horizontal.active)
        for (int x = 1; x <= mapWidth; ++x) addMutable(job, x, horizontal.y);
    std::sort(job.mutableCells.begin(), job.mutableCells.end());
    for (int cell : job.mutableCells) {
        CellCode code = (&room.levelMap.cells[0][0])[cell];
        job.crumbleCell.push_back(code == Crumbling || code == Crumbled);
    }
    job.goodsTarget = static_cast<int>(job.goodsCells.size());
    job.goodsReached.assign(job.goodsCells.size(), 0);
    job.report.goodsOnMap = job.goodsTarget;
    job.withLoss.allowLoss = true;
    for (Explorer* ex : {&job.main, &job.withLoss}) {
        ex->successors.reserve(1 << 16);
        makeKey(job, job.startPlayer, job.scratchKey);
        addState(*ex, job.scratchKey, dead, 0);
    }
    job.ways.push_back({0, 0, dead, 0});
}

// Which states lead to the exit without a lost life, and which to neither
// the exit nor a lost life: backwards over the explored moves.
void analyse(SearchJob& job) {
    Explorer& ex = job.main;
    size_t n = ex.count();
    std::vector<uint32_t> firstIn(n + 1, 0), from;
    for (size_t s = 0; s < n; ++s)
        for (int c = 0; c < choiceCount; ++c) {
            uint32_t t = ex.successors[s * choiceCount + c];
            if (t < n) ++firstIn[t + 1];
        }
    for (size_t i = 0; i < n; ++i) firstIn[i + 1] += firstIn[i];
    from.resize(firstIn[n]);
    std::vector<uint32_t> fill(firstIn.begin(), firstIn.end() - 1);
    for (size_t s = 0; s < n; ++s)
        for (int c = 0; c < choiceCount; ++c) {
            uint32_t t = ex.successors[s * choiceCount + c];
            if (t < n) from[fill[t]++] = static_cast<uint32_t>(s);
        }
    auto spread = [&](std::vector<uint8_t>& mark, bool deathCounts) {
        mark.assign(n, 0);
        std::vector<uint32_t> queue;
        for (size_t s = 0; s < n; ++s)
            for (int c = 0; c < choiceCount; ++c) {
                uint32_t t = ex.successors[s * choiceCount + c];
                if (t == atExit || (deathCounts && t == dead)) {
                    mark[s] = 1;
                    queue.push_back(static_cast<uint32_t>(s));
                    break;
                }
            }
        for (size_t q = 0; q < queue.size(); ++q)
            for (uint32_t i = firstIn[queue[q]]; i < firstIn[queue[q] + 1]; ++i)
                if (!mark[from[i]]) {
                    mark[from[i]] = 1;
                    queue.push_back(from[i]);
                }
    };
    spread(job.canFinish, false);
    if (!ex.exhausted) return;  // the rest needs every state
    std::vector<uint8_t> canLeave;
    spread(canLeave, true);
    for (size_t s = 0; s < n; ++s)
        if (!canLeave[s]) {
            PlayerState p;
            restoreState(job, ex, static_cast<uint32_t>(s), p);
            job.report.stuck = true;
            job.report.stuckAt = {p.playerX, p.playerY};
            job.report.stuckTick = ex.depth[s];
            break;
        }
    for (size_t g = 0; g < job.goodsCells.size(); ++g)
        if (!job.goodsReached[g])
            job.report.unreachableGoods.push_back(
                {job.goodsCells[g] / mapHeight + 1, job.goodsCells[g] % mapHeight + 1});
}

// Whether the game's current state still has the exit ahead without a lost life.
bool stillFinishable(SearchJob& job, const PlayerState& p) {
    makeKey(job, p, job.scratchKey);
    bool added = false;
    uint32_t s = findState(job.main, job.scratchKey, false, added);
    return s != dead && job.canFinish[s];
}

// The states along a way: along[t] is the state after t ticks.
std::vector<uint32_t> statesAlong(const SearchJob& job, uint32_t node) {
    std::vector<uint32_t> along;
    for (uint32_t i = node; i != dead; i = job.ways[i].parent) along.push_back(job.ways[i].state);
    std::reverse(along.begin(), along.end());
    return along;
}

// From the game's current state after the press at `at`, the rest of the
// found way's presses, each `shift` ticks off: does it reach the exit?
bool restOfWayWorks(SearchJob& job, PlayerState p, int tick, int at, int shift) {
    const std::vector<TickKey>& way = job.report.solution;
    int end = static_cast<int>(way.size()) + std::max(shift, 0) + 2 * windowReach;
    for (int t = at + 1; t <= end; ++t) {
        int planned = t - shift;
        TickKey key = planned > tick && planned <= static_cast<int>(way.size()) ? way[planned - 1] : TickKey::None;
        uint8_t taken;
        TickOutcome outcome = stepLoose(job, p, key, taken);
        if (outcome == TickOutcome::ExitReached) return true;
        if (outcome != TickOutcome::GoOn) return false;
    }
    return false;
}

// Presses the key of the found way's press at `tick` (from 1) at tick+shift
// instead, no key in the ticks it skips, and asks whether the exit is still
// ahead without a lost life.
bool pressStillWorks(SearchJob& job, const std::vector<uint32_t>& along, int tick, int shift) {
    int at = tick + shift;
    if (at < 1) return false;
    TickKey key = job.report.solution[tick - 1];
    int restart = shift < 0 ? at - 1 : tick - 1;
    PlayerState p;
    restoreState(job, job.main, along[restart], p);
    for (int t = restart + 1; t <= at; ++t) {
        uint8_t taken;
        TickOutcome outcome = stepLoose(job, p, t == at ? key : TickKey::None, taken);
        if (outcome == TickOutcome::ExitReached) return true;
        if (outcome != TickOutcome::GoOn) return false;
    }
    if (stillFinishable(job, p)) return true;
    if (job.main.exhausted) return false;
    // Not every state is known: the rest of the way, late or on time.
    const LevelMap map = room.levelMap;
    const EnemySlot vertical = room.verticalEnemy, horizontal = room.horizontalEnemy;
    const auto slots = room.crumbleSlots;
    const GameCounters counters = game;
    for (int restShift : {shift, 0}) {
        room.levelMap = map;
        room.verticalEnemy = vertical;
        room.horizontalEnemy = horizontal;
        room.crumbleSlots = slots;
        game = counters;
        if (restOfWayWorks(job, p, tick, at, restShift)) return true;
    }
    return false;
}

void measureWindow(SearchJob& job, const std::vector<uint32_t>& along, KeyWindow& window) {
    while (window.early < windowReach && pressStillWorks(job, along, window.tick, -(window.early + 1))) ++window.early;
    while (window.late < windowReach && pressStillWorks(job, along, window.tick, window.late + 1)) ++window.late;
}

void finish(SearchJob& job, Verdict verdict) {
    job.report.verdict = verdict;
    job.report.done = true;
    job.phase = 5;
}

void runPhases(SearchJob& job, SearchSlice slice, Clock::time_point until) {
    SearchReport& r = job.report;
    if (job.phase == 0) {
        bool over = searchWays(job, slice.states, until);
        recordWays(job);
        if (!over) return;
        // The ways are no longer needed; their memory goes back.
        job.ways.shrink_to_fit();
        job.goodsSeen = {};
        job.goodsSeenSets = 0;
        if (job.quick && r.ticks >= 0 && r.allGoodsTicks < 0 && r.goodsOnMap > 0) {
            std::vector<TickKey> keys;
            int legsLeft = 60;
            if (goodsInTurn(job, 0, 0, keys, legsLeft)) {
                r.allGoodsSolution = keys;
                r.allGoodsTicks = static_cast<int>(keys.size());
            }
        }
        bool crumbling = std::find(job.crumbleCell.begin(), job.crumbleCell.end(), 1) != job.crumbleCell.end();
        // Without crumbling floor the quick ways miss no state: no way there means no way.
        if (r.ticks < 0 && ((job.quick && (crumbling || job.coarse)) || !r.gaveUpReason.empty())) {
            // A quick search that finds nothing proves nothing.
            if (r.gaveUpReason.empty()) r.gaveUpReason = "no way found by the quick search";
            finish(job, Verdict::GaveUp);
        } else if (r.ticks < 0) {
            job.phase = 1;
        } else {
            // Quick ways too are followed by every state, as far as the limits
            // allow: stuck places, windows and the difficulty figure need them.
            job.phase = !r.gaveUpReason.empty() ? 3 : 2;
        }
        return;
    }
    if (job.phase == 1) {
        if (r.gaveUpReason.empty() && !expandAll(job, job.withLoss, slice.states, until)) return;
        for (uint32_t t : job.withLoss.successors) job.lossExit = job.lossExit || t == atExit;
        job.phase = 6;
        return;
    }
    if (job.phase == 6) {
        // Whether the exit is out of reach for good needs every state seen.
        if (r.gaveUpReason.empty() && !expandAll(job, job.main, slice.states, until)) return;
        analyse(job);
        r.explored = job.main.exhausted;
        if (job.lossExit)
            finish(job, Verdict::ExitOnlyByLosingLife);
        else if (job.withLoss.exhausted && r.gaveUpReason.empty())
            finish(job, Verdict::ExitNotReachable);
        else
            finish(job, Verdict::GaveUp);
        return;
    }
    if (job.phase == 2) {
        if (!expandAll(job, job.main, slice.states, until)) return;
        job.phase = 3;
        return;
    }
    if (job.phase == 3) {
        analyse(job);
        r.explored = job.main.exhausted;
        for (int t = 1; t <= r.ticks; ++t)
            if (r.solution[t - 1] != TickKey::None) r.windows.push_back({t, r.solution[t - 1], 0, 0});
        job.phase = 4;
        return;
    }
    if (job.phase == 4) {
        const std::vector<uint32_t>& along = job.exitAlong;
        for (size_t done = 0; job.windowPress < r.windows.size(); ++done) {
            if (done > 0 && Clock::now() > until) return;
            measureWindow(job, along, r.windows[job.windowPress++]);
        }
        r.narrowestWindow = 2 * windowReach + 1;
        for (const KeyWindow& w : r.windows) r.narrowestWindow = std::min(r.narrowestWindow, w.width());
        // The figure needs every state: its players may stray anywhere. Its
        // tables (moves backwards, a distance per state and goods set) must
        // fit beside the search's own, or it is not measured.
        const Explorer& ex = job.main;
        int loose = 0;
        for (int index : job.looseIndex) loose += index >= 0;
        size_t layers = size_t(1) << std::min(loose, 4);
        size_t figureBytes = ex.count() * (sizeof(uint32_t) * (choiceCount + 3 + layers) + 1);
        if (!r.explored || memoryUsed(job) + figureBytes > job.limits.maxMemory) {
            finish(job, Verdict::Finishable);
            return;
        }
        MoveTable& m = job.moves;
        m.states = ex.count();
        m.successors = ex.successors.data();
        m.edgeGoods = ex.edgeGoods.data();
        m.onWayGoods.resize(m.states);
        for (size_t s = 0; s < m.states; ++s) m.onWayGoods[s] = static_cast<uint8_t>(onWayGoods(ex, uint32_t(s)));
        m.goodsTarget = job.goodsTarget;
        m.looseGoods = loose;
        job.phase = 7;
        return;
    }
    if (job.phase == 7) {
        try {
            if (!advanceSuccess(job.success, job.moves, until)) return;
        } catch (const std::bad_alloc&) {
            // Short of memory for the figure alone: the rest of the report stands.
            job.success = SuccessWork{};
            job.moves = MoveTable{};
            finish(job, Verdict::Finishable);
            return;
        }
        r.success = job.success.figure;
        // Every state seen: the figure's distances prove a quick way shortest when it is.
        if (r.ticks >= 0 && uint32_t(r.ticks) == job.success.shortest) r.shortest = true;
        if (r.allGoodsTicks >= 0 && uint32_t(r.allGoodsTicks) == job.success.allGoodsShortest)
            r.allGoodsShortest = true;
        job.moves = MoveTable{};
        finish(job, Verdict::Finishable);
    }
}

}  // namespace

size_t searchMemoryShare() {
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    size_t most = pages > 0 && pageSize > 0 ? size_t(pages) * size_t(pageSize) : size_t(1) << 32;
    rlimit space{};
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY && space.rlim_cur < most)
        most = space.rlim_cur;
    // In a container the control group's limit is what counts: past it the
    // program is killed, with no failed allocation to give up on.
    static const size_t groupLimit = [] {
        size_t lowest = SIZE_MAX;
        for (const char* name : {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"})
            if (FILE* file = std::fopen(name, "re")) {
                unsigned long long limit = 0;
                if (std::fscanf(file, "%llu", &limit) == 1 && limit > 0 && limit < lowest) lowest = size_t(limit);
                std::fclose(file);
            }
        return lowest;
    }();
    most = std::min(most, groupLimit);
    return most / 4;
}

namespace {
SearchLimits ceiling{0, 0, 0, 0, 0, 0, 0};
}  // namespace

void setSearchCeiling(const SearchLimits& limits) { ceiling = limits; }

SearchJobPtr startSearch(const RoomState& loaded, SearchLimits limits) {
    if (limits.maxMemory == 0) limits.maxMemory = searchMemoryShare();
    auto cap = [](auto& value, auto most) {
        if (most > 0 && value > most) value = most;
    };
    cap(limits.exactStates, ceiling.exactStates);
    cap(limits.exactWays, ceiling.exactWays);
    cap(limits.exploreStates, ceiling.exploreStates);
    cap(limits.maxStates, ceiling.maxStates);
    cap(limits.maxMemory, ceiling.maxMemory);
    cap(limits.maxSeconds, ceiling.maxSeconds);
    cap(limits.maxTicks, ceiling.maxTicks);
    SearchJobPtr job(new SearchJob);
    job->start = loaded;
    job->limits = limits;
    return job;
}

namespace {

// Out of memory anyway (the estimate missed, or the machine was short): the
// tables go back and the search ends as if a limit ran out.
void giveUpOnMemory(SearchJob& job) {
    if (job.main.count() + job.withLoss.count() > 0) job.report.states = job.main.count() + job.withLoss.count() - 1;
    job.main = Explorer{};
    job.withLoss = Explorer{};
    job.alike = Explorer{};
    job.ways = {};
    job.goodsSeen = {};
    job.exitAlong = {};
    job.canFinish = {};
    job.scratchKey = {};
    job.moves = MoveTable{};
    job.success = SuccessWork{};
    SearchReport& r = job.report;
    r.gaveUpReason = "the memory ran out";
    r.explored = false;
    r.stuck = false;
    r.unreachableGoods.clear();
    if (job.phase == 4) r.windows.clear();
    r.verdict = r.ticks >= 0 ? Verdict::Finishable : Verdict::GaveUp;
    r.done = true;
    job.phase = 5;
}

}  // namespace

bool advanceSearch(SearchJob& job, SearchSlice slice) {
    if (job.report.done) return true;
    Clock::time_point sliceStart = Clock::now();
    job.sliceBegan = threadSeconds();
    // A slice ends by the time limit too: processor time never runs ahead of the clock.
    double milliseconds = std::min(slice.milliseconds, (job.limits.maxSeconds - job.spent) * 1000);
    Clock::time_point until =
        sliceStart + std::chrono::microseconds(static_cast<long>(std::max(milliseconds, 0.0) * 1000));
    SavedGame saved = enterSilence();
    try {
        if (!job.begun) {
            job.begun = true;
            job.began = Clock::now();
            prepare(job);
        }
        // Each slice steps the job's own room: the caller's may be anything by now.
        room = job.start;
        int phaseBefore = -1;
        // A slice may run several short phases, but never past its time.
        while (!job.report.done && job.phase != phaseBefore && Clock::now() <= until) {
            phaseBefore = job.phase;
            runPhases(job, slice, until);
        }
    } catch (const std::bad_alloc&) {
        giveUpOnMemory(job);
    } catch (...) {
        leaveSilence(saved);
        throw;
    }
    leaveSilence(saved);
    job.spent += threadSeconds() - job.sliceBegan;
    job.report.seconds = job.spent;
    job.report.edgeReached = job.edgeReached;
    job.report.edgeAt = job.edgeAt;
    if (job.main.count() + job.withLoss.count() > 0) job.report.states = job.main.count() + job.withLoss.count() - 1;
    if (!job.report.done && job.spent >= job.limits.maxSeconds) {
        job.report.gaveUpReason = "more than " + figure(job.limits.maxSeconds) + " s of processor time";
        job.report.verdict = job.report.ticks >= 0 ? Verdict::Finishable : Verdict::GaveUp;
        job.report.done = true;
    }
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
    SavedGame saved = enterSilence();
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
