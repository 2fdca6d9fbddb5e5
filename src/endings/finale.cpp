#include "endings/endings.h"
#include "shell/flow.h"

// Placeholder until the final sequence lands.
void playFinalSequence() { returnToMainMenu(); }
