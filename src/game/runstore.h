// Runs and bests, kept in the player's state folder ($XDG_STATE_HOME/quorvex,
// ~/.local/state/quorvex), and only while that folder is the user's own:
//
//   runs/YYYYMMDD-HHMMSS-PID.run  a game's run (UTC start, process number),
//                                 rewritten whole as each room ends; the
//                                 last 100 runs are kept
//   runs/best/SERIES-NN.run       the run of each room's fewest ticks, for good
//   bests.txt                     the bests of every room played to its exit
//   bests.lock                    taken while a game rewrites bests.txt
//
// Nothing here ends or interrupts a game: what could not be kept is said
// once, on standard error, when the program ends (takeStoreNotices).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/runfile.h"

constexpr size_t runsKept = 100;

// Writes the run (its rooms so far) as its file; the first time the file is
// named (fileName is empty until then) and the oldest runs beyond the last
// runsKept go.
void keepRun(const RecordedRun& run, std::string& fileName);

// A room's best: the fewest ticks to its exit and the most goods taken there.
struct RoomBest {
    std::string series;  // "" the main series, else the pack's name
    int number = 0;
    int ticks = 0;
    int goods = 0, goodsInRoom = 0;
    int64_t when = 0;       // when either was last bettered (seconds since 1970)
    uint64_t roomHash = 0;  // the room they were set in: a changed room starts afresh
};
// Adds the room, played to its exit in the run, to the bests, merged with
// what other games wrote meanwhile, and keeps its run as the room's best run
// when it took the fewest ticks. The room's best now, this one counted.
RoomBest keepRoomBest(const RecordedRun& run, const RoomRecord& room, int goodsInRoom);
// Merges results that still wait because another game held the bests file
// too long: at the end of a game.
void flushBests();
// Every best kept, the main series first, then the packs by name; each by room.
std::vector<RoomBest> readBests();

// A run kept, or why the file there is none.
struct KeptRun {
    std::string path;
    RecordedRun run;
    std::string problem;
    bool best = false;  // one of the best runs
};
// The runs newest first, then the best runs; why says why there are none to look at.
std::vector<KeptRun> keptRuns(std::string& why);

// What went wrong while keeping runs and bests since the last call: one
// line each, for the program to say after its name, each said once.
std::vector<std::string> takeStoreNotices();
