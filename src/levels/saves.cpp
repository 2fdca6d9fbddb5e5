#include "levels/saves.h"

#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "levels/world.h"
#include "system/files.h"
#include "system/folders.h"

namespace {

constexpr size_t maxLineLength = 255;

// An optional sign and at least one digit, nothing else; nullopt for any
// other text. Magnitudes beyond 10^18 are out of range for every field and
// are refused here, which keeps the decoding arithmetic clear of overflow.
std::optional<int64_t> wholeNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    constexpr int64_t limit = 1'000'000'000'000'000'000;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || magnitude > limit / 10) return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    return negative ? -magnitude : magnitude;
}

// Decodes one line. A value that decodes outside [low, high] is treated like
// a malformed line: the line reads as 0 and decodes from there. Division in
// C++ truncates toward zero, as the format wants.
int64_t decodedLine(std::string_view line, int64_t offset, int64_t divisor, int64_t low, int64_t high) {
    std::optional<int64_t> value = wholeNumber(line.substr(0, maxLineLength));
    if (value) {
        int64_t decoded = (*value + offset) / divisor;
        if (decoded >= low && decoded <= high) return decoded;
    }
    return offset / divisor;
}

}  // namespace

std::string encodeSaveRecord(const SaveRecord& record) {
    // 64-bit arithmetic: totalGoods x 75 does not fit 32 bits for large counts.
    return std::to_string(int64_t(record.levelNumber) * 5 + 13) + "\r\n" +
           std::to_string(int64_t(record.totalGoods) * 75 - 15) + "\r\n" + std::to_string(int64_t(record.score)) +
           "\r\n";
}

SaveRecord decodeSaveRecord(const std::string& text) {
    std::vector<std::string_view> lines = splitLines(text);
    lines.resize(3);  // missing lines read as empty, hence 0
    SaveRecord record;
    record.levelNumber =
        int8_t(decodedLine(lines[0], -13, 5, std::numeric_limits<int8_t>::min(), std::numeric_limits<int8_t>::max()));
    record.totalGoods = int32_t(
        decodedLine(lines[1], 15, 75, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    record.score =
        int32_t(decodedLine(lines[2], 0, 1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    return record;
}

namespace {
constexpr const char* saveNames[2] = {"save.sav", "checkpoint.sav"};
const char* nameOf(SaveFile file) { return saveNames[file == SaveFile::Checkpoint ? 1 : 0]; }
}  // namespace

std::string savePath() { return run.baseDirectory + saveNames[0]; }
std::string checkpointPath() { return run.baseDirectory + saveNames[1]; }

namespace {

void useRecord(const std::string& text) {
    SaveRecord record = decodeSaveRecord(text);
    game.levelNumber = record.levelNumber;
    game.totalGoods = record.totalGoods;
    game.score = record.score;
}

// Both files as they are now: each opened once, its time taken from that descriptor.
struct SaveFiles {
    Folder folder;
    OpenFile files[2];
};

void openSaveFiles(SaveFiles& saves, bool forReading) {
    saves.folder = sameFolder(gameFolder(run.baseDirectory));
    for (int i = 0; i < 2; ++i) {
        if (!isOpen(saves.folder))
            saves.files[i].look.kind = FileKind::Missing;
        else if (forReading)
            saves.files[i] = openFileIn(saves.folder, saveNames[i]);
        else
            saves.files[i].look = lookAt(saves.folder, saveNames[i]);
    }
}

bool present(const FileLook& look) { return !noFileThere(look.kind); }

SaveFile newerOf(const SaveFiles& files) {
    bool save = present(files.files[0].look), checkpoint = present(files.files[1].look);
    if (!save || !checkpoint) return save ? SaveFile::Save : checkpoint ? SaveFile::Checkpoint : SaveFile::None;
    const timespec &a = files.files[0].look.info.st_mtim, &b = files.files[1].look.info.st_mtim;
    bool checkpointLater = b.tv_sec > a.tv_sec || (b.tv_sec == a.tv_sec && b.tv_nsec > a.tv_nsec);
    return checkpointLater ? SaveFile::Checkpoint : SaveFile::Save;
}

}  // namespace

void writeSaveRecord(SaveFile file) {
    const Folder& folder = gameFolder(run.baseDirectory);
    if (!isOpen(folder)) throw FileFailure{"write", run.baseDirectory + nameOf(file), reasonFor(errno)};
    FileKeep keep;
    FileLook other = lookAt(folder, nameOf(file == SaveFile::Save ? SaveFile::Checkpoint : SaveFile::Save));
    if (other.kind == FileKind::File) keep.laterThan = other.info.st_mtim;
    replaceFileIn(folder, nameOf(file), encodeSaveRecord({game.levelNumber, game.totalGoods, game.score}), keep);
}

void readSaveRecord(SaveFile file) {
    std::string text;
    FileLook look;
    if (!readFileIfThere(gameFolder(run.baseDirectory), nameOf(file), text, look))
        throw FileFailure{"open", run.baseDirectory + nameOf(file), reasonFor(look.error)};
    useRecord(text);
}

void deleteSaveRecord(SaveFile file) {
    const Folder& folder = gameFolder(run.baseDirectory);
    if (!isOpen(folder)) throw FileFailure{"delete", run.baseDirectory + nameOf(file), reasonFor(errno)};
    removeIn(folder, nameOf(file));
}

SaveFile newerSaveFile() {
    SaveFiles files;
    openSaveFiles(files, false);
    return newerOf(files);
}

SaveFile resumeNewerSave(SaveFile named) {
    SaveFiles files;
    openSaveFiles(files, true);
    SaveFile newer = newerOf(files);
    if (newer == SaveFile::None || (named != SaveFile::None && newer != named)) return newer;
    OpenFile& file = files.files[newer == SaveFile::Save ? 0 : 1];
    std::string text = readOpenFile(file, newer == SaveFile::Save ? savePath() : checkpointPath());
    useRecord(text);
    return newer;
}
