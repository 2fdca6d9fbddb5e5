// save.sav and checkpoint.sav: three disguised decimal lines ended by CR LF.
#pragma once

#include <cstdint>
#include <string>

struct SaveRecord {
    int8_t levelNumber;
    int32_t totalGoods;
    int32_t score;
};

std::string encodeSaveRecord(const SaveRecord& record);
SaveRecord decodeSaveRecord(const std::string& text);
// Write from / read into levelNumber, totalGoods and score of the game.
void writeSaveRecord(const std::string& path);
void readSaveRecord(const std::string& path);
