// The console layer: a character/attribute screen buffer with a 25-row view
// that follows the cursor, colours, keys and pauses. Every screen of the game
// draws and reads only through these operations. Two forms sit below it: the
// real terminal (terminal.cpp, ncursesw) and the in-memory form for tests and
// tools (virtual clock, scripted keys).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr int screenWidth = 80;
constexpr int bufferRows = 100;
constexpr int viewRows = 25;

struct ConsoleCell {
    uint8_t character;
    uint8_t attribute;
};

// --- the operations every screen uses ---
void clearScreen();
void clearToLineEnd();
void setTextColor(uint8_t colour);
void setTextBackground(uint8_t colour);
void moveCursor(int column, int row);
void writeChar(uint8_t byte);
void writeText(std::string_view text);
void writeNumber(long long number);
void writeLineEnd();
void delayMs(int milliseconds);
bool keyPressed();
uint8_t readKey();
std::string readLine();
void hideCursor();

// Waits until keyPressed is true, without using the processor: on the
// terminal it sleeps until a key comes, in memory the clock jumps to the
// next scripted key. While the terminal shows its too-small notice it keeps
// waiting, so nothing happens unseen.
void waitForKey();

// --- a window smaller than the view ---
// A window of at least 60 x 14 shows the view without growing. In a room the
// status lines (view rows 23 to 25) stay on the window's last three rows and
// the map scrolls by whole rows and whole columns, keeping the player 3 rows
// from the top and bottom of the map area and 8 columns from its sides
// (unless the room ends there). In a window narrower than 80 the status lines
// are laid out anew: each short item (Level, Lives, Goods, the sound mark)
// keeps its row and, where it fits, its column; the longest one, a room's
// message, flows on through the cells left free, and where even those are too
// few it runs as a ticker. Other screens show the rows that hold their text,
// the cursor's row included: an unbroken stretch of rows that holds them all,
// as near the top as it can be; when they lie too far apart for that, rows of
// blanks and shading (the menu's bricks) between them are left out, from the
// longest such runs first. In a narrow window they slide sideways to show the
// text, and a row whose text is wider than the window goes on in the window's
// next row. A larger window shows the view in its top-left 80 x 25 cells.
constexpr int smallestWindowColumns = 60;
constexpr int smallestWindowRows = 14;
constexpr int playerMargin = 3;
constexpr int playerSideMargin = 8;

// In a room: the player is drawn at map cell (column, row). The map scrolls
// only when the player comes closer than the margins to an edge of the map
// area, so a player standing still never scrolls it. clearScreen ends the
// room layout.
void followPlayer(int column, int row);

// The size of the window that shows the view: what a test sets in memory
// (80 x 25 at start), the window's own on the terminal.
void setWindowSize(int columns, int rows);

struct WindowLayout {
    int rows = viewRows;          // window rows that show the view: at most 25
    int columns = screenWidth;    // window columns that show the view: at most 80
    int viewRow[viewRows];        // the view row (1..25) each window row shows, top to bottom
    int firstColumn[viewRows];    // the view column on each window row's first column
    int lastColumn[viewRows];     // and the last it shows: blanks after it (a row folded at a word's end)
    bool statusComposed = false;  // the last three rows are the status lines laid out anew
    ConsoleCell status[3][screenWidth];
};
WindowLayout windowLayout();
// The cell on window column `column` (1..layout.columns) of window row `row` (1..layout.rows).
ConsoleCell windowCell(const WindowLayout& layout, int column, int row);

// --- read access, for the screens, tests and tools ---
ConsoleCell bufferCell(int column, int row);
ConsoleCell viewCell(int column, int screenRow);  // screenRow 1..25
std::string bufferRowText(int row);               // the 80 character bytes
int viewTop();                                    // buffer row shown on screen row 1
int cursorColumn();
int cursorRow();
uint8_t textAttribute();

// --- a key as the keyboard delivers it, before readKey splits it ---
struct KeyEvent {
    uint8_t code;   // the character, or the scan code of an extended key
    bool extended;  // arrows, Home, End, function keys, Alt+letter: 0 then code
};

// The keys as readKey returns them, the one table of them: a plain key is
// its byte; an extended key is key::extended, then its scan code.
namespace key {
constexpr uint8_t extended = 0, backspace = 8, tabulator = 9, enter = 13, escape = 27, space = 32;
// Ctrl with a letter gives the letter's control byte (Ctrl+S is 19).
constexpr uint8_t ctrl(char letter) { return static_cast<uint8_t>(letter & 0x1F); }
}  // namespace key
namespace scan {
constexpr uint8_t up = 72, down = 80, left = 75, right = 77;
constexpr uint8_t home = 71, end = 79, pageUp = 73, pageDown = 81, insert = 82, del = 83;
constexpr uint8_t f1 = 59, f4 = 62, f5 = 63, f6 = 64, f7 = 65, f8 = 66, f9 = 67, f10 = 68, f11 = 133, f12 = 134;
}  // namespace scan

// --- a replay's picture and pace ---
// The whole buffer and where writing and the view stand (the room's scroll
// too): what a replay keeps to go back to a moment it showed.
struct ConsolePicture {
    ConsoleCell buffer[bufferRows][screenWidth];
    int cursorX, cursorY, viewTop;
    uint8_t attribute;
    bool roomLayout;
    int mapTop, mapLeft, playerRow, playerColumn;
};
void savePicture(ConsolePicture& picture);
void restorePicture(const ConsolePicture& picture);
// Every pause lasts `factor` times as long (1 as written; a replay at 16 x
// sets 1/16); 0 skips pauses, and the terminal is brought up to date only at
// the next key test or read.
void setPauseScale(double factor);
// Set only by tests: told of every pause that is taken, before it is taken.
extern void (*pauseWatcher)(int milliseconds);

// --- silent play, for tools that step the rules on a copied room ---
// While on, writes, colour changes, cursor moves and pauses do nothing.
void setConsoleSilent(bool on);
bool consoleSilent();

// --- the in-memory form ---
// Thrown by the in-memory form when its script is used up and the program
// would wait for a key that will never come, or when the virtual clock
// passes the stop time. Tests catch it to end a run.
struct ScriptEnded {};

void startMemoryConsole();  // blank buffer, attribute 0x07, clock at 0, no keys
void scriptKey(uint64_t atMs, KeyEvent key);
void scriptText(uint64_t atMs, std::string_view bytes);  // plain keys, all at atMs
void setStopTime(uint64_t atMs);                         // 0: no limit
uint64_t virtualNow();
bool usingMemoryConsole();

// --- used by the terminal form (terminal.cpp) ---
void queueKey(KeyEvent key);
size_t queuedKeyCount();
// Marks the view changed; the terminal is brought up to date in one update
// before the next pause, key test or read. No-op in memory.
void presentView();

// Thrown when the player presses Ctrl+C on the terminal: the program ends
// with status 130 after the terminal is restored.
struct ConsoleInterrupt {};
// Thrown when Esc is pressed while the terminal shows its notice asking for a
// larger window: the program ends as on Esc elsewhere, with status 0.
struct NoticeEscape {};
