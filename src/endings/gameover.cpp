#include "endings/endings.h"
#include "shell/flow.h"

// Placeholder until the game-over screen lands.
void showGameOver() { returnToMainMenu(); }
