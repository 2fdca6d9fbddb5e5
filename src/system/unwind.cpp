#include "system/unwind.h"

void returnToMainMenu() { throw MenuReturn{}; }
void endProgram(int status) { throw ProgramEnd{status}; }
