#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/cp437.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "levels/saves.h"
#include "levels/world.h"
#include "system/files.h"

namespace {

// Score and goods stop at the ends of their 32-bit range: a save file may
// hold any value, and adding to it must never wrap.
int32_t saturatingAdd(int32_t total, int64_t amount) {
    int64_t sum = int64_t(total) + amount;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

const char* deathCue(int code) {
    if (code == Lava) return "Sound/lava.wav";
    if (code == Spikes) return "Sound/spike.wav";
    return "Sound/enemy.wav";
}

}  // namespace

bool loseLife(PlayerState& player) {
    int code = cellAt(player.playerX, player.playerY);
    playCue(deathCue(code), false);
    setTextColor(6);
    drawCell(player.playerX, player.playerY, glyph::dead);
    game.lives = static_cast<int8_t>(game.lives - 1);
    delayMs(500);
    if (game.lives == 0) {
        // The goods of the lost room still count before the final score shows.
        game.score = saturatingAdd(game.score, int64_t(game.goodsCollected) * 5);
        return false;
    }
    if (code == Lava) {
        setTextColor(4);
        drawCell(player.playerX, player.playerY, glyph::lava);
    } else if (code == Spikes) {
        drawSpikeCell(player.playerX, player.playerY);
    }
    // An enemy's cell is left alone: the enemy erases it when it moves on.
    eraseHeart();
    player.jumping = false;
    player.playerX = room.startX;
    player.playerY = room.startY;
    player.direction = 0;
    restoreCrumbled();
    return true;
}

void collectGoods(int x, int y) {
    playCue("Sound/key.wav", false);
    setCell(x, y, Empty);
    game.goodsCollected = saturatingAdd(game.goodsCollected, 1);
    drawGoodsCounter();
}

void showRoomMessage(PlayerState& player, int code) {
    showMessageText(roomMessage(code));
    // Shown once per load of the room.
    roomMessage(code).clear();
    player.messageTimer = 0;
    player.messageShown = true;
}

void scoreRoom() {
    game.score = saturatingAdd(game.score, int64_t(game.goodsCollected) * 5 + game.lives * 3);
    game.totalGoods = saturatingAdd(game.totalGoods, game.goodsCollected);
}

namespace {

std::string checkpointTrouble;  // why the checkpoint of room checkpointTroubleRoom was not saved
int checkpointTroubleRoom = 0;

// The system's reason as a player reads it on the status rows.
std::string inPlainWords(const std::string& reason) {
    const std::pair<int, const char*> words[] = {{ENOSPC, "the disk is full"},
                                                 {EDQUOT, "the disk quota is used up"},
                                                 {EROFS, "the disk is read-only"},
                                                 {EACCES, "no permission to write"},
                                                 {EPERM, "no permission to write"}};
    for (auto [error, text] : words)
        if (reason == std::strerror(error)) return text;
    return reason;
}

void writeCheckpoint() {
    checkpointTroubleRoom = 0;
    try {
        writeSaveRecord(SaveFile::Checkpoint);
    } catch (const FileFailure& failure) {
        // The old checkpoint stays whole; the player plays on.
        checkpointTrouble = inPlainWords(failure.reason);
        checkpointTroubleRoom = game.levelNumber;
    }
}

}  // namespace

std::string checkpointLabel() {
    if (checkpointTroubleRoom == 0 || checkpointTroubleRoom != game.levelNumber) return "Checkpoint";
    return "Checkpoint not saved: " + checkpointTrouble;
}

void showRoomDone(std::string_view shown) {
    clearScreen();
    playCue("Sound/next.wav", false);
    if (!shown.empty()) {
        std::vector<std::string_view> lines;
        for (size_t start = 0; start <= shown.size();) {
            size_t end = std::min(shown.find('\n', start), shown.size());
            lines.push_back(shown.substr(start, end - start));
            start = end + 1;
        }
        int row = std::max(1, 13 - static_cast<int>(lines.size()) / 2);
        setTextColor(15);
        for (std::string_view line : lines) {
            // Never the last cell of row 25: that would move the view.
            line = line.substr(0, static_cast<size_t>(screenWidth - 1));
            moveCursor(std::max(1, (screenWidth - static_cast<int>(line.size())) / 2 + 1), row++);
            writeText(line);
            if (row > viewRows) break;
        }
    }
    delayMs(1750);
}

void completeRoom(std::string_view shown) {
    scoreRoom();
    showRoomDone(shown);
    game.levelNumber = static_cast<int8_t>(game.levelNumber + 1);
    // A pack's rooms are numbered like the series' but are not its rooms: a
    // checkpoint from them would overwrite the series' progress.
    if (game.levelNumber % 5 == 0 && !run.playingCustomPack) writeCheckpoint();
    game.lives = 3;
}
