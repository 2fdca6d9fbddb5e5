#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "check/check.h"
#include "system/output.h"

int main(int argc, char** argv) {
    // A closed pipe on standard output is a failed write (status 2), not a kill by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string out, err;
    int status = runChecker(arguments, out, err);
    // Lost output is a failure, not a silent success: a full disk or a
    // closed pipe ends with status 2.
    return finishWithText("quorvex-check", status, out, err);
}
