#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/terminal.h"
#include "edit/edit.h"
#include "shell/sound.h"

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0' || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr,
                     "usage: quorvex-edit PATH\n"
                     "  PATH.lvl     a level file (made when missing)\n"
                     "  PATH         a pack folder with its index PATH/NAME.txt (made when missing)\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 1;
    }
    // The editor's screens fill all 25 rows; behind the notice even Esc is
    // dropped, as it could leave with work unsaved.
    setSmallestWindow(viewRows, false);
    std::string failure;
    if (!openTerminal(failure)) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    installRescueHandlers();
    openSoundDevice();
    int status = runEditor(argv[1]);
    closeSoundDevice();
    closeTerminal();
    if (!editorReport().empty()) std::fprintf(stderr, "%s\n", editorReport().c_str());
    return status;
}
