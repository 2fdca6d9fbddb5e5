// A room's par: the fewest ticks to its exit, where that is known for the
// room as it is now. The time trial and the table of bests show it only then.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// series: "" for the main series, else the pack's name; number: the room's
// number in it; roomHash: roomFileHash of the file played (a par belongs to
// the room as it was measured, never to a changed one).
std::optional<int> roomPar(std::string_view series, int number, uint64_t roomHash);
