// The terminal form of the console layer, on ncursesw. Only console.cpp and
// main.cpp use it; nothing else in the game knows about curses.
#pragma once

#include <cstdio>
#include <string>

// Binds the terminal (or /dev/tty when standard output is redirected) and
// sets up keys, colours and glyphs. On failure returns false and sets the
// one-line message the program prints before it ends with status 1.
bool openTerminal(std::string& failure);
// Puts the terminal back as it was; safe to call twice.
void closeTerminal();
bool terminalIsOpen();

void terminalShowView();       // send the cells of the view that changed
void terminalPumpKeys();       // move waiting key presses into the console's queue
void terminalSleep(int milliseconds);  // sleep, keeping keys and resizes handled

// For the benchmark: the terminal form drawing into any stream (a file or a
// pseudo-terminal) with the given terminal type, so its output can be counted.
bool openTerminalOn(FILE* input, FILE* output, const char* terminalType, std::string& failure);
