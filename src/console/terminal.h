// The terminal form of the console layer, on the terminfo part of ncursesw.
// Only console.cpp, main.cpp and the tools use it; nothing else in the game
// knows about the terminal.
//
// The terminal shows the console's 25-row view in the top-left 80 x 25 cells
// (in a smaller window, the cells console.h's windowLayout picks), every byte as
// its glyph in the set the terminal and locale can show (glyphs.h), with the
// cursor hidden (or parked on a blank cell where it cannot be). An update
// sends only the cells that changed since the last one. Keys are read raw (no
// echo, no line buffering, no flow control), decoded (keys.h) and queued as
// KeyEvents; Ctrl+C throws ConsoleInterrupt. Every wait sleeps in the kernel
// until a key, a resize or a signal comes. The terminal is restored on every
// way out, including SIGINT, SIGTERM and SIGHUP from outside, a terminal that
// hangs up, and crashes, a stack overflow included (the signal is then
// re-raised, so the exit status still tells what happened). SIGTSTP puts it
// back and stops; SIGCONT takes it again and redraws, and pauses do not
// count the time stopped.
#pragma once

#include <cstdio>
#include <string>

// Binds the terminal (or /dev/tty when standard input or output is not one)
// and sets up keys, colours and glyphs. On failure returns false and sets the
// one-line message the program prints before it ends with status 1:
// "No way to get the console handle" when there is no terminal to draw on,
// "No way to get console screen buffer info" when its size cannot be read,
// and a line naming TERM when the terminal type is unknown or cannot place
// the cursor (TERM=dumb).
bool openTerminal(std::string& failure);

// Whether openTerminal would find a terminal, asked before any work that
// needs one is done.
bool terminalAtHand();

// The same terminal form on any pair of streams with the given terminal type
// (nullptr: $TERM), for measuring what a game tick sends: output into a file
// or a pipe, input from anything (nothing readable means no keys). When the
// output's window size cannot be read, the terminal is taken as 80 x 25.
bool openTerminalOn(FILE* input, FILE* output, const char* terminalType, std::string& failure);

// Puts the terminal back as it was (cursor shown, colours and modes reset,
// the user's screen back, the saved terminal modes); safe to call twice.
void closeTerminal();
bool terminalIsOpen();
// For a signal handler of the program's own that is about to end it: the
// terminal put back at once (async-signal-safe), so that a last line printed
// after it stays on the user's screen.
void restoreTerminalInSignalHandler();
// The end by a signal as if nothing had caught it (async-signal-safe).
[[noreturn]] void dieOfSignal(int signalNumber);
// Ctrl+Z stops the program as at a shell's suspend key (the default); the
// editor keeps it as a key of its own.
void terminalCtrlZStops(bool on);
const char* terminalGlyphSet();  // "unicode", "font", "console" or "ascii" (console/glyphs.h)

// The smallest window the program works in (the game and the checker's
// --show: smallestWindowColumns x smallestWindowRows; the editor: 80 x 24).
// A smaller one shows a notice asking for a larger window, behind which time
// stands still and keys are dropped; Esc there throws NoticeEscape when
// escapeEnds, else it is dropped too and the notice says that Ctrl+C leaves.
void setSmallestWindow(int columns, int rows, bool escapeEnds);

void terminalShowView();               // send the cells of the view that changed
void terminalPumpKeys();               // move waiting key presses into the console's queue
void terminalSleep(int milliseconds);  // sleep, keeping keys and resizes handled; stands still while too small
void terminalWait();                   // sleep until input, a resize or a signal comes
bool terminalTooSmall();               // the notice asking for a larger window is shown
