#include "levels/world.h"

RoomState room{};
GameCounters game{};
RunSettings run{};

bool insideMap(int x, int y) { return x >= 1 && x <= mapWidth && y >= 1 && y <= mapHeight; }

CellCode cellAt(const LevelMap& map, int x, int y) { return insideMap(x, y) ? map.cells[x - 1][y - 1] : Wall; }

void setCell(LevelMap& map, int x, int y, CellCode code) {
    if (insideMap(x, y)) map.cells[x - 1][y - 1] = code;
}

void resetWorld() {
    room = RoomState{};
    game = GameCounters{};
    run = RunSettings{};
}
