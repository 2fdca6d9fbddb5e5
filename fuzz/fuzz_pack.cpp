// A pack index with the rooms it names. The input is the index, then the
// level files of its entries one after another, each after a line "%%".
// Only entries that are plain names get a file (the fuzzer must not write
// outside its folder); the game still reads whatever the index names.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzzkit.h"
#include "levels/levels.h"
#include "shell/files.h"
#include "shell/flow.h"

namespace {

bool plainName(std::string_view name) {
    if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == '\0') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t next = input.find("\n%%\n", start);
        parts.push_back(input.substr(start, next == std::string_view::npos ? next : next - start));
        if (next == std::string_view::npos) break;
        start = next + 4;
    }

    beginRun();
    run.packName = "fz";
    run.playingCustomPack = true;
    std::string packFolder = fuzzFolder() + "/levels/custom levels/fz";
    std::filesystem::remove_all(packFolder);
    std::filesystem::create_directories(packFolder);
    writeWhole(packIndexPath(), parts[0]);
    std::vector<std::string_view> entries = splitLines(parts[0]);
    for (size_t i = 0; i < entries.size() && i + 1 < parts.size(); ++i)
        if (plainName(entries[i])) writeWhole(packFolder + "/" + std::string(entries[i]) + ".lvl", parts[i + 1]);

    for (int number = 1; number <= 6; ++number) {
        game.levelNumber = static_cast<int8_t>(number);
        try {
            loadPackLevel();
            PlayerState player = startRoom();
            for (int tick = 0; tick < 20; ++tick) {
                TickOutcome outcome = stepTickWith(player, TickKey::Right);
                checkRoom(player);
                if (outcome == TickOutcome::ExitReached || outcome == TickOutcome::GameOver) break;
                delayMs(tickMs);
            }
        } catch (const MenuReturn&) {
        } catch (const ScriptEnded&) {
            break;  // the end screen or the missing-file screen waits for Enter
        } catch (const ProgramEnd&) {
        }
        checkConsole();
    }
    return 0;
}
