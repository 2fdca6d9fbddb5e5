// The checker's inside, shared by its files (check/*.cpp) and nothing else.
// A search is one job: the room's model (which cells play can change, and
// which of them can still matter from where the player is), the states it
// packs into a few words, and the tables it proves a verdict by.
//
// How a verdict is proven, and where:
//   model.cpp      the room's model: the cells play can change, what can still matter from where
//   states.cpp     a state in a few words, into the world and back, one tick of the game's rules
//   table.cpp      the table that numbers states by their keys
//   exact.cpp      every reachable state, breadth first: a room that fits is decided by it whole
//   goodsways.cpp  the shortest way with every goods item, over the exact search's moves
//   success.cpp    the difficulty figure over the exact search's moves
//   noisy.h        the simulated players of the figure, and the key windows, over any table of moves
//
// A room past the exact search's share (search.cpp's phases, large.cpp):
//   bestcase.cpp   the room with every changeable cell as the player would wish: what can never
//                  happen (the exit, a goods item, a cell out of reach), how far anything is at least
//   witness.cpp    ways the game's tick plays, found best first: to the exit, with every goods
//                  item, to a goods item or a place; a way found is a shortest one
//   worstcase.cpp  the room with every changeable cell as an adversary would wish: wherever the
//                  player can still force the exit or a lost life, no place is stuck
//   region.cpp     the exact search again, only from where the worst case could not prove it
//   estimate.cpp   key windows and the figure on a table of moves filled in as the players go
//   large.cpp      these phases, each question of the verdict on its own
//   search.cpp     the phases in order, limits, slices, and the report
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "check/check.h"
#include "check/success.h"

using Clock = std::chrono::steady_clock;

constexpr TickKey choices[] = {TickKey::None, TickKey::Left, TickKey::Right, TickKey::Up, TickKey::Space};
constexpr uint32_t unknown = 0xFFFFFFFD;  // not expanded yet
constexpr int mapCells = mapWidth * mapHeight;
constexpr int maxLooseGoods = 32;
constexpr int riseLevels = 9;  // rows a jump may still rise: 0 to 8
constexpr uint32_t noState = 0xFFFFFFFF;

inline bool isGoodsCode(int code) { return code >= GoodsDiamond && code <= GoodsSpade; }
inline int cellIndex(int x, int y) { return (x - 1) * mapHeight + (y - 1); }
inline CellXY cellXY(int cell) { return {cell / mapHeight + 1, cell % mapHeight + 1}; }
inline bool onEdge(int x, int y) { return x == 1 || x == mapWidth || y == 1 || y == mapHeight; }
// The player's position and what is left of its rise, as a node of the room's model.
inline int nodeOf(int x, int y, int rise) { return cellIndex(x, y) * riseLevels + rise; }
constexpr uint8_t notReached = 0xFF;  // in nodeEnemies: a node the relaxed walk never reaches

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
constexpr uint64_t playerBits = (uint64_t(1) << lives) - 1;           // all of the player that moves it
constexpr uint64_t verticalBits = uint64_t(0x7FFF) << vertical;       // 15 bits
constexpr uint64_t horizontalBits = uint64_t(0x1FFFF) << horizontal;  // 17 bits
}  // namespace word

inline uint64_t field(uint64_t w, int at, int bits) { return (w >> at) & ((uint64_t(1) << bits) - 1); }
inline int wordX(uint64_t w) { return static_cast<int>(field(w, word::x, 7)); }
inline int wordY(uint64_t w) { return static_cast<int>(field(w, word::y, 5)); }
inline int wordCell(uint64_t w) { return cellIndex(wordX(w), wordY(w)); }

inline void setBit(uint64_t* words, int bit) { words[bit >> 6] |= uint64_t(1) << (bit & 63); }
inline bool testBit(const uint64_t* words, int bit) { return (words[bit >> 6] >> (bit & 63)) & 1; }
inline void clearBit(uint64_t* words, int bit) { words[bit >> 6] &= ~(uint64_t(1) << (bit & 63)); }

// A cell as the relaxed walk sees it (states.cpp): every code it may ever hold.
struct CellClass {
    bool mayPass = false;        // some code it may hold is not solid
    bool mayJumpGround = false;  // Wall, Crumbling or Ice
    bool maySpring = false;
};

// A map cell that play can change, and its bits in a state.
struct MutableCell {
    int cell = 0;
    CellCode initial = Empty;
    int crumbledBit = -1;  // crumbling floor: gone
    int emptyBit = -1;     // an enemy passed over it, and left it empty
    int takenBit = -1;     // a goods item on an enemy's way, taken by the player
};

// Memory of the search's largest tables. The hash table and the keys are
// read at random, a few times for every state: on large pages (where the
// system gives them) far fewer of those reads wait for the page tables.
struct FreeMemory {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Memory = std::unique_ptr<T[], FreeMemory>;

constexpr int keyBlockBits = 17;      // states per block of keys: 131072
constexpr uint32_t firstKeys = 1024;  // the first block starts this small and grows

// States by their keys (keyWords words each), numbered as they are added.
struct StateTable {
    int keyWords = 1;
    bool allowLoss = false;
    bool keepMoves = false;              // the moves of each state kept (the exact search's main table)
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

// The best case (bestcase.cpp): the player's positions and motions as
// nodes, each with the nodes every choice may lead to.
struct BestCase {
    std::vector<uint32_t> word;   // per node: the player's part of a state's first word
    std::vector<uint64_t> slots;  // open addressing: word << 32 | node + 1
    uint32_t start = 0;
    // Per node and choice (n * choiceCount + c): the nodes it may lead to are
    // to[first[i] .. first[i + 1]), the lostLife bit on those through a lost
    // life (the start again); ends[i] bit 0: it may reach the exit, bit 1 lose a life.
    std::vector<uint32_t> first, to;
    std::vector<uint8_t> ends;
    std::vector<uint32_t> backFirst, back;  // the moves backwards
    std::vector<uint8_t> reached;           // per node: reached from the start without a lost life
    std::vector<uint32_t> toExit, toExitWithLoss;
};

// A table of moves filled in as the simulated players go (estimate.cpp):
// each state's successors stepped when first asked, its ticks to the exit
// hunted for when first asked. State 0 is the start.
struct LazyMoves {
    StateTable table;                 // the states met, exact keys
    BlockArray<uint32_t> successors;  // choiceCount per state: a state, dead, atExit, or unknown
    BlockArray<uint8_t> taken;        // choiceCount per state: the loose goods item the move takes
    BlockArray<uint16_t> cells, onWay;
    BlockArray<uint32_t> toExit;           // per state: ticks to the exit, unknown until asked
    std::vector<uint64_t> withGoodsKeys;   // (state << 32 | loose goods taken), sorted as added below
    std::vector<uint32_t> withGoodsTicks;  // open addressing beside withGoodsKeys
    size_t withGoodsCount = 0;
    int goodsTarget = 0;
    bool rough = false;  // a distance that is a way's length, not proven shortest
    bool spent = false;  // the estimate's share is used up
    std::vector<uint8_t> within;
};

// A hunt for a way (witness.cpp): best first over states, the ticks so far
// plus the best case's ticks still to go, so the first way found is a
// shortest one, and only states that might lie on one are looked at.
enum class WayGoal : uint8_t { Exit, AllGoods, Cells, Goods };
enum class HuntResult : uint8_t { Running, Found, None, OverBudget };
struct WayHunt {
    WayGoal goal = WayGoal::Exit;
    bool allowLoss = false;
    std::vector<uint8_t> cells;  // Cells: per map cell, arriving there is the goal
    size_t goodsItem = 0;        // Goods: taking this item (an index of the job's goodsCells) is the goal
    const std::vector<uint32_t>* aim = nullptr;  // per best-case node: ticks to the goal at least
    StateTable table;
    BlockArray<uint32_t> parent, ticks;
    BlockArray<uint16_t> left;                // the ticks still to go at least
    BlockArray<uint8_t> how;                  // the choice that led here; bit 7: expanded
    std::vector<std::vector<uint32_t>> open;  // by ticks so far plus to go
    size_t lowest = 0;
    size_t budget = 0;  // states
    int weight = 1;     // more than 1: any way, found sooner, not always a shortest one
    HuntResult result = HuntResult::Running;
    uint32_t found = noState;
    uint8_t lastChoice = 0;
    std::vector<TickKey> keys;  // the way, once found
    CellXY arrived;
    // Cells: every state found arriving there, and how many of them were
    // handed out; a hunt found one goes on (result Running again) to the next.
    std::vector<uint32_t> arrivals;
    size_t reported = 0;
    // Ticks already known exactly from some states on (a distance asked of
    // the table of moves below): reaching one is reaching the goal, that many
    // ticks later. total: the ticks of the way found.
    const LazyMoves* known = nullptr;
    uint32_t total = 0;
    std::vector<uint64_t> scratch, nexts;
};

// The worst case (worstcase.cpp): states of the player and the cells near
// it, undecided cells as a second set of bits, and each choice's outcomes.
struct WorstCase {
    bool windowed = true;  // cells near the player remembered; else only those the next tick reads
    StateTable table;
    std::vector<uint32_t> first, to;  // per state and choice: the states it may lead to (a way on is left out)
    std::vector<uint8_t> valid;       // per state and choice: a choice of its own, not one that plays as no key
    std::vector<uint8_t> won;         // per state: the player can force a way on from it
    size_t next = 0, budget = 0;
    bool overBudget = false, solved = false;
    std::vector<uint64_t> scratch;
};

enum class Phase : uint8_t {
    Explore,    // every state reachable without losing a life
    WithLoss,   // no exit that way: is there one after a lost life?
    Analyse,    // stuck places, goods out of reach, which states still finish
    Distances,  // the figure's distances to the exit, with every goods item too
    AllGoods,   // the shortest way with every goods item
    Windows,    // how early or late each press on the way may come
    Figure,     // the difficulty figure
    // Where the exact search would not end:
    Outline,      // the best case
    Way,          // a shortest way to the exit
    LossWay,      // none: a way after a lost life?
    AllGoodsWay,  // a shortest way with every goods item
    GoodsWays,    // a way to each goods item not taken yet, or none in the best case
    Stuck,        // the worst case: no place without a way on?
    Confirm,      // where it could not prove it: a way there, and what follows it
    Region,       // none found stuck there: every state at those places, exactly
    DeadEnds,     // a place where the only way on is losing a life, for a note
    Estimate,     // key windows and the figure, on a table of moves filled in as the players go
    Done,
};

struct SearchJob {
    RoomState start;  // the loaded room as the room loop starts it, its messages left out
    PlayerState startPlayer;
    SearchLimits limits;
    SearchReport report;
    Phase phase = Phase::Explore;

    // --- the room's model (states.cpp) ---
    int keyWords = 1;  // the first word, then the cells' bits
    int cellWords = 0;
    std::vector<MutableCell> mutableCells;
    std::vector<int16_t> mutableOf;      // per map cell: its index in mutableCells, or -1
    std::vector<int8_t> looseIndex;      // per map cell: its bit among the loose goods, or -1
    std::vector<int> crumblingCells;     // indices in mutableCells
    std::vector<uint64_t> takenMask;     // the cells' bits of goods taken on the enemies' ways
    std::vector<uint64_t> nodeMasks;     // per node: the cells' bits that can still matter
    std::vector<uint8_t> nodeEnemies;    // per node: bit 0 the vertical enemy can still matter, bit 1 the horizontal
    std::vector<uint8_t> enemyReach[2];  // per map cell: the vertical, the horizontal enemy can stand there
    std::vector<CellClass> cellClasses;  // per map cell: as the relaxed walk sees it
    int startNode = 0;
    int looseGoods = 0;
    std::vector<int> goodsCells;  // every goods cell of the map
    std::vector<uint8_t> goodsReached;
    int goodsTarget = 0;
    std::vector<int> changed;   // map cells a step may have written
    std::vector<int> written;   // map cells enterState wrote
    std::vector<int> bitOwner;  // per cell bit: its index in mutableCells

    // --- the exact search (exact.cpp) ---
    StateTable main, withLoss;
    std::vector<uint64_t> stateKey, nexts;
    Batch batches[2];
    uint32_t firstExit = noState, firstExitChoice = 0;
    bool lossExit = false;
    bool edgeReached = false;
    CellXY edgeAt;
    std::vector<uint32_t> exitAlong;  // the states along the shortest way
    std::vector<uint8_t> standing;    // per state: the player stands on ground

    // --- the goods' ways (goodsways.cpp) ---
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

    // --- where the exact search would not end ---
    size_t exactBudget = 0;  // states the exact search may take before the rest takes over
    size_t exactStates = 0;  // the states it took
    std::vector<uint64_t> startKey, startKeyWithLoss;
    BestCase best;
    std::vector<uint32_t> cellsAim;              // a hunt's aim at cells
    std::vector<std::vector<uint32_t>> toGoods;  // per goods item: the best case's ticks to it
    std::vector<uint32_t> goodsOnward;           // and from it to the exit
    std::vector<uint32_t> goodsBetween;          // from each goods item to each other one
    WayHunt hunt;
    LazyMoves lazy;
    size_t estimateFrom = 0;   // states seen when the estimate began
    double estimateBegan = 0;  // and processor seconds
    WorstCase worst;
    std::vector<uint8_t> doubtful;  // per map cell: a place the worst case could not prove
    StateTable region;              // the exact search from there (region.cpp)
    size_t regionStates = 0;
    int probes = 0;                      // places looked at in play
    size_t huntStates = 0;               // states of the hunts done
    size_t worstStates = 0;              // states of the worst cases given up
    size_t goodsAsked = 0;               // the goods item whose way is hunted
    std::vector<std::string> undecided;  // what is left unproven

    // --- limits ---
    double spent = 0;
    double sliceBegan = 0;
    bool begun = false;
};

// --- the room's model (model.cpp) ---
void buildModel(SearchJob& job);

// --- states (states.cpp) ---
// What a state says a cell holds, an enemy's own cell aside.
CellCode cellValue(const MutableCell& m, const uint64_t* cells);
// Everything a state says about one map cell.
CellCode stateCell(const SearchJob& job, const uint64_t* key, int cell);
// Puts the world into the state; the world's map is the start's before the call.
void enterState(SearchJob& job, const uint64_t* key, PlayerState& p, bool allowLoss);
// The start's map again where enterState wrote.
void leaveState(const SearchJob& job);
// The player's part of a state's first word: all of the player that future play reads.
uint64_t playerWord(const PlayerState& p);
// The world's state after a step, from the state before it (`key`).
void readState(const SearchJob& job, const uint64_t* key, const PlayerState& p, bool loss, uint64_t* next,
               bool allowLoss);
// One tick from the world as it stands, which holds state `key`; the state
// after it into `next` when play goes on. looseTaken: the loose goods item taken, if any.
TickOutcome stepState(SearchJob& job, const uint64_t* key, PlayerState& p, TickKey choice, bool allowLoss,
                      uint64_t* next, uint8_t& looseTaken, bool& loss);
// The cells the player may still come to from the state, no life lost: the
// relaxed walk, its crumbled floor gone for good. Outside them, never.
void cellsWithin(const SearchJob& job, const uint64_t* key, std::vector<uint8_t>& cells);
// The crumbling cells and the enemies (bit 0 vertical, bit 1 horizontal)
// that can still matter to a player at one of the cells `from`.
void whatCanMatter(const SearchJob& job, const std::vector<uint8_t>& from, std::vector<CellXY>& crumbling,
                   uint8_t& enemies);
// Whether the player stands on ground in the state (not in a jump, solid below).
bool standsOn(const SearchJob& job, const uint64_t* key);
// One choice's step from a state, as stepEachChoice found it.
struct ChoiceStep {
    TickOutcome outcome = TickOutcome::GoOn;  // GameOver: a life lost where losses are not allowed
    uint8_t loose = successor::noGoods;       // the loose goods item taken
    bool loss = false;
    bool asNoKey = false;  // the key plays as no key: its step is the first choice's
    PlayerState player;    // after the step
};
// The five steps from state `key` (a state of the world's start map), each
// into its own `keyWords` of `next` when play goes on; skipNoKeys: a key
// that leaves the player as it was is not stepped again.
void stepEachChoice(SearchJob& job, const uint64_t* key, bool allowLoss, bool skipNoKeys, std::vector<uint64_t>& next,
                    ChoiceStep steps[successor::choiceCount]);
// The world back to state `key` after a step from it.
void undoStep(SearchJob& job, const uint64_t* key, bool loss);

// --- the table of states (table.cpp) ---
uint64_t hashKey(const uint64_t* key, int words);
bool sameKey(const uint64_t* a, const uint64_t* b, int words);
inline const uint64_t* keyOf(const StateTable& table, uint32_t s) {
    return table.keys[s >> keyBlockBits].get() + size_t(s & ((1u << keyBlockBits) - 1)) * table.keyWords;
}
inline size_t slotOf(uint64_t hash, const StateTable& table) { return (hash >> 20) & (table.slotCount - 1); }
inline uint8_t tagOf(uint64_t hash) { return static_cast<uint8_t>(hash | 1); }
// The bytes the table grows by with its next `more` states.
size_t growthBytes(const StateTable& table, size_t more);
// The state with this key (and this hash), added when new.
uint32_t addState(StateTable& table, const uint64_t* key, uint64_t hash);
// The state with this key, or noState.
uint32_t findState(const StateTable& table, const uint64_t* key, uint64_t hash);
size_t bytesOf(const StateTable& table);
// A table whose states have gone: only how many there were stays.
StateTable emptied(const StateTable& table);
int depthOf(const StateTable& table, uint32_t s);

template <typename T>
size_t bytesOf(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

// --- limits (search.cpp) ---
// Every state any table took, the start's first state once.
size_t statesSeen(const SearchJob& job);
// The processor time the search has taken.
double searchSeconds(const SearchJob& job);
// Stops the search: a limit ran out before everything was known.
void stopSearch(SearchJob& job, SearchLimit limit);
// Whether `more` bytes still fit beside the tables; the memory limit stops the search when not.
bool roomFor(SearchJob& job, size_t more);
// The clock of the slice and the processor time of the search.
bool outOfTime(SearchJob& job, Clock::time_point until, bool& sliceOver);

// --- the exact search's phases (exact.cpp, goodsways.cpp) ---
void runExplore(SearchJob& job, SearchSlice slice, Clock::time_point until);
void runWithLoss(SearchJob& job, SearchSlice slice, Clock::time_point until);
void runAnalyse(SearchJob& job);
void runDistances(SearchJob& job, Clock::time_point until);
void runAllGoods(SearchJob& job, SearchSlice slice, Clock::time_point until);
// A room without goods: the way to the exit is the way with every goods item.
void takeWayAsAllGoods(SearchReport& r);
void runWindows(SearchJob& job, Clock::time_point until);
void runFigure(SearchJob& job, Clock::time_point until);
// The keys and states of the shortest way to the exit, back from its last state.
void recordWay(SearchJob& job);

// --- the best case (bestcase.cpp) ---
void buildBestCase(SearchJob& job);
// Per map cell: the codes it may hold in play (an enemy's own code only where withEnemies).
std::vector<std::vector<CellCode>> changeableCells(const SearchJob& job, bool withEnemies);
// The node of an exact state (its first word, and its cells for the floor under the player).
uint32_t bestNodeOf(const SearchJob& job, const uint64_t* key);
// Per node: the fewest ticks to arrive at one of the cells, at least.
// overLoss: ways through a lost life count too (every node is reached so).
std::vector<uint32_t> bestDistancesTo(const BestCase& best, const std::vector<uint8_t>& targetCells,
                                      bool overLoss = false);
// Whether some tick from the start may end in one of the cells.
bool bestArrives(const BestCase& best, const std::vector<uint8_t>& targetCells, bool overLoss = false);
size_t bytesOf(const BestCase& best);

// --- the worst case (worstcase.cpp) ---
void beginWorstCase(SearchJob& job, bool windowed);
// Works until the slice is over; true once it is solved, or over its budget.
bool advanceWorstCase(SearchJob& job, Clock::time_point until);
// Forgets the cells far from the player, and decides those it can no longer reach.
void settleWorst(const SearchJob& job, uint64_t* key, bool windowed);
size_t bytesOf(const WorstCase& worst);

// --- the table filled in as the players go (estimate.cpp) ---
// The ticks known for a hunt's state (its key, then the loose goods taken
// when withGoods): unknown when not asked yet, unreachable when there is no way.
uint32_t knownTicks(const LazyMoves& moves, const uint64_t* key, bool withGoods);
size_t bytesOf(const LazyMoves& moves);

// --- the exact search from where the worst case could not prove it (region.cpp) ---
void beginRegion(SearchJob& job);
// True once every state there is known to have a way on, or one is found stuck.
bool advanceRegion(SearchJob& job, Clock::time_point until);

// --- ways (witness.cpp) ---
// Whether goods item g (an index of job.goodsCells) is taken in the state, its loose goods taken `looseSet`.
bool goodsTakenIn(const SearchJob& job, const uint64_t* key, uint64_t looseSet, size_t g);
// A hunt from `from` (the start's state when empty) for the goal already set in it.
void beginHunt(SearchJob& job, WayHunt& hunt, const std::vector<uint64_t>& from = {});
// Works until the slice is over; true once the hunt has its result.
bool advanceHunt(SearchJob& job, WayHunt& hunt, Clock::time_point until);
size_t bytesOf(const WayHunt& hunt);

// --- the phases where the exact search would not end (large.cpp) ---
// The exact search's tables go; the large room's phases come next.
void leaveExact(SearchJob& job);
void runOutline(SearchJob& job);
void runWay(SearchJob& job, Clock::time_point until);
void runLossWay(SearchJob& job, Clock::time_point until);
void runAllGoodsWay(SearchJob& job, Clock::time_point until);
void runGoodsWays(SearchJob& job, Clock::time_point until);
void runStuck(SearchJob& job, Clock::time_point until);
void runConfirm(SearchJob& job, Clock::time_point until);
// Every question answered: the search is done.
void closeLarge(SearchJob& job);
// Places with no way on known: the figures next, or the end.
void afterStuck(SearchJob& job);
void runRegion(SearchJob& job, Clock::time_point until);
void runDeadEnds(SearchJob& job, Clock::time_point until);
void runEstimate(SearchJob& job, Clock::time_point until);

// --- playing keys (search.cpp) ---
// Keys played on a copy of the room through the game's tick, silently:
// the outcome of the last tick played, stopping at the exit, at the end of
// the game, and at a lost life unless throughLosses.
TickOutcome playKeys(const RoomState& loaded, const std::vector<TickKey>& keys, bool throughLosses,
                     int* ticksPlayed = nullptr);
