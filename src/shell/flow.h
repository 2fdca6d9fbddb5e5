// Screen flow: the one place that chooses the next screen. The menu, the
// loaders, the room loop and the endings each return how they ended; the
// flow goes on from that to the next room, the game-over screen, the final
// sequence, a pack's end, the missing-file screen, the menu or the end of
// the program. Nothing nests: any number of games in a run leaves nothing
// behind on the stack.
#pragma once

#include <string>

// Start-up steps after the console is set up, then the menu loop until the
// program ends. Returns the exit status. A failed file operation ends the run
// with status 2 and leaves its report in failureReport().
int runProgram();
const std::string& failureReport();
// The time trial: the blank screen after each room shows its ticks, the
// best and the par; after the last room a table of the game's rooms.
void setTimeTrial(bool on);
