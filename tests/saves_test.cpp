#include "levels/saves.h"

#include "harness.h"
#include "levels/world.h"
#include "shell/files.h"

namespace {

std::string decoded(const std::string& text) {
    SaveRecord r = decodeSaveRecord(text);
    return std::to_string(r.levelNumber) + " " + std::to_string(r.totalGoods) + " " + std::to_string(r.score);
}

}  // namespace

TEST(SaveRecordTest, EncodesExactBytesAndReadsThemBack) {
    // Finishing room 9 raises the number to 10 before its checkpoint is written.
    // 100000000 goods x 75 leaves 32 bits; the line still holds the exact value.
    const std::pair<SaveRecord, const char*> cases[] = {
        {{7, 12, 40}, "48\r\n885\r\n40\r\n"},
        {{1, 0, 0}, "18\r\n-15\r\n0\r\n"},
        {{10, 20, -3}, "63\r\n1485\r\n-3\r\n"},
        {{21, 0, 5000}, "118\r\n-15\r\n5000\r\n"},
        {{3, 100000000, -200000}, "28\r\n7499999985\r\n-200000\r\n"},
    };
    for (const auto& [record, text] : cases) {
        EXPECT_EQ(encodeSaveRecord(record), text);
        EXPECT_EQ(decoded(text), std::to_string(record.levelNumber) + " " + std::to_string(record.totalGoods) + " " +
                                     std::to_string(record.score));
    }
}

TEST(SaveRecordTest, DecodesAnyLineEndTruncatingAndReadsJunkAsZero) {
    EXPECT_EQ(decoded("48\n885\n40\n"), "7 12 40");
    EXPECT_EQ(decoded("48\r885\r40"), "7 12 40");
    // (10 - 13) / 5 and (-100 + 15) / 75 round toward zero, not down.
    EXPECT_EQ(decoded("10\r\n-100\r\n+7\r\n"), "0 -1 7");
    // A line read as 0 decodes to level -2, goods 0, score 0.
    EXPECT_EQ(decoded(""), "-2 0 0");
    EXPECT_EQ(decoded("abc\r\n12x\r\n-\r\n"), "-2 0 0");
    EXPECT_EQ(decoded(" 48\r\n885 \r\n4.0e1\r\n"), "-2 0 0");
    EXPECT_EQ(decoded("48\r\n885\r\n"), "7 12 0");
    // Values that do not fit their field once decoded.
    EXPECT_EQ(decoded("653\r\n999999999999\r\n2147483648\r\n"), "-2 0 0");
    EXPECT_EQ(decoded("48\r\n885\r\n99999999999999999999999999\r\n"), "7 12 0");
    // Only the first 255 characters of a line count.
    EXPECT_EQ(decoded("48\r\n885\r\n" + std::string(254, '0') + "48\r\n"), "7 12 4");
}

TEST_F(GameRun, SaveRecordReplacesTheFileAndReadsIntoTheGame) {
    writeFile("save.sav", "old contents that are longer");
    game.levelNumber = 10;
    game.totalGoods = 20;
    game.score = -3;
    writeSaveRecord("save.sav");
    EXPECT_EQ(readFile("save.sav"), "63\r\n1485\r\n-3\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no stray temporary

    writeFile("save.sav", "48\n885\n4000\n");
    readSaveRecord("save.sav");
    EXPECT_EQ(
        std::to_string(game.levelNumber) + " " + std::to_string(game.totalGoods) + " " + std::to_string(game.score),
        "7 12 4000");
    EXPECT_TRUE(exists("save.sav"));

    std::filesystem::create_directory(folder / "folder.sav");  // there, but unreadable
    EXPECT_THROW(readSaveRecord("folder.sav"), FileFailure);
    EXPECT_THROW(writeSaveRecord("missing/save.sav"), FileFailure);
}
