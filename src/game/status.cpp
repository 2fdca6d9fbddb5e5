#include <string>

#include "console/console.h"
#include "console/cp437.h"
#include "game/tick.h"
#include "levels/levelformat.h"
#include "levels/saves.h"
#include "levels/world.h"

namespace {

constexpr int messageColumn = 15, messageRow = 24;
constexpr int messageTicks = 40;
constexpr int checkpointLabelTicks = 41;

bool isQuitAnswer(int pressed) {
    return pressed == 'Y' || pressed == 'y' || pressed == 'N' || pressed == 'n' || pressed == key::escape ||
           pressed == key::enter;
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
    for (int life = 0; life < game.lives; ++life) writeChar(glyph::heart);

    if (run.soundOn) {
        setTextColor(3);
        moveCursor(79, 25);
        writeChar(glyph::sound);
    }

    // A pack's fifth rooms write no checkpoint, so they do not announce one.
    if (game.levelNumber % 5 == 0 && !run.playingCustomPack) {
        moveCursor(35, 23);
        setTextColor(15);
        std::string label = checkpointLabel();
        writeText(label.substr(0, screenWidth - 34));
        player.checkpointLabelTimer = 0;
        // What went wrong stays up for the room; the label alone goes.
        player.checkpointLabelShown = label == "Checkpoint";
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
    writeText(text.substr(0, messageShownLimit));
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
    writeChar(run.soundOn ? ' ' : glyph::sound);
    run.soundOn = !run.soundOn;
}

namespace {

void drawQuitPrompt() {
    setTextColor(0);
    setTextBackground(15);
    moveCursor(35, 25);
    writeText("QUIT? Y/N");
}

void eraseQuitPrompt() {
    setTextBackground(0);
    moveCursor(34, 25);
    writeText("          ");
}

}  // namespace

void showRefusedQuitPrompt() {
    drawQuitPrompt();
    eraseQuitPrompt();
}

QuitAnswer quitPrompt() {
    drawQuitPrompt();

    // The Enter that opened the prompt may repeat; those repeats are not an answer.
    int pressed = -1;
    while (keyPressed()) {
        uint8_t next = readKey();
        if (next != key::enter) {
            pressed = next;
            break;
        }
    }
    for (;;) {
        if (pressed == key::extended) {
            readKey();  // an extended key's second byte is no answer either
            pressed = -1;
        }
        if (isQuitAnswer(pressed)) break;
        waitForKey();
        pressed = readKey();
    }

    if (pressed == key::escape) return QuitAnswer::Leave;
    if (pressed == 'Y' || pressed == 'y') {
        if (!run.playingCustomPack) writeSaveRecord(SaveFile::Save);
        return QuitAnswer::Yes;
    }
    eraseQuitPrompt();
    return QuitAnswer::No;
}
