#include <algorithm>

#include "console/console.h"
#include "console/cp437.h"
#include "game/play.h"
#include "game/runfile.h"
#include "game/tick.h"
#include "levels/world.h"

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

constexpr uint8_t playerColour = 6;

bool isJumpGround(int code) { return code == Wall || code == Crumbling || code == Ice; }
CellCode below(const PlayerState& player) { return cellAt(player.playerX, player.playerY + 1); }
CellCode above(const PlayerState& player) { return cellAt(player.playerX, player.playerY - 1); }
bool isSliding(const PlayerState& player) { return player.slide != 0 && below(player) == Ice; }
bool isDeadly(int code) { return code == Lava || code == Spikes || code == VerticalEnemy || code == HorizontalEnemy; }
bool isGoods(int code) { return code == GoodsDiamond || code == GoodsClub || code == GoodsSpade; }

void drawPlayer(const PlayerState& player) {
    setTextColor(playerColour);
    drawCell(player.playerX, player.playerY, glyph::player);
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
        const char pair[] = {char(step == 1 ? ' ' : glyph::player), char(step == 1 ? glyph::player : ' ')};
        writeText(std::string_view(pair, 2));
        followPlayer(player.playerX, player.playerY);
        return;
    }
    drawCell(player.previousX, player.previousY, ' ');
    drawPlayer(player);
}

void startJumpIfDue(PlayerState& player) {
    bool fromSpring = below(player) == Spring;
    bool fromGround =
        !player.jumping && player.direction == key::space && isJumpGround(below(player)) && above(player) != Wall;
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
    if (player.slide != 1 && player.direction == scan::left && !isSolid(cellAt(player.playerX - 1, player.playerY)))
        --player.playerX;
    if (player.slide != -1 && player.direction == scan::right && !isSolid(cellAt(player.playerX + 1, player.playerY)))
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
        if (player.direction == scan::left) player.slide = -1;
        if (player.direction == scan::right) player.slide = 1;
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

namespace {

void pressSpace(PlayerState& player) {
    player.savedDirection = player.direction;
    player.direction = key::space;
}

void pressExtendedKey(PlayerState& player, uint8_t code) {
    player.savedDirection = player.direction;
    // On ice the slide holds its direction; the arrow is dropped.
    if (!isSliding(player)) player.direction = code;
}

}  // namespace

RoomInput readRoomInput() {
    RoomInput input;
    if (!keyPressed()) return input;
    switch (readKey()) {
        case key::space:
            input.key = TickKey::Space;
            break;
        case 'M':
        case 'm':
            input.command = RoomCommand::ToggleSound;
            break;
        case key::enter:
            input.command = RoomCommand::QuitPrompt;
            break;
        case key::escape:
            input.command = RoomCommand::Leave;
            break;
        case key::extended:
            // The second byte is always read: Right's is an "M", never the sound key.
            switch (readKey()) {
                case scan::left:
                    input.key = TickKey::Left;
                    break;
                case scan::right:
                    input.key = TickKey::Right;
                    break;
                case scan::down:
                    input.key = TickKey::Down;
                    break;
                default:
                    input.key = TickKey::Up;  // Up and every other extended key stop the walk
                    break;
            }
            break;
        default:
            break;
    }
    return input;
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

std::string secondsOfTicks(int ticks) {
    int tenths = (ticks * tickMs + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

void applyTickKey(PlayerState& player, TickKey key) {
    switch (key) {
        case TickKey::None:
            break;
        case TickKey::Space:
            pressSpace(player);
            break;
        case TickKey::Left:
            pressExtendedKey(player, scan::left);
            break;
        case TickKey::Right:
            pressExtendedKey(player, scan::right);
            break;
        case TickKey::Up:
            pressExtendedKey(player, scan::up);
            break;
        case TickKey::Down:
            pressExtendedKey(player, scan::down);
            break;
    }
}

TickOutcome stepTickWith(PlayerState& player, TickKey key) {
    applyTickKey(player, key);
    return runTickRules(player);
}

std::optional<RoomEnd> runRoomCommand(RoomCommand command) {
    switch (command) {
        case RoomCommand::None:
            break;
        case RoomCommand::ToggleSound:
            toggleSound();
            break;
        case RoomCommand::QuitPrompt:
            switch (quitPrompt()) {
                case QuitAnswer::No:
                    break;  // the tick goes on, with no key
                case QuitAnswer::Yes:
                    return RoomEnd::Quit;
                case QuitAnswer::Leave:
                    return RoomEnd::Leave;
            }
            break;
        case RoomCommand::Leave:
            return RoomEnd::Leave;
    }
    return std::nullopt;
}

namespace {

// What the run records of a tick: its key, or the room command taken on it.
RunTick tickRecorded(const RoomInput& input) {
    if (input.command == RoomCommand::ToggleSound) return RunTick::SoundSwitched;
    if (input.command == RoomCommand::QuitPrompt) return RunTick::QuitRefused;  // answered No: play goes on
    return static_cast<RunTick>(input.key);
}

RoomEnd endRoom(RoomEnd end, const PlayerState& player) {
    recordRoomEnd(end, player);
    return end;
}

}  // namespace

// Each tick: one input, a room command run at once, then the rules stepped
// with the tick's key, as the tools step them. A run being recorded gets
// each tick's value.
RoomEnd playRoom(int* ticksPlayed) {
    PlayerState player = startRoom();
    recordRoomStart(player);
    for (int ticks = 1;; ++ticks) {
        if (ticksPlayed != nullptr) *ticksPlayed = ticks;
        RoomInput input = readRoomInput();
        if (std::optional<RoomEnd> end = runRoomCommand(input.command)) return endRoom(*end, player);
        TickOutcome outcome = stepTickWith(player, input.key);
        recordTick(tickRecorded(input), player);
        if (outcome == TickOutcome::GameOver) return endRoom(RoomEnd::GameOver, player);
        delayMs(tickMs);
        if (outcome == TickOutcome::ExitReached) return endRoom(RoomEnd::Exit, player);
    }
}
