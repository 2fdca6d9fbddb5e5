// Every room message shipped under data/levels fits the 66 cells from
// column 15 to the end of row 24: a longer one wraps over the goods counter
// on row 25 and stays there after the time-out clears row 24.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(ShippedRooms, EveryMessageFitsTheMessageArea) {
    const std::filesystem::path levels = std::filesystem::path(QUORVEX_SOURCE_DIR) / "data" / "levels";
    int rooms = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(levels)) {
        if (entry.path().extension() != ".lvl") continue;
        ++rooms;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (number < 24) continue;  // map rows and the goods line
            EXPECT_LE(line.size(), 66u) << entry.path().filename() << " line " << number << ": \"" << line << "\"";
        }
    }
    EXPECT_GE(rooms, 22) << "the main series alone has 22 rooms";
}

}  // namespace
