#include <csignal>
#include <string>
#include <string_view>

#include "console/terminal.h"
#include "shell/flow.h"
#include "system/output.h"
#include "system/sound.h"

namespace {

constexpr const char* program = "quorvex";

const char* usage = "Usage: quorvex [--help | --version]\n";

}  // namespace

// The game plays in the current folder; the installed command starts it in
// the player's own game folder.
int main(int argc, char** argv) {
    // A closed pipe on standard output is a failed write (status 2), not a kill by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    std::string_view first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h"))
        return finishWithLines(
            program, 0,
            std::string(usage) + "Plays The Quorvex with the rooms, sounds and saves of the current folder.\n", "");
    if (argc == 2 && first == "--version") return finishWithLines(program, 0, "quorvex " QUORVEX_VERSION "\n", "");
    if (argc > 1)
        return finishWithLines(program, 2, "", "quorvex: unknown argument: " + std::string(first) + "\n" + usage);
    std::string failure;
    if (!openTerminal(failure)) return finishWithLines(program, 1, "", failure + "\n");
    openSoundDevice();
    int status = runProgram();
    closeSoundDevice();
    closeTerminal();
    return finishWithLines(program, status, "", failureReport().empty() ? "" : failureReport() + "\n");
}
