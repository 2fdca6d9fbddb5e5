// A pack index with the rooms it names, played room after room. The input
// is the index, then level files, each after a line "%%": the entries get
// them in turn, again from the first when they run out (a built-in room when
// there are none), so that play goes on past the first room. Only entries
// that stay inside the pack folder get a file (the fuzzer must not write
// outside its folder); the game still reads whatever the index names.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzzkit.h"
#include "levels/levels.h"
#include "shell/missingfile.h"
#include "system/files.h"

namespace {

// Walled, a start on the floor and the exit five cells on: Right finishes it.
std::string builtInRoom() {
    std::string wall(80, '1'), inside = "1" + std::string(78, ' ') + "1", floor = inside;
    floor.replace(2, 7, "i     9");
    std::string text = wall + "\r\n";
    for (int y = 2; y <= 21; ++y) text += (y == 21 ? floor : inside) + "\r\n";
    return text + wall + "\r\n0\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts = splitParts(input);

    beginRun();
    run.packName = "fz";
    run.playingCustomPack = true;
    std::string packFolder = fuzzFolder() + "/levels/custom levels/fz";
    std::filesystem::remove_all(packFolder);
    std::filesystem::create_directories(packFolder);
    writeWhole(packIndexPath(), parts[0]);
    std::vector<std::string_view> entries = splitLines(parts[0]);
    static const std::string fallback = builtInRoom();
    for (size_t i = 0, given = 0; i < entries.size() && i < 8; ++i) {
        std::string entry(entries[i].substr(0, 255));
        if (!entry.empty() && entry[0] == '*') break;
        std::string mapped = hostPath(entry);
        if (lookAtPackFile(openPackFolder(packFolder), entry + ".lvl").kind == FileKind::Outside || mapped.size() > 128)
            continue;
        std::filesystem::path file = packFolder + "/" + mapped + ".lvl";
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        std::string_view level = parts.size() > 1 ? parts[1 + given++ % (parts.size() - 1)] : fallback;
        writeWhole(file.string(), level);
    }

    for (int number = 1; number <= 6; ++number) {
        game.levelNumber = static_cast<int8_t>(number);
        try {
            RoomLoad load = loadPackLevel();
            // The end screen and the missing-file screen wait for Enter: the run ends there.
            if (load.outcome == LoadOutcome::PackEnd) showPackEnd(load.detail);
            if (load.outcome == LoadOutcome::Missing) showMissingFile(load.detail);
            if (load.outcome != LoadOutcome::Play) break;
            PlayerState player = startRoom();
            for (int tick = 0; tick < 20; ++tick) {
                TickOutcome outcome = stepTickWith(player, TickKey::Right);
                checkRoom(player);
                if (outcome == TickOutcome::ExitReached || outcome == TickOutcome::GameOver) break;
                delayMs(tickMs);
            }
        } catch (const ScriptEnded&) {
            break;
        }
        checkConsole();
    }
    return 0;
}
