// The parts of a room's play: one tick of the rules, the cell rules it calls,
// the status lines and the quit prompt. The room loop (room.cpp) and tools
// that step a copied room (a level checker) share these, so the rules exist once.
#pragma once

#include <cstdint>
#include <string_view>

// The room loop's own state, fresh for every room. The player is not stored
// in the map; only this knows where it is.
struct PlayerState {
    int playerX = 1, playerY = 1;
    int previousX = 1, previousY = 1;
    uint8_t direction = 0;       // last movement byte: 75 left, 77 right, 32 a jump request, ...
    uint8_t savedDirection = 0;  // direction as it was when the last space or extended key came
    int8_t slide = 0;            // ice lock: -1 sliding left, +1 right
    bool jumping = false;
    int jumpStep = 0;
    int jumpHeight = 3;  // 3, or 8 from a spring
    bool messageShown = false;
    int messageTimer = 0;
    bool checkpointLabelShown = false;
    int checkpointLabelTimer = 0;
};

// How a tick ended. The quit prompt's Y and Esc leave by unwinding, as every
// screen does, so they have no outcome here.
enum class TickOutcome {
    GoOn,
    LifeLost,     // a life was lost and the player is back at the start
    ExitReached,  // the player stands in the exit: the room is done
    GameOver,     // the last life is gone and the room's goods are scored; the game-over screen is next
};

namespace playKey {
constexpr uint8_t space = 32, enter = 13, escape = 27, extended = 0;
constexpr uint8_t left = 75, right = 77, up = 72, down = 80;
}  // namespace playKey

constexpr int tickMs = 75;

// The data sampled per tick: the one movement key (if any) that the rules take
// on a tick. The room loop makes it from the keyboard; the level checker's
// search, its --show, the editor's play-test and the tests feed it directly,
// and a recorded run is a list of them.
enum class TickKey : uint8_t { None, Left, Right, Up, Down, Space };

// Hands one tick's key to the rules as the keyboard would (TickKey::None: nothing).
void applyTickKey(PlayerState& player, TickKey key);
// One tick with the key given instead of read: applyTickKey, then the rules.
TickOutcome stepTickWith(PlayerState& player, TickKey key);

// Room start: counters, status lines, the player at the start, enemy steps,
// crumbling slots freed, the player drawn.
PlayerState startRoom();

// The loaded and drawn room from its start until the exit is reached
// (ExitReached, after the tick's pause) or the last life is lost (GameOver,
// before the game-over screen); the room's end is the caller's. ticksPlayed:
// the ticks it ran.
TickOutcome playOneRoom(int& ticksPlayed);

// One tick up to its pause: a key from the keyboard, then the rules.
TickOutcome stepTick(PlayerState& player);
// The input step alone, and the movement keys as it takes them, for callers
// that steer without a keyboard.
void readTickKey(PlayerState& player);
void pressSpace(PlayerState& player);
void pressExtendedKey(PlayerState& player, uint8_t code);  // dropped while sliding on ice
// Everything after the input: movement, redraw, the cells' rules, enemies.
TickOutcome runTickRules(PlayerState& player);

bool isSolid(int code);
bool isOpen(int code);
// Writes one glyph at a map cell in the current colours; nothing outside the map.
void drawCell(int x, int y, uint8_t glyph);

// Cells in play (hazards.cpp).
bool loseLife(PlayerState& player);  // false when it was the last life
void collectGoods(int x, int y);
void showRoomMessage(PlayerState& player, int code);
void completeRoom();  // scores the room and loads the next; may unwind instead

// Enemies and crumbling floor.
void updateEnemies();
void registerCrumbling(int playerX, int playerY);
void updateCrumbling();
void restoreCrumbled();
void freeCrumbleSlots();

// Status lines (status.cpp).
void drawStatusLines(PlayerState& player);
void drawGoodsCounter();
void eraseHeart();
void showMessageText(std::string_view text);
void messageTimeOut(PlayerState& player);
void checkpointLabelTimeOut(PlayerState& player);
void toggleSound();
void quitPrompt();  // returns only when the answer is No
