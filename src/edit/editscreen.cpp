// The editor's screen: rows 1 to 22 are the room exactly as the game draws
// it, with what the game never draws marked on a blue background; rows 23 to
// 25 are the cursor's cell, the brush, the checker's verdict and the keys.
#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include "console/console.h"
#include "console/cp437.h"
#include "edit/edit.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "system/output.h"

namespace {

constexpr uint8_t markBackground = 1;  // the game never paints blue behind anything
constexpr uint8_t markerDot = 0xFA;    // ·

void putCell(int x, int y, uint8_t glyph, uint8_t colour, uint8_t background) {
    moveCursor(x, y);
    setTextColor(colour);
    setTextBackground(background);
    writeChar(glyph);
    setTextBackground(0);
}

// The enemies' patrols, stepped by the game's own enemy rule on a copy of the room.
std::set<std::pair<int, int>> patrolCells() {
    std::set<std::pair<int, int>> cells;
    RoomState saved = room;
    room.verticalEnemy.step = -1;
    room.horizontalEnemy.step = 1;
    for (int tick = 0; tick < 400 && (room.verticalEnemy.active || room.horizontalEnemy.active); ++tick) {
        updateEnemies();
        for (const EnemySlot* enemy : {&room.verticalEnemy, &room.horizontalEnemy})
            if (enemy->active) cells.insert({enemy->x, enemy->y});
    }
    room = saved;
    return cells;
}

void markInherited(int x, int y) {
    ConsoleCell shown = bufferCell(x, y);
    if (shown.character == ' ')
        putCell(x, y, markerDot, 9, markBackground);
    else
        putCell(x, y, shown.character, shown.attribute & 0x0F, markBackground);
}

// The checker's way: a dot where the player is at the end of each tick,
// so a jump shows as its arc. A colour of its own (no cell of a room has it).
constexpr uint8_t wayColour = 15;

void drawMarks(const std::set<std::pair<int, int>>& patrol) {
    for (auto [x, y] : patrol)
        if (bufferCell(x, y).character == ' ') putCell(x, y, markerDot, 13, 0);
    if (edit.showWay)
        for (auto [x, y] : checkWayCells())
            if (insideMap(x, y) && bufferCell(x, y).character == ' ') putCell(x, y, markerDot, wayColour, 0);
    for (int y = 1; y <= mapHeight; ++y) {
        const std::string& row = edit.text.rows[y - 1];
        for (int x = 1; x <= mapWidth; ++x) {
            if (x > static_cast<int>(row.size())) {
                markInherited(x, y);
                continue;
            }
            uint8_t c = static_cast<uint8_t>(row[x - 1]);
            int code = cellAt(x, y);
            if (c == 'i')
                putCell(x, y, glyph::player, 14, markBackground);
            else if (c == '7')
                putCell(x, y, 0x12, 13, markBackground);  // ↕
            else if (c == '8')
                putCell(x, y, 0x1D, 13, markBackground);  // ↔
            else if (!isPaintCharacter(c) && c < 'm')
                markInherited(x, y);
            else if (isMessageCode(code))
                putCell(x, y, static_cast<uint8_t>('1' + code - Message), 14, markBackground);
            else if (code == Spikes && spikeGlyph(x, y) == 0)
                putCell(x, y, glyph::spikesUp, 12, markBackground);
            else if (code > MessageLast || code < Crumbled)
                putCell(x, y, '?', 12, markBackground);
        }
    }
    if (edit.markSet) {
        ConsoleCell shown = bufferCell(edit.markX, edit.markY);
        putCell(edit.markX, edit.markY, shown.character, shown.attribute & 0x0F, 5);
    }
    ConsoleCell under = bufferCell(edit.cursorX, edit.cursorY);
    putCell(edit.cursorX, edit.cursorY, under.character, 0, 7);
}

std::string cut(std::string text, size_t width) {
    if (text.size() > width) text = text.substr(0, width - 1) + "\xAF";  // »
    return text;
}

std::string brushName(uint8_t c) {
    switch (c) {
        case ' ':
            return "empty";
        case 'i':
            return "start";
        case '7':
            return "vert. enemy";
        case '8':
            return "horiz. enemy";
        case '9':
            return "exit";
        case 'j':
        case 'k':
        case 'l':
            return "goods";
        default:
            break;
    }
    if (c >= '1' && c <= '6') {
        static const char* const names[] = {"wall", "lava", "spikes", "crumbling", "spring", "ice"};
        return names[c - '1'];
    }
    if (c >= 'm' && c <= 't') return "message " + std::to_string(c - 'm' + 1);
    return "?";
}

void clearRow(int row) {
    setTextBackground(0);
    moveCursor(1, row);
    clearToLineEnd();
}

const char* const hintText = "F1 help ^S save ^Q quit ^Z undo ^Y redo ^D draw ^B mark ^V paste ^F fill";
const char* const markHint = "Mark set: move, then ^L line, ^R box, ^K copy, ^W cut; Esc drops the mark";

}  // namespace

void drawEditor() {
    loadRoomText(edit.text, edit.inherited);
    std::set<std::pair<int, int>> patrol;
    if (edit.showPaths) patrol = patrolCells();
    setTextBackground(0);
    setTextColor(7);
    clearScreen();
    for (int y = 1; y <= mapHeight; ++y)
        for (int x = 1; x <= mapWidth; ++x) drawRoomCell(x, y);
    drawMarks(patrol);
    drawStatusRows();
    // In a window of 24 rows the map scrolls as the game's does, keeping the
    // cursor in sight above the three status rows.
    followPlayer(edit.cursorX, edit.cursorY);
}

void writeAt(int x, int y, uint8_t colour, std::string_view text) {
    moveCursor(x, y);
    setTextColor(colour);
    writeText(text);
}

std::vector<std::string> wrapText(std::string_view text, size_t width) {
    constexpr size_t none = std::string_view::npos;
    std::vector<std::string> lines;
    while (text.size() > width) {
        // At the last space that fits; a word longer than a row (a path)
        // after one of its slashes, filling the row, and only a word with
        // neither where it must.
        size_t space = text.rfind(' ', width), slash = text.rfind('/', width - 1);
        if (space == 0) space = none;
        if (slash == 0) slash = none;
        size_t wordEnd = space == none ? none : text.find(' ', space + 1);
        bool wordTooLong = space != none && (wordEnd == none ? text.size() : wordEnd) - space - 1 > width;
        size_t cut = width, next = width;
        if (slash != none && (space == none || (wordTooLong && slash > space)))
            cut = next = slash + 1;
        else if (space != none)
            cut = space, next = space + 1;
        lines.push_back(std::string(text.substr(0, cut)));
        text = text.substr(next);
    }
    lines.push_back(std::string(text));
    return lines;
}

int drawNote(std::string_view note, uint8_t colour, int maxRows, int bottomRow) {
    std::vector<std::string> lines = wrapText(note, 79);
    if (static_cast<int>(lines.size()) > maxRows) {
        lines.resize(static_cast<size_t>(maxRows));
        lines.back() = cut(lines.back() + " ...", 79);
    }
    int top = bottomRow + 1 - static_cast<int>(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        clearRow(top + static_cast<int>(i));
        writeAt(1, top + static_cast<int>(i), colour, lines[i]);
    }
    return static_cast<int>(lines.size());
}

void drawStatusRows() {
    for (int row = 23; row <= 25; ++row) clearRow(row);
    std::string position = std::to_string(edit.cursorX) + "," + std::to_string(edit.cursorY);
    writeAt(1, 23, 3, position);
    writeAt(8, 23, 7, cut(describeCell(edit.cursorX, edit.cursorY), 47));
    writeAt(56, 23, 14, "brush ");
    writeText("'");
    writeChar(edit.brush);
    writeText("' " + brushName(edit.brush));
    if (edit.drawing) writeAt(76, 23, 15, "DRAW");
    if (edit.markSet && !edit.drawing) writeAt(76, 23, 13, "MARK");

    drawVerdictRow();
    writeAt(56, 24, 14, "goods ");
    setTextColor(3);
    int goods = edit.text.goodsLine.empty() ? 0 : static_cast<uint8_t>(edit.text.goodsLine[0]) - 48;
    writeText(std::to_string(goods) + (edit.text.goodsFollowMap ? " auto" : " set"));
    std::string title = (edit.modified ? "*" : "") + edit.title + (edit.writable ? "" : " (read-only)");
    writeAt(69, 24, edit.modified ? 15 : 8, cut(title, 12));

    clearRow(25);
    if (!edit.note.empty())
        drawNote(edit.note, 15, 3);  // a long one over rows 23 and 24 until the next key
    else
        writeAt(1, 25, edit.markSet ? 13 : 8, cut(edit.markSet ? markHint : hintText, 79));
}

void drawVerdictRow() {
    if (wrapText(edit.note, 79).size() >= 2) return;  // the note covers row 24 until the next key
    moveCursor(1, 24);
    setTextBackground(0);
    setTextColor(7);
    writeText(std::string(55, ' '));
    writeAt(1, 24, verdictColour(), cut(verdictLine(), 54));
}

namespace {

// What each paint key makes, for the legend.
struct PaintKey {
    const char* keys;
    uint8_t character;  // drawn as the room shows it
    const char* name;
};
constexpr PaintKey paintKeys[] = {
    {"space", ' ', "empty: the player falls through"},
    {"i", 'i', "the player's start (one a room)"},
    {"1", '1', "wall: solid"},
    {"2", '2', "lava: deadly"},
    {"3", '3', "spikes: deadly; they point away from the wall beside them"},
    {"4", '4', "crumbling floor: solid, gives way soon after it is stood on"},
    {"5", '5', "spring: throws the player 8 rows up"},
    {"6", '6', "ice: solid; the player slides on it until something blocks"},
    {"7", '7', "start of the enemy that moves up and down (one a room)"},
    {"8", '8', "start of the enemy that moves left and right (one a room)"},
    {"9", '9', "exit: finishes the room"},
    {"j k l", 'j', "goods, 5 points each: diamond, club, spade"},
    {"m to t", 'm', "message cells 1 to 8: Enter on one edits its text"},
};

// A paint key's look: the game's own drawing, or the editor's mark on blue
// for what the game never draws.
void drawPaintLook(int x, int y, uint8_t c) {
    if (c == 'i') return putCell(x, y, glyph::player, 14, markBackground);
    if (c == '7') return putCell(x, y, 0x12, 13, markBackground);
    if (c == '8') return putCell(x, y, 0x1D, 13, markBackground);
    if (c == 'm') return putCell(x, y, '1', 14, markBackground);
    if (c == 'j') {
        for (int i = 0; i < 3; ++i) drawCodeLook(x + 2 * i, y, static_cast<CellCode>(GoodsDiamond + i));
        return;
    }
    drawCodeLook(x, y, mapCharacter(c).code);
}

void waitForAnyKey() {
    if (readKey() == key::extended) readKey();
}

void drawLegend() {
    writeAt(2, 1, 14, "quorvex-edit: the paint keys (each becomes the brush; the cursor steps right)");
    int row = 3;
    for (const PaintKey& paint : paintKeys) {
        writeAt(3, row, 15, paint.keys);
        drawPaintLook(11, row, paint.character);
        writeAt(18, row, 7, paint.name);
        ++row;
    }
    writeAt(2, row + 1, 14, "Marks on blue show what the game never draws:");
    putCell(3, row + 2, glyph::player, 14, markBackground);
    putCell(5, row + 2, 0x12, 13, markBackground);
    putCell(7, row + 2, 0x1D, 13, markBackground);
    putCell(9, row + 2, '1', 14, markBackground);
    writeAt(11, row + 2, 7, "the start, the enemies' starts, message cell 1 (to 8)");
    putCell(3, row + 3, glyph::spikesUp, 12, markBackground);
    writeAt(11, row + 3, 7, "invisible spikes (no wall beside them): still deadly");
    putCell(3, row + 4, markerDot, 9, markBackground);
    writeAt(11, row + 4, 7, "a cell this room leaves as the room before it had it");
    writeAt(2, row + 6, 8, "Any key: the other keys.");
}

}  // namespace

void showHelp() {
    static const char* const lines[] = {
        "quorvex-edit: keys of the room editor",
        "",
        "Arrows       move the cursor          PgUp PgDn   five rows up, down",
        "Home End     first, last column       Tab         eight columns right",
        "space i 1-9 j k l m-t   paint that cell and step right (F1: what each paints)",
        "Backspace    erase left               Del         erase the cell",
        "^D           drawing mode: the brush on this cell and every cell moved onto",
        "^B           set or clear the mark    ^L  line, ^R filled box from the mark",
        "^K ^W        copy, cut the box from the mark   ^V  paste it at the cursor",
        "^F           fill around the cursor   Esc clear the mark, leave drawing mode",
        "^Z ^Y        undo, redo               ^G  goods line (empty: follows the map)",
        "Enter        edit the message of the message cell under the cursor",
        "F4           edit message 1 to 8      ^P  show the enemies' patrols",
        "F5           play from the start      F6  play from the cursor (Esc returns)",
        "F7           full check, then the next finding   F8  the checker's solution",
        "F9           check again, 4 x time, memory   ^T  show or hide the checker's way",
        "^S ^O        save                     ^Q ^X  leave (asks when unsaved)",
        "F12          save as: another name or folder (when the file cannot be written)",
        "In prompts   ^U clears the line, ^K cuts it from the cursor, Home End move",
        "",
        "The level file gets 22 rows of 80 characters, the goods line and the",
        "message lines; the previous version is kept as NAME.lvl~. Row %d is the",
        "verdict of quorvex-check on the room: red an error, yellow not fully checked.",
        "Any key goes back.",
    };
    // The verdict is on the window's last row but one: 23 at 80 x 24.
    std::string verdictRow = std::to_string(windowLayout().rows - 1);
    setTextBackground(0);
    setTextColor(7);
    clearScreen();
    drawLegend();
    waitForAnyKey();
    clearScreen();
    int row = 1;
    for (std::string line : lines) {
        if (size_t at = line.find("%d"); at != std::string::npos) line.replace(at, 2, verdictRow);
        writeAt(2, row, row == 1 ? 14 : 7, line);
        ++row;
    }
    waitForAnyKey();
}

const char* const lineKeys = "Enter keeps  Esc cancels  ^U clears  ^K cuts to the end  Home End arrows move";

bool editLine(std::string& line, size_t maxLength, int column, int row, size_t markColumn, LineWatcher watcher) {
    std::string text = line.substr(0, maxLength);
    size_t position = text.size();
    int start = (row - 1) * screenWidth + column - 1;
    // Never the last cell of row 25: a byte there would move the view down.
    size_t cells = std::min<size_t>(maxLength + 1, static_cast<size_t>(viewRows * screenWidth - 1 - start));
    for (;;) {
        for (size_t i = 0; i < cells; ++i) {
            int cell = start + static_cast<int>(i);
            uint8_t character = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
            uint8_t colour = markColumn != 0 && i >= markColumn ? 4 : 0;
            uint8_t background = i == position ? 1 : (markColumn != 0 && i + 1 == markColumn ? 6 : 7);
            if (i == position) colour = 15;
            putCell(cell % screenWidth + 1, cell / screenWidth + 1, character, colour, background);
        }
        std::string before = text;
        uint8_t pressed = readKey();
        if (pressed == key::extended) {
            uint8_t code = readKey();
            if (code == scan::left && position > 0) --position;
            if (code == scan::right && position < text.size()) ++position;
            if (code == scan::home) position = 0;
            if (code == scan::end) position = text.size();
            if (code == scan::del && position < text.size()) text.erase(position, 1);
        } else if (pressed == key::enter) {
            line = text;
            return true;
        } else if (pressed == key::escape) {
            return false;
        } else if (pressed == key::backspace) {
            if (position > 0) text.erase(--position, 1);
        } else if (pressed == key::ctrl('U')) {
            text.clear();
            position = 0;
        } else if (pressed == key::ctrl('K')) {
            text.erase(position);
        } else if (pressed >= key::space && pressed != 127 && text.size() < maxLength) {
            text.insert(position++, 1, static_cast<char>(pressed));
        }
        if (watcher != nullptr && text != before) watcher(text);
    }
}

uint8_t askKey(std::string_view question, std::string_view answers) {
    clearRow(25);
    writeAt(1, 25, 15, question);
    for (;;) {
        uint8_t pressed = readKey();
        if (pressed == key::extended) {
            readKey();
            continue;
        }
        if (pressed == key::escape) return pressed;
        uint8_t upper = static_cast<uint8_t>(std::toupper(pressed));
        if (answers.find(static_cast<char>(upper)) != std::string_view::npos) return upper;
    }
}

bool askText(std::string_view question, std::string& answer, size_t maxLength) {
    clearRow(24);
    writeAt(1, 24, 8, lineKeys);
    clearRow(25);
    writeAt(1, 25, 15, question);
    int column = static_cast<int>(question.size()) + 2;
    size_t fits = static_cast<size_t>(screenWidth - 1 - column);
    return editLine(answer, std::min(maxLength, fits), column, 25, 0);
}

namespace {

// The name as typed glyphs, when every character of it has one (exact).
std::string typedFromName(std::string_view name, bool& exact) {
    exact = true;
    if (!localeIsUtf8()) return std::string(name);
    std::string typed;
    for (size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        size_t length = utf8Length(name, i);
        if (c < 0x80) {
            typed += static_cast<char>(c);
            ++i;
            continue;
        }
        char32_t character = 0;
        if (length > 0) {
            character = c & (0x7F >> length);
            for (size_t k = 1; k < length; ++k) character = (character << 6) | (name[i + k] & 0x3F);
        }
        int glyph = length > 0 ? unicodeToCp437(character) : -1;
        exact &= glyph >= 0x80;
        typed += glyph >= 0x80 ? static_cast<char>(glyph) : '?';
        i += std::max<size_t>(length, 1);
    }
    return typed;
}

}  // namespace

std::string shownName(std::string_view name) {
    bool exact;
    return typedFromName(name, exact);
}

bool askName(std::string_view question, std::string& name, size_t maxLength, std::string& why) {
    why.clear();
    bool exact;
    std::string prefilled = typedFromName(name, exact);
    if (!exact) prefilled.clear();  // a name the screen cannot show is typed afresh
    std::string typed = prefilled;
    if (!askText(question, typed, maxLength)) return false;
    if (exact && typed == prefilled) return true;  // as it was
    bool utf8 = localeIsUtf8();
    std::string held;
    for (char c : typed) {
        uint8_t glyph = static_cast<uint8_t>(c);
        if (glyph < 0x80) {
            held += c;
        } else if (!utf8) {
            why =
                "Names are ASCII here: the locale's character set is not UTF-8, so the file system's names could "
                "not show as typed.";
            return false;
        } else {
            held += typedToUtf8(std::string(1, c));
        }
    }
    for (size_t start = 0; start <= held.size();) {
        size_t end = std::min(held.find('/', start), held.size());
        if (end - start > 255) {
            why = "A part of that name is longer than the 255 bytes a file name may have.";
            return false;
        }
        start = end + 1;
    }
    name = held;
    return true;
}
