// The level checker: proves a room finishable by stepping the game's own
// tick rules on copies of the room, and finds what is wrong in a level file
// or a pack. Used by build/quorvex-check and by the room editor, which runs a
// search in slices between its keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "game/tick.h"
#include "levels/world.h"

// --- findings ---

enum class Severity : uint8_t { Error, Warning, Note };

struct Finding {
    int line = 0, column = 0;  // in the file, from 1; 0: the file as a whole
    Severity severity = Severity::Note;
    std::string text;
    int cellX = 0, cellY = 0;      // the map cell it is about; 0: none
    bool notFullyChecked = false;  // the line that says a limit stopped the room's search
};

// A level file's text loaded over `previous` as the game's loader does it
// (cells the file does not write keep previous's codes). Nothing is drawn
// and the game's own room is left as it was.
RoomState roomFromText(std::string_view text, const RoomState& previous);

// What can be seen in the text and the loaded room without playing it.
// firstRoom: no earlier room of the series, so a missing start is an error.
// backdrop: the ending's backdrop, drawn and never played, needs no exit and
// its goods count nowhere.
std::vector<Finding> levelFindings(std::string_view text, const RoomState& previous, bool firstRoom,
                                   bool backdrop = false);

// --- the search ---

enum class Verdict : uint8_t {
    Searching,
    Finishable,            // the exit is reached without losing a life
    ExitOnlyByLosingLife,  // reachable, but only after losing a life
    ExitNotReachable,
    Unknown,  // a limit stopped the search before the exit was found or ruled out
};

// What stopped a search before it had seen every reachable state and
// worked out every figure. Only the limits given stop it.
enum class SearchLimit : uint8_t { None, States, Seconds, Memory, MemoryRefused };

struct SearchLimits {
    size_t maxStates = 0;  // 0: no bound (time and memory still bound it)
    // The search's tables, in bytes; 0: searchMemoryShare(). An allocation
    // that fails anyway stops the search, never the program.
    size_t maxMemory = 0;
    double maxSeconds = 20;  // processor time
};

// How far one slice of work may go before it hands back.
struct SearchSlice {
    size_t states = 20'000;
    double milliseconds = 20;
};

// A key press on the found way and how many ticks it may come early or
// late and still leave the exit reachable without losing a life.
struct KeyWindow {
    int tick = 0;  // from 1
    TickKey key = TickKey::None;
    int early = 0, late = 0;  // each at most windowReach
    int width() const { return early + late + 1; }
};
constexpr int windowReach = 10;

struct CellXY {
    int x = 0, y = 0;
};

// The press that costs the new hand the most tries: the key, where and when
// a try that made it on time pressed it, and the share of tries finished
// when it never misses (the other presses as they were).
struct HardestPress {
    bool found = false;  // false: no try failed
    int tick = 0;        // from 1: on the found way when it presses there, else a never-missing player's tick
    CellXY at;
    TickKey key = TickKey::None;
    double successWithout = 0;
};

// How often a simulated player finishes the room without losing a life
// (check/success.cpp). It knows the room: from whatever state it is in it
// follows a shortest way, aims each key at the middle of that key's window
// and presses it a whole number of ticks off, drawn from a normal spread cut
// at 3 ticks; after each press it plans again from where it really is.
struct SuccessFigure {
    bool measured = false;              // where every reachable state was seen, or the players' states were worked out
    bool estimated = false;             // some of those only roughly (a way's length, not a shortest one)
    bool allGoodsMeasured = false;      // not with more than a few goods off the enemies' ways
    double newHand = 0, practised = 0;  // shares of the tries, spread 1 tick and 0.5 tick
    double allGoodsNew = 0, allGoodsPractised = 0;  // finishing with every goods item
    HardestPress hardest;                           // of the new hand's tries
};
constexpr int successTries = 1000;

struct SearchReport {
    Verdict verdict = Verdict::Searching;
    bool done = false;
    // Every reachable state seen and every figure below worked out. When a
    // limit stopped the search first, stoppedBy says which and stopReason
    // says it in words; what was found until then stands.
    bool decided = false;
    SearchLimit stoppedBy = SearchLimit::None;
    std::string stopReason;
    // Then what filled its states: the crumbling cells and the enemies (bit 0
    // the vertical one, bit 1 the horizontal) that can matter where it stopped.
    std::vector<CellXY> openCrumbling;
    uint8_t openEnemies = 0;
    // The shortest way to the exit without losing a life: one key per tick.
    // The search goes breadth first, so a way found is a shortest one; where
    // the exact search would not end, best first, shortest unless
    // ticksShortest says otherwise (then it is a way, and none shorter is known).
    int ticks = -1;
    bool ticksShortest = true, allGoodsShortest = true;
    std::vector<TickKey> solution;
    // The shortest way that takes every goods item of the map first.
    int goodsOnMap = 0;
    int allGoodsTicks = -1;
    bool allGoodsLookedFor = false;  // allGoodsTicks -1 then means there is no such way
    std::vector<TickKey> allGoodsSolution;
    // Known once the whole space reachable without losing a life is explored,
    // or each question proven on its own: the goods out of reach, the places
    // with no way on.
    bool explored = false;
    bool goodsKnown = false, stuckKnown = false;
    std::vector<CellXY> unreachableGoods;
    bool stuck = false;  // a reachable state with neither the exit nor a lost life ahead
    CellXY stuckAt;
    int stuckTick = 0;
    // A place the player can stand in where the exit can no longer be
    // reached without losing a life: the first one found, and when.
    bool deadEnd = false;
    CellXY deadEndAt;
    int deadEndTick = 0;
    bool edgeReached = false;  // the player can stand in the map's outer ring
    CellXY edgeAt;
    // Windows of the presses on `solution`; narrowest 0 while not computed.
    std::vector<KeyWindow> windows;
    int narrowestWindow = 0;
    SuccessFigure success;
    // Where the exact search would not end: the estimate of the windows and
    // the figure took more than its share, and was left out.
    bool figureLeftOut = false;
    size_t states = 0;
    size_t peakBytes = 0;  // the most the search's tables held at once
    double seconds = 0;
};

struct SearchJob;  // the search's tables (check/search.cpp)
struct SearchJobDeleter {
    void operator()(SearchJob* job) const;
};
using SearchJobPtr = std::unique_ptr<SearchJob, SearchJobDeleter>;

// What a search may take when its limits say 0: a quarter of the machine's
// memory, or of the address-space limit (RLIMIT_AS) or the control group's
// memory limit when lower.
size_t searchMemoryShare();

// States the exact search may take before the proofs for large rooms take
// over (0: the checker's own share). Tests and the bench set it to compare
// the two ways of deciding one room.
void setExactShare(size_t states);

// A ceiling over the limits of every search this process starts, whatever
// it asks for (a fuzzer keeps each input short this way). Fields of 0 in
// the ceiling mean no ceiling.
void setSearchCeiling(const SearchLimits& ceiling);

// A search over the loaded room `loaded` from its start, as playRoom starts
// it. Nothing runs until advanceSearch.
SearchJobPtr startSearch(const RoomState& loaded, SearchLimits limits = {});
// Works for at most one slice, then hands back: true once the report is
// final. The game's room, counters, screen, clock and sound are as they
// were before the call; nothing draws, sleeps or sounds meanwhile.
bool advanceSearch(SearchJob& job, SearchSlice slice = {});
const SearchReport& searchReport(const SearchJob& job);
// The whole search in one call.
SearchReport searchRoom(const RoomState& loaded, SearchLimits limits = {});

// The limit that stopped a search, in the checker's words: "more than 20 s
// of processor time (--max-seconds)" and the like.
std::string limitText(SearchLimit limit, const SearchLimits& limits);

// What the search found, as findings of the room: its verdict (an error when
// the exit cannot be reached), goods out of reach, places with no way on
// (errors), the map's edge. quorvex-check prints these and the editor's
// verdict row is decided by them, so the two never disagree.
std::vector<Finding> searchFindings(const RoomState& loaded, const SearchReport& report);

// A room's verdict in one word, from its findings (the text's and the
// search's): an error decides it, then a search a limit stopped; otherwise
// it is decided and finishable (or only by losing a life, which is no error).
enum class RoomClass : uint8_t { Finishable, Error, NotFullyChecked };
RoomClass roomClass(const std::vector<Finding>& findings);

// Plays keys (one per tick) on a copy of `loaded` through the game's own
// tick, silently: the outcome of the last tick played, stopping early at
// the exit or a lost life. ticksPlayed: how many ticks ran.
TickOutcome replayKeys(const RoomState& loaded, const std::vector<TickKey>& keys, int* ticksPlayed = nullptr);

// The player's cell at the end of each tick of the keys played on a copy
// of `loaded`, silently, to the exit or a lost life.
std::vector<CellXY> wayCells(const RoomState& loaded, const std::vector<TickKey>& keys);

// --- scripts: "tick key" lines, the keys left, right, up, down, space ---
std::string solutionScript(const std::vector<TickKey>& keys);
const char* tickKeyName(TickKey key);

// --- the command-line program ---
// Runs quorvex-check with the arguments (without the program name); output
// and error texts go to out and err. Returns the exit status.
int runChecker(const std::vector<std::string>& arguments, std::string& out, std::string& err);
