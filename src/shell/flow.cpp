#include "shell/flow.h"

#include "console/console.h"
#include "endings/endings.h"
#include "game/play.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "shell/menu.h"
#include "shell/missingfile.h"
#include "system/files.h"
#include "system/folders.h"

namespace {

std::string report;

enum class GameEnd { Menu, Leave };

// One game from its first room, room after room, until it goes back to the
// menu or ends the program.
GameEnd playGame() {
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
            case RoomEnd::Exit:
                completeRoom();
                break;  // the next room
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
            switch (runMainMenu()) {
                case MenuEnd::Quit:
                    return 0;
                case MenuEnd::Redraw:
                    break;
                case MenuEnd::StartGame:
                    if (playGame() == GameEnd::Leave) return 0;
                    break;
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
