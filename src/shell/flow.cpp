#include "shell/flow.h"

#include <optional>
#include <vector>

#include "console/console.h"
#include "endings/endings.h"
#include "game/par.h"
#include "game/play.h"
#include "game/runfile.h"
#include "game/runstore.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "shell/menu.h"
#include "shell/missingfile.h"
#include "system/files.h"
#include "system/folders.h"

namespace {

std::string report;
bool timeTrial = false;

enum class GameEnd { Menu, Leave };

// A room of this game in the time trial's table.
struct TrialRoom {
    int number = 0;
    int ticks = 0;
    RoomBest best;
    std::optional<int> par;
};
std::vector<TrialRoom> trialRooms;

// "Room 7: 412 ticks (30.9 s) · best 398 · par 356", par only where known.
std::string trialLine(const TrialRoom& played) {
    std::string line = "Room " + std::to_string(played.number) + ": " + std::to_string(played.ticks) + " ticks (" +
                       secondsOfTicks(played.ticks) + " s) \xFA best " + std::to_string(played.best.ticks);
    if (played.par) line += " \xFA par " + std::to_string(*played.par);
    return line;
}

std::string padded(std::string text, size_t width) {
    return std::string(width - std::min(width, text.size()), ' ') + text;
}

// The table after the last room: this game's rooms, their ticks, bests and pars.
std::string trialTable() {
    auto row = [](const std::string& room, const std::string& ticks, const std::string& seconds,
                  const std::string& best, const std::string& par) {
        return padded(room, 6) + padded(ticks, 8) + padded(seconds, 9) + padded(best, 8) + padded(par, 7) + "  \n";
    };
    std::string table = "Time trial" + std::string(30, ' ') + "\n" + row("Room", "Ticks", "Seconds", "Best", "Par");
    int total = 0;
    for (const TrialRoom& played : trialRooms) {
        total += played.ticks;
        table += row(std::to_string(played.number), std::to_string(played.ticks), secondsOfTicks(played.ticks),
                     std::to_string(played.best.ticks), played.par ? std::to_string(*played.par) : "");
    }
    return table + row("Total", std::to_string(total), secondsOfTicks(total), "", "") + "Enter: go on" +
           std::string(28, ' ');
}

// The room just played to its exit: into the bests, and its line or, after
// the last room, the table for the blank screen of the time trial.
std::string keepFinishedRoom(bool lastRoom) {
    const RecordedRun& recorded = recordedRun();
    const RoomRecord* last = lastRoomRecorded();
    if (last == nullptr || last->end != RoomEnd::Exit) return "";
    const RoomRecord& finished = *last;
    TrialRoom played;
    played.number = finished.number;
    played.ticks = static_cast<int>(finished.ticks.size());
    played.best = keepRoomBest(recorded, finished, room.goodsInRoom);
    played.par = roomPar(recorded.series, finished, loadedRoom.text);
    if (!timeTrial) return "";
    trialRooms.push_back(played);
    return lastRoom ? trialTable() : trialLine(played);
}

// After the table: Enter goes on, Esc ends the program.
GameEnd waitAfterTable() {
    for (;;) {
        waitForKey();
        uint8_t pressed = readKey();
        if (pressed == key::extended) readKey();
        if (pressed == key::enter) return GameEnd::Menu;
        if (pressed == key::escape) return GameEnd::Leave;
    }
}

// One game from its first room, room after room, until it goes back to the
// menu or ends the program.
GameEnd playRooms() {
    for (RoomLoad load = loadCurrentLevel();; load = loadCurrentLevel()) {
        switch (load.outcome) {
            case LoadOutcome::Missing:
                showMissingFile(load.detail);
                return GameEnd::Menu;
            case LoadOutcome::PackEnd:
                showPackEnd(load.detail);
                return GameEnd::Menu;
            case LoadOutcome::Backdrop:
                return playFinalSequence() == FinaleEnd::Menu ? GameEnd::Menu : GameEnd::Leave;
            case LoadOutcome::Play:
                break;
        }
        switch (playRoom()) {
            case RoomEnd::Exit: {
                bool table = timeTrial && lastPlayedRoom();
                std::string shown = keepFinishedRoom(table);
                completeRoom(shown);
                if (table && waitAfterTable() == GameEnd::Leave) return GameEnd::Leave;
                break;  // the next room
            }
            case RoomEnd::GameOver:
                showGameOver();
                return GameEnd::Menu;
            case RoomEnd::Quit:
                return GameEnd::Menu;
            case RoomEnd::Leave:
                return GameEnd::Leave;
        }
    }
}

// A game, recorded as a run from its first room to its last.
GameEnd playGame(RunOrigin origin) {
    beginRecording(origin, run.playingCustomPack ? run.packName : "");
    trialRooms.clear();
    try {
        GameEnd end = playRooms();
        endRecording();
        flushBests();
        return end;
    } catch (...) {
        endRecording();
        throw;
    }
}

// What going back to the main menu leaves: a black screen, no enemy, no pack.
void returnToMainMenu() {
    setTextBackground(0);
    clearScreen();
    room.verticalEnemy.active = false;
    room.horizontalEnemy.active = false;
    run.playingCustomPack = false;
}

}  // namespace

int runProgram() {
    report.clear();
    hideCursor();
    run.soundOn = true;
    run.baseDirectory = currentDirectory() + "/";
    holdGameFolder(run.baseDirectory);  // every file of the game is reached through it from now on
    try {
        for (;;) {
            returnToMainMenu();
            MenuEnd how = runMainMenu();
            switch (how) {
                case MenuEnd::Quit:
                    return 0;
                case MenuEnd::Redraw:
                    break;
                case MenuEnd::NewGame:
                case MenuEnd::Continue:
                case MenuEnd::PackGame: {
                    RunOrigin origin = how == MenuEnd::NewGame    ? RunOrigin::NewGame
                                       : how == MenuEnd::Continue ? RunOrigin::Continue
                                                                  : RunOrigin::Pack;
                    if (playGame(origin) == GameEnd::Leave) return 0;
                    break;
                }
            }
        }
    } catch (const NoticeEscape&) {
        return 0;
    } catch (const ConsoleInterrupt&) {
        return 130;
    } catch (const FileFailure& failure) {
        report = describeFailure(failure);
        return 2;
    }
}

const std::string& failureReport() { return report; }

void setTimeTrial(bool on) { timeTrial = on; }
