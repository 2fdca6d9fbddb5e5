// How long the level checker takes to decide the rooms of the main series,
// key windows and the difficulty figure included: each room loaded over the
// one before it, as in play, then searched with the checker's own limits.
//
// Target: every room of the main series decided, with its windows and its
// figure, in under 10 s of processor time in all.
#include <chrono>
#include <cstdio>
#include <string>

#include "check/check.h"
#include "system/files.h"

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "data/levels";
    std::printf("Level checker on the main series (%s)\n", folder.c_str());
    std::printf("  room  ticks  all goods  window  success (all goods)   states  processor  wall\n");
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
        decided += r.verdict == Verdict::Finishable && r.narrowestWindow > 0 && r.success.measured;
        char success[40] = "  not measured     ";
        if (r.success.measured)
            std::snprintf(success, sizeof success, "%3.0f %3.0f (%3.0f %3.0f)", r.success.newHand * 100,
                          r.success.practised * 100, r.success.allGoodsNew * 100, r.success.allGoodsPractised * 100);
        std::printf("  %4d  %5d%c %9d%c %6d%s %s %8zu %8.2f s %6.2f s\n", n, r.ticks, ' ', r.allGoodsTicks, ' ',
                    r.narrowestWindow, r.explored ? " " : "+", success, r.states, r.seconds, seconds);
    }
    std::printf(
        "  (+: not proven shortest, or a window that may be wider; success in %% for a new hand and a\n"
        "  practised one, then both taking every goods item)\n");
    std::printf("  %d of 21 rooms decided with windows and figure: %.2f s of processor time, %.2f s on the clock\n",
                decided, processor, total);
    std::printf("  target: all 21 in under 10 s\n");
    return 0;
}
