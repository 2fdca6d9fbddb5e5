#include "game/runstore.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <set>

#include "system/files.h"
#include "system/folders.h"

namespace {

constexpr const char* bestsName = "bests.txt";
constexpr const char* bestsHeader = "Quorvex bests 1";
constexpr size_t bestsLimit = 1u << 20;
constexpr int lockWaitMs = 500;

std::vector<std::string> notices;
std::set<std::string> said;

void notice(const std::string& line) {
    if (said.insert(line).second) notices.push_back(line);
}

// The state folder (or a folder in it), or why not as a notice about `what`.
Folder stateFolderFor(const std::string& what, std::string_view below, bool onlyRead = false) {
    try {
        std::string why;
        Folder folder = ownStateFolder(below, why, onlyRead);
        if (!isOpen(folder) && !why.empty()) notice(what + " not kept: the state folder " + stateFolder() + ": " + why);
        return folder;
    } catch (const FileFailure& failure) {
        notice(what + " not kept: cannot " + failure.operation + " " + failure.path + ": " + failure.reason);
        return {};
    }
}

// --- run files ---

bool digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A name keepRun gives: YYYYMMDD-HHMMSS-PID.run or YYYYMMDD-HHMMSS-PID-N.run.
bool isRunName(std::string_view name) {
    if (name.size() < 21 || !name.ends_with(".run") || name[8] != '-' || name[15] != '-') return false;
    std::string_view rest = name.substr(16, name.size() - 20);
    size_t dash = rest.find('-');
    return digits(name.substr(0, 8)) && digits(name.substr(9, 6)) && digits(rest.substr(0, dash)) &&
           (dash == std::string_view::npos || digits(rest.substr(dash + 1)));
}

std::string runName(int64_t started, int variant) {
    time_t seconds = static_cast<time_t>(started);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return std::string(stamp) + "-" + std::to_string(getpid()) + (variant > 0 ? "-" + std::to_string(variant) : "") +
           ".run";
}

// The oldest runs beyond the last runsKept go (by name: by their start),
// never the one just written, even when a clock set back names it older.
void pruneRuns(const Folder& runs, const std::string& written) {
    std::vector<std::string> names;
    for (const std::string& name : entriesIn(runs, "."))
        if (isRunName(name) && name != written) names.push_back(name);
    for (size_t i = 0; i + runsKept < names.size() + 1; ++i) removeIn(runs, names[i]);
}

// --- bests ---

std::string seriesField(const std::string& series) {
    if (series.empty()) return "main";
    std::string field = "pack:";
    for (unsigned char c : series) {
        if (c <= ' ' || c == 0x7F || c == '\\') {
            const char* hex = "0123456789ABCDEF";
            field += std::string("\\x") + hex[c >> 4] + hex[c & 15];
        } else {
            field += static_cast<char>(c);
        }
    }
    return field;
}

bool parseSeries(std::string_view field, std::string& series) {
    if (field == "main") return series.clear(), true;
    if (!field.starts_with("pack:") || field.size() == 5) return false;
    series.clear();
    auto hexValue = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    for (size_t i = 5; i < field.size(); ++i) {
        if (field[i] != '\\') {
            series += field[i];
            continue;
        }
        if (i + 3 >= field.size() || field[i + 1] != 'x' || hexValue(field[i + 2]) < 0 || hexValue(field[i + 3]) < 0)
            return false;
        series += static_cast<char>(hexValue(field[i + 2]) * 16 + hexValue(field[i + 3]));
        i += 3;
    }
    return true;
}

bool parseNumber(std::string_view text, int64_t most, int64_t& value) {
    if (!digits(text) || text.size() > 18) return false;
    value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value <= most;
}

// One line: "TICKS GOODS/IN-ROOM WHEN HASH ROOM SERIES".
bool parseBest(std::string_view line, RoomBest& best) {
    std::vector<std::string_view> fields;
    for (size_t start = 0; fields.size() < 6;) {
        size_t end = fields.size() == 5 ? line.size() : line.find(' ', start);
        if (end == std::string_view::npos) return false;
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    size_t slash = fields[1].find('/');
    int64_t ticks, goods, inRoom, when, number;
    if (slash == std::string_view::npos || !parseNumber(fields[0], mostRunTicks, ticks) ||
        !parseNumber(fields[1].substr(0, slash), 9999, goods) ||
        !parseNumber(fields[1].substr(slash + 1), 9999, inRoom) || !parseNumber(fields[2], INT64_MAX / 2, when) ||
        fields[3].size() != 16 || fields[3].find_first_not_of("0123456789abcdef") != std::string_view::npos ||
        !parseNumber(fields[4], 127, number) || !parseSeries(fields[5], best.series))
        return false;
    best.ticks = static_cast<int>(ticks);
    best.goods = static_cast<int>(goods);
    best.goodsInRoom = static_cast<int>(inRoom);
    best.when = when;
    best.number = static_cast<int>(number);
    best.roomHash = std::stoull(std::string(fields[3]), nullptr, 16);
    return true;
}

std::string bestLine(const RoomBest& best) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(best.roomHash));
    return std::to_string(best.ticks) + " " + std::to_string(best.goods) + "/" + std::to_string(best.goodsInRoom) +
           " " + std::to_string(best.when) + " " + hash + " " + std::to_string(best.number) + " " +
           seriesField(best.series) + "\r\n";
}

bool bestBefore(const RoomBest& a, const RoomBest& b) {
    if (a.series.empty() != b.series.empty()) return a.series.empty();
    return a.series != b.series ? a.series < b.series : a.number < b.number;
}

// The bests file as it stands; a damaged one (or anything but a regular
// file in its place) is set aside under a name of its own and said so.
std::vector<RoomBest> readBestsIn(const Folder& state) {
    std::vector<RoomBest> bests;
    std::string text;
    FileLook look;
    std::string path = pathIn(state, bestsName);
    int fd = openForReading(state, bestsName, look);
    bool damaged = false;
    if (fd < 0) {
        if (noFileThere(look.kind)) return bests;
        if (look.kind != FileKind::Folder && look.kind != FileKind::Other)
            throw FileFailure{"read", path, reasonFor(look.error)};
        damaged = true;
    } else {
        OpenFile file;
        file.fd = fd;
        text = readOpenFile(file, path, bestsLimit + 1);
        std::vector<std::string_view> lines = splitLines(text);
        damaged = text.size() > bestsLimit || lines.empty() || lines[0] != bestsHeader;
        for (size_t i = 1; i < lines.size() && !damaged; ++i) {
            RoomBest best;
            if (lines[i].empty() && i + 1 == lines.size()) break;
            damaged = !parseBest(lines[i], best);
            bests.push_back(best);
        }
    }
    if (!damaged) return bests;
    for (int n = 0; n < 100; ++n) {
        std::string aside = std::string(bestsName) + ".damaged" + (n > 0 ? "-" + std::to_string(n) : "");
        if (renameIn(state, bestsName, aside)) {
            notice("the bests file " + path + " was damaged; it is kept as " + pathIn(state, aside) +
                   " and a new one begun");
            return {};
        }
    }
    throw FileFailure{"rename", path, reasonFor(EEXIST)};
}

// A room's result, waiting to be merged into the bests file.
struct Result {
    RoomBest best;
    RecordedRun run;  // the room alone, for its best run
};
std::vector<Result> pending;

std::string bestRunName(const RoomBest& best) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", best.number);
    if (best.series.empty()) return std::string("main-") + number + ".run";
    std::string safe;
    for (unsigned char c : best.series.substr(0, 40)) safe += std::isalnum(c) && c < 0x80 ? char(c) : '_';
    char hash[9];
    std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(roomFileHash(best.series)));
    return "pack-" + safe + "-" + hash + "-" + number + ".run";
}

// Merges the results waiting into the bests file under its lock; the
// rows of the rooms merged, bettered where ours are better.
std::vector<RoomBest> mergePending() {
    std::vector<RoomBest> merged;
    Folder state = stateFolderFor("bests are", "");
    if (!isOpen(state)) return merged;
    try {
        HeldLock lock = lockFileIn(state, "bests.lock", lockWaitMs);
        if (lock.fd < 0) return merged;  // another game holds it: the results wait for the next room
        std::vector<RoomBest> bests = readBestsIn(state);
        std::vector<const Result*> bestRuns;
        for (const Result& result : pending) {
            const RoomBest& ours = result.best;
            auto row = std::find_if(bests.begin(), bests.end(), [&](const RoomBest& b) {
                return b.series == ours.series && b.number == ours.number;
            });
            if (row == bests.end() || row->roomHash != ours.roomHash) {
                if (row != bests.end()) bests.erase(row);
                bests.push_back(ours);
                bestRuns.push_back(&result);
            } else {
                if (ours.ticks < row->ticks)
                    row->ticks = ours.ticks, row->when = ours.when, bestRuns.push_back(&result);
                if (ours.goods > row->goods)
                    row->goods = ours.goods, row->goodsInRoom = ours.goodsInRoom, row->when = ours.when;
            }
        }
        std::sort(bests.begin(), bests.end(), bestBefore);
        std::string text = std::string(bestsHeader) + "\r\n";
        for (const RoomBest& best : bests) text += bestLine(best);
        replaceFileIn(state, bestsName, text);
        if (!bestRuns.empty()) makeFoldersIn(state, "runs/best", true);
        for (const Result* result : bestRuns)
            replaceFileIn(state, "runs/best/" + bestRunName(result->best), encodeRun(result->run));
        for (const Result& result : pending)
            for (const RoomBest& best : bests)
                if (best.series == result.best.series && best.number == result.best.number) merged.push_back(best);
        pending.clear();
    } catch (const FileFailure& failure) {
        notice("bests not kept: cannot " + failure.operation + " " + failure.path + ": " + failure.reason);
        if (pending.size() > 1000) pending.erase(pending.begin());
    }
    return merged;
}

}  // namespace

void keepRun(const RecordedRun& run, std::string& fileName) {
    Folder runs = stateFolderFor("runs are", "runs");
    if (!isOpen(runs)) return;
    try {
        std::string bytes = encodeRun(run);
        if (!fileName.empty()) {
            replaceFileIn(runs, fileName, bytes);
            return;
        }
        for (int variant = 0; variant < 100 && fileName.empty(); ++variant)
            if (createFileIn(runs, runName(run.started, variant), bytes)) fileName = runName(run.started, variant);
        pruneRuns(runs, fileName);
    } catch (const FileFailure& failure) {
        notice("runs not kept: cannot " + failure.operation + " " + failure.path + ": " + failure.reason);
    }
}

RoomBest keepRoomBest(const RecordedRun& run, const RoomRecord& room, int goodsInRoom) {
    Result result;
    RoomBest& best = result.best;
    best.series = run.series;
    best.number = room.number;
    best.ticks = static_cast<int>(room.ticks.size());
    best.goods = room.goodsTaken;
    best.goodsInRoom = goodsInRoom;
    best.when = static_cast<int64_t>(time(nullptr));
    best.roomHash = room.roomHash;
    result.run = {run.origin, run.started, run.series, {room}};
    RoomBest ours = best;
    pending.push_back(std::move(result));
    for (const RoomBest& merged : mergePending())
        if (merged.series == ours.series && merged.number == ours.number) ours = merged;
    return ours;
}

void flushBests() {
    if (!pending.empty()) mergePending();
}

std::vector<RoomBest> readBests() {
    Folder state = stateFolderFor("bests are", "", true);
    if (!isOpen(state)) return {};
    try {
        HeldLock lock = lockFileIn(state, "bests.lock", lockWaitMs);
        std::vector<RoomBest> bests = readBestsIn(state);
        std::sort(bests.begin(), bests.end(), bestBefore);
        return bests;
    } catch (const FileFailure& failure) {
        notice("cannot " + failure.operation + " " + failure.path + ": " + failure.reason);
        return {};
    }
}

std::vector<KeptRun> keptRuns(std::string& why) {
    std::vector<KeptRun> kept;
    why.clear();
    Folder state;
    try {
        state = ownStateFolder("", why, true);
    } catch (const FileFailure& failure) {
        why = "cannot " + failure.operation + " " + failure.path + ": " + failure.reason;
        return kept;
    }
    if (!isOpen(state)) {
        if (!why.empty()) why = "the state folder " + stateFolder() + ": " + why;
        return kept;
    }
    std::vector<std::string> names = entriesIn(state, "runs");
    std::reverse(names.begin(), names.end());
    for (const std::string& name : names)
        if (name.ends_with(".run")) kept.push_back({pathIn(state, "runs/" + name), {}, "", false});
    for (const std::string& name : entriesIn(state, "runs/best"))
        if (name.ends_with(".run")) kept.push_back({pathIn(state, "runs/best/" + name), {}, "", true});
    for (KeptRun& run : kept) run.problem = readRunFile(run.path, run.run);
    return kept;
}

std::vector<std::string> takeStoreNotices() {
    std::vector<std::string> taken;
    taken.swap(notices);
    return taken;
}
