#include "game/par.h"

#include <charconv>
#include <cstdio>
#include <map>

#include "game/runfile.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/folders.h"

namespace {

constexpr char keyLetters[] = {'n', 'l', 'r', 'u', 'd', 's'};  // in TickKey's order
constexpr size_t parFileLimit = 1u << 16;                      // 22 rooms' lines and far more
constexpr int mostParTicks = 1 << 20;

std::string wayText(const std::vector<TickKey>& way) {
    std::string text;
    for (size_t i = 0; i < way.size();) {
        size_t j = i;
        while (j < way.size() && way[j] == way[i]) ++j;
        text += keyLetters[static_cast<int>(way[i])] + std::to_string(j - i);
        i = j;
    }
    return text;
}

bool readNumber(std::string_view word, int& number) {
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
    return error == std::errc() && end == word.data() + word.size() && number >= 0 && number <= mostParTicks;
}

bool readWay(std::string_view word, std::vector<TickKey>& way) {
    way.clear();
    for (size_t i = 0; i < word.size();) {
        const char* letter = std::char_traits<char>::find(keyLetters, sizeof keyLetters, word[i]);
        if (letter == nullptr) return false;
        size_t j = i + 1;
        while (j < word.size() && word[j] >= '0' && word[j] <= '9') ++j;
        int count = 0;
        if (!readNumber(word.substr(i + 1, j - i - 1), count) || count == 0 || way.size() + count > mostParTicks)
            return false;
        way.insert(way.end(), count, static_cast<TickKey>(letter - keyLetters));
        i = j;
    }
    return true;
}

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    for (size_t i = 0; i < line.size();) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        size_t j = line.find(' ', i);
        if (j == std::string_view::npos) j = line.size();
        words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

// The series' par file as its lines, "" when there is none (or it cannot be read).
std::string parFileOf(std::string_view series) {
    std::string text;
    FileLook look;
    try {
        if (series.empty()) {
            readFileIfThere(gameFolder(run.baseDirectory), "levels/main.par", text, look, parFileLimit);
        } else {
            Folder pack = openFolderIn(gameFolder(run.baseDirectory),
                                       hostPath("levels/custom levels/" + std::string(series)), false);
            if (!isOpen(pack)) return "";
            OpenFile file = openPackFile(pack, std::string(series) + ".par");
            if (file.look.kind == FileKind::File) text = readOpenFile(file, std::string(series) + ".par", parFileLimit);
        }
    } catch (const FileFailure&) {
        return "";  // a par is a nicety: without its file there is none
    }
    return text;
}

// Whether the par's way, played from the room's start as recorded, reaches the exit in its ticks.
bool wayHolds(const RoomPar& par, const RoomRecord& record, std::string_view text) {
    WorldSnapshot saved = saveWorld();
    loadRoomStart(record, text);
    RoomState start = room;
    restoreWorld(saved);
    RoomRecord played = roomRecordFromKeys(RoomSource{RoomSourceKind::Held, "", std::string(text)}, start,
                                           record.number, record.inPack, par.way);
    return played.end == RoomEnd::Exit && static_cast<int>(played.ticks.size()) == par.ticks;
}

}  // namespace

std::string parLine(const RoomPar& par) {
    if (par.ticks < 0) return "-";
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(par.roomHash));
    std::string line = std::to_string(par.ticks) + " " + hash + " " + wayText(par.way);
    if (par.allGoodsTicks >= 0) line += " " + std::to_string(par.allGoodsTicks) + " " + wayText(par.allGoodsWay);
    return line;
}

bool readParLine(std::string_view line, RoomPar& par) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::vector<std::string_view> words = wordsOf(line);
    if (words.size() != 3 && words.size() != 5) return false;
    RoomPar read;
    if (!readNumber(words[0], read.ticks) || words[1].size() != 16) return false;
    auto [end, error] = std::from_chars(words[1].data(), words[1].data() + 16, read.roomHash, 16);
    if (error != std::errc() || end != words[1].data() + 16) return false;
    if (!readWay(words[2], read.way) || static_cast<int>(read.way.size()) != read.ticks) return false;
    if (words.size() == 5 && (!readNumber(words[3], read.allGoodsTicks) || !readWay(words[4], read.allGoodsWay) ||
                              static_cast<int>(read.allGoodsWay.size()) != read.allGoodsTicks))
        return false;
    par = std::move(read);
    return true;
}

std::string parFileText(const std::vector<RoomPar>& pars) {
    std::string text;
    for (const RoomPar& par : pars) text += parLine(par) + "\r\n";
    return text;
}

std::optional<int> roomPar(std::string_view series, const RoomRecord& record, std::string_view text) {
    // Known once per room and file: the way is played once.
    static std::map<std::pair<std::string, uint64_t>, std::optional<int>> known;
    auto key = std::make_pair(std::string(series), record.roomHash);
    if (auto found = known.find(key); found != known.end()) return found->second;
    std::optional<int> par;
    std::string file = parFileOf(series);
    for (size_t at = 0; at < file.size() && !par;) {
        size_t end = file.find_first_of("\r\n", at);
        if (end == std::string::npos) end = file.size();
        RoomPar line;
        if (readParLine(std::string_view(file).substr(at, end - at), line) && line.roomHash == record.roomHash &&
            wayHolds(line, record, text))
            par = line.ticks;
        at = file.find_first_not_of("\r\n", end);
        if (at == std::string::npos) break;
    }
    known[key] = par;
    return par;
}
