// The run being recorded: the game's flow and the editor's play-tests open
// one, the room loop hands it each room's start, ticks and end.
#include <ctime>

#include "game/runfile.h"
#include "game/runstore.h"
#include "levels/levels.h"
#include "levels/world.h"

namespace {

struct Recording {
    bool open = false;
    bool inRoom = false;
    RecordedRun run;
    RoomRecord room;
    bool roomKept = false;  // the room played last is the run's last
    std::string fileName;   // the run's file, once written
};
Recording recording;

}  // namespace

void beginRecording(RunOrigin origin, const std::string& series) {
    recording = Recording{};
    recording.open = true;
    recording.run.origin = origin;
    recording.run.started = static_cast<int64_t>(time(nullptr));
    recording.run.series = series;
}

void endRecording() { recording = Recording{}; }

const RecordedRun& recordedRun() { return recording.run; }

const RoomRecord* lastRoomRecorded() { return recording.roomKept ? &recording.run.rooms.back() : nullptr; }

void recordRoomStart(const PlayerState& player) {
    if (!recording.open) return;
    recording.room = roomAtStart(loadedRoom, player);
    recording.inRoom = true;
    recording.roomKept = false;
}

void recordTick(RunTick tick, const PlayerState& player) {
    if (!recording.inRoom) return;
    if (recording.room.ticks.size() >= mostRunTicks) {
        recording.inRoom = false;  // weeks in one room: more than a run holds
        return;
    }
    std::vector<RunTick>& ticks = recording.room.ticks;
    ticks.push_back(tick);
    if (ticks.size() % checkInterval == 0) recording.room.checks.push_back(worldCheck(player));
}

void recordRoomEnd(RoomEnd end, const PlayerState& player) {
    if (!recording.inRoom) return;
    RoomRecord& room = recording.room;
    room.end = end;
    room.goodsTaken = game.goodsCollected;
    room.checks.push_back(worldCheck(player));
    recording.run.rooms.push_back(std::move(room));
    recording.inRoom = false;
    recording.roomKept = true;
    keepRun(recording.run, recording.fileName);
}
