// The level file format, in one place: lines 1 to 22 are the map rows (a
// character a cell), line 23 the goods line, lines 24 to 31 the messages of
// the message cells 'm' to 't', the messages ended early by a line that
// starts with Ctrl-Z. The game's loader, the level checker and the room
// editor read and write rooms only through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "levels/world.h"

constexpr char levelEndMark = 0x1A;  // Ctrl-Z: old editors end files with it
constexpr int goodsLineNumber = mapHeight + 1;
constexpr int firstMessageLineNumber = mapHeight + 2;
constexpr int lastLevelLineNumber = mapHeight + 1 + messageCount;
// The most of a level file (and of a pack index) that the game reads.
constexpr size_t levelFileLimit = 4u << 20;
// A message line keeps at most this many characters when loaded.
constexpr size_t messageKeptLimit = 255;
// The status line shows no more of a message: from column 15 of row 24 to the
// end of row 25 there are 146 cells, but a byte written in the very last one
// moves the cursor to row 26 and the view with it.
constexpr size_t messageShownLimit = 145;
// Column 15 to 80 of row 24; a longer message runs over "Goods:" and stays there.
constexpr size_t messageRowWidth = 66;

// A level file's lines as the loader takes them.
struct LevelLines {
    std::vector<std::string_view> lines;  // every line of the file, without its end
    size_t mapRows = 0;                   // lines 1 to 22 that are there
    bool hasGoodsLine = false;
    std::string_view goodsLine;
    std::vector<std::string_view> messages;  // whole, before the end mark; at most 8
};
LevelLines splitLevelText(std::string_view text);

// What a map character does to its cell when the room is loaded.
enum class MapCharacterKind : uint8_t {
    Keeps,               // nothing: the cell keeps the previous room's code
    Cell,                // the cell gets `code`
    Start,               // empty, and the player starts here
    VerticalEnemyStart,  // the cell is left alone; the enemy writes its code when it moves
    HorizontalEnemyStart,
};
struct MapCharacter {
    MapCharacterKind kind;
    CellCode code;  // for Cell
};
MapCharacter mapCharacter(uint8_t c);
// Characters after 't' load as codes without a meaning in play.
constexpr bool meaninglessCharacter(uint8_t c) { return c > 't'; }
// The character that gives a cell code when read (' ' when none does).
uint8_t characterForCode(int code);

// The goods line's count: its first character's code less 48 ('0' to '9'
// count 0 to 9, ':' 10 ...), taken as a signed byte; 0 when the line is
// missing or empty.
int8_t goodsLineCount(std::string_view goodsLine);
std::string goodsLineFor(int count);  // 0 to 127

// A room written out: the rows, the goods line and the messages as given,
// each line ended by CR LF, as the game writes every text file.
std::string levelFileText(const std::vector<std::string_view>& rows, std::string_view goodsLine,
                          const std::vector<std::string_view>& messages);

// The 22nd room of a series (the main series or a pack) is drawn as the
// backdrop of the final sequence and never played: 21 rooms are played.
constexpr int backdropRoom = 22;

// A file named N.lvl (N from 2 to 22, no leading zero) is room N of a
// series: the game loads it over the rooms 1.lvl to (N-1).lvl beside it.
// N, or 0 for any other name.
int seriesRoomNumber(std::string_view fileName);
