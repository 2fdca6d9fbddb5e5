// Recorded runs: how long a step back in a replay takes, and how large runs are.
//
// Targets: Left (a second back) and Home (the room's start) under 50 ms
// anywhere in a 10-minute run, each from the keyframe before it, never by a
// replay from the start; a run of the whole main series under 8 KiB.
//
// The 10-minute run is a room with two patrolling guardians played for 8,000
// ticks by a restless player (a key every 2 to 9 ticks: walks, stops, jumps),
// on the in-memory console. The series is played along the checker's ways,
// the shortest and the one with every goods item.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "check/check.h"
#include "console/console.h"
#include "game/runfile.h"
#include "shell/replay.h"
#include "system/files.h"
#include "system/sound.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t tenMinutes = 10 * 60 * 1000 / tickMs;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, double value, const char* unit, double target, const char* targetText) {
    std::printf("  %-46s %9.2f %-6s target %s%s\n", what, value, unit, targetText, value <= target ? "" : "   NOT MET");
}

// A hall walled all round, a guardian pacing and one rising and sinking
// above the player's reach, crumbling floor: no way out and no way to die.
std::string hall() {
    std::string text = std::string(80, '1') + "\r\n";
    for (int y = 2; y <= 21; ++y) {
        std::string row = "1" + std::string(78, ' ') + "1";
        if (y == 4) row[60] = '1';
        if (y == 8) row[10] = '8', row[40] = '1';
        if (y == 6) row[60] = '7';
        if (y == 14) row[60] = '1';
        if (y == 20) row[3] = 'i', row[30] = 'j';
        if (y == 21) row.replace(1, 78, std::string(20, '1') + "444" + std::string(55, '1'));
        text += row + "\r\n";
    }
    return text + std::string(80, '1') + "\r\n1\r\n";
}

std::vector<TickKey> restlessPlayer(size_t ticks) {
    std::vector<TickKey> keys(ticks, TickKey::None);
    unsigned seed = 12345;
    for (size_t t = 0; t < ticks;) {
        seed = seed * 1103515245 + 12345;
        keys[t] = static_cast<TickKey>(1 + (seed >> 16) % 5);
        t += 2 + (seed >> 8) % 8;
    }
    return keys;
}

}  // namespace

int main() {
    startMemoryConsole();
    useRecordingSound();
    std::printf("Recorded runs\n");

    // The 10-minute run, and steps back from all over it.
    std::string text = hall();
    RoomRecord played = roomRecordFromKeys({RoomSourceKind::Held, "hall", text}, roomFromText(text, RoomState{}), 1,
                                           false, restlessPlayer(tenMinutes));
    RecordedRun tenMinuteRun{RunOrigin::Checker, 0, "", {played}};
    std::printf("  a 10-minute room: %zu ticks, ended %s\n", played.ticks.size(),
                played.end == RoomEnd::Leave ? "by running out of keys" : "EARLY");
    openReplay(tenMinuteRun);
    Clock::time_point start = Clock::now();
    if (!replaySeek(tenMinutes)) {
        std::printf("  the replay stopped: %s\n", replayStopLine().c_str());
        return 1;
    }
    double forward = msSince(start);
    double worstLeft = 0, worstHome = 0, total = 0;
    int steps = 0;
    for (size_t at = tenMinutes; at > tenMinutes / 2; at -= 97) {
        replaySeek(at);
        start = Clock::now();
        replaySeek(at - 13);
        double ms = msSince(start);
        worstLeft = std::max(worstLeft, ms);
        total += ms;
        ++steps;
    }
    for (size_t at : {tenMinutes, tenMinutes / 2, size_t(63)}) {
        replaySeek(at);
        start = Clock::now();
        replaySeek(0);
        worstHome = std::max(worstHome, msSince(start));
    }
    std::printf("  the whole run played forward at once: %.1f ms (keyframes made on the way)\n", forward);
    report("Left, a second back, the slowest of", worstLeft, "ms", 50, "< 50 ms");
    std::printf("    (%d steps from ticks all over the run's second half, %.3f ms on average)\n", steps, total / steps);
    report("Home, back to the room's start, the slowest", worstHome, "ms", 50, "< 50 ms");

    // Sizes.
    std::string tenBytes = encodeRun(tenMinuteRun);
    std::printf("  the 10-minute room's run: %zu bytes (its room held in it: %zu), %.0f bytes a minute of play\n",
                tenBytes.size(), text.size(), double(tenBytes.size() - text.size()) / 10);
    const std::string levels = "data/levels/";
    RecordedRun shortest{RunOrigin::Checker, 0, "", {}}, allGoods = shortest;
    RoomState loaded{};
    size_t ticks = 0;
    for (int n = 1; n <= 21; ++n) {
        std::string room = readTextFile(levels + std::to_string(n) + ".lvl");
        loaded = roomFromText(room, loaded);
        SearchReport search = searchRoom(loaded);
        RoomSource source{RoomSourceKind::Series, std::to_string(n), room};
        shortest.rooms.push_back(roomRecordFromKeys(source, loaded, n, false, search.solution));
        allGoods.rooms.push_back(roomRecordFromKeys(source, loaded, n, false, search.allGoodsSolution));
        ticks += search.allGoodsSolution.size();
    }
    report("the main series along its shortest ways", double(encodeRun(shortest).size()), "bytes", 8192, "< 8,192");
    report("the main series with every goods item", double(encodeRun(allGoods).size()), "bytes", 8192, "< 8,192");
    std::printf("    (%zu ticks, %.1f minutes of play)\n", ticks, ticks * tickMs / 60000.0);
    return 0;
}
