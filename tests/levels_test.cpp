#include "levels/levels.h"

#include <cstring>
#include <random>

#include "harness.h"
#include "levels/world.h"
#include "shell/flow.h"

namespace {

std::string roomText(std::vector<std::string> rows, const std::string& end = "\r\n") {
    rows.resize(std::max<size_t>(rows.size(), 22));
    std::string text;
    for (const std::string& row : rows) text += row + end;
    return text;
}

struct LevelFiles : GameRun {
    void load(const std::string& contents) {
        writeFile("levels/t.lvl", contents);
        run.baseDirectory = folder.string() + "/";
        loadLevel("t");
    }
};

}  // namespace

TEST_F(LevelFiles, OnlyWhatTheFileNamesChanges) {
    load(roomText({std::string(80, '4'), std::string(80, '4'), "7  8"}));
    EXPECT_TRUE(room.verticalEnemy.active && room.horizontalEnemy.active);
    EXPECT_EQ(room.startX * 100 + room.startY, 101);  // no 'i' in the first room of a run
    for (std::string& message : room.roomMessages) message = "old";

    load(roomText({std::string(10, '1'), std::string(80, '2'), "  i i"}) + "12\r\na\r\nb\r\n" + std::string(300, 'c'));
    EXPECT_EQ(cellAt(10, 1) * 100 + cellAt(11, 1) * 10 + cellAt(80, 2), 142);
    EXPECT_FALSE(room.verticalEnemy.active || room.horizontalEnemy.active);
    EXPECT_EQ(room.startX * 100 + room.startY, 503);
    EXPECT_EQ(room.goodsInRoom, 1);
    EXPECT_EQ(roomMessage(14), "b");
    EXPECT_EQ(roomMessage(15), std::string(255, 'c'));
    for (int code = 16; code <= 20; ++code) EXPECT_EQ(roomMessage(code), "old");
}

TEST_F(LevelFiles, LfAndCrLoadLikeCrLfAndCtrlZEndsTheMessages) {
    std::vector<std::string> rows = {"1 2 3 4 5 6 9 j k l m", "i", "", "  7", "8" + std::string(100, 'x') + "8"};
    RoomState first{};
    for (const char* end : {"\r\n", "\n", "\r"}) {
        room = RoomState{};
        load(roomText(rows, end) + "3" + end + "one" + end + "\x1Atwo" + end + "three");
        if (end[1] == '\n') first = room;
        EXPECT_EQ(std::memcmp(&first.levelMap, &room.levelMap, sizeof room.levelMap), 0);
        EXPECT_EQ(room.roomMessages, first.roomMessages);
        EXPECT_EQ(room.verticalEnemy.x * 100 + room.verticalEnemy.y, 304);
        EXPECT_EQ(room.horizontalEnemy.x * 100 + room.horizontalEnemy.y, 105);  // column 102 is ignored
    }
    EXPECT_EQ(roomMessage(13) + "|" + roomMessage(14) + roomMessage(15), "one|");
    EXPECT_EQ(cellAt(21, 1), 13);
}

TEST_F(LevelFiles, CellsDrawWithTheirGlyphsAndSpikesPointAwayFromWalls) {
    setTextColor(9);
    load(roomText({"1256jkl9m", "", "  331", "", " 13", " 11", "", "1", "3", "", " 13"}));
    const uint8_t glyphs[] = {0xB2, 0xB1, 0x7F, 0x20, 0x04, 0x05, 0x06, 0x0F, ' '};
    const uint8_t attributes[] = {0x08, 0x04, 0x2A, 0x3A, 0x05, 0x02, 0x0E, 0x03, 0x07};  // ice keeps the foreground
    for (int x = 1; x <= 9; ++x)
        EXPECT_EQ(bufferCell(x, 1).character * 256 + bufferCell(x, 1).attribute,
                  glyphs[x - 1] * 256 + attributes[x - 1])
            << x;
    EXPECT_EQ(textAttribute() & 0x70, 0);
    EXPECT_EQ(bufferRow(3), "    \xB2");          // beside spikes and a wall: invisible
    EXPECT_EQ(bufferCell(3, 5).character, 0x1E);  // wall left and below: the later test wins
    EXPECT_EQ(bufferCell(1, 9).character, 0x1F);  // outside the map counts as wall
    EXPECT_EQ(bufferCell(3, 11).character * 256 + bufferCell(3, 11).attribute, 0x1007);
}

TEST_F(LevelFiles, GarbageStaysInsideTheMapAndTheMessages) {
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        std::string bytes(round == 3 ? 0 : 100000, 0);
        for (char& b : bytes) b = static_cast<char>(round % 2 ? 'i' + random() % 100 : random());  // odd: one line
        load(bytes);
        EXPECT_TRUE(room.startX >= 1 && room.startX <= 80 && room.startY >= 1 && room.startY <= 22);
        EXPECT_TRUE(room.verticalEnemy.x <= 80 && room.horizontalEnemy.x <= 80);
        for (const std::string& message : room.roomMessages) EXPECT_LE(message.size(), 255u);
        EXPECT_EQ(bufferRow(23) + bufferRow(24) + bufferRow(25), "");
    }
}

TEST_F(LevelFiles, MissingFileChangesNothingAndRoom22GoesOnIntoTheFinale) {
    load(roomText({"7"}));
    key(10, 13);
    EXPECT_THROW(loadLevel("nope"), MenuReturn);
    EXPECT_EQ(bufferRow(4), "File missing: " + folder.string() + "/levels/nope.lvl");
    EXPECT_TRUE(room.verticalEnemy.active);
    game.levelNumber = 21;
    EXPECT_NO_THROW(loadLevel("t"));
    game.levelNumber = 22;
    setStopTime(virtualNow() + 1);
    EXPECT_ANY_THROW(loadLevel("t"));
}
