// The one game-wide state: the room being played, the counters of the game
// and the settings of the run. Plain copyable structs, so a tool can copy a
// whole room and step it on its own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "system/sound.h"

enum CellCode : int8_t {
    Empty = 0,
    Wall = 1,
    Lava = 2,
    Spikes = 3,
    Crumbling = 4,
    Spring = 5,
    Ice = 6,
    VerticalEnemy = 7,
    HorizontalEnemy = 8,
    Exit = 9,
    GoodsDiamond = 10,
    GoodsClub = 11,
    GoodsSpade = 12,
    Message = 13,  // 13 to 20: message number = code
    MessageLast = 20,
    Crumbled = -4,
};

constexpr int mapWidth = 80;
constexpr int mapHeight = 22;
constexpr int messageCount = 8;

// 80 columns of 22 cells, column outer; cell(x, y) with x 1..80, y 1..22.
struct LevelMap {
    CellCode cells[mapWidth][mapHeight];
};

struct EnemySlot {
    bool active;
    uint8_t x;
    uint8_t y;
    int8_t step;  // vertical: -1 up, +1 down; horizontal: -1 left, +1 right
};

struct CrumbleSlot {
    bool active;
    uint8_t x;
    uint8_t y;
    int8_t age;  // ticks since taken; 0 while free
};

struct RoomState {
    LevelMap levelMap;
    std::array<std::string, messageCount> roomMessages;  // messages 13 to 20
    uint8_t startX;
    uint8_t startY;
    int8_t goodsInRoom;
    EnemySlot verticalEnemy;
    EnemySlot horizontalEnemy;
    std::array<CrumbleSlot, 4> crumbleSlots;
};

// Score and goods are 32-bit: a full game scores far more than 127.
struct GameCounters {
    int8_t levelNumber;
    int8_t lives;
    int32_t goodsCollected;
    int32_t totalGoods;
    int32_t score;
};

struct RunSettings {
    bool soundOn;
    bool playingCustomPack;
    std::string packName;
    std::string baseDirectory;  // current directory at start-up plus '/'
};

extern RoomState room;
extern GameCounters game;
extern RunSettings run;

// A sound cue, with the run's sound switch and folder.
inline void playCue(const std::string& name, bool looping) {
    playCueFrom(run.baseDirectory, run.soundOn, name, looping);
}

// Look-ups outside the map read as Wall; writes outside it are dropped.
// Inline: the rules and the level checker's search read cells millions of times.
inline bool insideMap(int x, int y) { return x >= 1 && x <= mapWidth && y >= 1 && y <= mapHeight; }
inline CellCode cellAt(const LevelMap& map, int x, int y) { return insideMap(x, y) ? map.cells[x - 1][y - 1] : Wall; }
inline void setCell(LevelMap& map, int x, int y, CellCode code) {
    if (insideMap(x, y)) map.cells[x - 1][y - 1] = code;
}
inline CellCode cellAt(int x, int y) { return cellAt(room.levelMap, x, y); }
inline void setCell(int x, int y, CellCode code) { setCell(room.levelMap, x, y, code); }

inline bool isMessageCode(int code) { return code >= Message && code <= MessageLast; }
inline std::string& roomMessage(int code) { return room.roomMessages[code - Message]; }

// Back to the state of a fresh program start (tests run many games in one process).
void resetWorld();

// The whole game-wide state at one moment: what a tool saves before it steps
// or plays a room of its own, and puts back afterwards.
struct WorldSnapshot {
    RoomState room;
    GameCounters game;
    RunSettings run;
};
WorldSnapshot saveWorld();
void restoreWorld(const WorldSnapshot& snapshot);
