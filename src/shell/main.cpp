#include <cstdio>
#include <string>

#include "console/terminal.h"
#include "shell/flow.h"
#include "shell/sound.h"

int main() {
    std::string failure;
    if (!openTerminal(failure)) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    openSoundDevice();
    int status = runProgram();
    closeSoundDevice();
    closeTerminal();
    if (!failureReport().empty()) std::fprintf(stderr, "%s\n", failureReport().c_str());
    return status;
}
