#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/cp437.h"
#include "endings/endings.h"
#include "levels/saves.h"
#include "levels/world.h"
#include "system/sound.h"

namespace {

constexpr int walkRow = 18;
constexpr int blockColumn = 39;

// Each step of the sequence says whether Esc was pressed meanwhile: Esc ends
// the game at once. Any other key is swallowed so it cannot answer a later
// dialogue line early.
bool escPressed() { return keyPressed() && readKey() == key::escape; }

bool escWaited() { return readKey() == key::escape; }

// The player's glyph moves one column right along the floor, leaving a blank behind.
bool walk(int fromColumn, int toColumn, int stepMs) {
    for (int column = fromColumn; column <= toColumn; ++column) {
        moveCursor(column - 1, walkRow);
        writeChar(' ');
        writeChar(glyph::player);
        if (escPressed()) return false;
        delayMs(stepMs);
    }
    return true;
}

bool dialogueLine(std::string_view text) {
    moveCursor(10, 24);
    setTextBackground(0);
    clearToLineEnd();
    setTextColor(0);
    setTextBackground(15);
    writeText(text);
    if (escWaited()) return false;
    moveCursor(10, 24);
    setTextBackground(0);
    clearToLineEnd();
    return true;
}

bool fallingBlock() {
    setTextColor(8);
    for (int row = 8; row <= walkRow; ++row) {
        moveCursor(blockColumn, row - 1);
        writeChar(' ');
        moveCursor(blockColumn, row);
        writeChar(glyph::crumbling);
        if (escPressed()) return false;
        delayMs(50);
    }
    return true;
}

void creditLine(int column, int row, uint8_t colour, std::string_view text) {
    moveCursor(column, row);
    setTextColor(colour);
    writeText(text);
}

// Written below the visible rows; the scroll brings them up into view. The
// rooms, the code, the sounds and the music are all the developers' own work.
void writeCredits() {
    const std::string_view makers = "The Quorvex developers";
    creditLine(37, 26, 14, "Credits");
    creditLine(34, 30, 14, "Programmer:");
    creditLine(28, 31, 15, makers);
    creditLine(32, 33, 14, "Level designer:");
    creditLine(31, 34, 15, "The same developers");
    creditLine(32, 37, 14, "Sound developer:");
    creditLine(28, 38, 15, makers);
    creditLine(35, 41, 14, "Music by:");
    creditLine(31, 42, 15, makers);
    creditLine(37, 72, 14, "THE END");
    creditLine(34, 74, 14, "Final Score:");
    // Centred under "Final Score:" for a score of any length.
    int scoreColumn = 40 - static_cast<int>(std::to_string(game.score).size()) / 2;
    moveCursor(scoreColumn, 75);
    setTextColor(15);
    writeNumber(game.score);
    moveCursor(1, 1);
}

enum class CreditsEnd { Rolled, Skipped, Left };

// Each cursor move one row below the view pulls the credits up by a row.
// Esc ends the game; Enter skips straight to the menu, keeping the save files.
CreditsEnd scrollCredits() {
    uint8_t lastKey = 0;
    for (int row = 25; row <= 85; ++row) {
        moveCursor(1, row);
        if (keyPressed()) lastKey = readKey();
        if (lastKey == key::escape) return CreditsEnd::Left;
        if (lastKey == key::enter) return CreditsEnd::Skipped;
        delayMs(300);
    }
    return CreditsEnd::Rolled;
}

// The sequence up to the credits; false when Esc ended it.
bool playEarthquake() {
    setTextColor(6);
    moveCursor(2, walkRow);
    writeChar(glyph::player);
    followPlayer(2, walkRow);  // a small window shows the walk and, on its last rows, the dialogue
    delayMs(1000);
    if (!walk(3, 10, 70) || !dialogueLine("Oh my God! This is insane!")) return false;

    // Each later walk starts by drawing the glyph again where it stands.
    setTextColor(6);
    if (!walk(10, 15, 80) || !dialogueLine("I can't belive in what I'm seeing!")) return false;
    setTextColor(6);
    if (!walk(15, blockColumn, 80) || !dialogueLine("It' unbelivable!")) return false;

    playCue("Sound/eq.wav", false);
    delayMs(1300);
    playCue("Sound/eq_loop.wav", true);
    if (!dialogueLine("Oh no. It looks like this place is about to colapse.") ||
        !dialogueLine("But look at all those sniny things!") ||
        !dialogueLine("I can't go back! I can't leave all this things!"))
        return false;
    delayMs(1500);
    return fallingBlock();
}

}  // namespace

FinaleEnd playFinalSequence() {
    if (!playEarthquake()) return FinaleEnd::Leave;

    clearScreen();
    // Asked for whatever the sound switch says: it must silence the earthquake loop.
    requestSoundDirect("Sound\\eq_end");
    delayMs(5000);
    if (escPressed()) return FinaleEnd::Leave;
    playCue("Sound/credits.wav", true);
    delayMs(5000);
    if (escPressed()) return FinaleEnd::Leave;

    writeCredits();
    CreditsEnd credits = scrollCredits();
    if (credits == CreditsEnd::Left) return FinaleEnd::Leave;
    if (credits == CreditsEnd::Skipped) return FinaleEnd::Menu;
    delayMs(5000);
    if (escWaited()) return FinaleEnd::Leave;

    // The series is finished: neither save can be continued any more. A
    // pack's 22nd room ends only the pack; the series' saves stay.
    clearScreen();
    if (!run.playingCustomPack) {
        deleteSaveRecord(SaveFile::Save);
        deleteSaveRecord(SaveFile::Checkpoint);
    }
    return FinaleEnd::Menu;
}
