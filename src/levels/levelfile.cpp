// Level files and room drawing. A level file is untrusted text: any byte,
// any line length, any number of lines. Nothing it holds can write outside
// the map or the message table.
#include <algorithm>
#include <string_view>

#include "console/console.h"
#include "console/cp437.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/files.h"
#include "system/folders.h"

namespace {

void placeEnemy(EnemySlot& enemy, int x, int y) {
    enemy.active = true;
    enemy.x = static_cast<uint8_t>(x);
    enemy.y = static_cast<uint8_t>(y);
}

void applyMapCharacter(unsigned char c, int x, int y) {
    MapCharacter meaning = mapCharacter(c);
    switch (meaning.kind) {
        case MapCharacterKind::Keeps:
            break;  // the cell stays as the previous room had it
        case MapCharacterKind::Cell:
            setCell(x, y, meaning.code);
            break;
        case MapCharacterKind::Start:
            setCell(x, y, Empty);
            room.startX = static_cast<uint8_t>(x);
            room.startY = static_cast<uint8_t>(y);
            break;
        case MapCharacterKind::VerticalEnemyStart:
            placeEnemy(room.verticalEnemy, x, y);  // the enemy writes its code when it first moves
            break;
        case MapCharacterKind::HorizontalEnemyStart:
            placeEnemy(room.horizontalEnemy, x, y);
            break;
    }
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
    {0, 0}, {glyph::wall, 8}, {glyph::lava, 4},    {0, 0},           {glyph::crumbling, 8}, {0, 0}, {0, 0}, {0, 0},
    {0, 0}, {glyph::exit, 3}, {glyph::diamond, 5}, {glyph::club, 2}, {glyph::spade, 14},
};

}  // namespace

void drawRoomCell(int x, int y) {
    CellCode code = cellAt(x, y);
    if (code == Spikes)
        drawSpikeCell(x, y);
    else
        drawCodeLook(x, y, code);
}

void drawCodeLook(int x, int y, CellCode code) {
    if (code == Spikes) {
        drawGlyph(x, y, 7, glyph::spikesRight);
    } else if (code == Spring || code == Ice) {
        // Both show a background; the ice's blank keeps the foreground in effect.
        moveCursor(x, y);
        if (code == Spring) setTextColor(10);
        setTextBackground(code == Spring ? 2 : 3);
        writeChar(code == Spring ? glyph::spring : ' ');
        setTextBackground(0);
    } else if (code >= Empty && code <= GoodsSpade && plainLooks[code].glyph != 0) {
        // Empty, enemy starts, messages, crumbled and unknown codes show nothing.
        drawGlyph(x, y, plainLooks[code].colour, plainLooks[code].glyph);
    }
}

RoomLoad loadLevel(const std::string& name) {
    std::string path = run.baseDirectory + "levels/" + name + ".lvl";
    // Opened once, through the game folder: a file that is not there (or a
    // broken link) is missing, anything else but a regular file a failed read.
    std::string text;
    FileLook look;
    if (!readFileIfThere(gameFolder(run.baseDirectory), hostPath("levels/" + name + ".lvl"), text, look,
                         levelFileLimit))
        return {LoadOutcome::Missing, path};
    readLevelText(text);
    drawRoom();
    loadedRoom = {RoomSourceKind::Series, name, std::move(text)};
    return {game.levelNumber == backdropRoom ? LoadOutcome::Backdrop : LoadOutcome::Play, ""};
}

RoomSource loadedRoom;

RoomLoad loadCurrentLevel() {
    return run.playingCustomPack ? loadPackLevel() : loadLevel(std::to_string(game.levelNumber));
}

bool lastPlayedRoom() {
    if (game.levelNumber + 1 >= backdropRoom) return true;
    return run.playingCustomPack && packRoomCount() <= static_cast<size_t>(std::max<int>(1, game.levelNumber));
}

void readLevelText(std::string_view text) {
    room.verticalEnemy.active = false;
    room.horizontalEnemy.active = false;

    LevelLines level = splitLevelText(text);
    for (size_t row = 0; row < level.mapRows; ++row) readMapRow(level.lines[row], static_cast<int>(row) + 1);
    room.goodsInRoom = goodsLineCount(level.goodsLine);
    for (size_t i = 0; i < level.messages.size(); ++i)
        room.roomMessages[i] = std::string(level.messages[i].substr(0, messageKeptLimit));

    // The first room of a run without 'i' has no earlier start to keep.
    if (room.startX == 0 || room.startY == 0) {
        room.startX = 1;
        room.startY = 1;
    }
}

void drawRoom() {
    for (int y = 1; y <= mapHeight; ++y)
        for (int x = 1; x <= mapWidth; ++x) drawRoomCell(x, y);
}

unsigned char spikeGlyph(int x, int y) {
    // Spikes point away from the wall they grow on; the last matching test wins.
    unsigned char look = 0;
    if (cellAt(x - 1, y) == Wall) look = glyph::spikesRight;
    if (cellAt(x, y - 1) == Wall) look = glyph::spikesDown;
    if (cellAt(x, y + 1) == Wall) look = glyph::spikesUp;
    if (cellAt(x + 1, y) == Wall && cellAt(x - 1, y) != Spikes) look = glyph::spikesLeft;
    return look;
}

void drawSpikeCell(int x, int y) {
    unsigned char look = spikeGlyph(x, y);
    if (look != 0) drawGlyph(x, y, 7, look);  // no wall to grow on: invisible, still deadly
}
