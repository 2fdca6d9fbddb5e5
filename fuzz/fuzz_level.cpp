// A level file loaded, drawn and played. The input is the file, optionally
// followed by "KEYS" and one byte per tick for the key of that tick.
#include <cstdint>
#include <string_view>

#include "endings/endings.h"
#include "fuzzkit.h"
#include "levels/levels.h"
#include "shell/flow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find("KEYS");
    std::string_view level = input.substr(0, cut);
    std::string_view keys = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 4);

    beginRun();
    writeWhole(fuzzFolder() + "/levels/fuzz.lvl", level);
    try {
        loadLevel("fuzz");
        PlayerState player = startRoom();
        checkRoom(player);
        for (size_t tick = 0; tick < 400; ++tick) {
            TickKey key = tick < keys.size() ? static_cast<TickKey>(uint8_t(keys[tick]) % 6) : TickKey::None;
            TickOutcome outcome = stepTickWith(player, key);
            checkRoom(player);
            if (outcome == TickOutcome::ExitReached) break;
            if (outcome == TickOutcome::GameOver) showGameOver();  // waits for a key: ends the run
            delayMs(tickMs);
        }
    } catch (const MenuReturn&) {
    } catch (const ScriptEnded&) {
    } catch (const ProgramEnd&) {
    }
    return 0;
}
