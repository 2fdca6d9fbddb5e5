// Play-tests: the room as it stands, in the game's own room loop with its
// rules, sounds and status lines. Esc, the quit prompt's Y or the exit come
// back here, and the world model is put back as it was.
#include "console/console.h"
#include "edit/edit.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "shell/flow.h"
#include "shell/sound.h"

namespace {

struct SavedWorld {
    RoomState room;
    GameCounters game;
    bool playingCustomPack;
};

SavedWorld startPlay(bool fromCursor) {
    SavedWorld saved{room, game, run.playingCustomPack};
    loadRoomText(edit.text, edit.inherited);
    if (fromCursor) {
        room.startX = static_cast<uint8_t>(edit.cursorX);
        room.startY = static_cast<uint8_t>(edit.cursorY);
    }
    game = GameCounters{};
    game.levelNumber = 1;
    // As in a pack: no level number, and the quit prompt's Y writes no save file.
    run.playingCustomPack = true;
    setTextBackground(0);
    setTextColor(7);
    clearScreen();
    drawRoom();
    return saved;
}

void endPlay(const SavedWorld& saved) {
    room = saved.room;
    game = saved.game;
    run.playingCustomPack = saved.playingCustomPack;
    setTextBackground(0);
}

}  // namespace

PlayEnd playTest(bool fromCursor, int& ticks) {
    SavedWorld saved = startPlay(fromCursor);
    PlayEnd end = PlayEnd::Left;
    ticks = 0;
    try {
        TickOutcome outcome = playOneRoom(ticks);
        end = outcome == TickOutcome::ExitReached ? PlayEnd::Exit : PlayEnd::GameOver;
        if (end == PlayEnd::Exit) playCue("Sound/next.wav", false);
    } catch (const MenuReturn&) {
        // The quit prompt's Y.
    } catch (const ProgramEnd& programEnd) {
        if (programEnd.status != 0) throw;  // not Esc: the program really ends
    }
    endPlay(saved);
    return end;
}

PlayEnd playSolution(const std::vector<uint8_t>& keys, int& ticks) {
    SavedWorld saved = startPlay(false);
    PlayEnd end = PlayEnd::Left;
    PlayerState player = startRoom();
    for (ticks = 0; ticks < static_cast<int>(keys.size()) && end == PlayEnd::Left;) {
        if (keyPressed()) {
            uint8_t key = readKey();
            if (key == 0) readKey();
            if (key == 27) break;
        }
        TickOutcome outcome = stepTickWith(player, static_cast<TickKey>(keys[static_cast<size_t>(ticks)]));
        ++ticks;
        if (outcome == TickOutcome::GameOver) end = PlayEnd::GameOver;
        if (outcome == TickOutcome::ExitReached) {
            end = PlayEnd::Exit;
            playCue("Sound/next.wav", false);
        }
        delayMs(tickMs);
    }
    endPlay(saved);
    return end;
}
