// Play-tests: the room as it stands, in the game's own room loop with its
// rules, sounds and status lines. Esc, the quit prompt's Y or the exit come
// back here, and the world model is put back as it was.
#include <algorithm>
#include <cstdint>

#include "console/console.h"
#include "edit/edit.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "system/files.h"
#include "system/sound.h"
#include "system/unwind.h"

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

PlayEnd playPack(const std::vector<std::string>& roomPaths, int firstNumber, const Inheritance& before,
                 std::string& report) {
    SavedWorld saved{room, game, run.playingCustomPack};
    room = inheritedRoom(before);
    game = GameCounters{};
    game.levelNumber = static_cast<int8_t>(std::min(firstNumber, 127));
    game.lives = 3;
    // In a pack the quit prompt's Y writes no save file; the checkpoint that
    // finishing every fifth room writes is left out below.
    run.playingCustomPack = true;
    setTextBackground(0);
    setTextColor(7);
    clearScreen();
    playCue("Sound/begin.wav", false);
    delayMs(200);
    delayMs(550);
    PlayEnd end = PlayEnd::Left;
    int number = firstNumber;
    try {
        for (size_t i = 0;; ++i, ++number) {
            std::string where = "Room " + std::to_string(number);
            if (i >= roomPaths.size()) {
                report = where + " is the end line: the game shows the pack's end screen there.";
                end = PlayEnd::Exit;
                break;
            }
            if (number > 22) {
                report = where + " is never reached: the game ends at room 22.";
                break;
            }
            if (number == 22) {
                report = where + " is the ending's backdrop: the game draws it and plays its final sequence.";
                end = PlayEnd::Exit;
                break;
            }
            const std::string& path = roomPaths[i];
            if (path.empty() || pathKind(path) != PathKind::File) {
                report = where + ": the game finds no file " + (path.empty() ? "there" : path) +
                         " and stops on its missing-file screen.";
                break;
            }
            clearScreen();
            readLevelText(readLevelLines(path));
            drawRoom();
            int ticks = 0;
            if (playOneRoom(ticks) == TickOutcome::GameOver) {
                report = where + ": all three lives lost after " + std::to_string(ticks) + " ticks.";
                end = PlayEnd::GameOver;
                break;
            }
            // The game's room end, less the checkpoint file.
            int64_t score = int64_t(game.score) + int64_t(game.goodsCollected) * 5 + game.lives * 3;
            game.score = static_cast<int32_t>(std::clamp<int64_t>(score, INT32_MIN, INT32_MAX));
            clearScreen();
            game.totalGoods = static_cast<int32_t>(
                std::clamp<int64_t>(int64_t(game.totalGoods) + game.goodsCollected, INT32_MIN, INT32_MAX));
            playCue("Sound/next.wav", false);
            delayMs(1750);
            game.levelNumber = static_cast<int8_t>(std::min(number + 1, 127));
            game.lives = 3;
        }
    } catch (const MenuReturn&) {
        report = "Pack play left in room " + std::to_string(number) + ".";  // the quit prompt's Y
    } catch (const ProgramEnd& programEnd) {
        if (programEnd.status != 0) throw;
        report = "Pack play left in room " + std::to_string(number) + ".";
    } catch (const FileFailure& failure) {
        report = editorFailureText(failure);
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
