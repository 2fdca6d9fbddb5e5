#include <string>

#include "console/console.h"
#include "game/tick.h"
#include "levels/saves.h"
#include "levels/world.h"
#include "system/unwind.h"

namespace {

constexpr uint8_t heartGlyph = 0x03;
constexpr uint8_t soundGlyph = 0x0E;
constexpr int messageColumn = 15, messageRow = 24;
constexpr int messageTicks = 40;
constexpr int checkpointLabelTicks = 41;

// From column 15 of row 24 to the end of row 25 there are 146 cells, but a
// byte written in the very last one moves the cursor to row 26 and the view
// with it. One cell less keeps the picture where it is.
constexpr size_t messageLimit = 145;

bool isQuitAnswer(int pressed) {
    return pressed == 'Y' || pressed == 'y' || pressed == 'N' || pressed == 'n' || pressed == playKey::escape ||
           pressed == playKey::enter;
}

}  // namespace

void drawStatusLines(PlayerState& player) {
    setTextColor(14);
    moveCursor(2, 25);
    writeText("Goods: ");
    setTextColor(3);
    writeText("0/");
    writeNumber(room.goodsInRoom);

    setTextColor(14);
    moveCursor(2, 24);
    writeText("Lives: ");
    setTextColor(4);
    for (int life = 0; life < game.lives; ++life) writeChar(heartGlyph);

    if (run.soundOn) {
        setTextColor(3);
        moveCursor(79, 25);
        writeChar(soundGlyph);
    }

    if (game.levelNumber % 5 == 0) {
        moveCursor(35, 23);
        setTextColor(15);
        writeText("Checkpoint");
        player.checkpointLabelTimer = 0;
        player.checkpointLabelShown = true;
    } else {
        player.checkpointLabelShown = false;
    }

    if (!run.playingCustomPack) {
        setTextColor(14);
        moveCursor(2, 23);
        writeText("Level: ");
        setTextColor(3);
        writeNumber(game.levelNumber);
    }
}

void drawGoodsCounter() {
    setTextColor(3);
    moveCursor(9, 25);
    writeNumber(game.goodsCollected);
    writeText("/");
    writeNumber(room.goodsInRoom);
}

void eraseHeart() {
    moveCursor(game.lives + 9, 24);
    writeChar(' ');
}

void showMessageText(std::string_view text) {
    moveCursor(messageColumn, messageRow);
    clearToLineEnd();
    setTextColor(0);
    setTextBackground(15);
    writeText(text.substr(0, messageLimit));
    setTextBackground(0);
}

void messageTimeOut(PlayerState& player) {
    if (!player.messageShown || player.messageTimer != messageTicks) return;
    moveCursor(messageColumn, messageRow);
    clearToLineEnd();
    player.messageShown = false;
}

void checkpointLabelTimeOut(PlayerState& player) {
    if (!player.checkpointLabelShown) return;
    if (++player.checkpointLabelTimer < checkpointLabelTicks) return;
    moveCursor(35, 23);
    writeText("           ");
    player.checkpointLabelShown = false;
}

void toggleSound() {
    setTextColor(3);
    moveCursor(79, 25);
    writeChar(run.soundOn ? ' ' : soundGlyph);
    run.soundOn = !run.soundOn;
}

void quitPrompt() {
    setTextColor(0);
    setTextBackground(15);
    moveCursor(35, 25);
    writeText("QUIT? Y/N");

    // The Enter that opened the prompt may repeat; those repeats are not an answer.
    int pressed = -1;
    while (keyPressed()) {
        uint8_t next = readKey();
        if (next != playKey::enter) {
            pressed = next;
            break;
        }
    }
    for (;;) {
        if (pressed == playKey::extended) {
            readKey();  // an extended key's second byte is no answer either
            pressed = -1;
        }
        if (isQuitAnswer(pressed)) break;
        waitForKey();
        pressed = readKey();
    }

    if (pressed == playKey::escape) endProgram(0);
    if (pressed == 'Y' || pressed == 'y') {
        if (!run.playingCustomPack) writeSaveRecord(run.baseDirectory + "save.sav");
        returnToMainMenu();
    }
    setTextBackground(0);
    moveCursor(34, 25);
    writeText("          ");
}
