// Crafted rooms stepped tick by tick on the in-memory console, each tick
// followed by its virtual 75 ms pause as in the room loop.
#pragma once

#include <map>
#include <string>

#include "game/tick.h"
#include "harness.h"
#include "levels/world.h"

class RoomTest : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        run.baseDirectory = folder.string() + "/";
        run.soundOn = true;
        game.levelNumber = 1;
    }

    // Rows by number in level-file characters ('i' start, '7' '8' enemies,
    // 'j' to 't' goods and messages); row 21 is a wall floor unless given.
    // The room starts at once; its map is not drawn.
    void play(std::map<int, std::string> rows) {
        rows.emplace(21, std::string(80, '1'));
        for (auto& [y, row] : rows)
            for (int x = 1; x <= static_cast<int>(row.size()); ++x) {
                char c = row[x - 1];
                setCell(x, y,
                        c >= '1' && c <= '6' ? CellCode(c - '0')
                        : c == '9'           ? Exit
                        : c >= 'j'           ? CellCode(c - 96)
                                             : Empty);
                if (c == 'i') room.startX = uint8_t(x), room.startY = uint8_t(y);
                if (c == '7') room.verticalEnemy = {true, uint8_t(x), uint8_t(y), 0};
                if (c == '8') room.horizontalEnemy = {true, uint8_t(x), uint8_t(y), 0};
            }
        player = startRoom();
    }
    TickOutcome tick() {
        TickOutcome outcome = stepTick(player);
        delayMs(tickMs);
        return outcome;
    }
    void ticks(int count) {
        for (int i = 0; i < count; ++i) tick();
    }
    // Keys that arrive now: the next tick reads the first of them.
    void arrowNow(uint8_t scanCode) { scriptKey(virtualNow(), {scanCode, true}); }
    void keyNow(uint8_t byte) { scriptKey(virtualNow(), {byte, false}); }
    uint8_t glyphAt(int x, int y) { return bufferCell(x, y).character; }
    uint8_t colourAt(int x, int y) { return bufferCell(x, y).attribute; }
    std::string statusRow(int row) { return trimRight(bufferRowText(row)); }

    PlayerState player;
};
