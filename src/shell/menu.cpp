#include "shell/menu.h"

#include <string>

#include "console/console.h"
#include "console/cp437.h"
#include "levels/levels.h"
#include "levels/saves.h"
#include "levels/world.h"
#include "system/output.h"
#include "system/sound.h"

namespace {

constexpr uint8_t brickColour = 8, mortarColour = 7, itemColour = 14, hintColour = 15;
constexpr int continueRow = 10, newGameRow = 11, customRow = 12, soundRow = 13, quitRow = 14;
constexpr int markerColumn = 32, itemColumn = 34;

void writeShade(int count) {
    for (int i = 0; i < count; ++i) writeChar(glyph::brick);
}

void writeAt(int column, int row, const std::string& text) {
    moveCursor(column, row);
    writeText(text);
}

// Joints two cells wide, down rows first..last of each listed column.
void drawJoints(const int (&columns)[4], int firstRow, int lastRow) {
    for (int column : columns) {
        for (int row = firstRow; row <= lastRow; ++row) {
            moveCursor(column, row);
            writeShade(2);
        }
    }
}

// Dark bricks, then light mortar. The first and last fills run the cursor
// one row past the picture, so the view dips down and comes back.
void drawWall() {
    setTextColor(brickColour);
    writeShade(80 * 25);
    setTextColor(mortarColour);
    drawJoints({19, 39, 59, 79}, 1, 6);
    writeShade(160);  // rows 7 and 8, continuing from (1, 7)
    drawJoints({9, 29, 49, 69}, 8, 14);
    moveCursor(1, 15);
    writeShade(160);
    drawJoints({19, 39, 59, 79}, 17, 23);
    writeShade(160);  // rows 24 and 25, continuing from (1, 24)
}

const char* shortLabel(int row) {
    switch (row) {
        case continueRow:
            return "Continue";
        case newGameRow:
            return "New";
        case customRow:
            return "Custom";
        case soundRow:
            return "Sound";
        default:
            return "Quit";
    }
}

void placeMarker(int row) {
    setTextColor(itemColour);
    moveCursor(markerColumn, row);
    writeChar(glyph::marker);
}

void moveMarker(int& selectedRow, int to) {
    setTextColor(brickColour);
    moveCursor(markerColumn, selectedRow);
    writeShade(2);
    setTextColor(itemColour);
    writeText(shortLabel(selectedRow));
    selectedRow = to;
    placeMarker(to);
}

void switchSound() {
    setTextColor(itemColour);
    if (run.soundOn) {
        writeAt(40, soundRow, "[OFF]");
        stopSound();
        run.soundOn = false;
    } else {
        writeAt(40, soundRow, "[ON]");
        // The wall where the longer "[OFF]" stood: brick, then the joint.
        setTextColor(brickColour);
        writeShade(5);
        setTextColor(mortarColour);
        writeShade(2);
        run.soundOn = true;
        playCue("Sound/intro.wav", true);
    }
}

void continueGame() {
    clearScreen();
    playCue("Sound/begin.wav", false);
    delayMs(200);
    delayMs(550);
}

void startNewGame() {
    playCue("Sound/begin.wav", false);
    delayMs(200);
    clearScreen();
    delayMs(550);
    game.totalGoods = 0;
    game.levelNumber = 1;
    game.score = 0;
}

// False on Esc after a name that was not found.
bool packPrompt() {
    for (;;) {
        clearScreen();
        setTextColor(hintColour);
        setTextBackground(0);
        writeText("Type in the Pack name:");
        writeLineEnd();
        // In a UTF-8 locale the name is found as the file system holds it,
        // the name the editor gave the folder when the same name was typed.
        run.packName = readLine();
        if (localeIsUtf8()) run.packName = typedToUtf8(run.packName);
        // An index that lies outside its pack folder (a link out) is no pack's.
        Folder pack = openPlayedPack();
        if (isOpen(pack) && !noFileThere(lookAtPackFile(pack, run.packName + ".txt").kind)) break;
        writeText("File not found. ESC to Menu.");
        writeLineEnd();
        // An arrow key's first byte is read here; its letter goes on into the next line.
        if (readKey() == key::escape) return false;
    }
    run.playingCustomPack = true;
    clearScreen();
    playCue("Sound/begin.wav", false);
    delayMs(200);
    delayMs(550);
    game.levelNumber = 1;
    return true;
}

void quitSound() {
    playCue("Sound/spike.wav", false);
    delayMs(200);
}

}  // namespace

MenuEnd runMainMenu() {
    drawWall();
    moveCursor(1, 1);
    moveCursor(35, 7);
    setTextColor(itemColour);
    writeText("The Quorvex");

    // The item names the file it will use: the one written last.
    SaveFile continueSource = newerSaveFile();
    int selectedRow = newGameRow;
    if (continueSource != SaveFile::None) {
        writeAt(itemColumn, continueRow,
                continueSource == SaveFile::Save ? "Continue (Save)" : "Continue (Checkpoint)");
        selectedRow = continueRow;
    }
    writeAt(itemColumn, newGameRow, "New Game");
    writeAt(itemColumn, customRow, "Custom Levels");
    writeAt(itemColumn, soundRow, "Sound ");
    writeText(run.soundOn ? "[ON]" : "[OFF]");
    writeAt(itemColumn, quitRow, "Quit");

    moveCursor(1, 24);
    setTextColor(hintColour);
    writeText("Controls do not work properly in-game. To stop the character from walking");
    writeLineEnd();
    writeText("constantly, press UP or DOWN.");
    placeMarker(selectedRow);
    playCue("Sound/intro.wav", true);

    for (;;) {
        waitForKey();
        // Arrows arrive as 0 and then their scan code, which is the letter
        // "H" (Up) or "P" (Down); only the letter acts.
        uint8_t menuKey = readKey();
        if (menuKey == scan::down && selectedRow != quitRow) moveMarker(selectedRow, selectedRow + 1);
        if (menuKey == scan::up) {
            // Up onto row 10 asks the files again: one may have appeared meanwhile.
            bool canRise = selectedRow > newGameRow || (selectedRow == newGameRow && newerSaveFile() != SaveFile::None);
            if (canRise) moveMarker(selectedRow, selectedRow - 1);
        }
        if (menuKey == key::enter) {
            if (selectedRow == soundRow) {
                switchSound();
            } else if (selectedRow == quitRow) {
                quitSound();
                return MenuEnd::Quit;
            } else if (selectedRow == newGameRow) {
                startNewGame();
                return MenuEnd::NewGame;
            } else if (selectedRow == customRow) {
                return packPrompt() ? MenuEnd::PackGame : MenuEnd::Redraw;
            } else {
                // No Continue item was drawn when the files were absent at
                // drawing time: decide now, and stay when there is still none.
                // When the file the item names is gone or no longer the
                // newer one (another game in this folder), the menu shows
                // again what is there now.
                SaveFile used = resumeNewerSave(continueSource);
                if (used != SaveFile::None && (continueSource == SaveFile::None || used == continueSource)) {
                    continueGame();
                    return MenuEnd::Continue;
                }
                if (continueSource != SaveFile::None) return MenuEnd::Redraw;
            }
        }
        if (menuKey == key::escape) return MenuEnd::Quit;
    }
}
