#include "levels/levels.h"

#include <random>

#include "harness.h"
#include "levels/saves.h"
#include "levels/world.h"
#include "shell/flow.h"

namespace {

std::string roomText(std::vector<std::string> rows, const std::string& end = "\r\n") {
    rows.resize(22);
    std::string text;
    for (const std::string& row : rows) text += row + end;
    return text;
}

std::string shown(const SaveRecord& r) {
    return std::to_string(r.levelNumber) + " " + std::to_string(r.totalGoods) + " " + std::to_string(r.score);
}

struct LevelFiles : GameRun {
    void load(const std::string& contents) {
        writeFile("levels/t.lvl", contents);
        run.baseDirectory = folder.string() + "/";
        loadLevel("t");
    }
    // Loads room n of the pack "demo" with this index, and shows its end screen
    // as the game does when it ends there; Enter is ready for it.
    LoadOutcome loadPackRoom(const std::string& index, int n) {
        run = {true, false, "demo", folder.string() + "/"};
        writeFile("levels/custom levels/demo/alpha.lvl", "1j\r\n");
        writeFile("levels/custom levels/demo/sub/beta.lvl", "2k\r\n");
        writeFile("levels/custom levels/demo/demo.txt", index);
        game.levelNumber = static_cast<int8_t>(n);
        key(virtualNow() + 10, 13);
        RoomLoad load = loadPackLevel();
        if (load.outcome == LoadOutcome::PackEnd) showPackEnd(load.detail);
        return load.outcome;
    }
};

}  // namespace

TEST_F(LevelFiles, OnlyWhatTheFileNamesChangesWhateverTheLineEndsAndGarbageStaysInsideTheMap) {
    load(roomText({std::string(80, '4'), std::string(80, '4'), "7  8"}));
    EXPECT_TRUE(room.verticalEnemy.active && room.horizontalEnemy.active);
    EXPECT_EQ(room.startX * 100 + room.startY, 101);  // no 'i' in the first room of a run
    for (std::string& message : room.roomMessages) message = "old";
    load(roomText({std::string(10, '1'), std::string(80, '2'), "  i i"}) + "12\r\na\r\nb\r\n" + std::string(300, 'c'));
    EXPECT_EQ(cellAt(10, 1) * 100 + cellAt(11, 1) * 10 + cellAt(80, 2), 142);
    EXPECT_FALSE(room.verticalEnemy.active || room.horizontalEnemy.active);
    EXPECT_EQ(room.startX * 100 + room.startY, 503);
    EXPECT_EQ(room.goodsInRoom, 1);
    EXPECT_EQ(roomMessage(14) + roomMessage(15), "b" + std::string(255, 'c'));
    for (int code = 16; code <= 20; ++code) EXPECT_EQ(roomMessage(code), "old");

    // Lines that end in CR alone (splitLines' test has the other ends); Ctrl-Z ends the messages.
    room = RoomState{};
    load(roomText({"1 2 3 4 5 6 9 j k l m", "", "", "", "8" + std::string(100, 'x') + "8"}, "\r") + "3\rone\r\x1Atwo");
    EXPECT_EQ(room.horizontalEnemy.x * 100 + room.horizontalEnemy.y, 105);  // column 102 is ignored
    EXPECT_EQ(roomMessage(13) + "|" + roomMessage(14) + "|" + std::to_string(cellAt(21, 1)), "one||13");

    // Garbage, from none to 210000 bytes: the start stays on the map, nothing is drawn below it.
    std::mt19937 random(7);
    for (int round = 0; round < 8; ++round) {  // round 0: an empty file; odd rounds: one long line
        std::string bytes(round * 30000, 0);
        for (char& b : bytes) b = static_cast<char>(round % 2 ? 'i' + random() % 100 : random());
        load(bytes);
        EXPECT_TRUE(room.startX >= 1 && room.startX <= 80 && room.startY >= 1 && room.startY <= 22);
        EXPECT_EQ(bufferRow(23) + bufferRow(24) + bufferRow(25), "");
    }
}

TEST_F(LevelFiles, CellsDrawWithTheirGlyphsAndSpikesPointAwayFromWalls) {
    setTextColor(9);  // ice keeps the foreground of the moment
    load(roomText({"1256jkl9m", "", "  331", "", " 13", " 11      1", "         3", " 31 13   1", "", "1", "3"}));
    EXPECT_EQ(bufferRow(1), "\xB2\xB1\x7F \x04\x05\x06\x0F");
    std::string colours;  // background x 16 + colour
    for (int x = 1; x <= 9; ++x) colours += std::to_string(bufferCell(x, 1).attribute) + " ";
    EXPECT_EQ(colours, "8 4 42 58 5 2 14 3 7 ");
    EXPECT_EQ(bufferRow(3), "    \xB2");   // beside spikes and a wall: invisible
    EXPECT_EQ(bufferRow(5), " \xB2\x1E");  // wall left and below: the later test wins
    EXPECT_EQ(bufferRow(7) + "|" + bufferRow(8), "         \x1E| \x11\xB2 \xB2\x10   \xB2");  // below beats above
    EXPECT_EQ(bufferCell(1, 11).character * 256 + bufferCell(1, 11).attribute, 0x1F07);       // wall above
}

TEST_F(LevelFiles, PackRoomsComeFromThePackFolderUntilTheEndLine) {
    const std::string index = "alpha\r\nsub\\beta\n*xyz\nalpha\n";
    EXPECT_EQ((loadPackRoom(index, 1), cellAt(2, 1)), GoodsDiamond);
    EXPECT_EQ((loadPackRoom(index, 2), cellAt(2, 1)), GoodsClub);
    EXPECT_EQ(loadPackRoom(index, 3), LoadOutcome::PackEnd);
    EXPECT_EQ(bufferRow(1) + "|" + bufferRow(5) + "|" + bufferRow(8) + "|" + bufferRow(9),
              "|" + at(37, "THE  END|") + at(32, "Level Pack made by|") + at(39, "xyz"));
    // Not the folder "sub", which the system would open: it names no file.
    EXPECT_EQ(loadPackRoom(std::string("sub\0x", 5), 1), LoadOutcome::Missing);
    // Only "*", an index that starts with its end line, one that runs out.
    for (const char* ending : {"*\n", "*\nalpha\n", "alpha\n"}) {
        EXPECT_EQ(loadPackRoom(ending, ending[0] == 'a' ? 2 : 1), LoadOutcome::PackEnd);
        EXPECT_EQ(bufferRow(8) + "|" + bufferRow(9), at(32, "Level Pack made by|")) << ending;
    }
    EXPECT_EQ(loadPackRoom("*" + std::string(100, 'a') + std::string(200, 'b'), 1), LoadOutcome::PackEnd);
    EXPECT_EQ(bufferRow(9) + "|" + bufferRow(10), std::string(80, 'a') + "|");  // cut, on its own row
}

TEST(SaveRecordTest, ExactBytesBothWaysAndJunkReadsAsZero) {
    // 100000000 goods x 75 leaves 32 bits; the line still holds the exact value.
    const std::pair<SaveRecord, const char*> records[] = {{{1, 0, 0}, "18\r\n-15\r\n0\r\n"},
                                                          {{3, 100000000, -200000}, "28\r\n7499999985\r\n-200000\r\n"}};
    for (const auto& [record, text] : records) {
        EXPECT_EQ(encodeSaveRecord(record), text);
        EXPECT_EQ(shown(decodeSaveRecord(text)), shown(record));
    }
    const std::pair<std::string, const char*> texts[] = {
        {"10\r\n-100\r\n+7\r\n", "0 -1 7"},  // toward zero, not down
        {"", "-2 0 0"},                      // a line read as 0 decodes to level -2
        {"abc\r\n12x\r\n-\r\n", "-2 0 0"},
        {" 48\r\n885 \r\n4.0e1\r\n", "-2 0 0"},
        {"653\r\n999999999999\r\n2147483648\r\n", "-2 0 0"},  // beyond their fields once decoded
        {"48\r\n885\r\n99999999999999999999999999\r\n", "7 12 0"},
        {"48\r\n885\r\n" + std::string(254, '0') + "48\r\n", "7 12 4"}};  // only 255 characters count
    for (const auto& [text, expected] : texts) EXPECT_EQ(shown(decodeSaveRecord(text)), expected) << text;
}
