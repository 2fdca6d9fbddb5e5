// The checker's verdict on the room as it stands. The search runs in slices
// between the editor's key polls, so a key never waits for it.
#include <algorithm>

#include "console/console.h"
#include "edit/edit.h"

#if __has_include("check/check.h")
#include <map>

#include "check/check.h"
#include "game/par.h"
#include "game/runfile.h"
#include "system/machine.h"

namespace {

struct CheckState {
    SearchJobPtr job;
    RoomState loaded;               // the room the search plays
    std::vector<Finding> findings;  // what the text shows without playing
    bool done = false;
    bool full = false;  // run with the checker's own limits
    int scale = 1;      // or these times its time and memory, asked for with F9
};
CheckState check;

// The search that runs while the author paints is replaced at every change;
// it gets a quarter of the full check's memory and time. When that is not
// enough, the full check takes over with quorvex-check's own limits.
SearchLimits backgroundLimits() {
    SearchLimits limits;
    limits.maxSeconds /= 4;
    limits.maxMemory = searchMemoryShare() / 4;
    return limits;
}

// The background search stopped short: only the full check may say so.
bool stoppedShort() { return check.job && check.done && !check.full && !searchReport(*check.job).decided; }

// quorvex-check's own limits, `scale` times over (memory no more than most of what the machine has).
SearchLimits fullLimits(int scale) {
    SearchLimits limits;
    limits.maxSeconds *= scale;
    limits.maxMemory = std::min(searchMemoryShare() * scale, usableMemory() / 4 * 3);
    return limits;
}

void startJob(bool full, int scale = 1) {
    std::string text = roomFileText(edit.text, edit.inherited, false);
    RoomState previous = inheritedRoom(edit.inherited);
    check.findings = levelFindings(text, previous, edit.inherited.firstRoom, edit.inherited.backdrop);
    check.job.reset();  // its tables go before the next one's come
    check.loaded = roomFromText(text, previous);
    check.job = startSearch(check.loaded, full ? fullLimits(scale) : backgroundLimits());
    check.done = false;
    check.full = full;
    check.scale = scale;
}

// Runs the search to its end, the verdict row showing how far it got; a key
// pressed meanwhile stops it (false). `waiting`: the key that waits, said
// on the last row while it does.
bool finishCheck(const char* waiting) {
    if (stoppedShort()) startJob(true);
    if (!check.done) {
        edit.note = std::string(waiting) + " waits for the check to end (any key stops it).";
        drawNote(edit.note, 15, 1);
        edit.note.clear();
    }
    while (!check.done) {
        advanceCheck(50);
        drawVerdictRow();
        if (keyPressed()) {
            if (readKey() == key::extended) readKey();
            edit.note = "Check stopped by a key.";
            return false;
        }
    }
    return true;
}

// Everything quorvex-check would report on the room: the text's findings,
// and the search's once it is done.
std::vector<Finding> allFindings() {
    std::vector<Finding> all = check.findings;
    if (edit.inherited.backdrop) {
        all.push_back({0, 0, Severity::Note, "the ending's backdrop: drawn, not played", 0, 0});
        return all;  // never played: the checker does not search it
    }
    if (check.job && check.done) {
        std::vector<Finding> played = searchFindings(check.loaded, searchReport(*check.job));
        all.insert(all.end(), played.begin(), played.end());
    }
    return all;
}

int countFindings(const std::vector<Finding>& findings, Severity severity) {
    int count = 0;
    for (const Finding& finding : findings) count += finding.severity == severity;
    return count;
}

std::string searchLine(const SearchReport& report) {
    // Whatever is found on the way, the verdict is the end's: until then, checking.
    if (!check.done || stoppedShort())
        return (check.scale > 1 ? "checking with " + std::to_string(check.scale) + " x time and memory... "
                                : std::string("checking... ")) +
               std::to_string(report.states) + " states";
    switch (report.verdict) {
        case Verdict::Searching:
            return "checking... " + std::to_string(report.states) + " states";
        case Verdict::Finishable: {
            std::string line = "finishable in " + std::to_string(report.ticks) + " ticks";
            if (!report.decided) return line + ", not fully checked";
            if (report.goodsOnMap > 0)
                line += report.allGoodsTicks >= 0 ? ", all goods in " + std::to_string(report.allGoodsTicks)
                                                  : ", not all goods";
            return line;
        }
        case Verdict::ExitOnlyByLosingLife:
            return "exit only after losing a life";
        case Verdict::ExitNotReachable:
            return "exit NOT reachable";
        case Verdict::Unknown:
            // The limit without its option: the row is short, F7 gives the checker's whole line.
            return "not fully checked: " + report.stopReason.substr(0, report.stopReason.find(" (--"));
    }
    return "";
}

void addFinding(int x, int y, std::string text) {
    edit.findingCells.push_back({x, y});
    edit.findingTexts.push_back(std::move(text));
}

}  // namespace

void restartCheck() { startJob(false); }

void checkHarder() { startJob(true, 4); }

bool checkBusy() { return check.job && !check.done; }

void advanceCheck(int budgetMs) {
    if (!checkBusy()) return;
    SearchSlice slice;
    slice.milliseconds = budgetMs;
    check.done = advanceSearch(*check.job, slice);
    // The background search ran out: the checker's own limits decide, as quorvex-check's would.
    if (stoppedShort()) startJob(true);
}

bool verdictHasErrors() { return roomClass(allFindings()) == RoomClass::Error; }

uint8_t verdictColour() {
    if (!check.job || (!check.done && countFindings(check.findings, Severity::Error) == 0)) return 11;
    switch (roomClass(allFindings())) {
        case RoomClass::Error:
            return 12;  // red
        case RoomClass::NotFullyChecked:
            return 14;  // yellow, as a warning: not a pass
        case RoomClass::Finishable:
            break;
    }
    return 11;
}

std::string verdictLine() {
    if (!check.job) return "";
    std::vector<Finding> all = allFindings();
    int errors = countFindings(all, Severity::Error), warnings = countFindings(all, Severity::Warning);
    std::string count = std::to_string(errors) + (errors == 1 ? " error" : " errors");
    std::string line;
    if (edit.inherited.backdrop) {
        line = "the ending's backdrop: drawn, not played";
        if (errors > 0) line += ", " + count;
    } else if (errors > 0 && (check.done || countFindings(check.findings, Severity::Error) > 0)) {
        // An error decides the verdict: the first one, in the checker's words
        // (one of the text's at once, without waiting for the search).
        for (const Finding& finding : all)
            if (finding.severity == Severity::Error) {
                line = "ERROR: " + finding.text + (errors > 1 ? " (" + count + ")" : "");
                break;
            }
    } else {
        line = searchLine(searchReport(*check.job));
        if (errors > 0) line += ", " + count;
    }
    if (warnings > 0) line += ", " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
    return line;
}

bool runFullCheck() {
    edit.findingCells.clear();
    edit.findingTexts.clear();
    if (!check.job) restartCheck();
    if (!finishCheck("F7")) return false;
    for (const Finding& finding : allFindings()) {
        const char* kind = finding.severity == Severity::Error     ? "error: "
                           : finding.severity == Severity::Warning ? "warning: "
                                                                   : "note: ";
        int x = finding.cellX, y = finding.cellY;
        if (x == 0 && finding.line >= 1 && finding.line <= mapHeight) {
            x = std::max(1, finding.column);
            y = finding.line;
        }
        addFinding(x, y, kind + finding.text);
    }
    return true;
}

std::vector<std::pair<int, int>> checkWayCells() {
    std::vector<std::pair<int, int>> cells;
    if (!check.job || !check.done) return cells;
    const SearchReport& report = searchReport(*check.job);
    // The way with every goods item where there is one: the way the author would test.
    const std::vector<TickKey>& keys = report.allGoodsTicks >= 0 ? report.allGoodsSolution : report.solution;
    for (CellXY cell : wayCells(check.loaded, keys)) cells.push_back({cell.x, cell.y});
    return cells;
}

bool checkSolution(std::vector<uint8_t>& keys) {
    if (!check.job || !finishCheck("F8")) return false;
    const SearchReport& report = searchReport(*check.job);
    if (report.solution.empty()) return false;
    keys.clear();
    for (TickKey key : report.solution) keys.push_back(static_cast<uint8_t>(key));
    return true;
}

namespace {

// The pack screen's rooms: the verdicts known, the rooms waiting for one,
// and the search that runs for the first of them.
struct WaitingRoom {
    std::string key;
    std::string text;
    Inheritance inherited;
};
struct PackChecks {
    std::map<std::string, RoomVerdict> known;
    std::vector<WaitingRoom> waiting;
    SearchJobPtr job;
    std::string jobKey;
    RoomState loaded;
    std::string text;  // the room's file as searched
    std::vector<Finding> findings;
};
PackChecks packChecks;
constexpr size_t knownLimit = 1000;  // rooms; past it the oldest knowledge goes, all at once

// What decides a room's verdict: its text and everything it is loaded over.
std::string verdictKey(const std::string& text, const Inheritance& inherited) {
    std::string key = text;
    key += '\0';
    key.append(reinterpret_cast<const char*>(&inherited.map), sizeof inherited.map);
    key += static_cast<char>(inherited.startX);
    key += static_cast<char>(inherited.startY);
    for (const std::string& message : inherited.messages) key += std::to_string(message.size()) + ":" + message;
    key += inherited.firstRoom ? '1' : '0';
    return key;
}

// A par file's line for the room searched: its fewest ticks, from a way proven shortest.
std::string parLineOf(const std::string& text, const SearchReport& report) {
    if (report.verdict != Verdict::Finishable || !report.decided || !report.ticksShortest) return "";
    RoomPar par;
    par.roomHash = roomFileHash(text);
    par.ticks = report.ticks;
    par.way = report.solution;
    if (report.goodsOnMap > 0 && report.allGoodsTicks >= 0 && report.allGoodsShortest) {
        par.allGoodsTicks = report.allGoodsTicks;
        par.allGoodsWay = report.allGoodsSolution;
    }
    return parLine(par);
}

RoomVerdict verdictOf(const std::vector<Finding>& findings) {
    RoomVerdict verdict;
    switch (roomClass(findings)) {
        case RoomClass::Finishable:
            verdict.mark = RoomMark::Finishable;
            break;
        case RoomClass::NotFullyChecked:
            verdict.mark = RoomMark::NotFullyChecked;
            break;
        case RoomClass::Error:
            verdict.mark = RoomMark::Error;
            for (const Finding& finding : findings)
                if (finding.severity == Severity::Error) {
                    verdict.error = finding.text;
                    break;
                }
            break;
    }
    return verdict;
}

void settle(std::string key, const RoomVerdict& verdict) {
    if (packChecks.known.size() >= knownLimit) packChecks.known.clear();
    packChecks.known[key] = verdict;
    std::erase_if(packChecks.waiting, [&](const WaitingRoom& room) { return room.key == key; });
}

}  // namespace

void beginPackVerdicts() { packChecks.waiting.clear(); }

RoomVerdict packRoomVerdict(const std::string& text, const Inheritance& inherited) {
    std::string key = verdictKey(text, inherited);
    if (auto known = packChecks.known.find(key); known != packChecks.known.end()) return known->second;
    bool queued = std::any_of(packChecks.waiting.begin(), packChecks.waiting.end(),
                              [&](const WaitingRoom& room) { return room.key == key; });
    if (!queued) packChecks.waiting.push_back({key, text, inherited});
    return {};
}

bool packChecksBusy() { return !packChecks.waiting.empty(); }

bool advancePackChecks(int budgetMs) {
    PackChecks& pc = packChecks;
    // The room searched for is wanted no more (its file changed, it left the index).
    if (pc.job && std::none_of(pc.waiting.begin(), pc.waiting.end(),
                               [&](const WaitingRoom& room) { return room.key == pc.jobKey; }))
        pc.job.reset();
    if (!pc.job) {
        if (pc.waiting.empty()) return false;
        const WaitingRoom& next = pc.waiting.front();
        RoomState previous = inheritedRoom(next.inherited);
        pc.findings = levelFindings(next.text, previous, next.inherited.firstRoom);
        if (roomClass(pc.findings) == RoomClass::Error) {  // decided without playing it
            settle(next.key, verdictOf(pc.findings));
            return true;
        }
        pc.loaded = roomFromText(next.text, previous);
        pc.text = next.text;
        pc.jobKey = next.key;
        pc.job = startSearch(pc.loaded);  // with quorvex-check's own limits
    }
    SearchSlice slice;
    slice.milliseconds = budgetMs;
    if (!advanceSearch(*pc.job, slice)) return false;
    const SearchReport& report = searchReport(*pc.job);
    std::vector<Finding> played = searchFindings(pc.loaded, report);
    pc.findings.insert(pc.findings.end(), played.begin(), played.end());
    RoomVerdict verdict = verdictOf(pc.findings);
    verdict.parLine = parLineOf(pc.text, report);
    pc.job.reset();
    settle(pc.jobKey, verdict);
    return true;
}

void pausePackChecks() { packChecks.job.reset(); }

#else

// Built without the checker: the editor works, with no verdict.
void beginPackVerdicts() {}
RoomVerdict packRoomVerdict(const std::string&, const Inheritance&) { return {RoomMark::NotFullyChecked, ""}; }
bool packChecksBusy() { return false; }
bool advancePackChecks(int) { return false; }
void pausePackChecks() {}
void restartCheck() {}
void checkHarder() {}
bool checkBusy() { return false; }
void advanceCheck(int) {}
std::string verdictLine() { return "no checker in this build"; }
bool verdictHasErrors() { return false; }
uint8_t verdictColour() { return 11; }
bool runFullCheck() {
    edit.findingCells.clear();
    edit.findingTexts.clear();
    return true;
}
bool checkSolution(std::vector<uint8_t>&) { return false; }
std::vector<std::pair<int, int>> checkWayCells() { return {}; }

#endif
