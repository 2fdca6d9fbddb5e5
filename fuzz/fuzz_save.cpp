// The save record: any file reads as some record, and that record written
// and read back is the same record, through the file layer as the game uses it.
#include <cstdint>
#include <string>

#include "fuzzkit.h"
#include "levels/saves.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    beginRun();
    std::string path = fuzzFolder() + "/save.sav";
    writeWhole(path, text);

    readSaveRecord(SaveFile::Save);
    SaveRecord read = decodeSaveRecord(text);
    FUZZ_CHECK(read.levelNumber == game.levelNumber && read.totalGoods == game.totalGoods && read.score == game.score);

    writeSaveRecord(SaveFile::Save);
    game = GameCounters{};
    readSaveRecord(SaveFile::Save);
    FUZZ_CHECK(read.levelNumber == game.levelNumber && read.totalGoods == game.totalGoods && read.score == game.score);
    FUZZ_CHECK(encodeSaveRecord(read) == encodeSaveRecord(decodeSaveRecord(encodeSaveRecord(read))));
    return 0;
}
