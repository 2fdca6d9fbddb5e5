#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/terminal.h"
#include "edit/edit.h"
#include "game/runstore.h"
#include "system/files.h"
#include "system/output.h"
#include "system/sound.h"

namespace {

constexpr const char* program = "quorvex-edit";

const char* usage =
    "Usage: quorvex-edit PATH\n"
    "       quorvex-edit --export [--force] PACK DIR\n"
    "       quorvex-edit -h | --help | --version\n"
    "  PATH.lvl     a level file (made when missing)\n"
    "  PATH         a pack folder with its index PATH/NAME.txt (made when missing)\n"
    "  --export     a clean copy of the pack folder PACK as DIR/NAME: its index and\n"
    "               the rooms it lists, nothing else; quorvex-check checks the pack\n"
    "               first, and one with errors is exported only with --force\n"
    "A PATH that starts with '-' is given as ./-NAME.\n";

// quorvex-edit --export [--force] PACK DIR, without a terminal.
int exportCommand(const std::vector<std::string_view>& arguments) {
    std::vector<std::string> paths;
    bool force = false;
    for (std::string_view argument : arguments) {
        if (argument == "--force" && !force)
            force = true;
        else
            paths.emplace_back(argument);
    }
    if (paths.size() != 2 || paths[0].empty() || paths[1].empty())
        return finishWithLines(program, 2, "",
                               "quorvex-edit: --export takes a pack and a folder\n" + std::string(usage));
    std::string out, err;
    int status;
    try {
        status = exportPack(paths[0], paths[1], force, out, err);
    } catch (const FileFailure& failure) {
        err += editorFailureText(failure) + "\n";
        status = 2;
    }
    return finishWithLines(program, status, out, err);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output is a failed write (status 2), not a kill by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    std::string_view first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h")
        return finishWithLines(program, argc == 2 ? 0 : 2, argc == 2 ? usage : "", argc == 2 ? "" : usage);
    if (first == "--version" && argc == 2) return finishWithLines(program, 0, "quorvex-edit " QUORVEX_VERSION "\n", "");
    if (first == "--export") return exportCommand(std::vector<std::string_view>(argv + 2, argv + argc));
    // An option it does not know never becomes a pack folder of that name.
    if (argc == 2 && first.size() > 1 && first[0] == '-')
        return finishWithLines(program, 2, "", "quorvex-edit: unknown option " + std::string(first) + "\n" + usage);
    if (argc != 2 || first.empty()) return finishWithLines(program, 1, "", usage);
    // At 80 x 24 (many terminals' default) the room's rows scroll as the
    // game's do and the other screens drop blank rows; below that the notice
    // asks for more, and behind it even Esc is dropped, as it could leave
    // with work unsaved (the notice names Ctrl+C, which keeps it).
    setSmallestWindow(screenWidth, viewRows - 1, false);
    std::string failure;
    if (!openTerminal(failure)) {
        // The terminal layer speaks for the game; this is the editor.
        if (failure.rfind("quorvex: ", 0) == 0) failure.erase(0, 9);
        return finishWithLines(program, 1, "", "quorvex-edit: " + failure + "\n");
    }
    terminalCtrlZStops(false);  // undo
    installRescueHandlers();
    openSoundDevice();
    int status = runEditor(argv[1]);
    closeSoundDevice();
    closeTerminal();
    std::string lines = editorReport().empty() ? "" : editorReport() + "\n";
    for (const std::string& notice : takeStoreNotices()) lines += "quorvex-edit: " + notice + "\n";  // play-tests' runs
    return finishWithLines(program, status, "", lines);
}
