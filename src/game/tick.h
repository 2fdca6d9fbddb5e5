// The parts of a room's play: one tick of the rules, the cell rules it calls,
// the status lines and the quit prompt. The room loop (room.cpp) and tools
// that step a copied room (a level checker) share these, so the rules exist once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The room loop's own state, fresh for every room. The player is not stored
// in the map; only this knows where it is.
struct PlayerState {
    int playerX = 1, playerY = 1;
    int previousX = 1, previousY = 1;
    uint8_t direction = 0;       // last movement byte: scan::left, scan::right, key::space (a jump request), ...
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

// How a tick ended. The room's end is the room loop's (play.h).
enum class TickOutcome {
    GoOn,
    LifeLost,     // a life was lost and the player is back at the start
    ExitReached,  // the player stands in the exit: the room is done
    GameOver,     // the last life is gone and the room's goods are scored; the game-over screen is next
};

constexpr int tickMs = 75;
// Ticks as the seconds they last, to the nearest tenth, a half up: "30.9".
// Worked in whole milliseconds, so every program shows the same figure.
std::string secondsOfTicks(int ticks);

// The data sampled per tick: the one movement key (if any) that the rules take
// on a tick. The room loop makes it from the keyboard; the level checker's
// search, its --show, the editor's play-test and the tests feed it directly,
// and a recorded run is a list of them. Up stands for every extended key
// that is not Left or Right: each of them stops the walk.
enum class TickKey : uint8_t { None, Left, Right, Up, Down, Space };

// Hands one tick's key to the rules (TickKey::None: nothing).
void applyTickKey(PlayerState& player, TickKey key);
// One tick with its key: applyTickKey, then the rules.
TickOutcome stepTickWith(PlayerState& player, TickKey key);

// What a key does in a room besides moving the player.
enum class RoomCommand : uint8_t {
    None,
    ToggleSound,  // M
    QuitPrompt,   // Enter
    Leave,        // Esc: the program ends at once, nothing saved
};
// One tick's input: at most one key from the keyboard, taken as the tick's
// movement key or as a room command (an extended key's second byte is read
// with it, so Right's "M" never toggles the sound).
struct RoomInput {
    TickKey key = TickKey::None;
    RoomCommand command = RoomCommand::None;
};
RoomInput readRoomInput();

// Room start: counters, status lines, the player at the start, enemy steps,
// crumbling slots freed, the player drawn.
PlayerState startRoom();

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
// The room's score added: 5 points a goods item taken, 3 a life left, and
// the goods to the game's total. The game's room end and the editor's
// pack play-test share it.
void scoreRoom();
// The room's end at the exit: scored, the pause with its jingle, the level
// number raised, the checkpoint written on every fifth (not in a pack). The
// next room is the screen flow's to load. A checkpoint that cannot be written
// does not end the game: the room plays and its status rows say so.
// shown: lines for the blank screen (a time trial's), '\n' between them.
void completeRoom(std::string_view shown = {});
// The blank screen after a room with its jingle and pause, and the lines
// shown there, each centred.
void showRoomDone(std::string_view shown = {});
// What the status rows show where the checkpoint label stands in the room
// reached: "Checkpoint", or why it was not saved.
std::string checkpointLabel();

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
enum class QuitAnswer : uint8_t { No, Yes, Leave };
// "QUIT? Y/N": Y writes save.sav (not in a pack), Esc means the program ends.
QuitAnswer quitPrompt();
// The prompt drawn and taken away again, as an answer No leaves the status
// rows: how a replay shows a tick on which the player said No.
void showRefusedQuitPrompt();
