// How long the level checker takes to decide rooms, and how much memory.
//
// First the main series: each room loaded over the one before it, as in
// play, then searched with the checker's own limits. Target: every room
// decided, in under 10 s of processor time in all.
//
// Then rooms an author draws, each searched in a child process of its own,
// so that its peak memory is its own: the sampler pack, the bench rooms
// (bench/rooms/*.lvl: crumbling floor, enemies and ice, millions of states
// for an exhaustive search) and a curve of two-way bridges of crumbling
// floor over lava, 17 to 40 cells, with and without a walled pocket below
// one end (stuck there). Targets: every room decided; a bench room within
// 2 s of processor time and 256 MiB, a bridge within 1 s and 256 MiB.
//
// Last the exact search alone on the bench rooms (no proofs taking over):
// 800,000 states a second or more, in at most 100 bytes a state (the
// search's tables at their largest, over the states).
//
// Usage: checkbench [levels folder] [bench rooms folder] [sampler pack folder]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "check/check.h"
#include "system/files.h"

namespace {

constexpr double seriesSecondsTarget = 10;
constexpr double roomSecondsTarget = 2, bridgeSecondsTarget = 1;
constexpr double mebibytesTarget = 256;
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
                decided, processor, seriesSecondsTarget, mark(decided == 21 && processor < seriesSecondsTarget));
}

struct Measured {
    bool decided = false;
    size_t states = 0, tableBytes = 0;
    double seconds = 0;
    char verdict[160] = "";
};

// One room in a child: the report's figures through a pipe, the peak memory
// from the child's own accounting. exactOnly: no proofs take over.
bool measureRoom(const std::string& text, bool exactOnly, Measured& m, long& peakKiB) {
    int channel[2];
    if (pipe(channel) != 0) return false;
    std::fflush(stdout);
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        close(channel[0]);
        Measured found;
        if (exactOnly) setExactShare(size_t(1) << 40);
        RoomState loaded = roomFromText(text, RoomState{});
        SearchReport r = searchRoom(loaded);
        found.decided = r.decided;
        found.states = r.states;
        found.tableBytes = r.peakBytes;
        found.seconds = r.seconds;
        std::string verdict = !r.decided                         ? "not fully checked: " + r.stopReason
                              : r.verdict == Verdict::Finishable ? "finishable in " + std::to_string(r.ticks) + " ticks"
                                                                 : "no way without a lost life";
        if (r.decided && r.stuck)
            verdict += ", stuck alive at (" + std::to_string(r.stuckAt.x) + ", " + std::to_string(r.stuckAt.y) + ")";
        std::snprintf(found.verdict, sizeof found.verdict, "%s", verdict.c_str());
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

struct Room {
    std::string name, text;
};

std::vector<Room> roomsIn(const std::string& folder) {
    std::vector<Room> rooms;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".lvl") try {
                rooms.push_back({entry.path().filename().string(), readTextFile(entry.path().string())});
            } catch (const FileFailure&) {
            }
    std::sort(rooms.begin(), rooms.end(), [](const Room& a, const Room& b) { return a.name < b.name; });
    return rooms;
}

// A plain room, the start and the exit on either side of a two-way bridge
// of crumbling floor over lava; pocket: below its right end a shaft walled
// on all sides, deeper than a jump.
std::string bridgeRoom(int cells, bool pocket) {
    std::vector<std::string> rows(22, "1" + std::string(78, ' ') + "1");
    rows[0] = rows[21] = std::string(80, '1');
    const int left = 10;
    for (int y = 15; y <= 21; ++y) rows[y - 1] = std::string(80, '1');
    for (int x = 2; x <= 79; ++x) rows[13][x - 1] = ' ';
    for (int x = left + 1; x <= left + cells; ++x) {
        rows[14][x - 1] = '4';
        rows[15][x - 1] = '2';
    }
    if (pocket)
        for (int y = 16; y <= 21; ++y) rows[y - 1][left + cells - 1] = ' ';
    rows[13][1] = 'i';
    rows[13][left + cells + 11] = '9';
    std::string text;
    for (const std::string& row : rows) text += row + "\n";
    return text + "0\n";
}

struct Table {
    size_t states = 0, bytes = 0;
    double seconds = 0;
    bool met = true;
};

void measureAll(const std::vector<Room>& rooms, double secondsTarget, bool exactOnly, Table& table) {
    std::printf("  %-20s %9s %10s %9s  %s\n", "room", "states", "processor", "peak RSS", "verdict");
    for (const Room& room : rooms) {
        Measured m;
        long peakKiB = 0;
        if (!measureRoom(room.text, exactOnly, m, peakKiB)) {
            std::printf("  %-20s failed\n", room.name.c_str());
            table.met = false;
            continue;
        }
        double mebibytes = peakKiB / 1024.0;
        bool met = m.decided && (exactOnly || (m.seconds < secondsTarget && mebibytes < mebibytesTarget));
        table.met = table.met && met;
        table.states += m.states;
        table.seconds += m.seconds;
        table.bytes = std::max(table.bytes, m.states > 0 ? m.tableBytes / m.states : 0);
        std::printf("  %-20s %9zu %8.2f s %5.0f MiB  %s%s\n", room.name.c_str(), m.states, m.seconds, mebibytes,
                    m.verdict, mark(met));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line per room as it is decided
    mainSeries(argc > 1 ? argv[1] : "data/levels");
    std::string benchFolder = argc > 2 ? argv[2] : "bench/rooms";
    std::string sampler = argc > 3 ? argv[3] : "data/levels/custom levels/sampler";

    Table table;
    std::vector<Room> authored = roomsIn(sampler);
    for (Room& room : roomsIn(sampler + "/towers")) authored.push_back(room);
    for (Room& room : roomsIn(benchFolder)) authored.push_back(room);
    std::printf("Level checker on an author's rooms: the sampler pack (%s), the bench rooms (%s)\n", sampler.c_str(),
                benchFolder.c_str());
    measureAll(authored, roomSecondsTarget, false, table);
    std::printf("  each room: decided, under %.0f s of processor time and %.0f MiB%s\n\n", roomSecondsTarget,
                mebibytesTarget, mark(table.met));

    Table bridges;
    std::vector<Room> curve;
    for (int cells : {17, 24, 32, 40})
        for (bool pocket : {false, true})
            curve.push_back(
                {std::to_string(cells) + (pocket ? " cells, pocket" : " cells"), bridgeRoom(cells, pocket)});
    std::printf("Level checker on two-way bridges of crumbling floor over lava\n");
    measureAll(curve, bridgeSecondsTarget, false, bridges);
    std::printf("  each bridge: decided, under %.0f s of processor time and %.0f MiB%s\n\n", bridgeSecondsTarget,
                mebibytesTarget, mark(bridges.met));

    Table exact;
    std::vector<Room> benchRooms = roomsIn(benchFolder);
    std::printf("The exact search alone on the bench rooms (every reachable state)\n");
    measureAll(benchRooms, 0, true, exact);
    double rate = exact.seconds > 0 ? exact.states / exact.seconds : 0;
    std::printf("  states a second over all rooms: %.0f      target: %.0f or more%s\n", rate, statesPerSecondTarget,
                mark(rate >= statesPerSecondTarget));
    std::printf("  bytes a state (the most of any room): %zu      target: %.0f or fewer%s\n", exact.bytes,
                bytesPerStateTarget, mark(exact.bytes <= bytesPerStateTarget));
    return 0;
}
