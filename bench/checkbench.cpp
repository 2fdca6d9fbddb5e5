// How long the level checker takes to decide rooms, key windows and the
// difficulty figure included, and how much memory it takes.
//
// First the main series: each room loaded over the one before it, as in
// play, then searched with the checker's own limits. Target: every room
// decided, in under 10 s of processor time in all.
//
// Then the bench rooms (bench/rooms/*.lvl): rooms of an author's kind that
// crumbling floor, enemies and ice make large. Each is searched in a child
// process of its own, so that its peak memory is its own. Targets: each
// decided within 10 s of processor time and 1 GiB; 800,000 states a second
// or more (8 million states, more than any bench room has, within the 10 s),
// in at most 100 bytes a state (the search's tables at their largest, over
// the states).
//
// Usage: checkbench [levels folder] [bench rooms folder]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "check/check.h"
#include "system/files.h"

namespace {

constexpr double secondsTarget = 10;
constexpr double mebibytesTarget = 1024;
constexpr double statesPerSecondTarget = 8e5;
constexpr double bytesPerStateTarget = 100;

const char* mark(bool met) { return met ? "" : "  MISSED"; }

void mainSeries(const std::string& folder) {
    std::printf("Level checker on the main series (%s)\n", folder.c_str());
    std::printf("  room  ticks  all goods  window  success (all goods)   states  processor\n");
    RoomState previous{};
    double processor = 0;
    int decided = 0;
    for (int n = 1; n <= 21; ++n) {
        std::string path = folder + "/" + std::to_string(n) + ".lvl";
        std::string text;
        try {
            text = readTextFile(path);
        } catch (const FileFailure& failure) {
            std::printf("  %4d  %s\n", n, describeFailure(failure).c_str());
            continue;
        }
        RoomState loaded = roomFromText(text, previous);
        previous = loaded;
        SearchReport r = searchRoom(loaded);
        processor += r.seconds;
        decided += r.decided && r.verdict == Verdict::Finishable;
        char success[40] = "  not measured     ";
        if (r.success.measured)
            std::snprintf(success, sizeof success, "%3.0f %3.0f (%3.0f %3.0f)", r.success.newHand * 100,
                          r.success.practised * 100, r.success.allGoodsNew * 100, r.success.allGoodsPractised * 100);
        std::printf("  %4d  %5d  %9d  %6d  %s %8zu %8.2f s\n", n, r.ticks, r.allGoodsTicks, r.narrowestWindow, success,
                    r.states, r.seconds);
    }
    std::printf("  (success in %% for a new hand and a practised one, then both taking every goods item)\n");
    std::printf("  %d of 21 rooms decided in %.2f s of processor time      target: all 21 in under %.0f s%s\n\n",
                decided, processor, secondsTarget, mark(decided == 21 && processor < secondsTarget));
}

struct Measured {
    bool decided = false;
    size_t states = 0, tableBytes = 0;
    double seconds = 0;
    char verdict[160] = "";
};

// One bench room in a child: the report's figures through a pipe, the peak
// memory from the child's own accounting.
bool measureRoom(const std::string& path, Measured& m, long& peakKiB) {
    int channel[2];
    if (pipe(channel) != 0) return false;
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        close(channel[0]);
        Measured found;
        try {
            RoomState loaded = roomFromText(readTextFile(path), RoomState{});
            SearchReport r = searchRoom(loaded);
            found.decided = r.decided;
            found.states = r.states;
            found.tableBytes = r.peakBytes;
            found.seconds = r.seconds;
            std::string verdict = !r.decided ? "not fully checked: " + r.stopReason
                                  : r.verdict == Verdict::Finishable
                                      ? "finishable in " + std::to_string(r.ticks) + " ticks"
                                      : "no way without a lost life";
            if (r.decided && r.stuck)
                verdict +=
                    ", stuck alive at (" + std::to_string(r.stuckAt.x) + ", " + std::to_string(r.stuckAt.y) + ")";
            std::snprintf(found.verdict, sizeof found.verdict, "%s", verdict.c_str());
        } catch (const FileFailure& failure) {
            std::snprintf(found.verdict, sizeof found.verdict, "%s", describeFailure(failure).c_str());
        }
        ssize_t written = write(channel[1], &found, sizeof found);
        _exit(written == sizeof found ? 0 : 1);
    }
    close(channel[1]);
    ssize_t got = read(channel[0], &m, sizeof m);
    close(channel[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    peakKiB = usage.ru_maxrss;
    return got == sizeof m && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void benchRooms(const std::string& folder) {
    std::vector<std::string> rooms;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".lvl") rooms.push_back(entry.path().string());
    std::sort(rooms.begin(), rooms.end());
    std::printf("Level checker on the bench rooms (%s)\n", folder.c_str());
    std::printf("  %-16s %9s %10s %10s %8s %9s  %s\n", "room", "states", "processor", "states/s", "B/state", "peak RSS",
                "verdict");
    size_t allStates = 0, bytes = 0;
    double allSeconds = 0;
    bool allMet = true;
    for (const std::string& path : rooms) {
        Measured m;
        long peakKiB = 0;
        std::string name = std::filesystem::path(path).filename().string();
        if (!measureRoom(path, m, peakKiB)) {
            std::printf("  %-16s failed\n", name.c_str());
            allMet = false;
            continue;
        }
        double mebibytes = peakKiB / 1024.0;
        bool met = m.decided && m.seconds < secondsTarget && mebibytes < mebibytesTarget;
        allMet = allMet && met;
        allStates += m.states;
        allSeconds += m.seconds;
        bytes = std::max(bytes, m.states > 0 ? m.tableBytes / m.states : 0);
        std::printf("  %-16s %9zu %8.2f s %10.0f %8zu %5.0f MiB  %s%s\n", name.c_str(), m.states, m.seconds,
                    m.seconds > 0 ? m.states / m.seconds : 0.0, m.states > 0 ? m.tableBytes / m.states : 0, mebibytes,
                    m.verdict, mark(met));
    }
    double rate = allSeconds > 0 ? allStates / allSeconds : 0;
    std::printf("  each room: decided, under %.0f s of processor time and %.0f MiB%s\n", secondsTarget, mebibytesTarget,
                mark(allMet));
    std::printf("  states a second over all rooms: %.0f      target: %.0f or more%s\n", rate, statesPerSecondTarget,
                mark(rate >= statesPerSecondTarget));
    std::printf("  bytes a state (the most of any room): %zu      target: %.0f or fewer%s\n", bytes,
                bytesPerStateTarget, mark(bytes <= bytesPerStateTarget));
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per room as it is decided
    mainSeries(argc > 1 ? argv[1] : "data/levels");
    benchRooms(argc > 2 ? argv[2] : "bench/rooms");
    return 0;
}
