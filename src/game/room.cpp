#include <algorithm>

#include "console/console.h"
#include "endings/endings.h"
#include "game/play.h"
#include "game/tick.h"
#include "levels/world.h"
#include "system/unwind.h"

bool isSolid(int code) { return code == Wall || code == Crumbling || code == Spring || code == Ice; }

// Codes above 20 are neither solid nor open: the player can walk into them
// but does not fall into them.
bool isOpen(int code) {
    return code == Empty || code == Lava || code == Spikes || code == Crumbled ||
           (code >= VerticalEnemy && code <= MessageLast);
}

void drawCell(int x, int y, uint8_t glyph) {
    if (!insideMap(x, y)) return;
    moveCursor(x, y);
    writeChar(glyph);
}

namespace {

constexpr uint8_t playerGlyph = 0x02;
constexpr uint8_t playerColour = 6;

bool isJumpGround(int code) { return code == Wall || code == Crumbling || code == Ice; }
CellCode below(const PlayerState& player) { return cellAt(player.playerX, player.playerY + 1); }
CellCode above(const PlayerState& player) { return cellAt(player.playerX, player.playerY - 1); }
bool isSliding(const PlayerState& player) { return player.slide != 0 && below(player) == Ice; }
bool isDeadly(int code) { return code == Lava || code == Spikes || code == VerticalEnemy || code == HorizontalEnemy; }
bool isGoods(int code) { return code == GoodsDiamond || code == GoodsClub || code == GoodsSpade; }

void drawPlayer(const PlayerState& player) {
    setTextColor(playerColour);
    drawCell(player.playerX, player.playerY, playerGlyph);
    followPlayer(player.playerX, player.playerY);
}

// Erased and drawn again on every tick, moving or not. A step sideways puts
// the blank and the player side by side: one write of both cells, so the
// terminal gets one update instead of two (a blank's colour does not show).
void redrawPlayer(const PlayerState& player) {
    setTextBackground(0);
    int step = player.playerX - player.previousX;
    if (player.playerY == player.previousY && (step == 1 || step == -1) &&
        insideMap(player.previousX, player.previousY) && insideMap(player.playerX, player.playerY)) {
        setTextColor(playerColour);
        moveCursor(std::min(player.previousX, player.playerX), player.playerY);
        writeText(step == 1 ? " \x02" : "\x02 ");
        followPlayer(player.playerX, player.playerY);
        return;
    }
    drawCell(player.previousX, player.previousY, ' ');
    drawPlayer(player);
}

void startJumpIfDue(PlayerState& player) {
    bool fromSpring = below(player) == Spring;
    bool fromGround =
        !player.jumping && player.direction == playKey::space && isJumpGround(below(player)) && above(player) != Wall;
    if (!fromSpring && !fromGround) return;
    player.jumping = true;
    player.jumpStep = 0;
    if (fromSpring) {
        player.jumpHeight = 8;
    } else {
        // The jump carries the walk that was in progress before the space.
        player.jumpHeight = 3;
        player.direction = player.savedDirection;
    }
}

void walk(PlayerState& player) {
    if (player.slide != 1 && player.direction == playKey::left && !isSolid(cellAt(player.playerX - 1, player.playerY)))
        --player.playerX;
    if (player.slide != -1 && player.direction == playKey::right &&
        !isSolid(cellAt(player.playerX + 1, player.playerY)))
        ++player.playerX;
}

void moveInJump(PlayerState& player) {
    if (!player.jumping) return;
    if (player.jumpStep < player.jumpHeight) {
        if (isSolid(above(player)))
            player.jumpStep = player.jumpHeight;  // bumped: the rise ends here
        else
            --player.playerY;
    } else if (isSolid(below(player))) {
        player.jumping = false;
    } else {
        ++player.playerY;
    }
    ++player.jumpStep;
}

void lockSlide(PlayerState& player) {
    if (below(player) != Ice) {
        player.slide = 0;
    } else if (player.slide == 0) {
        if (player.direction == playKey::left) player.slide = -1;
        if (player.direction == playKey::right) player.slide = 1;
    }
}

bool anyCrumbleSlotActive() {
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) return true;
    return false;
}

}  // namespace

PlayerState startRoom() {
    PlayerState player;
    game.goodsCollected = 0;
    player.messageShown = false;
    player.jumpHeight = 3;
    game.lives = 3;
    // A slot still running from the last room would blank a cell of this one.
    freeCrumbleSlots();
    drawStatusLines(player);
    player.playerX = room.startX;
    player.playerY = room.startY;
    room.verticalEnemy.step = -1;
    room.horizontalEnemy.step = 1;
    player.direction = 0;
    player.slide = 0;
    player.jumping = false;
    drawPlayer(player);
    return player;
}

void pressSpace(PlayerState& player) {
    player.savedDirection = player.direction;
    player.direction = playKey::space;
}

void pressExtendedKey(PlayerState& player, uint8_t code) {
    player.savedDirection = player.direction;
    // On ice the slide holds its direction; the arrow is dropped, so Right's
    // second byte can never be taken for the sound key either.
    if (!isSliding(player)) player.direction = code;
}

void readTickKey(PlayerState& player) {
    if (!keyPressed()) return;
    uint8_t pressed = readKey();
    switch (pressed) {
        case playKey::space:
            pressSpace(player);
            break;
        case 'M':
        case 'm':
            toggleSound();
            break;
        case playKey::enter:
            quitPrompt();
            break;
        case playKey::escape:
            endProgram(0);
        case playKey::extended:
            pressExtendedKey(player, readKey());
            break;
        default:
            break;
    }
}

TickOutcome runTickRules(PlayerState& player) {
    player.previousX = player.playerX;
    player.previousY = player.playerY;
    startJumpIfDue(player);
    walk(player);
    moveInJump(player);
    if (!player.jumping && isOpen(below(player))) ++player.playerY;
    lockSlide(player);

    redrawPlayer(player);
    if (player.previousX == player.playerX) player.slide = 0;

    TickOutcome outcome = TickOutcome::GoOn;
    if (isDeadly(cellAt(player.playerX, player.playerY))) {
        if (!loseLife(player)) return TickOutcome::GameOver;
        outcome = TickOutcome::LifeLost;
    }
    registerCrumbling(player.playerX, player.playerY);
    if (anyCrumbleSlotActive()) updateCrumbling();
    int here = cellAt(player.playerX, player.playerY);
    if (isMessageCode(here) && !roomMessage(here).empty()) showRoomMessage(player, here);
    messageTimeOut(player);
    checkpointLabelTimeOut(player);
    if (isGoods(cellAt(player.playerX, player.playerY))) collectGoods(player.playerX, player.playerY);
    if (room.verticalEnemy.active || room.horizontalEnemy.active) updateEnemies();
    if (player.messageShown) ++player.messageTimer;
    if (cellAt(player.playerX, player.playerY) == Exit) return TickOutcome::ExitReached;
    return outcome;
}

void applyTickKey(PlayerState& player, TickKey key) {
    switch (key) {
        case TickKey::None:
            break;
        case TickKey::Space:
            pressSpace(player);
            break;
        case TickKey::Left:
            pressExtendedKey(player, playKey::left);
            break;
        case TickKey::Right:
            pressExtendedKey(player, playKey::right);
            break;
        case TickKey::Up:
            pressExtendedKey(player, playKey::up);
            break;
        case TickKey::Down:
            pressExtendedKey(player, playKey::down);
            break;
    }
}

TickOutcome stepTickWith(PlayerState& player, TickKey key) {
    applyTickKey(player, key);
    return runTickRules(player);
}

TickOutcome stepTick(PlayerState& player) {
    readTickKey(player);
    return runTickRules(player);
}

TickOutcome playOneRoom(int& ticksPlayed) {
    PlayerState player = startRoom();
    for (ticksPlayed = 1;; ++ticksPlayed) {
        TickOutcome outcome = stepTick(player);
        if (outcome == TickOutcome::GameOver) return outcome;
        delayMs(tickMs);
        if (outcome == TickOutcome::ExitReached) return outcome;
    }
}

// One room after another in the same loop: finishing a room loads the next
// and goes round again, so a long game never nests deeper. Leaving for the
// menu or the end of the program unwinds from inside.
void playRoom() {
    for (;;) {
        int ticksPlayed;
        if (playOneRoom(ticksPlayed) == TickOutcome::GameOver) showGameOver();
        completeRoom();
    }
}
