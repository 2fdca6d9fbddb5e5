// A level file loaded, drawn and played. The input is the file, optionally
// followed by "KEYS" and one byte per tick for the key of that tick.
#include <cstdint>
#include <string_view>

#include "endings/endings.h"
#include "fuzzkit.h"
#include "levels/levels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto [level, keys] = splitLevelAndKeys(data, size);

    beginRun();
    writeWhole(fuzzFolder() + "/levels/fuzz.lvl", level);
    try {
        loadLevel("fuzz");
        PlayerState player = startRoom();
        checkRoom(player);
        for (size_t tick = 0; tick < 400; ++tick) {
            TickKey key = tick < keys.size() ? tickKeyOf(keys[tick]) : TickKey::None;
            TickOutcome outcome = stepTickWith(player, key);
            checkRoom(player);
            if (outcome == TickOutcome::ExitReached) break;
            if (outcome == TickOutcome::GameOver) showGameOver();  // waits for a key: ends the run
            delayMs(tickMs);
        }
    } catch (const ScriptEnded&) {
    }
    return 0;
}
