#include "shell/menu.h"

#include "console/console.h"
#include "shell/flow.h"

void runMainMenu() {
    for (;;) {
        if (readKey() == 27) endProgram(0);
    }
}
