// Leaving a screen for good. Screens never return to their callers: going
// back to the main menu and ending the program unwind to the one top-level
// loop (shell/flow.cpp), so any number of games in a run leaves nothing
// behind on the stack. Below the game, so that every layer may leave.
#pragma once

struct MenuReturn {};
struct ProgramEnd {
    int status;
};

[[noreturn]] void returnToMainMenu();
[[noreturn]] void endProgram(int status = 0);
