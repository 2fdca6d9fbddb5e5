#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/terminal.h"
#include "game/runfile.h"
#include "game/runstore.h"
#include "shell/flow.h"
#include "shell/replay.h"
#include "system/output.h"
#include "system/sound.h"

namespace {

constexpr const char* program = "quorvex";

const char* usage =
    "Usage: quorvex [--times]\n"
    "       quorvex --replay [FILE] | --scores | --help | --version\n";

const char* help =
    "Plays The Quorvex with the rooms, sounds and saves of the current folder.\n"
    "Every game is recorded as a run in $XDG_STATE_HOME/quorvex/runs (the last\n"
    "100, and each room's best run for good), with each room's bests.\n"
    "\n"
    "  --times         a time trial: each room's ticks, best and par after it\n"
    "                  (or QUORVEX_TIMES=1)\n"
    "  --replay FILE   play a run back: Space pauses, Right steps a tick, + and -\n"
    "                  set the speed, Left goes back a second, Home to the room's\n"
    "                  start, Esc leaves\n"
    "  --replay        list the runs kept, newest first\n"
    "  --scores        print each room's bests\n";

// The last words: the report of a failure and what could not be kept.
std::string closingLines(const std::string& report) {
    std::string lines = report.empty() ? "" : report + "\n";
    for (const std::string& notice : takeStoreNotices()) lines += "quorvex: " + notice + "\n";
    return lines;
}

int replayCommand(const std::string& path) {
    RecordedRun recorded;
    if (std::string why = readRunFile(path, recorded); !why.empty())
        return finishWithLines(program, 1, "", "quorvex: " + why + "\n");
    std::string failure;
    if (!openTerminal(failure)) return finishWithLines(program, 1, "", failure + "\n");
    openSoundDevice();
    int status = replayRun(recorded);
    closeSoundDevice();
    closeTerminal();
    std::string line = replayStopLine();
    return finishWithLines(program, status, "", line.empty() ? "" : "quorvex: " + line + "\n");
}

bool timeTrialAsked() {
    const char* times = std::getenv("QUORVEX_TIMES");
    return times != nullptr && times[0] != '\0' && std::string_view(times) != "0";
}

}  // namespace

// The game plays in the current folder; the installed command starts it in
// the player's own game folder.
int main(int argc, char** argv) {
    // A closed pipe on standard output is a failed write (status 2), not a kill by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    std::string_view first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h"))
        return finishWithLines(program, 0, std::string(usage) + help, "");
    if (argc == 2 && first == "--version") return finishWithLines(program, 0, "quorvex " QUORVEX_VERSION "\n", "");
    if (argc == 3 && first == "--replay") return replayCommand(argv[2]);
    if (argc == 2 && (first == "--replay" || first == "--scores")) {
        std::string out, err;
        int status = first == "--replay" ? listRuns(out, err) : printScores(out, err);
        return finishWithLines(program, status, out, err);
    }
    bool times = timeTrialAsked() || (argc == 2 && first == "--times");
    if (argc > 2 || (argc == 2 && first != "--times"))
        return finishWithLines(program, 2, "",
                               "quorvex: " + std::string(argc > 2 ? "too many arguments" : "unknown argument: ") +
                                   (argc > 2 ? "" : std::string(first)) + "\n" + usage);
    setTimeTrial(times);
    std::string failure;
    if (!openTerminal(failure)) return finishWithLines(program, 1, "", failure + "\n");
    openSoundDevice();
    int status = runProgram();
    closeSoundDevice();
    closeTerminal();
    return finishWithLines(program, status, "", closingLines(failureReport()));
}
