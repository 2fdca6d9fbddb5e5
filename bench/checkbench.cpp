// How long the level checker takes to decide the rooms of the main series,
// key windows included: each room loaded over the one before it, as in play,
// then searched with the checker's own limits.
//
// Target: every room of the main series decided, with its windows, in under
// 10 s in all.
#include <chrono>
#include <cstdio>
#include <string>

#include "check/check.h"
#include "shell/files.h"

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "data/levels";
    std::printf("Level checker on the main series (%s)\n", folder.c_str());
    std::printf("  room  ticks  all goods  window   states  processor  wall\n");
    RoomState previous{};
    double total = 0, processor = 0;
    int decided = 0;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per room as it is decided
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
        auto start = std::chrono::steady_clock::now();
        SearchReport r = searchRoom(loaded);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        total += seconds;
        processor += r.seconds;
        decided += r.verdict == Verdict::Finishable && r.narrowestWindow > 0;
        std::printf("  %4d  %5d%c %9d%c %6d%s %8zu %8.2f s %6.2f s\n", n, r.ticks, r.shortest ? ' ' : '+',
                    r.allGoodsTicks, r.allGoodsShortest ? ' ' : '+', r.narrowestWindow, r.explored ? " " : "+",
                    r.states, r.seconds, seconds);
    }
    std::printf("  (+: not proven shortest, or a window that may be wider)\n");
    std::printf("  %d of 21 rooms decided with windows: %.2f s of processor time, %.2f s on the clock\n", decided,
                processor, total);
    std::printf("  target: all 21 in under 10 s\n");
    return 0;
}
