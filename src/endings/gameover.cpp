#include <cstdint>
#include <string>

#include "console/console.h"
#include "endings/endings.h"
#include "levels/saves.h"
#include "levels/world.h"

void showGameOver() {
    clearScreen();
    // The score sits under "Total Score:", roughly centred whatever its length.
    int scoreColumn = 41 - static_cast<int>(std::to_string(game.score).size()) / 2;

    setTextColor(4);
    moveCursor(36, 10);
    writeText("GAME OVER!");
    moveCursor(35, 12);
    setTextColor(15);
    writeText("Total Score:");
    moveCursor(scoreColumn, 13);
    writeNumber(game.score);

    // A lost game cannot be continued; the checkpoint stays for a later try.
    // Losing in a pack loses nothing of the series: its save stays.
    if (!run.playingCustomPack) deleteSaveRecord(SaveFile::Save);

    playCue("Sound/death.wav", false);
    delayMs(750);

    // Only Enter leaves; everything else, Esc included, is read and dropped.
    for (uint8_t pressed = 0; pressed != key::enter;) {
        waitForKey();
        pressed = readKey();
    }
}
