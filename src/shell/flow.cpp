#include "shell/flow.h"

#include "console/console.h"
#include "levels/world.h"
#include "shell/menu.h"
#include "system/files.h"

namespace {
std::string report;
}

int runProgram() {
    report.clear();
    hideCursor();
    run.soundOn = true;
    run.baseDirectory = currentDirectory() + "/";
    try {
        for (;;) {
            try {
                setTextBackground(0);
                clearScreen();
                room.verticalEnemy.active = false;
                room.horizontalEnemy.active = false;
                run.playingCustomPack = false;
                runMainMenu();
                return 0;  // the menu never returns; if it did, the run is over
            } catch (const MenuReturn&) {
            }
        }
    } catch (const ProgramEnd& end) {
        return end.status;
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
