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
    int cellX = 0, cellY = 0;  // the map cell it is about; 0: none
};

// A level file's text loaded over `previous` as the game's loader does it
// (cells the file does not write keep previous's codes). Nothing is drawn
// and the game's own room is left as it was.
RoomState roomFromText(std::string_view text, const RoomState& previous);

// What can be seen in the text and the loaded room without playing it.
// firstRoom: no earlier room of the series, so a missing start is an error.
std::vector<Finding> levelFindings(std::string_view text, const RoomState& previous, bool firstRoom);

// --- the search ---

enum class Verdict : uint8_t {
    Searching,
    Finishable,            // the exit is reached without losing a life
    ExitOnlyByLosingLife,  // reachable, but only after losing a life
    ExitNotReachable,
    GaveUp,  // the limits ran out first
};

struct SearchLimits {
    // The exact search proves the shortest ways; past exactStates it goes on
    // quick: crumbled floor is left out of what makes ways alike (ways to a
    // state still kept apart by the goods they took). That finds real ways
    // fast but may miss the shortest, or a way with every goods item. Past
    // twice exactStates it goes on coarse, the enemies left out too.
    size_t exactStates = 250'000;
    size_t exactWays = 6'000'000;  // ways with their goods taken, 16 bytes each
    // Past this the reachable states are not all seen: no stuck places or
    // goods out of reach are reported, and windows are lower bounds.
    size_t exploreStates = 250'000;
    size_t maxStates = 2'500'000;  // about 150 to 250 bytes each
    // The search's tables, in bytes; 0: searchMemoryShare(). An allocation
    // that fails anyway ends the search as given up, never the program.
    size_t maxMemory = 0;
    double maxSeconds = 20;
    int maxTicks = 20'000;
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

struct SearchReport {
    Verdict verdict = Verdict::Searching;
    bool done = false;
    // The shortest way to the exit without losing a life: one key per tick.
    int ticks = -1;
    bool shortest = false;  // proven the shortest (else a way found, perhaps longer)
    std::vector<TickKey> solution;
    // The shortest way that takes every goods item of the map first.
    int goodsOnMap = 0;
    int allGoodsTicks = -1;
    bool allGoodsShortest = false;
    std::vector<TickKey> allGoodsSolution;
    // Known once the whole space reachable without losing a life is explored.
    bool explored = false;
    std::vector<CellXY> unreachableGoods;
    bool stuck = false;  // a reachable state with neither the exit nor a lost life ahead
    CellXY stuckAt;
    int stuckTick = 0;
    bool edgeReached = false;  // the player can stand in the map's outer ring
    CellXY edgeAt;
    // Windows of the presses on `solution`; narrowest 0 while not computed.
    // When not explored, a window may be wider than it says.
    std::vector<KeyWindow> windows;
    int narrowestWindow = 0;
    size_t states = 0;
    double seconds = 0;
    std::string gaveUpReason;
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

// A ceiling over the limits of every search this process starts, whatever
// it asks for (a fuzzer keeps each input short this way). Fields of 0 in
// the ceiling, and maxMemory 0, mean no ceiling.
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

// Plays keys (one per tick) on a copy of `loaded` through the game's own
// tick, silently: the outcome of the last tick played, stopping early at
// the exit or a lost life. ticksPlayed: how many ticks ran.
TickOutcome replayKeys(const RoomState& loaded, const std::vector<TickKey>& keys, int* ticksPlayed = nullptr);

// --- scripts: "tick key" lines, the keys left, right, up, down, space ---
std::string solutionScript(const std::vector<TickKey>& keys);
const char* tickKeyName(TickKey key);

// --- the command-line program ---
// Runs quorvex-check with the arguments (without the program name); output
// and error texts go to out and err. Returns the exit status.
int runChecker(const std::vector<std::string>& arguments, std::string& out, std::string& err);
