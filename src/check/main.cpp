#include <cstdio>
#include <string>
#include <vector>

#include "check/check.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string out, err;
    int status = runChecker(arguments, out, err);
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    return status;
}
