// Screen flow. Screens never return to their callers: they hand over to the
// next screen, go back to the main menu, or end the program. Going back and
// ending unwind to the one top-level loop in runProgram, so any number of
// games in a run leaves nothing behind on the stack.
#pragma once

#include <string>

#include "system/unwind.h"

// Start-up steps after the console is set up, then the menu loop until the
// program ends. Returns the exit status. A failed file operation ends the run
// with status 2 and leaves its report in failureReport().
int runProgram();
const std::string& failureReport();
