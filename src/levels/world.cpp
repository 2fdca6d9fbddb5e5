#include "levels/world.h"

RoomState room{};
GameCounters game{};
RunSettings run{};

void resetWorld() {
    room = RoomState{};
    game = GameCounters{};
    run = RunSettings{};
}
