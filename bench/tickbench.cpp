// How much one tick of play costs: processor time of the tick with its
// drawing on the in-memory console, and the bytes the terminal form sends
// for a tick. A crafted room with two patrolling enemies and a player who
// walks to and fro along the floor, and the same room without enemies.
//
// Targets: a tick's work below 0.2 ms; a walking tick at most 25 bytes, a
// tick with two enemies at most 60. Then a player bouncing on a spring in a
// room dense with walls, at 80 x 25 and in a window of 80 x 14, where the
// map scrolls on most ticks: the bytes such a tick costs (target: at most
// 1200, a whole map area of 11 rows with half its cells changed).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "console/console.h"
#include "console/terminal.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/sound.h"

namespace {

constexpr int memoryTicks = 200000;
constexpr int terminalTicks = 4000;

double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Walls all round, a floor on row 21; the enemies patrol their own corridors.
void craftRoom(bool withEnemies) {
    resetWorld();
    run.soundOn = true;
    game.levelNumber = 1;
    room.goodsInRoom = 3;
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) {
            bool border = x == 1 || x == mapWidth || y == 1 || y >= 21;
            setCell(x, y, border ? Wall : Empty);
        }
    for (int x = 20; x <= 60; x += 40) setCell(x, 10, Wall);
    setCell(70, 4, Wall);
    setCell(70, 18, Wall);
    room.startX = 3;
    room.startY = 20;
    if (withEnemies) {
        room.horizontalEnemy = {true, 30, 10, 0};
        room.verticalEnemy = {true, 70, 12, 0};
    }
}

// Turns before the wall, so that every tick is a walking one.
TickKey turnBeforeWall(const PlayerState& player) {
    bool right = player.direction == scan::right;
    if (!isSolid(cellAt(player.playerX + (right ? 1 : -1), player.playerY))) return TickKey::None;
    return right ? TickKey::Left : TickKey::Right;
}

// A room loop's tick: the keyboard polled (no key waits), then the rules.
void stepPolled(PlayerState& player, TickKey planned = TickKey::None) {
    RoomInput input = readRoomInput();
    stepTickWith(player, planned != TickKey::None ? planned : input.key);
}

PlayerState startWalking(bool withEnemies) {
    craftRoom(withEnemies);
    clearScreen();
    drawRoom();
    PlayerState player = startRoom();
    applyTickKey(player, TickKey::Right);
    return player;
}

void runTicks(PlayerState& player, int count) {
    for (int i = 0; i < count; ++i) stepPolled(player, turnBeforeWall(player));
}

double memoryMicroseconds(bool withEnemies) {
    PlayerState player = startWalking(withEnemies);
    runTicks(player, 1000);
    double start = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    runTicks(player, memoryTicks);
    return (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - start) * 1e6 / memoryTicks;
}

// Reads everything the terminal form sends, so it never blocks on a full pty.
struct Drain {
    int master = -1;
    std::atomic<long> bytes{0};
    std::atomic<bool> stop{false};
    std::thread reader;

    void start() {
        reader = std::thread([this] {
            char chunk[4096];
            while (!stop) {
                pollfd waiting{master, POLLIN, 0};
                if (poll(&waiting, 1, 20) <= 0) continue;
                ssize_t got = read(master, chunk, sizeof chunk);
                if (got > 0) bytes += got;
            }
        });
    }
    // The count once the terminal has gone quiet.
    long settled() {
        long last = -1;
        while (bytes != last) {
            last = bytes;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return last;
    }
};

struct TerminalFigures {
    double bytesPerTick;
    double microseconds;
};

TerminalFigures terminalTick(Drain& drain, bool withEnemies) {
    PlayerState player = startWalking(withEnemies);
    runTicks(player, 200);
    long before = drain.settled();
    double start = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    runTicks(player, terminalTicks);
    double seconds = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
    long after = drain.settled();
    return {double(after - before) / terminalTicks, seconds * 1e6 / terminalTicks};
}

// Bounces from a spring under the start, eight rows up and down, past rows of walls that all differ.
double bouncingBytes(Drain& drain) {
    craftRoom(false);
    for (int y = 2; y <= 19; ++y)
        for (int x = 10; x < mapWidth; ++x)
            if ((x * y) % 5 == 0) setCell(x, y, Wall);
    setCell(3, 21, Spring);
    clearScreen();
    drawRoom();
    PlayerState player = startRoom();
    for (int i = 0; i < 200; ++i) stepPolled(player);
    long before = drain.settled();
    for (int i = 0; i < terminalTicks; ++i) stepPolled(player);
    return double(drain.settled() - before) / terminalTicks;
}

void resizePty(int master, int rows) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = screenWidth;
    ioctl(master, TIOCSWINSZ, &size);
    raise(SIGWINCH);
    terminalSleep(1);  // the resize is taken while waiting
}

}  // namespace

int main() {
    useRecordingSound();
    std::printf("Tick of play, a room with a walking player\n");

    // The terminal form first: the in-memory console cannot be left once started.
    winsize size{};
    size.ws_row = viewRows;
    size.ws_col = screenWidth;
    int master = -1, slave = -1;
    std::string failure;
    bool terminal = openpty(&master, &slave, nullptr, nullptr, &size) == 0;
    FILE* output = terminal ? fdopen(slave, "w") : nullptr;
    FILE* input = terminal ? fdopen(dup(slave), "r") : nullptr;
    Drain drain;
    drain.master = master;
    if (terminal) drain.start();
    terminal =
        terminal && output != nullptr && input != nullptr && openTerminalOn(input, output, "xterm-256color", failure);
    if (terminal) {
        TerminalFigures with = terminalTick(drain, true);
        TerminalFigures without = terminalTick(drain, false);
        double bounceFull = bouncingBytes(drain);
        resizePty(master, smallestWindowRows);
        double bounceLow = bouncingBytes(drain);
        closeTerminal();
        std::printf("  terminal form (xterm-256color on a pty), %d ticks each:\n", terminalTicks);
        std::printf("    two enemies:  %6.1f bytes/tick  %7.1f us/tick\n", with.bytesPerTick, with.microseconds);
        std::printf("    no enemies:   %6.1f bytes/tick  %7.1f us/tick\n", without.bytesPerTick, without.microseconds);
        std::printf("    target: a walking tick at most 25 bytes, two enemies at most 60\n");
        std::printf("    bouncing by a spring past dense walls:  80 x 25 %6.1f bytes/tick,  80 x %d %6.1f bytes/tick\n",
                    bounceFull, smallestWindowRows, bounceLow);
        std::printf("    target: at most 1200 bytes/tick in the low window, where the map scrolls\n");
    } else {
        std::printf("  terminal form unavailable%s%s\n", failure.empty() ? "" : ": ", failure.c_str());
    }
    drain.stop = true;
    if (drain.reader.joinable()) drain.reader.join();

    startMemoryConsole();
    double with = memoryMicroseconds(true);
    double without = memoryMicroseconds(false);
    std::printf("  in-memory console, %d ticks each:\n", memoryTicks);
    std::printf("    two enemies:  %7.2f us/tick\n", with);
    std::printf("    no enemies:   %7.2f us/tick\n", without);
    std::printf("    target: below 200 us/tick\n");
    return 0;
}
