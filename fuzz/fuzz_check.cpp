// The level checker's reading and static checks over any level file, then a
// replay of keys from the input on the room it read. (Its search is left
// out: it costs about a third of a second a run under the sanitizers.)
// The input is the file, optionally followed by "KEYS" and one byte per tick.
#include <cstdint>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "fuzzkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto [text, keyBytes] = splitLevelAndKeys(data, size);

    beginRun();
    RoomState previous{};
    RoomState loaded = roomFromText(text, previous);
    for (const EnemySlot* enemy : {&loaded.verticalEnemy, &loaded.horizontalEnemy})
        if (enemy->active) FUZZ_CHECK(inMap(enemy->x, enemy->y));
    for (const Finding& finding : levelFindings(text, previous, true)) {
        FUZZ_CHECK(finding.line >= 0 && finding.column >= 0 && !finding.text.empty());
        FUZZ_CHECK(finding.cellX >= 0 && finding.cellX <= mapWidth + 1 && finding.cellY >= 0 &&
                   finding.cellY <= mapHeight + 1);
    }

    std::vector<TickKey> keys;
    for (size_t i = 0; i < keyBytes.size() && i < 400; ++i) keys.push_back(tickKeyOf(keyBytes[i]));
    int played = 0;
    replayKeys(loaded, keys, &played);
    FUZZ_CHECK(played >= 0 && played <= int(keys.size()));
    return 0;
}
