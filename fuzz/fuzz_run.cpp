// Run files: any bytes are a run or refused, never a crash; a run read is
// written back byte for byte; and one whose rooms it holds itself plays in
// the replay, forward and back, whatever its cells, messages and ticks say.
#include <cstdint>
#include <string>

#include "console/console.h"
#include "fuzzkit.h"
#include "game/runfile.h"
#include "shell/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    beginRun();
    RecordedRun run;
    if (decodeRun(bytes, run) != RunProblem::None) return 0;
    std::string written = encodeRun(run);
    RecordedRun again;
    FUZZ_CHECK(decodeRun(written, again) == RunProblem::None);
    FUZZ_CHECK(encodeRun(again) == written);

    // The first room played when it holds its text: its hash and start
    // made to match, so the replay gets past the start.
    if (run.rooms.empty() || run.rooms[0].kind != RoomSourceKind::Held || run.rooms[0].ticks.size() > 20'000) return 0;
    RoomRecord& first = run.rooms[0];
    first.roomHash = roomFileHash(first.text);
    setConsoleSilent(true);
    loadRoomStart(first, first.text);
    first.startCheck = worldCheck(startRoom());
    setConsoleSilent(false);
    openReplay(run);
    if (replaySeek(first.ticks.size())) replaySeek(first.ticks.size() / 2);
    replaySeek(0);
    checkConsole();
    return 0;
}
