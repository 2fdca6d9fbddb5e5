// Shared by the fuzz targets: a scratch game folder, a fresh in-memory run,
// and the checks that every state must pass. A failed check aborts, so the
// fuzzer keeps the input and the replay test names it.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "game/tick.h"
#include "levels/world.h"
#include "system/sound.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// One folder per process, on a memory file system where there is one, so
// that the many small writes and syncs stay cheap; removed at exit.
inline const std::string& fuzzFolder() {
    static const std::string& folder = *new std::string([] {
        std::string pattern =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm/quorvex-fuzz-XXXXXX" : "/tmp/quorvex-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        mkdir((pattern + "/levels").c_str(), 0755);
        std::atexit([] { std::filesystem::remove_all(fuzzFolder()); });
        return pattern;
    }());  // never destroyed: the exit handler still needs it
    return folder;
}

inline void writeWhole(const std::string& path, std::string_view contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(contents.data(), std::streamsize(contents.size()));
}

// The files an input holds, separated by lines of "%%"; at most `most` parts,
// the last one keeping whatever follows.
inline std::vector<std::string_view> splitParts(std::string_view input, size_t most = SIZE_MAX) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t next = input.find("\n%%\n", start);
        parts.push_back(input.substr(start, next == std::string_view::npos ? next : next - start));
        if (next == std::string_view::npos || parts.size() == most) break;
        start = next + 4;
    }
    return parts;
}

// A fresh program state on the in-memory console, the game's folder the scratch folder.
// An input is a level text, then optionally "KEYS" and one byte per tick.
struct LevelAndKeys {
    std::string_view level, keys;
};
inline LevelAndKeys splitLevelAndKeys(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find("KEYS");
    if (cut == std::string_view::npos) return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 4)};
}
inline TickKey tickKeyOf(char byte) { return static_cast<TickKey>(static_cast<uint8_t>(byte) % 6); }

inline void beginRun() {
    startMemoryConsole();
    useRecordingSound();
    resetWorld();
    run.soundOn = true;
    run.baseDirectory = fuzzFolder() + "/";
    game.levelNumber = 1;
    setStopTime(24 * 3600 * 1000ull);  // a day of virtual time: nothing may wait longer
}

inline bool inMap(int x, int y) { return x >= 1 && x <= mapWidth && y >= 1 && y <= mapHeight; }

// The console's cursor and view, whatever was written.
inline void checkConsole() {
    FUZZ_CHECK(cursorColumn() >= 1 && cursorColumn() <= screenWidth);
    FUZZ_CHECK(cursorRow() >= 1 && cursorRow() <= bufferRows);
    FUZZ_CHECK(viewTop() >= 1 && viewTop() <= bufferRows - viewRows + 1);
    FUZZ_CHECK(cursorRow() >= viewTop() && cursorRow() < viewTop() + viewRows);
}

// The player, the enemies and the crumbling slots stay on the map; the console stays sane.
inline void checkRoom(const PlayerState& player) {
    FUZZ_CHECK(inMap(player.playerX, player.playerY));
    for (const EnemySlot* enemy : {&room.verticalEnemy, &room.horizontalEnemy})
        if (enemy->active) FUZZ_CHECK(inMap(enemy->x, enemy->y));
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) FUZZ_CHECK(inMap(slot.x, slot.y));
    FUZZ_CHECK(game.lives >= 0 && game.lives <= 3);
    checkConsole();
}

// Where a descriptor leads, read back from the process's own descriptors:
// what the kernel opened, whatever name was asked for.
inline std::string descriptorPath(int fd) {
    char target[4096];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t length = readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, size_t(length)) : "";
}

inline bool within(const std::string& path, const std::string& folder) {
    return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

// Every descriptor the process holds that leads into forbidden (a folder
// the files under test link to): none may. Read from /proc/self/fd, so an
// open that did not go through the file layer is caught too.
inline void checkNoDescriptorInto(const std::string& forbidden) {
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) return;
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') continue;
        std::string path = descriptorPath(std::atoi(entry->d_name));
        if (within(path, forbidden)) std::fprintf(stderr, "descriptor %s leads to %s\n", entry->d_name, path.c_str());
        FUZZ_CHECK(!within(path, forbidden));
    }
    closedir(fds);
}

// For the file layer's watcher: the file it opened, or the folder whose
// entry it changes, lies in root (both as the kernel has them).
inline void checkFileUseWithin(const std::string& root, int fd, std::string_view name) {
    std::string path = descriptorPath(fd);
    if (!within(path, root)) std::fprintf(stderr, "file use outside %s: %s\n", root.c_str(), path.c_str());
    FUZZ_CHECK(within(path, root));
    FUZZ_CHECK(name.find('/') == std::string_view::npos);
}
