// Play-tests: the room as it stands, in the game's own room loop with its
// rules, sounds and status lines. Esc, the quit prompt's Y or the exit come
// back here, and the world model is put back as it was.
#include <algorithm>
#include <cstdint>

#include "console/console.h"
#include "edit/edit.h"
#include "game/play.h"
#include "game/runfile.h"
#include "game/tick.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "system/files.h"

namespace {

WorldSnapshot startPlay(bool fromCursor) {
    WorldSnapshot saved = saveWorld();
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

void endPlay(const WorldSnapshot& saved) {
    restoreWorld(saved);
    setTextBackground(0);
}

// What the room's counters say once its play is over, before the world goes back.
void countPlay(PlayReport& report) {
    report.goodsTaken = game.goodsCollected;
    report.livesLost = 3 - game.lives;
}

// Esc or the quit prompt's Y come back to the editor as leaving does.
PlayEnd playEnd(RoomEnd end) {
    if (end == RoomEnd::Exit) return PlayEnd::Exit;
    if (end == RoomEnd::GameOver) return PlayEnd::GameOver;
    return PlayEnd::Left;
}

}  // namespace

PlayReport playTest(bool fromCursor) {
    WorldSnapshot saved = startPlay(fromCursor);
    PlayReport report;
    report.goodsOnMap = goodsOnMap();
    // Recorded as the game records its runs, the room's text held in the run.
    loadedRoom = {RoomSourceKind::Held, edit.path, roomFileText(edit.text, edit.inherited, false)};
    beginRecording(RunOrigin::PlayTest, "");
    report.end = playEnd(playRoom(&report.ticks));
    endRecording();
    if (report.end == PlayEnd::Exit) playCue("Sound/next.wav", false);
    countPlay(report);
    endPlay(saved);
    return report;
}

std::string playReportText(const PlayReport& report, std::string_view what) {
    std::string text(what);
    std::string ticks = std::to_string(report.ticks) + " ticks";
    if (report.end == PlayEnd::Exit)
        text += ": exit reached in " + ticks;
    else if (report.end == PlayEnd::GameOver)
        text += ": all three lives lost after " + ticks;
    else
        text += " left after " + ticks;
    if (report.goodsOnMap > 0)
        text += ", goods " + std::to_string(report.goodsTaken) + "/" + std::to_string(report.goodsOnMap);
    if (report.end != PlayEnd::GameOver)
        text += report.livesLost == 0   ? ", no life lost"
                : report.livesLost == 1 ? ", 1 life lost"
                                        : ", " + std::to_string(report.livesLost) + " lives lost";
    return text + ".";
}

PlayEnd playPack(const std::vector<RoomFile>& rooms, int firstNumber, const Inheritance& before, std::string& report) {
    WorldSnapshot saved = saveWorld();
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
    beginRecording(RunOrigin::PlayTest, "");
    try {
        for (size_t i = 0;; ++i, ++number) {
            std::string where = "Room " + std::to_string(number);
            if (i >= rooms.size()) {
                report = where + " is the end line: the game shows the pack's end screen there.";
                end = PlayEnd::Exit;
                break;
            }
            if (number > backdropRoom) {
                report = where + " is never reached: the game ends at room 22.";
                break;
            }
            if (number == backdropRoom) {
                report = where + " is the ending's backdrop: the game draws it and plays its final sequence.";
                end = PlayEnd::Exit;
                break;
            }
            const RoomFile& file = rooms[i];
            OpenFile opened;
            if (!file.name.empty()) opened = openRoomFile(file);
            if (opened.fd < 0) {
                report = where + ": the game finds no file " + (file.name.empty() ? "there" : file.shown) +
                         " and stops on its missing-file screen.";
                break;
            }
            clearScreen();
            loadedRoom = {RoomSourceKind::Held, file.shown, readLevelLines(opened, file.shown)};
            readLevelText(loadedRoom.text);
            drawRoom();
            int ticks = 0;
            RoomEnd roomEnd = playRoom(&ticks);
            if (roomEnd == RoomEnd::GameOver) {
                report = where + ": all three lives lost after " + std::to_string(ticks) + " ticks.";
                end = PlayEnd::GameOver;
                break;
            }
            if (roomEnd != RoomEnd::Exit) {
                report = "Pack play left in room " + std::to_string(number) + ".";  // Esc or the quit prompt's Y
                break;
            }
            completeRoom();  // in a pack: no checkpoint file
        }
    } catch (const FileFailure& failure) {
        report = editorFailureText(failure);
    }
    endRecording();
    endPlay(saved);
    return end;
}

PlayReport playSolution(const std::vector<uint8_t>& keys) {
    WorldSnapshot saved = startPlay(false);
    PlayReport report;
    report.goodsOnMap = goodsOnMap();
    PlayEnd& end = report.end;
    int& ticks = report.ticks;
    PlayerState player = startRoom();
    for (ticks = 0; ticks < static_cast<int>(keys.size()) && end == PlayEnd::Left;) {
        if (keyPressed()) {
            uint8_t pressed = readKey();
            if (pressed == key::extended) readKey();
            if (pressed == key::escape) break;
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
    countPlay(report);
    endPlay(saved);
    return report;
}
