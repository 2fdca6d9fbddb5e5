// How fast the room editor answers a key: a key's handling with the whole
// picture redrawn and the check restarted, on the in-memory console and on
// the terminal form (keys through a pipe, the picture into a file); and how
// long one slice of the background check really takes.
//
// Targets: a key answered within one frame (16.7 ms, and far inside the
// game's 75 ms tick); a check slice within 2 ms of its 10 ms budget.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "console/console.h"
#include "console/terminal.h"
#include "edit/edit.h"
#include "shell/files.h"
#include "shell/sound.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int keyCount = 600;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Cursor moves and paints in turn, then leaving without saving.
std::string keyBytes(bool terminal) {
    std::string keys;
    for (int i = 0; i < keyCount / 2; ++i) {
        keys += terminal ? "\x1b[C" : std::string("\0M", 2);  // Right
        keys += (i % 2) ? "1" : " ";
        if (i % 20 == 19) keys += terminal ? "\x1b[B" : std::string("\0P", 2);
    }
    return keys + "\x11n";  // ^Q, then no to saving
}

void report(const char* what, double ms, double target) {
    std::printf("%-44s %8.3f ms   target < %.1f ms  %s\n", what, ms, target, ms < target ? "ok" : "MISSED");
}

}  // namespace

int main() {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("editbench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    useRecordingSound();
    std::string level = roomFileText(freshRoomText(), Inheritance{}, true);
    writeFileAtomically("room.lvl", level);

    // The terminal form first (the in-memory form cannot be left): keys through a pipe, the picture sent into a file.
    int keyboard[2];
    if (pipe(keyboard) != 0) return 1;
    FILE* input = fdopen(keyboard[0], "r");
    FILE* output = std::fopen("sent", "w");
    std::string failure;
    if (!openTerminalOn(input, output, "xterm-256color", failure)) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    std::string keys = keyBytes(true);
    if (write(keyboard[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) return 1;
    Clock::time_point start = Clock::now();
    runEditor("room.lvl");
    double terminalMs = msSince(start) / keyCount;
    closeTerminal();
    report("key with redraw, terminal form", terminalMs, 16.7);
    std::printf("%-44s %8.0f bytes\n", "  sent per key", double(std::filesystem::file_size("sent")) / keyCount);

    // In memory: the editor's own work per key.
    startMemoryConsole();
    keys = keyBytes(false);
    for (size_t i = 0; i < keys.size(); ++i)
        scriptKey(0, keys[i] == 0 ? KeyEvent{static_cast<uint8_t>(keys[++i]), true}
                                  : KeyEvent{static_cast<uint8_t>(keys[i]), false});
    start = Clock::now();
    runEditor("room.lvl");
    report("key with redraw, in memory", msSince(start) / keyCount, 16.7);

    // The background check: how long a 10 ms slice really runs.
    startMemoryConsole();
    openRoom("room.lvl", "room.lvl", Inheritance{}, true);
    double longest = 0;
    int slices = 0;
    while (checkBusy()) {
        start = Clock::now();
        advanceCheck(10);
        longest = std::max(longest, msSince(start));
        ++slices;
    }
    report("longest background check slice (10 ms)", longest, 12);
    std::printf("%-44s %8d      %s\n", "  slices for the fresh room", slices, verdictLine().c_str());

    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(folder);
    return 0;
}
