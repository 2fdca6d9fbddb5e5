#include "game/play.h"
#include "shell/flow.h"

// Placeholder until the room loop lands.
void playRoom() { returnToMainMenu(); }
