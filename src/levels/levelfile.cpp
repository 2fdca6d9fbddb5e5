// Level files and room drawing. A level file is untrusted text: any byte,
// any line length, any number of lines. Nothing it holds can write outside
// the map or the message table.
#include <algorithm>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "endings/endings.h"
#include "levels/levels.h"
#include "levels/missingfile.h"
#include "levels/world.h"
#include "system/files.h"

namespace {

constexpr size_t maxMessageLength = 255;
constexpr char endOfText = 0x1A;  // Ctrl-Z: old editors end files with it

void placeEnemy(EnemySlot& enemy, int x, int y) {
    enemy.active = true;
    enemy.x = static_cast<uint8_t>(x);
    enemy.y = static_cast<uint8_t>(y);
}

void applyMapCharacter(unsigned char c, int x, int y) {
    if (c == ' ') {
        setCell(x, y, Empty);
    } else if (c == 'i') {
        setCell(x, y, Empty);
        room.startX = static_cast<uint8_t>(x);
        room.startY = static_cast<uint8_t>(y);
    } else if (c >= '1' && c <= '6') {
        setCell(x, y, static_cast<CellCode>(c - '0'));
    } else if (c == '7') {
        placeEnemy(room.verticalEnemy, x, y);  // the enemy writes its code when it first moves
    } else if (c == '8') {
        placeEnemy(room.horizontalEnemy, x, y);
    } else if (c == '9') {
        setCell(x, y, Exit);
    } else if (c >= 'j' && c <= 'l') {
        setCell(x, y, static_cast<CellCode>(GoodsDiamond + (c - 'j')));
    } else if (c >= 'm') {
        // 'm' to 't' are the message cells; later bytes give codes without a meaning.
        setCell(x, y, static_cast<CellCode>(static_cast<int8_t>(c - 96)));
    }
    // Anything else leaves the cell as the previous room had it.
}

void readMapRow(std::string_view line, int y) {
    // Characters past the last column are ignored, positions included.
    int width = static_cast<int>(std::min<size_t>(line.size(), mapWidth));
    for (int x = 1; x <= width; ++x) applyMapCharacter(static_cast<unsigned char>(line[x - 1]), x, y);
}

void drawGlyph(int x, int y, uint8_t colour, uint8_t glyph) {
    moveCursor(x, y);
    setTextColor(colour);
    writeChar(glyph);
}

struct CellLook {
    uint8_t glyph;  // 0: nothing to draw
    uint8_t colour;
};

// The plain cells by code, Empty to GoodsSpade.
constexpr CellLook plainLooks[] = {
    {0, 0}, {0xB2, 8}, {0xB1, 4}, {0, 0},    {0xB0, 8}, {0, 0},     {0, 0},
    {0, 0}, {0, 0},    {0x0F, 3}, {0x04, 5}, {0x05, 2}, {0x06, 14},
};

}  // namespace

void drawRoomCell(int x, int y) {
    CellCode code = cellAt(x, y);
    if (code == Spikes) {
        drawSpikeCell(x, y);
    } else if (code == Spring || code == Ice) {
        // Both show a background; the ice's blank keeps the foreground in effect.
        moveCursor(x, y);
        if (code == Spring) setTextColor(10);
        setTextBackground(code == Spring ? 2 : 3);
        writeChar(code == Spring ? 0x7F : 0x20);
        setTextBackground(0);
    } else if (code >= Empty && code <= GoodsSpade && plainLooks[code].glyph != 0) {
        // Empty, enemy starts, messages, crumbled and unknown codes show nothing.
        drawGlyph(x, y, plainLooks[code].colour, plainLooks[code].glyph);
    }
}

void loadLevel(const std::string& name) {
    std::string path = run.baseDirectory + "levels/" + name + ".lvl";
    // A NUL byte (from a pack index) would cut the path short at the system
    // call and open some other file or folder; such a name names no file.
    if (path.find('\0') != std::string::npos || !fileExists(path)) showMissingFile(path);
    readLevelText(readTextFile(path));
    drawRoom();
}

void readLevelText(std::string_view text) {
    room.verticalEnemy.active = false;
    room.horizontalEnemy.active = false;

    std::vector<std::string_view> lines = splitLines(text);

    size_t mapRows = std::min<size_t>(lines.size(), mapHeight);
    for (size_t row = 0; row < mapRows; ++row) readMapRow(lines[row], static_cast<int>(row) + 1);

    // A missing or empty goods line announces no goods rather than a stray line-end code.
    size_t goodsLine = mapHeight;
    if (lines.size() > goodsLine && !lines[goodsLine].empty())
        room.goodsInRoom = static_cast<int8_t>(static_cast<unsigned char>(lines[goodsLine][0]) - 48);
    else
        room.goodsInRoom = 0;

    for (size_t i = 0; i < messageCount; ++i) {
        size_t line = goodsLine + 1 + i;
        if (line >= lines.size()) break;
        if (!lines[line].empty() && lines[line][0] == endOfText) break;
        room.roomMessages[i] = std::string(lines[line].substr(0, maxMessageLength));
    }

    // The first room of a run without 'i' has no earlier start to keep.
    if (room.startX == 0 || room.startY == 0) {
        room.startX = 1;
        room.startY = 1;
    }
}

void drawRoom() {
    for (int y = 1; y <= mapHeight; ++y)
        for (int x = 1; x <= mapWidth; ++x) drawRoomCell(x, y);
    if (game.levelNumber == 22) playFinalSequence();
}

unsigned char spikeGlyph(int x, int y) {
    // Spikes point away from the wall they grow on; the last matching test wins.
    unsigned char glyph = 0;
    if (cellAt(x - 1, y) == Wall) glyph = 0x10;
    if (cellAt(x, y - 1) == Wall) glyph = 0x1F;
    if (cellAt(x, y + 1) == Wall) glyph = 0x1E;
    if (cellAt(x + 1, y) == Wall && cellAt(x - 1, y) != Spikes) glyph = 0x11;
    return glyph;
}

void drawSpikeCell(int x, int y) {
    unsigned char glyph = spikeGlyph(x, y);
    if (glyph != 0) drawGlyph(x, y, 7, glyph);  // no wall to grow on: invisible, still deadly
}
