// A room's par: the fewest ticks from its start to its exit, as the level
// checker proves it, kept with a way that takes that many ticks. A pack
// keeps its rooms' pars beside its index (NAME.par, which the editor
// writes), the main series in levels/main.par: a line a room, in the
// series' order, each
//
//   TICKS HASH WAY [ALLGOODSTICKS ALLGOODSWAY]
//
// HASH the room file's hash (roomFileHash, 16 hex digits), each WAY its keys
// run-length packed: a letter (n no key, l left, r right, u up, d down, s
// space) and how many ticks in a row, as in "r1n355". A line "-" holds none.
//
// The game shows a par only after playing its way on the room as it started
// in play, through the game's own tick, to the exit in exactly TICKS ticks:
// a par faster than the room allows is never shown, whoever wrote the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "game/tick.h"

struct RoomRecord;

struct RoomPar {
    uint64_t roomHash = 0;
    int ticks = -1;
    std::vector<TickKey> way;
    int allGoodsTicks = -1;  // -1: not known
    std::vector<TickKey> allGoodsWay;
};

std::string parLine(const RoomPar& par);  // without its line end
// False, and par untouched, for a line that is not one ("-" included).
bool readParLine(std::string_view line, RoomPar& par);
// The lines of a par file, CR LF after each; an empty par (ticks -1) as "-".
std::string parFileText(const std::vector<RoomPar>& pars);

// The par of the room recorded in play (record: its start; text: its file),
// from its series' par file ("" the main series, else the pack's name), when
// the line's way holds on it.
std::optional<int> roomPar(std::string_view series, const RoomRecord& record, std::string_view text);
