// Crafted rooms from rows given by number, stepped tick by tick on the in-memory console.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "game/play.h"
#include "game/tick.h"
#include "harness.h"
#include "levels/levels.h"
#include "levels/world.h"

// Rows in level-file characters over a wall floor at row 21; row 23 holds the goods, 24 on messages.
inline std::string levelText(std::map<int, std::string> rows) {
    rows.emplace(21, std::string(80, '1'));
    std::string text;
    for (int y = 1; y <= rows.rbegin()->first; ++y) text += rows[y] + "\r\n";
    return text;
}

using XY = std::pair<int, int>;

class RoomTest : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        run.soundOn = true;
        installCueFiles();
    }
    void play(const std::map<int, std::string>& rows) {
        writeFile("levels/test.lvl", levelText(rows));
        loadLevel("test");
        player = startRoom();
    }
    // Ticks as the room loop runs them: the keyboard, a room command, the rules.
    // A command that ends the room stops there and leaves its end in `ended`.
    TickOutcome tick(int count = 1) {
        TickOutcome outcome = TickOutcome::GoOn;
        for (int i = 0; i < count; ++i, delayMs(tickMs)) {
            RoomInput input = readRoomInput();
            ended = runRoomCommand(input.command);
            if (ended) break;
            outcome = stepTickWith(player, input.key);
        }
        return outcome;
    }
    XY where() { return {player.playerX, player.playerY}; }
    XY looks(int x, int y) { return {bufferCell(x, y).character, bufferCell(x, y).attribute}; }  // glyph, colour

    PlayerState player;
    std::optional<RoomEnd> ended;
};
