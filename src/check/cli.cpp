// quorvex-check: each argument is a level file, a pack folder or a levels
// folder holding the main series. Rooms of a series are loaded one over the
// other as in play, each is searched, and everything found is printed as
// compilers print their findings.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "check/check.h"
#include "console/console.h"
#include "console/terminal.h"
#include "game/par.h"
#include "game/runfile.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "system/files.h"
#include "system/folders.h"
#include "system/output.h"

namespace {

constexpr const char* version = "quorvex-check " QUORVEX_VERSION;

const char* usage =
    "Usage: quorvex-check [--solution[=FILE]] [--par[=FILE]] [--show] [--json]\n"
    "                     [--max-seconds=N] [--max-states=N] [--max-memory=N] [PATH...]\n"
    "       quorvex-check -h | --help | --version\n"
    "Checks rooms of The Quorvex: that each can be finished, with every goods\n"
    "item, and what in its level file is wrong or risky.\n"
    "\n"
    "PATH is a level file (.lvl), a pack folder (holding NAME.txt for a folder\n"
    "NAME) or a levels folder holding 1.lvl to 22.lvl. Without PATH: levels/.\n"
    "\n"
    "  --solution  print the way found through each room as \"tick key\" lines\n"
    "  --solution=FILE  write the ways as a run, for quorvex --replay FILE\n"
    "  --par       print each room's par: its fewest ticks, and with every goods item\n"
    "  --par=FILE  write the pars as a par file (a pack's NAME.par)\n"
    "  --show      play the way found through each room in the terminal\n"
    "  --json      print all findings and figures as JSON\n"
    "  --max-seconds=N  processor time per room's search (default 20)\n"
    "  --max-states=N   states per room's search (default: no bound)\n"
    "  --max-memory=N   MiB per room's search (or NK, NM, NG; default a quarter\n"
    "                   of the memory or of ulimit -v)\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "\n"
    "A room whose search a limit stopped is \"not fully checked\": never a pass.\n"
    "Exit status: 0 every room decided, no errors; 1 errors found; 2 bad usage or\n"
    "unreadable input; 3 no errors, but a limit stopped a room's search.\n";

struct Options {
    bool solution = false, show = false, json = false, par = false;
    std::string solutionFile, parFile;
    SearchLimits limits;
    std::vector<std::string> paths;
};

SearchLimits limits;  // of this run

struct Located {
    std::string path;
    Finding finding;
};

struct RoomResult {
    std::string path;
    std::string text;  // the level file as read
    int number;        // the room's number in its series or pack, 1 for a file alone
    bool inPack;
    RoomState loaded;
    SearchReport report;
};

struct Results {
    std::vector<Located> findings;
    std::vector<RoomResult> rooms;
    bool unreadable = false;
};

const char* severityName(Severity s) {
    return s == Severity::Error ? "error" : s == Severity::Warning ? "warning" : "note";
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string baseName(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name a folder has in its own parent: "." inside a pack folder is that pack.
std::string folderName(const std::string& path) {
    std::string name = baseName(path);
    if (name != "." && name != ".." && !name.empty()) return name;
    std::string real = resolvedPath(path);
    return real.empty() ? name : baseName(real);
}

void add(Results& results, const std::string& path, int line, int column, Severity severity, std::string text,
         int x = 0, int y = 0) {
    results.findings.push_back({path, {line, column, severity, std::move(text), x, y}});
}

// A level file's text, or a finding that says why there is none. The file
// was opened once, and what it is was asked of that descriptor: only a
// regular file is read (a FIFO or a device would wait forever).
bool readOpened(Results& results, OpenFile& file, const std::string& path, std::string& text) {
    std::string reason;
    switch (file.look.kind) {
        case FileKind::Missing:
            reason = "no such file";
            break;
        case FileKind::Loop:
            reason = "a loop of links";
            break;
        case FileKind::Folder:
            reason = "a folder, not a level file";
            break;
        case FileKind::Other:
        case FileKind::Link:
            reason = "not a regular file";
            break;
        case FileKind::Outside:
        case FileKind::Unreadable:
            reason = reasonFor(file.look.error);
            break;
        case FileKind::File:
            break;
    }
    if (reason.empty()) {
        try {
            text = readOpenFile(file, path, levelFileLimit + 1);
            if (text.size() > levelFileLimit) {
                text.resize(levelFileLimit);
                add(results, path, 0, 0, Severity::Warning, "the file is larger than 4 MiB: the game reads no more");
            }
            return true;
        } catch (const FileFailure& failure) {
            reason = failure.reason;
        }
    }
    add(results, path, 0, 0, Severity::Error, "cannot read: " + reason);
    results.unreadable = true;
    return false;
}

bool readLevel(Results& results, const Folder& folder, const std::string& name, std::string& text) {
    OpenFile file = openFileIn(folder, name);
    return readOpened(results, file, pathIn(folder, name), text);
}

void checkRoom(Results& results, const std::string& path, const std::string& text, RoomState& previous, int number,
               bool firstRoom, bool backdrop, bool inPack = false) {
    for (Finding& f : levelFindings(text, previous, firstRoom, backdrop)) results.findings.push_back({path, f});
    RoomState loaded = roomFromText(text, previous);
    previous = loaded;
    if (backdrop) {
        add(results, path, 0, 0, Severity::Note, "the ending's backdrop: drawn, not played");
        return;
    }
    SearchReport report = searchRoom(loaded, limits);
    for (Finding& f : searchFindings(loaded, report)) results.findings.push_back({path, f});
    results.rooms.push_back({path, text, number, inPack, loaded, report});
}

void checkSeries(Results& results, const Folder& folder) {
    RoomState previous{};
    for (int n = 1; n <= backdropRoom; ++n) {
        std::string text;
        std::string name = std::to_string(n) + ".lvl";
        if (!readLevel(results, folder, name, text)) continue;
        checkRoom(results, pathIn(folder, name), text, previous, n, n == 1, n == backdropRoom);
    }
}

// The pack's files are read beneath its folder (the game's own rule): an
// entry swapped for a link out between two looks is still never read.
void checkPack(Results& results, const Folder& pack, const std::string& folder) {
    std::string name = folderName(folder);
    std::string index = joinPath(folder, name + ".txt");
    OpenFile indexFile = openPackFile(pack, name + ".txt");
    if (indexFile.look.kind == FileKind::Outside) {
        add(results, index, 0, 0, Severity::Error,
            "the pack index leads outside the pack folder: a pack must not reach into the player's files");
        return;
    }
    std::string text;
    if (!readOpened(results, indexFile, index, text)) return;
    PackIndex packIndex = parsePackIndex(text);
    RoomState previous{};
    int rooms = 0;
    for (const std::string& entry : packIndex.entries) {
        int line = ++rooms;
        if (rooms == backdropRoom)
            add(results, index, line, 1, Severity::Warning,
                "more than 21 playable rooms: room 22 is the ending's backdrop and the rooms after it are never "
                "reached");
        if (rooms > backdropRoom) continue;
        OpenFile room = openPackFile(pack, entry + ".lvl");
        FileKind kind = room.look.kind;
        // Nothing outside is read or quoted.
        if (kind == FileKind::Outside) {
            add(results, index, line, 1, Severity::Error,
                "the entry \"" + entry +
                    "\" leads outside the pack folder: a pack must not reach into the player's files");
            continue;
        }
        std::string path = joinPath(folder, hostPath(entry) + ".lvl");
        if (kind == FileKind::Missing || kind == FileKind::Loop) {
            add(results, index, line, 1, Severity::Error,
                "the entry \"" + entry + "\" names " + path +
                    (kind == FileKind::Loop ? ", a loop of links" : ", which does not exist"));
            continue;
        }
        if (kind == FileKind::Folder) {
            add(results, index, line, 1, Severity::Error,
                "the entry \"" + entry + "\" names the folder " + path + ", not a level file");
            continue;
        }
        std::string roomText;
        if (!readOpened(results, room, path, roomText)) continue;
        checkRoom(results, path, roomText, previous, rooms, rooms == 1, rooms == backdropRoom, true);
    }
    if (!packIndex.hasEndLine)
        add(results, index, static_cast<int>(packIndex.entries.size()) + 1, 1, Severity::Warning,
            "no end line '*AUTHOR': the pack ends with an empty author text");
}

// A file named n.lvl beside 1.lvl to (n-1).lvl is room n of a series: the
// game loads it over those, and cells it does not write (its enemies' start
// cells) keep their codes, which the guardians then meet. Loaded over an
// empty room instead, the search could play a different room than the game.
// Returns how many rooms were loaded into `previous` (0: none, the file stands alone).
int roomsBefore(const std::string& path, RoomState& previous) {
    std::string name = baseName(path);
    int number = seriesRoomNumber(name);
    if (number == 0) return 0;
    std::string folderPath = path.substr(0, path.size() - name.size());
    Folder folder = openFolder(folderPath.empty() ? "." : folderPath, Reach::Anywhere);
    RoomState loaded{};
    for (int n = 1; n < number; ++n) {
        OpenFile earlier = openFileIn(folder, std::to_string(n) + ".lvl");
        if (earlier.fd < 0) return 0;
        try {
            loaded = roomFromText(readOpenFile(earlier, path, levelFileLimit), loaded);
        } catch (const FileFailure&) {
            return 0;
        }
    }
    previous = loaded;
    return number - 1;
}

void checkPath(Results& results, const std::string& path) {
    Folder folder = openFolder(path, Reach::Anywhere);
    if (isOpen(folder)) {
        // An index named after the folder makes it a pack, whatever its rooms are called
        // (authors number them 1.lvl, 2.lvl, ...); a levels folder has no such index.
        folder.reach = Reach::Beneath;
        if (lookAtPackFile(folder, folderName(path) + ".txt").kind != FileKind::Missing) {
            checkPack(results, folder, path);
            return;
        }
        folder.reach = Reach::Anywhere;
        if (lookAt(folder, "1.lvl").kind != FileKind::Missing) {
            checkSeries(results, folder);
            return;
        }
        add(results, path, 0, 0, Severity::Error,
            "cannot read: neither a pack folder (no " + folderName(path) + ".txt) nor a levels folder (no 1.lvl)");
        results.unreadable = true;
        return;
    }
    std::string text;
    if (!readLevel(results, currentFolder(), path, text)) return;
    RoomState previous{};
    int earlier = roomsBefore(path, previous);
    if (earlier > 0)
        add(results, path, 0, 0, Severity::Note,
            "loaded over rooms 1 to " + std::to_string(earlier) + " of its folder, as a game loads it");
    checkRoom(results, path, text, previous, earlier + 1, earlier == 0, false);
}

std::string formatFinding(const Located& l) {
    std::string text = l.path;
    if (l.finding.line > 0) {
        text += ":" + std::to_string(l.finding.line);
        if (l.finding.column > 0) text += ":" + std::to_string(l.finding.column);
    }
    return text + ": " + severityName(l.finding.severity) + ": " + l.finding.text + "\n";
}

// A JSON string that gives back the very bytes: UTF-8 as it stands, control
// characters (C0, DEL and C1) as \u00XX, and each byte that is not part of
// well-formed UTF-8 as the lone surrogate \uDCXX (XX the byte, 80 to FF): the
// rule of Python's "surrogateescape", which no well-formed text can produce.
std::string jsonText(std::string_view s) {
    std::string out = "\"";
    char hex[8];
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t length = utf8Length(s, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
            std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned char>(s[i + 1]));
            out += hex;
        } else if (length == 0) {
            std::snprintf(hex, sizeof hex, "\\udc%02x", c);
            out += hex;
        } else {
            out.append(s.substr(i, length));
        }
        i += std::max<size_t>(length, 1);
    }
    return out + "\"";
}

const char* verdictName(Verdict v) {
    switch (v) {
        case Verdict::Finishable:
            return "finishable";
        case Verdict::ExitOnlyByLosingLife:
            return "exit only by losing a life";
        case Verdict::ExitNotReachable:
            return "exit not reachable";
        case Verdict::Unknown:
            return "not fully checked";
        case Verdict::Searching:
            break;
    }
    return "searching";
}

std::string keyList(const std::vector<TickKey>& keys) {
    std::string out = "[";
    for (size_t t = 0; t < keys.size(); ++t) {
        if (keys[t] == TickKey::None) continue;
        if (out.size() > 1) out += ",";
        out += "{\"tick\":" + std::to_string(t + 1) + ",\"key\":\"" + tickKeyName(keys[t]) + "\"}";
    }
    return out + "]";
}

const char* limitName(SearchLimit limit) {
    switch (limit) {
        case SearchLimit::States:
            return "\"states\"";
        case SearchLimit::Seconds:
            return "\"seconds\"";
        case SearchLimit::Memory:
            return "\"memory\"";
        case SearchLimit::MemoryRefused:
            return "\"system memory\"";
        case SearchLimit::None:
            break;
    }
    return "null";
}

std::string hardestJson(const SuccessFigure& f) {
    if (!f.measured || !f.hardest.found) return "null";
    char text[160];
    std::snprintf(text, sizeof text, "{\"tick\":%d,\"x\":%d,\"y\":%d,\"key\":\"%s\",\"successWithout\":%.3f}",
                  f.hardest.tick, f.hardest.at.x, f.hardest.at.y, tickKeyName(f.hardest.key), f.hardest.successWithout);
    return text;
}

std::string json(const Results& results, int errors, int warnings, int undecided) {
    std::string out = "{\"findings\":[";
    for (size_t i = 0; i < results.findings.size(); ++i) {
        const Located& l = results.findings[i];
        out += (i ? ",\n" : "\n") + std::string("{\"path\":") + jsonText(l.path) +
               ",\"line\":" + std::to_string(l.finding.line) + ",\"column\":" + std::to_string(l.finding.column) +
               ",\"severity\":\"" + severityName(l.finding.severity) + "\",\"text\":" + jsonText(l.finding.text) +
               ",\"x\":" + std::to_string(l.finding.cellX) + ",\"y\":" + std::to_string(l.finding.cellY) + "}";
    }
    out += "],\n\"rooms\":[";
    for (size_t i = 0; i < results.rooms.size(); ++i) {
        const SearchReport& r = results.rooms[i].report;
        out += (i ? ",\n" : "\n") + std::string("{\"path\":") + jsonText(results.rooms[i].path) + ",\"verdict\":\"" +
               verdictName(r.verdict) + "\",\"ticks\":" + std::to_string(r.ticks) +
               ",\"ticksShortest\":" + (r.ticksShortest ? "true" : "false") +
               ",\"goods\":" + std::to_string(r.goodsOnMap) + ",\"allGoodsTicks\":" + std::to_string(r.allGoodsTicks) +
               ",\"narrowestWindow\":" + std::to_string(r.narrowestWindow) + ",\"windows\":[";
        for (size_t w = 0; w < r.windows.size(); ++w)
            out += (w ? "," : "") + std::string("{\"tick\":") + std::to_string(r.windows[w].tick) + ",\"key\":\"" +
                   tickKeyName(r.windows[w].key) + "\",\"early\":" + std::to_string(r.windows[w].early) +
                   ",\"late\":" + std::to_string(r.windows[w].late) + "}";
        char searchSeconds[32];
        std::snprintf(searchSeconds, sizeof searchSeconds, "%.3f", r.seconds);
        std::string success = "null";
        if (r.success.measured) {
            char shares[160];
            std::snprintf(shares, sizeof shares, "{\"new\":%.3f,\"practised\":%.3f", r.success.newHand,
                          r.success.practised);
            success = shares;
            if (r.success.allGoodsMeasured)
                std::snprintf(shares, sizeof shares, ",\"allGoodsNew\":%.3f,\"allGoodsPractised\":%.3f}",
                              r.success.allGoodsNew, r.success.allGoodsPractised);
            else
                std::snprintf(shares, sizeof shares, ",\"allGoodsNew\":null,\"allGoodsPractised\":null}");
            success += shares;
            success.insert(success.size() - 1,
                           std::string(",\"estimated\":") + (r.success.estimated ? "true" : "false"));
        }
        out += "],\"success\":" + success + ",\"hardestPress\":" + hardestJson(r.success) +
               ",\"states\":" + std::to_string(r.states) + ",\"searchSeconds\":" + searchSeconds +
               ",\"explored\":" + (r.explored ? "true" : "false") + ",\"decided\":" + (r.decided ? "true" : "false") +
               ",\"stoppedBy\":" + limitName(r.stoppedBy) + ",\"solution\":" + keyList(r.solution) +
               ",\"allGoodsSolution\":" + keyList(r.allGoodsSolution) + "}";
    }
    out += "],\n\"errors\":" + std::to_string(errors) + ",\"warnings\":" + std::to_string(warnings) +
           ",\"notFullyChecked\":" + std::to_string(undecided) + "}\n";
    return out;
}

// A room's par in words: its fewest ticks to the exit and with every goods
// item, each from a way proven shortest; else why there is none.
std::string parText(const SearchReport& r) {
    if (r.verdict != Verdict::Finishable)
        return r.decided ? "no par: no way to the exit without losing a life" : "no par: not fully checked";
    if (!r.ticksShortest) return "no par: the way found may not be the shortest";
    auto ticks = [](int n) { return std::to_string(n) + " ticks (" + secondsOfTicks(n) + " s)"; };
    std::string text = "par " + ticks(r.ticks);
    if (r.goodsOnMap > 0 && r.allGoodsTicks >= 0 && r.allGoodsShortest) text += ", all goods " + ticks(r.allGoodsTicks);
    return text;
}

// The rooms' pars in their order, a room without a proven one empty.
std::vector<RoomPar> parsOf(const Results& results) {
    std::vector<RoomPar> pars;
    for (const RoomResult& r : results.rooms) {
        RoomPar par;
        if (r.report.verdict == Verdict::Finishable && r.report.ticksShortest) {
            par.roomHash = roomFileHash(r.text);
            par.ticks = r.report.ticks;
            par.way = r.report.solution;
            if (r.report.goodsOnMap > 0 && r.report.allGoodsTicks >= 0 && r.report.allGoodsShortest) {
                par.allGoodsTicks = r.report.allGoodsTicks;
                par.allGoodsWay = r.report.allGoodsSolution;
            }
        }
        pars.push_back(par);
    }
    return pars;
}

// The ways found (with every goods item where there is one) as a run: each
// room by its file's full path, so the replay finds it wherever it runs.
RecordedRun runOf(const Results& results) {
    RecordedRun recorded{RunOrigin::Checker, static_cast<int64_t>(std::time(nullptr)), "", {}};
    for (const RoomResult& r : results.rooms) {
        const SearchReport& report = r.report;
        const std::vector<TickKey>& keys = report.allGoodsTicks >= 0 ? report.allGoodsSolution : report.solution;
        if (keys.empty()) continue;
        RoomSource source{RoomSourceKind::File, resolvedPath(hostPath(r.path)), r.text};
        recorded.rooms.push_back(roomRecordFromKeys(source, r.loaded, r.number, r.inPack, keys));
    }
    return recorded;
}

constexpr const char* needsTerminal = "quorvex-check: --show needs a terminal to play the ways in";

// Plays each room's way in the terminal at game speed; Esc skips to the next.
// False when no terminal could be opened.
bool showWays(const Results& results, std::string& err) {
    std::string failure;
    if (!openTerminal(failure)) {
        err += std::string(needsTerminal) + " (" + failure + ")\n";
        return false;
    }
    WorldSnapshot saved = saveWorld();
    try {
        for (const RoomResult& shown : results.rooms) {
            const std::vector<TickKey>& keys =
                shown.report.allGoodsTicks >= 0 ? shown.report.allGoodsSolution : shown.report.solution;
            if (keys.empty()) continue;
            // The room as the game shows it: its own number, and no number in a pack.
            room = shown.loaded;
            game.levelNumber = static_cast<int8_t>(shown.number);
            run.playingCustomPack = shown.inPack;
            clearScreen();
            drawRoom();
            PlayerState player = startRoom();
            bool skip = false;
            for (TickKey tickKey : keys) {
                while (keyPressed())
                    if (readKey() == key::escape) skip = true;
                if (skip) break;
                TickOutcome outcome = stepTickWith(player, tickKey);
                delayMs(tickMs);
                if (outcome != TickOutcome::GoOn && outcome != TickOutcome::LifeLost) break;
            }
            delayMs(skip ? 0 : 1000);
        }
    } catch (const ConsoleInterrupt&) {
    } catch (const NoticeEscape&) {  // Esc behind the notice asking for a larger window: the show ends
    }
    restoreWorld(saved);
    closeTerminal();
    return true;
}

}  // namespace

namespace {

int checkArguments(const std::vector<std::string>& arguments, std::string& out, std::string& err, bool& jsonOut) {
    Options options;
    bool endOfOptions = false;
    for (const std::string& a : arguments) {
        if (!endOfOptions && a == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && (a == "--help" || a == "-h")) {
            out += usage;
            return 0;
        } else if (!endOfOptions && a == "--version") {
            out += std::string(version) + "\n";
            return 0;
        } else if (!endOfOptions && a == "--solution") {
            options.solution = true;
        } else if (!endOfOptions && a.rfind("--solution=", 0) == 0 && a.size() > 11) {
            options.solutionFile = a.substr(11);
        } else if (!endOfOptions && a == "--par") {
            options.par = true;
        } else if (!endOfOptions && a.rfind("--par=", 0) == 0 && a.size() > 6) {
            options.parFile = a.substr(6);
        } else if (!endOfOptions && a == "--show") {
            options.show = true;
        } else if (!endOfOptions && a == "--json") {
            options.json = jsonOut = true;
        } else if (!endOfOptions && (a.rfind("--max-seconds=", 0) == 0 || a.rfind("--max-states=", 0) == 0 ||
                                     a.rfind("--max-memory=", 0) == 0)) {
            std::string number = a.substr(a.find('=') + 1);
            bool memory = a[6] == 'm';
            double unit = 1;
            if (memory) {
                // MiB, or a size with its unit.
                unit = 1 << 20;
                char last = number.empty() ? '\0' : number.back();
                if (last == 'K' || last == 'M' || last == 'G') {
                    unit = last == 'K' ? 1 << 10 : last == 'M' ? 1 << 20 : 1 << 30;
                    number.pop_back();
                }
            }
            char* end = nullptr;
            double value = std::strtod(number.c_str(), &end);
            if (number.empty() || *end != '\0' || !(value > 0) || (memory && value * unit < 1)) {
                err += "quorvex-check: not a positive number: " + a + "\n";
                return 2;
            }
            if (value > 1e9) {
                err += "quorvex-check: too large (at most 1000000000): " + a + "\n";
                return 2;
            }
            if (a[6] == 's' && a[7] == 'e')
                options.limits.maxSeconds = value;
            else if (memory)
                options.limits.maxMemory = static_cast<size_t>(std::min(value * unit, 1e18));
            else
                options.limits.maxStates = std::max<size_t>(1, static_cast<size_t>(value));
        } else if (!endOfOptions && a.size() > 1 && a[0] == '-') {
            err += "quorvex-check: unknown option " + a + "\n" + usage;
            return 2;
        } else {
            options.paths.push_back(a);
        }
    }
    if (options.paths.empty()) options.paths.push_back("levels");
    // Known before the search, which may take minutes.
    if (options.show && !terminalAtHand()) {
        err += std::string(needsTerminal) + ", and there is none\n";
        return 2;
    }

    limits = options.limits;
    Results results;
    for (const std::string& path : options.paths) checkPath(results, path);

    int errors = 0, warnings = 0, undecided = 0;
    for (const Located& l : results.findings) {
        errors += l.finding.severity == Severity::Error;
        warnings += l.finding.severity == Severity::Warning;
    }
    for (const RoomResult& r : results.rooms) undecided += !r.report.decided;
    if (options.json) {
        out += json(results, errors, warnings, undecided);
    } else {
        for (const Located& l : results.findings) out += formatFinding(l);
        if (options.solution)
            for (const RoomResult& r : results.rooms) {
                bool allGoods = r.report.allGoodsTicks >= 0;
                const std::vector<TickKey>& keys = allGoods ? r.report.allGoodsSolution : r.report.solution;
                if (keys.empty()) continue;
                out += "# " + r.path + ": " + std::to_string(keys.size()) + " ticks" + (allGoods ? ", all goods" : "") +
                       "\n" + solutionScript(keys);
            }
        if (options.par)
            for (const RoomResult& r : results.rooms) out += r.path + ": " + parText(r.report) + "\n";
        out += std::to_string(errors) + " error" + (errors == 1 ? "" : "s") + ", " + std::to_string(warnings) +
               " warning" + (warnings == 1 ? "" : "s");
        if (undecided > 0)
            out += ", " + std::to_string(undecided) + (undecided == 1 ? " room" : " rooms") + " not fully checked";
        out += "\n";
    }
    // The files asked for, once everything is known.
    try {
        if (!options.parFile.empty()) writeFileAtomically(options.parFile, parFileText(parsOf(results)));
        if (!options.solutionFile.empty()) writeRunFile(options.solutionFile, runOf(results));
    } catch (const FileFailure& failure) {
        err += "quorvex-check: " + describeFailure(failure) + "\n";
        return 2;
    }
    if (options.show) {
        // The findings stay on the screen the terminal comes back to.
        if (!writeLines(STDOUT_FILENO, out)) {
            err += std::string("quorvex-check: cannot write standard output: ") + std::strerror(errno) + "\n";
            return 2;
        }
        out.clear();
        if (!showWays(results, err)) return 2;
    }
    if (results.unreadable) return 2;
    // An error is certain; an undecided room is not a pass either.
    return errors > 0 ? 1 : undecided > 0 ? 3 : 0;
}

}  // namespace

// Paths and entry names come from the files checked: the text is escaped for
// the terminal here, once. JSON escapes its own strings and stays as it is.
int runChecker(const std::vector<std::string>& arguments, std::string& out, std::string& err) {
    std::string text, errors;
    bool json = false;
    int status = checkArguments(arguments, text, errors, json);
    bool utf8 = localeIsUtf8();
    out += json ? text : escapedForTerminal(text, utf8);
    err += escapedForTerminal(errors, utf8);
    return status;
}
