#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"
#include "endings/endings.h"
#include "levels/world.h"
#include "system/files.h"
#include "system/sound.h"
#include "system/unwind.h"

namespace {

constexpr uint8_t escKey = 27;
constexpr uint8_t enterKey = 13;
constexpr int walkRow = 18;
constexpr int blockColumn = 39;

// Esc ends the game at once; any other key is swallowed so it cannot
// answer a later dialogue line early.
void escCheck() {
    if (keyPressed() && readKey() == escKey) endProgram(0);
}

void keyWait() {
    if (readKey() == escKey) endProgram(0);
}

// The player's glyph moves one column right along the floor, leaving a blank behind.
void walk(int fromColumn, int toColumn, int stepMs) {
    for (int column = fromColumn; column <= toColumn; ++column) {
        moveCursor(column - 1, walkRow);
        writeChar(0x20);
        writeChar(0x02);
        escCheck();
        delayMs(stepMs);
    }
}

void dialogueLine(std::string_view text) {
    moveCursor(10, 24);
    setTextBackground(0);
    clearToLineEnd();
    setTextColor(0);
    setTextBackground(15);
    writeText(text);
    keyWait();
    moveCursor(10, 24);
    setTextBackground(0);
    clearToLineEnd();
}

void fallingBlock() {
    setTextColor(8);
    for (int row = 8; row <= walkRow; ++row) {
        moveCursor(blockColumn, row - 1);
        writeChar(0x20);
        moveCursor(blockColumn, row);
        writeChar(0xB0);
        escCheck();
        delayMs(50);
    }
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

// Each cursor move one row below the view pulls the credits up by a row.
// Esc ends the game; Enter skips straight to the menu, keeping the save files.
void scrollCredits() {
    uint8_t lastKey = 0;
    for (int row = 25; row <= 85; ++row) {
        moveCursor(1, row);
        if (keyPressed()) lastKey = readKey();
        if (lastKey == escKey) endProgram(0);
        if (lastKey == enterKey) returnToMainMenu();
        delayMs(300);
    }
}

void deleteIfPresent(const std::string& relative) {
    std::string path = run.baseDirectory + relative;
    if (fileExists(path)) deleteFile(path);
}

}  // namespace

void playFinalSequence() {
    setTextColor(6);
    moveCursor(2, walkRow);
    writeChar(0x02);
    followPlayer(2, walkRow);  // a small window shows the walk and, on its last rows, the dialogue
    delayMs(1000);
    walk(3, 10, 70);
    dialogueLine("Oh my God! This is insane!");

    // Each later walk starts by drawing the glyph again where it stands.
    setTextColor(6);
    walk(10, 15, 80);
    dialogueLine("I can't belive in what I'm seeing!");
    setTextColor(6);
    walk(15, blockColumn, 80);
    dialogueLine("It' unbelivable!");

    playCue("Sound/eq.wav", false);
    delayMs(1300);
    playCue("Sound/eq_loop.wav", true);
    dialogueLine("Oh no. It looks like this place is about to colapse.");
    dialogueLine("But look at all those sniny things!");
    dialogueLine("I can't go back! I can't leave all this things!");
    delayMs(1500);
    fallingBlock();

    clearScreen();
    // Asked for whatever the sound switch says: it must silence the earthquake loop.
    requestSoundDirect("Sound\\eq_end");
    delayMs(5000);
    escCheck();
    playCue("Sound/credits.wav", true);
    delayMs(5000);
    escCheck();

    writeCredits();
    scrollCredits();
    delayMs(5000);
    keyWait();

    // The series is finished: neither save can be continued any more. A
    // pack's 22nd room ends only the pack; the series' saves stay.
    clearScreen();
    if (!run.playingCustomPack) {
        deleteIfPresent("save.sav");
        deleteIfPresent("checkpoint.sav");
    }
    returnToMainMenu();
}
