// What a level file's text says about its room before anyone plays it:
// rows that leave cells to the previous room, characters the loader skips,
// the goods line, the messages, invisible spikes and the enemies' first
// steps. The room itself is loaded by the game's own loader.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "check/check.h"
#include "levels/levelformat.h"
#include "levels/levels.h"

namespace {

constexpr size_t perKindLimit = 12;  // findings of one kind in one file, then a summary

std::string cellName(int code) {
    switch (code) {
        case Empty:
            return "nothing";
        case Wall:
            return "a wall";
        case Lava:
            return "lava";
        case Spikes:
            return "spikes";
        case Crumbling:
            return "crumbling floor";
        case Spring:
            return "a spring";
        case Ice:
            return "ice";
        case VerticalEnemy:
        case HorizontalEnemy:
            return "an enemy";
        case Exit:
            return "the exit";
        case GoodsDiamond:
        case GoodsClub:
        case GoodsSpade:
            return "a goods item";
        case Crumbled:
            return "crumbled floor";
        default:
            break;
    }
    if (isMessageCode(code)) return std::string("message cell '") + static_cast<char>(code + 96) + "'";
    return "code " + std::to_string(code);
}

std::string printable(unsigned char c) {
    if (c >= 0x21 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    if (c == '\t') return "a tab";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", c);
    return std::string("byte ") + hex;
}

std::string at(int x, int y) { return "(" + std::to_string(x) + ", " + std::to_string(y) + ")"; }

struct Collector {
    std::vector<Finding> list;
    void add(int line, int column, Severity severity, std::string text, int x = 0, int y = 0) {
        list.push_back({line, column, severity, std::move(text), x, y});
    }
    // The cell's place in the file is its row and column.
    void atCell(int x, int y, Severity severity, std::string text) { add(y, x, severity, std::move(text), x, y); }
};

// Capped findings of one kind: the first few, then how many more.
struct Capped {
    Collector& out;
    Severity severity;
    std::string more;
    size_t count = 0;
    void add(int x, int y, std::string text) {
        if (++count <= perKindLimit) out.atCell(x, y, severity, std::move(text));
    }
    void close(int line) {
        if (count > perKindLimit)
            out.add(line, 0, severity, std::to_string(count - perKindLimit) + " more " + more + " not listed");
    }
};

struct RoomScan {
    std::vector<CellXY> starts, vertical, horizontal;
};

void scanRows(const LevelLines& level, Collector& out, RoomScan& scan) {
    Capped skipped{out, Severity::Warning, "characters outside the map table"};
    Capped meaningless{out, Severity::Warning, "characters after 't'"};
    const std::vector<std::string_view>& lines = level.lines;
    int rows = static_cast<int>(level.mapRows);
    for (int y = 1; y <= rows; ++y) {
        std::string_view row = lines[y - 1];
        int length = static_cast<int>(row.size());
        if (length < mapWidth)
            out.add(y, length + 1, Severity::Warning,
                    "row " + std::to_string(y) + " has " + std::to_string(length) + " characters: cells " +
                        at(length + 1, y) + " to " + at(mapWidth, y) + " keep the previous room's codes",
                    length + 1, y);
        if (length > mapWidth)
            out.add(y, mapWidth + 1, Severity::Warning,
                    "row " + std::to_string(y) + " has " + std::to_string(length) +
                        " characters: those after column 80 are ignored");
        for (int x = 1; x <= std::min(length, mapWidth); ++x) {
            unsigned char c = static_cast<unsigned char>(row[x - 1]);
            MapCharacterKind kind = mapCharacter(c).kind;
            if (kind == MapCharacterKind::Start) scan.starts.push_back({x, y});
            if (kind == MapCharacterKind::VerticalEnemyStart) scan.vertical.push_back({x, y});
            if (kind == MapCharacterKind::HorizontalEnemyStart) scan.horizontal.push_back({x, y});
            if (kind == MapCharacterKind::Keeps)
                skipped.add(
                    x, y,
                    printable(c) + " is not a map character: cell " + at(x, y) + " keeps the previous room's code");
            else if (meaninglessCharacter(c))
                meaningless.add(x, y,
                                printable(c) + " after 't' makes code " + std::to_string(static_cast<int8_t>(c - 96)) +
                                    ", which means nothing in play: invisible, neither solid nor open");
        }
    }
    skipped.close(rows);
    meaningless.close(rows);
    if (lines.size() < mapHeight)
        out.add(static_cast<int>(lines.size()) + 1, 0, Severity::Warning,
                "the file ends after " + std::to_string(lines.size()) + " lines: rows " +
                    std::to_string(lines.size() + 1) + " to 22 keep the previous room's codes");
}

void checkStartsAndEnemies(const RoomScan& scan, const RoomState& loaded, const RoomState& previous, bool firstRoom,
                           Collector& out) {
    if (scan.starts.empty()) {
        if (firstRoom)
            out.add(1, 1, Severity::Error, "no start 'i': the player starts at (1, 1)");
        else
            out.add(1, 1, Severity::Warning,
                    "no start 'i': the player starts where the previous room's start was, " +
                        at(previous.startX, previous.startY));
    }
    for (size_t i = 0; i + 1 < scan.starts.size(); ++i)
        out.atCell(scan.starts[i].x, scan.starts[i].y, Severity::Warning,
                   "several starts 'i': the last one, at " + at(scan.starts.back().x, scan.starts.back().y) + ", wins");
    const struct {
        const std::vector<CellXY>& places;
        const char* name;
        char character;
        const EnemySlot& slot;
        int dx, dy;
    } kinds[] = {{scan.vertical, "vertical", '7', loaded.verticalEnemy, 0, -1},
                 {scan.horizontal, "horizontal", '8', loaded.horizontalEnemy, 1, 0}};
    for (const auto& kind : kinds) {
        for (size_t i = 0; i + 1 < kind.places.size(); ++i)
            out.atCell(kind.places[i].x, kind.places[i].y, Severity::Warning,
                       std::string("several ") + kind.name + " enemies '" + kind.character +
                           "': only the last one, at " + at(kind.places.back().x, kind.places.back().y) + ", plays");
        if (kind.places.empty()) continue;
        int x = kind.slot.x, y = kind.slot.y;
        // The first move is not tested: whatever the next cell holds, the
        // enemy goes in, and leaves it empty when it moves on.
        int firstX = x + kind.dx, firstY = y + kind.dy;
        CellCode first = cellAt(loaded.levelMap, firstX, firstY);
        if (first != Empty)
            out.atCell(
                x, y, Severity::Warning,
                std::string("the ") + kind.name + " enemy's first step, which is not checked, enters " +
                    at(firstX, firstY) + ", which holds " + cellName(first) +
                    (insideMap(firstX, firstY) ? ": the cell is empty once the enemy moves on" : ": outside the map"));
        // Its patrol: along its axis while the cells are empty.
        int ax = kind.dx == 0 ? 0 : 1, ay = kind.dy == 0 ? 0 : 1;
        for (int sign : {-1, 1}) {
            int px = firstX, py = firstY;
            while (insideMap(px + sign * ax, py + sign * ay) &&
                   cellAt(loaded.levelMap, px + sign * ax, py + sign * ay) == Empty) {
                px += sign * ax;
                py += sign * ay;
            }
            if (insideMap(px, py) && (px == 1 || px == mapWidth || py == 1 || py == mapHeight)) {
                out.atCell(
                    x, y, Severity::Warning,
                    std::string("the ") + kind.name + " enemy's path reaches the edge of the map at " + at(px, py));
                break;
            }
        }
    }
}

void checkMap(const RoomState& loaded, Collector& out) {
    bool exit = false;
    Capped invisible{out, Severity::Warning, "invisible spikes"};
    for (int y = 1; y <= mapHeight; ++y)
        for (int x = 1; x <= mapWidth; ++x) {
            CellCode code = cellAt(loaded.levelMap, x, y);
            if (code == Exit) exit = true;
            if (code == Spikes && spikeGlyph(x, y) == 0)
                invisible.add(x, y, "invisible spikes at " + at(x, y) + ": no wall beside them, still deadly");
        }
    invisible.close(mapHeight);
    if (!exit) out.add(1, 1, Severity::Error, "no exit '9' on the map");
}

void checkGoodsAndMessages(const LevelLines& level, const RoomState& loaded, Collector& out) {
    int goods = 0;
    std::vector<CellXY> messageCells[messageCount];
    for (int y = 1; y <= mapHeight; ++y)
        for (int x = 1; x <= mapWidth; ++x) {
            CellCode code = cellAt(loaded.levelMap, x, y);
            if (code >= GoodsDiamond && code <= GoodsSpade) ++goods;
            if (isMessageCode(code)) messageCells[code - Message].push_back({x, y});
        }
    if (level.goodsLine.empty()) {
        if (goods > 0)
            out.add(goodsLineNumber, 1, Severity::Warning,
                    "no goods line: the status line says 0 goods, the map holds " + std::to_string(goods));
    } else {
        unsigned char c = static_cast<unsigned char>(level.goodsLine[0]);
        int said = goodsLineCount(level.goodsLine);
        if (c < '0' || c > '9')
            out.add(goodsLineNumber, 1, Severity::Warning,
                    "the goods line starts with " + printable(c) + ", which counts as " + std::to_string(said));
        if (said != goods)
            out.add(
                goodsLineNumber, 1, Severity::Warning,
                "the goods line says " + std::to_string(said) + ", the map holds " + std::to_string(goods) + " goods");
    }
    // The message lines, as the loader reads them.
    size_t messageLines = level.messages.size();
    for (size_t i = 0; i < messageCount; ++i) {
        int line = firstMessageLineNumber + static_cast<int>(i);
        char letter = static_cast<char>('m' + i);
        bool hasLine = i < messageLines;
        if (!messageCells[i].empty() && (!hasLine || level.messages[i].empty()))
            out.atCell(messageCells[i][0].x, messageCells[i][0].y, Severity::Warning,
                       std::string("message cell '") + letter + "' at " +
                           at(messageCells[i][0].x, messageCells[i][0].y) + " has no text on line " +
                           std::to_string(line) +
                           (hasLine ? ": it shows nothing" : ": it shows the previous room's text, if any"));
        if (!hasLine) continue;
        size_t length = level.messages[i].size();
        if (messageCells[i].empty() && length > 0)
            out.add(line, 1, Severity::Note,
                    std::string("message '") + letter + "' has no cell on the map: it is never shown");
        if (length > messageShownLimit)
            out.add(line, static_cast<int>(messageShownLimit) + 1, Severity::Warning,
                    "message '" + std::string(1, letter) + "' has " + std::to_string(length) +
                        " characters: it is cut at " + std::to_string(messageShownLimit));
        if (length > messageRowWidth)
            out.add(line, static_cast<int>(messageRowWidth) + 1, Severity::Warning,
                    "message '" + std::string(1, letter) + "' has " + std::to_string(length) + " characters: after " +
                        std::to_string(messageRowWidth) + " it wraps over \"Goods:\" and stays there");
    }
    if (level.lines.size() > static_cast<size_t>(lastLevelLineNumber) && messageLines == messageCount)
        out.add(lastLevelLineNumber + 1, 1, Severity::Note, "lines after line 31 are ignored");
}

}  // namespace

RoomState roomFromText(std::string_view text, const RoomState& previous) {
    RoomState saved = room;
    room = previous;
    readLevelText(text);
    RoomState loaded = room;
    room = saved;
    return loaded;
}

std::vector<Finding> levelFindings(std::string_view text, const RoomState& previous, bool firstRoom, bool backdrop) {
    Collector out;
    LevelLines level = splitLevelText(text);
    RoomState loaded = roomFromText(text, previous);
    RoomScan scan;
    scanRows(level, out, scan);
    checkStartsAndEnemies(scan, loaded, previous, firstRoom, out);
    RoomState saved = room;
    room = loaded;  // the spike rule reads the game's room
    checkMap(loaded, out);
    room = saved;
    checkGoodsAndMessages(level, loaded, out);
    std::stable_sort(out.list.begin(), out.list.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    if (backdrop)
        std::erase_if(out.list, [](const Finding& f) {
            return f.text.rfind("no exit", 0) == 0 || f.text.rfind("the goods line", 0) == 0;
        });
    return out.list;
}

namespace {

// A share as a whole percent; 100 and 0 only when every try, or none, went so.
std::string percent(double share) {
    int p = static_cast<int>(std::lround(share * 100));
    if (share < 1) p = std::min(p, 99);
    if (share > 0) p = std::max(p, 1);
    return std::to_string(p) + " %";
}

std::string successText(const SearchReport& r) {
    const SuccessFigure& f = r.success;
    // Estimated where no exact table of moves was built: said so.
    auto share = [&](double value) { return (f.estimated ? "about " : "") + percent(value); };
    std::string text = "success " + share(f.newHand) + " (new hand), " + share(f.practised) + " (practised)";
    if (r.goodsOnMap == 0) return text;
    if (!f.allGoodsMeasured) return text + "; all goods not measured (too many goods items)";
    if (r.allGoodsTicks < 0) return text;
    return text + "; all goods " + share(f.allGoodsNew) + ", " + share(f.allGoodsPractised);
}

// Items in words: "a", "a and b", "a, b and c"; ", and" where an item has a comma of its own.
std::string listed(const std::vector<std::string>& items) {
    bool commas = std::any_of(items.begin(), items.end(), [](const std::string& s) { return s.find(',') != s.npos; });
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 < items.size() ? ", " : commas ? ", and " : " and ") + items[i];
    return text;
}

// What filled a stopped search's states, in words: the crumbling floor by
// runs along its rows, and the enemies by their lines.
std::string whatFilled(const SearchReport& r, const RoomState& loaded) {
    std::vector<CellXY> cells = r.openCrumbling;
    std::sort(cells.begin(), cells.end(), [](CellXY a, CellXY b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    std::vector<std::string> parts;
    size_t shown = 0;
    for (size_t i = 0; i < cells.size();) {
        size_t j = i + 1;
        while (j < cells.size() && cells[j].y == cells[i].y && cells[j].x == cells[j - 1].x + 1) ++j;
        if (parts.size() == 2 && j < cells.size()) {
            parts.push_back(std::to_string(cells.size() - shown) + " more crumbling cells");
            break;
        }
        if (j - i == 1)
            parts.push_back("the crumbling cell at " + at(cells[i].x, cells[i].y));
        else
            parts.push_back("the " + std::to_string(j - i) + " crumbling cells at row " + std::to_string(cells[i].y) +
                            ", columns " + std::to_string(cells[i].x) + " to " + std::to_string(cells[j - 1].x));
        shown += j - i;
        i = j;
    }
    if (r.openEnemies & 1) parts.push_back("the guard in column " + std::to_string(loaded.verticalEnemy.x));
    if (r.openEnemies & 2) parts.push_back("the guard at row " + std::to_string(loaded.horizontalEnemy.y));
    return listed(parts);
}

// What a search that a limit stopped leaves unknown.
std::string notFullyChecked(const SearchReport& r, const RoomState& loaded) {
    std::string text = "not fully checked: stopped by " + r.stopReason + " after " + std::to_string(r.states) +
                       (r.states == 1 ? " state" : " states");
    std::string filled = whatFilled(r, loaded);
    if (!filled.empty()) filled = "; " + filled + " could not be proven safe";
    if (r.verdict == Verdict::Unknown || r.verdict == Verdict::Searching)
        return text + "; finishing is not proven" + filled;
    std::vector<std::string> unknown;
    if (!r.stuckKnown) unknown.push_back("places with no way on");
    if (!r.goodsKnown) unknown.push_back("goods out of reach");
    if (r.verdict != Verdict::Finishable) {
        for (size_t i = 0; i < unknown.size(); ++i) text += (i == 0 ? "; not looked for: " : ", ") + unknown[i];
        return text + filled;
    }
    if (r.goodsOnMap > 0 && r.allGoodsTicks < 0 && !r.allGoodsLookedFor)
        unknown.push_back("a way with every goods item");
    if (r.narrowestWindow == 0) unknown.push_back("key windows");
    if (!r.success.measured) unknown.push_back("the success figure");
    for (size_t i = 0; i < unknown.size(); ++i) text += (i == 0 ? "; not looked for: " : ", ") + unknown[i];
    return text + filled;
}

// A message with a text that none of the ways found passes: an author
// meant it to be read, and a player who plays as the checker does never will.
void messagesPassed(const RoomState& loaded, const SearchReport& r, Collector& out) {
    std::vector<uint8_t> passed(size_t(mapWidth) * mapHeight, 0);
    for (const std::vector<TickKey>* keys : {&r.solution, &r.allGoodsSolution})
        for (CellXY cell : wayCells(loaded, *keys))
            if (insideMap(cell.x, cell.y)) passed[(cell.x - 1) * mapHeight + cell.y - 1] = 1;
    for (int code = Message; code <= MessageLast; ++code) {
        if (loaded.roomMessages[code - Message].empty()) continue;
        CellXY first{0, 0};
        bool seen = false;
        for (int x = 1; x <= mapWidth && !seen; ++x)
            for (int y = 1; y <= mapHeight && !seen; ++y) {
                if (cellAt(loaded.levelMap, x, y) != code) continue;
                if (first.x == 0) first = {x, y};
                seen = passed[(x - 1) * mapHeight + y - 1];
            }
        if (!seen && first.x != 0)
            out.atCell(first.x, first.y, Severity::Warning,
                       "message " + std::to_string(code - Message + 1) + " at " + at(first.x, first.y) +
                           " is never passed on the ways found");
    }
}

}  // namespace

std::vector<Finding> searchFindings(const RoomState& loaded, const SearchReport& r) {
    Collector out;
    // A room without an exit has its one error already ("no exit '9' on the
    // map"): that no exit can be reached, and that every place is then one
    // where only quitting helps, follow from it and are not said again.
    bool exitOnMap = false;
    for (int x = 1; x <= mapWidth && !exitOnMap; ++x)
        for (int y = 1; y <= mapHeight && !exitOnMap; ++y) exitOnMap = cellAt(loaded.levelMap, x, y) == Exit;
    int sx = loaded.startX, sy = loaded.startY;
    std::string goods = std::to_string(r.goodsOnMap);
    switch (r.verdict) {
        case Verdict::Finishable: {
            // A way that is not proven shortest gives the most the shortest can take.
            std::string text = "finishable in " + std::string(r.ticksShortest ? "" : "at most ") +
                               std::to_string(r.ticks) + " ticks (" + secondsOfTicks(r.ticks) + " s)";
            if (r.goodsOnMap == 0)
                text += ", no goods";
            else if (r.allGoodsTicks >= 0)
                text += ", all " + goods + " goods in " + (r.allGoodsShortest ? "" : "at most ") +
                        std::to_string(r.allGoodsTicks) + " ticks";
            else if (r.allGoodsLookedFor)
                text += ", not all " + goods + " goods on one way";
            // A window is a finding only where the room ends it, not the measure
            // (which looks windowReach ticks either way, and never before tick 1).
            const KeyWindow* narrowest = nullptr;
            for (const KeyWindow& w : r.windows)
                if ((w.early < std::min(w.tick - 1, windowReach) || w.late < windowReach) &&
                    (narrowest == nullptr || w.width() < narrowest->width()))
                    narrowest = &w;
            if (narrowest != nullptr)
                text += "; narrowest key window " + std::to_string(narrowest->width()) + " tick" +
                        (narrowest->width() == 1 ? "" : "s") + " (" + tickKeyName(narrowest->key) + " at tick " +
                        std::to_string(narrowest->tick) + ")";
            out.add(sy, sx, Severity::Note, text, sx, sy);
            if (r.figureLeftOut)
                out.add(sy, sx, Severity::Note,
                        "key windows and the success figure left out: estimating them took more than their share", sx,
                        sy);
            if (r.success.measured) {
                out.add(sy, sx, Severity::Note, successText(r), sx, sy);
                const HardestPress& h = r.success.hardest;
                if (h.found)
                    out.atCell(h.at.x, h.at.y, Severity::Note,
                               "hardest press: " + std::string(tickKeyName(h.key)) + " at tick " +
                                   std::to_string(h.tick) + " at " + at(h.at.x, h.at.y) + ": success " +
                                   percent(h.successWithout) + " (new hand) when it is never missed");
            }
            if (r.goodsOnMap > 0 && r.allGoodsTicks < 0 && r.allGoodsLookedFor && r.explored &&
                r.unreachableGoods.empty())
                out.add(sy, sx, Severity::Warning,
                        "every goods item can be reached, but no way takes them all and reaches the exit", sx, sy);
            break;
        }
        case Verdict::ExitOnlyByLosingLife:
            out.add(sy, sx, Severity::Note, "the exit is reachable only by losing a life", sx, sy);
            break;
        case Verdict::ExitNotReachable:
            if (exitOnMap) out.add(sy, sx, Severity::Error, "exit not reachable", sx, sy);
            break;
        case Verdict::Unknown:
        case Verdict::Searching:
            break;  // the last line says it
    }
    for (CellXY g : r.unreachableGoods)
        out.atCell(g.x, g.y, Severity::Warning, "the goods item at " + at(g.x, g.y) + " cannot be reached");
    if (r.verdict == Verdict::Finishable) messagesPassed(loaded, r, out);
    if (r.deadEnd)
        out.atCell(r.deadEndAt.x, r.deadEndAt.y, Severity::Note,
                   "from " + at(r.deadEndAt.x, r.deadEndAt.y) + " (tick " + std::to_string(r.deadEndTick) +
                       ") the exit cannot be reached: the only way on is losing a life");
    if (r.stuck && exitOnMap)
        out.atCell(r.stuckAt.x, r.stuckAt.y, Severity::Error,
                   "stuck alive at " + at(r.stuckAt.x, r.stuckAt.y) + " (from tick " + std::to_string(r.stuckTick) +
                       "): neither the exit nor a lost life can be reached, only quitting helps");
    if (r.edgeReached)
        out.atCell(r.edgeAt.x, r.edgeAt.y, Severity::Warning,
                   "the player can reach the edge of the map at " + at(r.edgeAt.x, r.edgeAt.y));
    // Never a pass: the room's last line says that a limit stopped its search, and which.
    if (!r.decided) {
        out.add(sy, sx, Severity::Warning, notFullyChecked(r, loaded), sx, sy);
        out.list.back().notFullyChecked = true;
    }
    return out.list;
}

RoomClass roomClass(const std::vector<Finding>& findings) {
    RoomClass result = RoomClass::Finishable;
    for (const Finding& f : findings) {
        if (f.severity == Severity::Error) return RoomClass::Error;
        if (f.notFullyChecked) result = RoomClass::NotFullyChecked;
    }
    return result;
}
