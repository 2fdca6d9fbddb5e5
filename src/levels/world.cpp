#include "levels/world.h"

RoomState room{};
GameCounters game{};
RunSettings run{};

void resetWorld() {
    room = RoomState{};
    game = GameCounters{};
    run = RunSettings{};
}

WorldSnapshot saveWorld() { return {room, game, run}; }

void restoreWorld(const WorldSnapshot& snapshot) {
    room = snapshot.room;
    game = snapshot.game;
    run = snapshot.run;
}
