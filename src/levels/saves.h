// save.sav and checkpoint.sav: three disguised decimal lines ended by CR LF.
#pragma once

#include <cstdint>
#include <string>

struct SaveRecord {
    int8_t levelNumber;
    int32_t totalGoods;
    int32_t score;
};

// Line 1 levelNumber x 5 + 13, line 2 totalGoods x 75 - 15, line 3 score.
std::string encodeSaveRecord(const SaveRecord& record);
// Lines may end with CR LF, LF or CR; only the first 255 characters of a line
// count. A line that is not a whole decimal number, or whose value does not
// fit its field once decoded, reads as 0.
SaveRecord decodeSaveRecord(const std::string& text);

// The two save files: save.sav, written when the player quits a room, and
// checkpoint.sav, written on reaching every fifth room; both in the game
// folder (run.baseDirectory, reached through the folder the file layer
// holds). No other code names them.
enum class SaveFile : uint8_t { None, Save, Checkpoint };
std::string savePath();  // how reports name them
std::string checkpointPath();

// Write from / read into levelNumber, totalGoods and score of the game. The
// write replaces the file atomically and dates it after the other file, so
// the file written last is the newer whatever the clock says; a file that
// cannot be read or written throws FileFailure.
void writeSaveRecord(SaveFile file);
void readSaveRecord(SaveFile file);
// Deletes the file when it is there (a lost or finished game); one that
// another game in the folder deleted first is no failure.
void deleteSaveRecord(SaveFile file);

// Which file Continue resumes from: the one written last, save.sav when
// both were written at the same moment; None when neither is there.
SaveFile newerSaveFile();
// Decides again and reads the newer file's record into the game, from the
// very descriptor whose time decided, when it is the file named (any file
// when named is None); returns the newer file, None when neither is there.
// Anything else in the place of the file read throws FileFailure.
SaveFile resumeNewerSave(SaveFile named);
