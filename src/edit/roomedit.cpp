// Editing one room: the cursor, painting, lines and boxes, undo and redo,
// the goods line, the messages, saving, and the key loop that keeps the
// checker working between keys.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "console/console.h"
#include "console/cp437.h"
#include "edit/edit.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "system/files.h"

RoomEdit edit;

namespace {

constexpr size_t undoLimit = 1000;

bool sameText(const RoomText& a, const RoomText& b) {
    return a.rows == b.rows && a.goodsLine == b.goodsLine && a.messages == b.messages &&
           a.goodsFollowMap == b.goodsFollowMap;
}

// Keeps the change as one undo step when it changed anything.
void commitChange(const RoomText& before) {
    if (sameText(before, edit.text)) return;
    edit.undo.push_back(before);
    if (edit.undo.size() > undoLimit) edit.undo.erase(edit.undo.begin());
    edit.redo.clear();
    afterChange();
}

void moveCursorBy(int dx, int dy) {
    int x = std::clamp(edit.cursorX + dx, 1, mapWidth);
    int y = std::clamp(edit.cursorY + dy, 1, mapHeight);
    if (x == edit.cursorX && y == edit.cursorY) return;
    if (!edit.drawing) {
        edit.cursorX = x;
        edit.cursorY = y;
        return;
    }
    // Drawing: every cell passed on the way gets the brush, as one step.
    RoomText before = edit.text;
    while (edit.cursorX != x || edit.cursorY != y) {
        edit.cursorX += (x > edit.cursorX) - (x < edit.cursorX);
        edit.cursorY += (y > edit.cursorY) - (y < edit.cursorY);
        paintCell(edit.cursorX, edit.cursorY, edit.brush);
    }
    commitChange(before);
}

void paintLine(int x0, int y0, int x1, int y1) {
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    for (int error = dx + dy;;) {
        paintCell(x0, y0, edit.brush);
        if (x0 == x1 && y0 == y1) break;
        int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

void paintShape(bool box) {
    if (!edit.markSet) {
        edit.note = "Set the mark first with ^B, then move to the other end.";
        return;
    }
    RoomText before = edit.text;
    if (box) {
        for (int y = std::min(edit.markY, edit.cursorY); y <= std::max(edit.markY, edit.cursorY); ++y)
            for (int x = std::min(edit.markX, edit.cursorX); x <= std::max(edit.markX, edit.cursorX); ++x)
                paintCell(x, y, edit.brush);
    } else {
        paintLine(edit.markX, edit.markY, edit.cursorX, edit.cursorY);
    }
    edit.markSet = false;
    commitChange(before);
}

// The cells copied from a marked box, as level-file characters; kept from
// room to room, so a piece of one room can go into another.
struct Clipboard {
    int width = 0, height = 0;
    std::string cells;  // row after row
};
Clipboard clipboard;

// What a cell holds as a character: a start or an enemy start as written,
// anything else as the game loaded it (an inherited cell becomes its own).
uint8_t cellCharacter(int x, int y) {
    const std::string& row = edit.text.rows[y - 1];
    if (x <= static_cast<int>(row.size())) {
        uint8_t c = static_cast<uint8_t>(row[x - 1]);
        if (c == 'i' || c == '7' || c == '8') return c;
    }
    return characterForCode(cellAt(x, y));
}

void copyMarked(bool cutToo) {
    if (!edit.markSet) {
        edit.note = "Set the mark first with ^B, then move to the other corner.";
        return;
    }
    int left = std::min(edit.markX, edit.cursorX), right = std::max(edit.markX, edit.cursorX);
    int top = std::min(edit.markY, edit.cursorY), bottom = std::max(edit.markY, edit.cursorY);
    clipboard.width = right - left + 1;
    clipboard.height = bottom - top + 1;
    clipboard.cells.clear();
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) clipboard.cells.push_back(static_cast<char>(cellCharacter(x, y)));
    edit.markSet = false;
    std::string size = std::to_string(clipboard.width) + "x" + std::to_string(clipboard.height);
    if (!cutToo) {
        edit.note = "Copied " + size + " cells: ^V pastes them with their top left corner at the cursor.";
        return;
    }
    RoomText before = edit.text;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) paintCell(x, y, ' ');
    commitChange(before);
    edit.note = "Cut " + size + " cells: ^V pastes them with their top left corner at the cursor.";
}

void pasteClipboard() {
    if (clipboard.cells.empty()) {
        edit.note = "Nothing to paste: mark a box with ^B, then ^K copies it or ^W cuts it.";
        return;
    }
    RoomText before = edit.text;
    for (int dy = 0; dy < clipboard.height; ++dy)
        for (int dx = 0; dx < clipboard.width; ++dx)
            paintCell(edit.cursorX + dx, edit.cursorY + dy,
                      static_cast<uint8_t>(clipboard.cells[static_cast<size_t>(dy * clipboard.width + dx)]));
    commitChange(before);
}

// The brush over the area around the cursor: every cell reached through
// cells of the same kind, up, down, left and right; starts stay where they are.
void floodFill() {
    if (edit.brush == 'i' || edit.brush == '7' || edit.brush == '8') {
        edit.note = "The start and the enemies stand on one cell each: fill with another brush.";
        return;
    }
    auto isStart = [](int x, int y) {
        const std::string& row = edit.text.rows[y - 1];
        return x <= static_cast<int>(row.size()) && (row[x - 1] == 'i' || row[x - 1] == '7' || row[x - 1] == '8');
    };
    int kind = cellAt(edit.cursorX, edit.cursorY);
    std::vector<std::pair<int, int>> pending{{edit.cursorX, edit.cursorY}};
    std::vector<bool> seen(mapWidth * mapHeight, false);
    std::vector<std::pair<int, int>> area;
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (!insideMap(x, y) || seen[(y - 1) * mapWidth + x - 1] || cellAt(x, y) != kind) continue;
        seen[(y - 1) * mapWidth + x - 1] = true;
        if (!isStart(x, y)) area.push_back({x, y});
        pending.insert(pending.end(), {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}});
    }
    RoomText before = edit.text;
    for (auto [x, y] : area) paintCell(x, y, edit.brush);
    commitChange(before);
    edit.note = "Filled " + std::to_string(area.size()) + " cells with '" +
                std::string(1, static_cast<char>(edit.brush)) + "'.";
}

void drawMessageRows(int number) {
    setTextBackground(0);
    for (int row = 23; row <= 25; ++row) {
        moveCursor(1, row);
        clearToLineEnd();
    }
    moveCursor(1, 23);
    setTextColor(14);
    writeText("Message " + std::to_string(number) + " ('" + std::string(1, static_cast<char>('l' + number)) +
              "'): Enter keeps, Esc cancels, ^U clears, ^K cuts to the end");
    // The status lines around it, so the author sees what a long text covers.
    moveCursor(2, 24);
    writeText("Lives: ");
    setTextColor(4);
    writeText(std::string(3, glyph::heart));
    moveCursor(2, 25);
    setTextColor(14);
    writeText("Goods: ");
    setTextColor(3);
    writeText("0/" + std::to_string(room.goodsInRoom));
}

// The message being typed goes into the rescue copy with every key, so a
// run that ends meanwhile keeps it with the room.
int typedMessage = 0;

void rescueWith(const RoomText& text) {
    std::string fileText = roomFileText(text, edit.inherited, true);
    if (edit.savedTextKnown && fileText == edit.savedFile)
        disarmRescue();
    else
        armRescue(edit.file, fileText);
}

void rescueTypedMessage(const std::string& typed) {
    RoomText text = edit.text;
    text.messages[typedMessage - 1] = typed;
    rescueWith(text);
}

void editMessage(int number) {
    RoomText before = edit.text;
    if (edit.text.messages.size() < static_cast<size_t>(number)) edit.text.messages.resize(number);
    std::string text = edit.text.messages[number - 1];
    size_t heldBefore = text.size();
    for (auto [cutNumber, length] : edit.cutMessages)
        if (cutNumber == number && heldBefore == messageKeptLimit) heldBefore = length;
    drawMessageRows(number);
    typedMessage = number;
    if (!editLine(text, messageShownLimit, 15, 24, messageRowWidth, rescueTypedMessage)) {
        edit.text = before;
        if (edit.modified)
            rescueWith(edit.text);
        else
            disarmRescue();
        return;
    }
    edit.text.messages[number - 1] = text;
    while (!edit.text.messages.empty() && edit.text.messages.back().empty()) edit.text.messages.pop_back();
    commitChange(before);
    if (heldBefore > messageShownLimit)
        edit.note = "Message " + std::to_string(number) + " held " + std::to_string(heldBefore) +
                    " characters; the game shows only 145, and those are kept.";
    else if (text.size() > messageRowWidth)
        edit.note = "Message " + std::to_string(number) + " has " + std::to_string(text.size()) +
                    " characters: past the 66th it runs over the goods line.";
}

void setGoodsLine() {
    std::string answer;
    if (!askText("Goods announced (empty: follow the map's goods):", answer, 3)) return;
    RoomText before = edit.text;
    if (answer.empty()) {
        edit.text.goodsFollowMap = true;
    } else {
        char* end = nullptr;
        long value = std::strtol(answer.c_str(), &end, 10);
        if (*end != '\0' || value < 0 || value > 127) {
            edit.note = "The goods line holds a number from 0 to 127.";
            return;
        }
        edit.text.goodsFollowMap = false;
        edit.text.goodsLine = goodsLineFor(static_cast<int>(value));
    }
    commitChange(before);
}

void nextFinding() {
    if (edit.findingIndex < 0) {
        edit.note = "Checking the whole room...";
        drawStatusRows();
        if (!runFullCheck()) return;
        edit.findingIndex = 0;
    } else {
        ++edit.findingIndex;
    }
    if (edit.findingTexts.empty()) {
        edit.note = "The checker finds nothing to report.";
        edit.findingIndex = -1;
        return;
    }
    size_t index = static_cast<size_t>(edit.findingIndex) % edit.findingTexts.size();
    auto [x, y] = edit.findingCells[index];
    if (x >= 1 && y >= 1) {
        edit.cursorX = std::min(x, mapWidth);
        edit.cursorY = std::min(y, mapHeight);
    }
    edit.note =
        std::to_string(index + 1) + "/" + std::to_string(edit.findingTexts.size()) + " " + edit.findingTexts[index];
}

// Asks before unsaved work is dropped. True when the room may be left.
bool mayLeave() {
    if (!edit.modified) return true;
    uint8_t answer = askKey("Unsaved changes. S save and leave, D discard them and leave, Esc stay", "SD");
    if (answer == 'S') return edit.writable ? saveRoom() : saveRoomAs();
    return answer == 'D';
}

// What the editor's keys do, by name; the table below binds the keys.
enum class EditCommand : uint8_t {
    None,
    CursorUp,
    CursorDown,
    CursorLeft,
    CursorRight,
    FiveUp,
    FiveDown,
    FirstColumn,
    LastColumn,
    EightRight,
    EraseLeft,
    EraseHere,
    Help,
    EditMessageHere,
    EditAnyMessage,
    PlayTest,
    PlayTestFromCursor,
    NextFinding,
    PlaySolution,
    CheckHarder,
    ToggleMark,
    ToggleDrawing,
    Line,
    Box,
    Copy,
    Cut,
    Paste,
    Fill,
    Undo,
    Redo,
    GoodsLine,
    ShowPaths,
    ShowWay,
    CancelMark,
    Save,
    SaveAs,
    Leave,
};

struct EditorKey {
    bool extended;  // an extended key: code is its scan code
    uint8_t code;
    EditCommand command;
};

// Besides these, the paint characters paint (isPaintCharacter).
constexpr EditorKey editorKeys[] = {
    {true, scan::up, EditCommand::CursorUp},
    {true, scan::down, EditCommand::CursorDown},
    {true, scan::left, EditCommand::CursorLeft},
    {true, scan::right, EditCommand::CursorRight},
    {true, scan::pageUp, EditCommand::FiveUp},
    {true, scan::pageDown, EditCommand::FiveDown},
    {true, scan::home, EditCommand::FirstColumn},
    {true, scan::end, EditCommand::LastColumn},
    {true, scan::del, EditCommand::EraseHere},
    {true, scan::f1, EditCommand::Help},
    {true, scan::f4, EditCommand::EditAnyMessage},
    {true, scan::f5, EditCommand::PlayTest},
    {true, scan::f6, EditCommand::PlayTestFromCursor},
    {true, scan::f7, EditCommand::NextFinding},
    {true, scan::f8, EditCommand::PlaySolution},
    {true, scan::f9, EditCommand::CheckHarder},
    {true, scan::f12, EditCommand::SaveAs},
    {false, key::backspace, EditCommand::EraseLeft},
    {false, key::tabulator, EditCommand::EightRight},
    {false, key::enter, EditCommand::EditMessageHere},
    {false, key::escape, EditCommand::CancelMark},
    {false, '?', EditCommand::Help},
    {false, key::ctrl('B'), EditCommand::ToggleMark},
    {false, key::ctrl('D'), EditCommand::ToggleDrawing},
    {false, key::ctrl('L'), EditCommand::Line},
    {false, key::ctrl('R'), EditCommand::Box},
    {false, key::ctrl('K'), EditCommand::Copy},
    {false, key::ctrl('W'), EditCommand::Cut},
    {false, key::ctrl('V'), EditCommand::Paste},
    {false, key::ctrl('F'), EditCommand::Fill},
    {false, key::ctrl('Z'), EditCommand::Undo},
    {false, key::ctrl('Y'), EditCommand::Redo},
    {false, key::ctrl('G'), EditCommand::GoodsLine},
    {false, key::ctrl('P'), EditCommand::ShowPaths},
    {false, key::ctrl('T'), EditCommand::ShowWay},
    {false, key::ctrl('O'), EditCommand::Save},
    {false, key::ctrl('S'), EditCommand::Save},
    {false, key::ctrl('Q'), EditCommand::Leave},
    {false, key::ctrl('X'), EditCommand::Leave},
};

EditCommand commandFor(bool extended, uint8_t code) {
    for (const EditorKey& bound : editorKeys)
        if (bound.extended == extended && bound.code == code) return bound.command;
    return EditCommand::None;
}

void eraseAt(int x) {
    RoomText before = edit.text;
    paintCell(x, edit.cursorY, ' ');
    commitChange(before);
}

void playTestNoted(bool fromCursor) { edit.note = playReportText(playTest(fromCursor), "Play-test"); }

void playSolutionNoted() {
    std::vector<uint8_t> keys;
    if (!checkSolution(keys)) {
        edit.note = "The checker has no solution for this room (yet).";
        return;
    }
    edit.note = playReportText(playSolution(keys), "The checker's solution");
}

void editMessageHere() {
    int code = cellAt(edit.cursorX, edit.cursorY);
    if (isMessageCode(code))
        editMessage(code - Message + 1);
    else
        edit.note = "Enter edits the message of a message cell (m to t); F4 any message.";
}

void toggleDrawing() {
    // Drawing starts on the cell under the cursor, so no gap is left.
    edit.drawing = !edit.drawing;
    if (!edit.drawing) return;
    RoomText before = edit.text;
    paintCell(edit.cursorX, edit.cursorY, edit.brush);
    commitChange(before);
}

// One command; false when the author leaves the room.
bool runCommand(EditCommand command) {
    switch (command) {
        case EditCommand::None:
            break;
        case EditCommand::CursorUp:
            moveCursorBy(0, -1);
            break;
        case EditCommand::CursorDown:
            moveCursorBy(0, 1);
            break;
        case EditCommand::CursorLeft:
            moveCursorBy(-1, 0);
            break;
        case EditCommand::CursorRight:
            moveCursorBy(1, 0);
            break;
        case EditCommand::FiveUp:
            moveCursorBy(0, -5);
            break;
        case EditCommand::FiveDown:
            moveCursorBy(0, 5);
            break;
        case EditCommand::FirstColumn:
            moveCursorBy(1 - edit.cursorX, 0);
            break;
        case EditCommand::LastColumn:
            moveCursorBy(mapWidth - edit.cursorX, 0);
            break;
        case EditCommand::EightRight:
            moveCursorBy(8, 0);  // painting on the way in drawing mode, as every move does
            break;
        case EditCommand::EraseLeft:
            if (edit.cursorX > 1) eraseAt(--edit.cursorX);
            break;
        case EditCommand::EraseHere:
            eraseAt(edit.cursorX);
            break;
        case EditCommand::Help:
            showHelp();
            break;
        case EditCommand::EditMessageHere:
            editMessageHere();
            break;
        case EditCommand::EditAnyMessage: {
            uint8_t answer = askKey("Edit which message? 1 to 8, Esc: none", "12345678");
            if (answer != key::escape) editMessage(answer - '0');
            break;
        }
        case EditCommand::PlayTest:
        case EditCommand::PlayTestFromCursor:
            playTestNoted(command == EditCommand::PlayTestFromCursor);
            break;
        case EditCommand::NextFinding:
            nextFinding();
            break;
        case EditCommand::PlaySolution:
            playSolutionNoted();
            break;
        case EditCommand::CheckHarder:
            checkHarder();
            edit.note = "F9: the room is checked again with four times the time and memory.";
            break;
        case EditCommand::CancelMark:
            edit.markSet = false;
            edit.drawing = false;
            break;
        case EditCommand::ToggleMark:
            edit.markSet = !edit.markSet;
            edit.markX = edit.cursorX;
            edit.markY = edit.cursorY;
            break;
        case EditCommand::ToggleDrawing:
            toggleDrawing();
            break;
        case EditCommand::Line:
        case EditCommand::Box:
            paintShape(command == EditCommand::Box);
            break;
        case EditCommand::Copy:
        case EditCommand::Cut:
            copyMarked(command == EditCommand::Cut);
            break;
        case EditCommand::Paste:
            pasteClipboard();
            break;
        case EditCommand::Fill:
            floodFill();
            break;
        case EditCommand::Undo:
            undoChange();
            break;
        case EditCommand::Redo:
            redoChange();
            break;
        case EditCommand::GoodsLine:
            setGoodsLine();
            break;
        case EditCommand::ShowWay:
            edit.showWay = !edit.showWay;
            if (edit.showWay && checkBusy()) edit.note = "The checker's way shows when the check has ended.";
            break;
        case EditCommand::ShowPaths:
            edit.showPaths = !edit.showPaths;
            break;
        case EditCommand::Save:
            saveRoom();
            break;
        case EditCommand::SaveAs:
            saveRoomAs();
            break;
        case EditCommand::Leave:
            return !mayLeave();
    }
    return true;
}

// One key; false when the author leaves the room.
bool handleKey(uint8_t pressed) {
    if (pressed == key::extended) return runCommand(commandFor(true, readKey()));
    if (!isPaintCharacter(pressed)) return runCommand(commandFor(false, pressed));
    RoomText before = edit.text;
    paintCell(edit.cursorX, edit.cursorY, pressed);
    edit.brush = pressed;
    commitChange(before);
    if (edit.cursorX < mapWidth) ++edit.cursorX;
    return true;
}

// Waits for a key; while none has come, the checker works in short slices,
// then the wait sleeps like every other.
void waitForEditorKey() {
    std::string shown = verdictLine();
    while (checkBusy() && !keyPressed()) {
        advanceCheck(10);
        if (std::string now = verdictLine(); now != shown) {
            shown = now;
            // The way asked for comes with the end of the check.
            if (edit.showWay && !checkBusy())
                drawEditor();
            else
                drawVerdictRow();
        }
    }
    waitForKey();
}

}  // namespace

void paintCell(int x, int y, uint8_t c) {
    if (!insideMap(x, y)) return;
    // One start and one enemy of each kind: painting one moves it here.
    if (c == 'i' || c == '7' || c == '8')
        for (std::string& row : edit.text.rows) std::replace(row.begin(), row.end(), static_cast<char>(c), ' ');
    std::string& row = edit.text.rows[y - 1];
    while (static_cast<int>(row.size()) < x - 1)
        row.push_back(
            static_cast<char>(characterForCode(cellAt(edit.inherited.map, static_cast<int>(row.size()) + 1, y))));
    if (static_cast<int>(row.size()) < x)
        row.push_back(static_cast<char>(c));
    else
        row[x - 1] = static_cast<char>(c);
}

void afterChange() {
    loadRoomText(edit.text, edit.inherited);
    if (edit.text.goodsFollowMap) edit.text.goodsLine = goodsLineFor(goodsOnMap());
    // Undoing back to what the file holds is no change at all.
    std::string fileText = roomFileText(edit.text, edit.inherited, true);
    edit.modified = !edit.savedTextKnown || fileText != edit.savedFile;
    if (edit.modified)
        armRescue(edit.file, fileText);
    else
        disarmRescue();
    edit.findingIndex = -1;
    edit.findingCells.clear();
    edit.findingTexts.clear();
    restartCheck();
}

void beginChange() {
    edit.undo.push_back(edit.text);
    edit.redo.clear();
}

void undoChange() {
    if (edit.undo.empty()) {
        edit.note = "Nothing to undo.";
        return;
    }
    edit.redo.push_back(edit.text);
    edit.text = edit.undo.back();
    edit.undo.pop_back();
    afterChange();
}

void redoChange() {
    if (edit.redo.empty()) {
        edit.note = "Nothing to redo.";
        return;
    }
    edit.undo.push_back(edit.text);
    edit.text = edit.redo.back();
    edit.redo.pop_back();
    afterChange();
}

namespace {

// A message the file held longer than the game keeps was cut when the room
// was opened: said when that cut is written (a message edited since is the
// author's own).
std::string cutMessagesRemark() {
    std::string numbers, lengths;
    int count = 0;
    for (auto [number, length] : edit.cutMessages) {
        const std::vector<std::string>& messages = edit.text.messages;
        if (static_cast<size_t>(number) > messages.size() || messages[number - 1].size() != messageKeptLimit) continue;
        numbers += (count == 0 ? "" : ", ") + std::to_string(number);
        lengths += (count == 0 ? "" : ", ") + std::to_string(length);
        ++count;
    }
    edit.cutMessages.clear();
    if (count == 0) return "";
    return (count == 1 ? "Message " + numbers + " had " + lengths : "Messages " + numbers + " had " + lengths) +
           " characters; the game keeps " + std::to_string(messageKeptLimit) + ": saved with the first " +
           std::to_string(messageKeptLimit) + ".";
}

// The room's text written as the file; false with the reason in the note.
// remark: what the author should know about what was written.
bool writeRoomTo(const RoomFile& file, std::string& remark) {
    std::string fileText = roomFileText(edit.text, edit.inherited, true);
    try {
        saveRoomFile(file, fileText);
    } catch (const FileFailure& failure) {
        // "quorvex-edit: cannot write ...: reason" in the editor's own words.
        edit.note = editorFailureText(failure);
        edit.note.replace(0, 12, "Not saved (F12 saves elsewhere)");
        return false;
    }
    edit.diskText = fileText;
    edit.diskRead = true;
    remark = cutMessagesRemark();
    bool follow = edit.text.goodsFollowMap;
    edit.text = parseRoomText(fileText);
    edit.text.goodsFollowMap = follow;
    edit.modified = false;
    edit.savedFile = fileText;
    edit.savedTextKnown = true;
    disarmRescue();
    // The rescue copy taken into the room is now in a file: that copy
    // goes, and no other (another room's, another editor's).
    if (!edit.rescueTaken.name.empty()) {
        removeRescue(edit.rescueTaken);
        edit.rescueTaken = RoomFile{};
    }
    return true;
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A goods line that matches the map's goods follows them from now on.
void settleGoodsLine() {
    loadRoomText(edit.text, edit.inherited);
    const std::string& goods = edit.text.goodsLine;
    edit.text.goodsFollowMap = goods.empty() || static_cast<uint8_t>(goods[0]) - 48 == goodsOnMap();
    if (edit.text.goodsFollowMap && !goods.empty()) edit.text.goodsLine = goodsLineFor(goodsOnMap());
}

// Unsaved work of a run that ended badly, newer than the file: the author
// may take it (it stays until the room is saved); declined, it moves to the
// state folder, so it is never offered again or shipped with a pack.
void takeRescue(RescueOffer& offer) {
    drawEditor();
    std::string detail = "Unsaved work of a run that ended badly: " + shownName(offer.name) + ", written " +
                         offer.when +
                         (offer.count > 1 ? " (the newest of " + std::to_string(offer.count) + " copies)" : "") + ".";
    std::vector<std::string> lines = wrapText(detail, 79);
    lines.resize(2);
    for (int row = 23; row <= 24; ++row) {
        moveCursor(1, row);
        setTextBackground(0);
        clearToLineEnd();
        setTextColor(15);
        writeText(lines[static_cast<size_t>(row - 23)]);
    }
    if (askKey("Take it? Y takes it, N moves it to the state folder", "YN") != 'Y') {
        try {
            edit.note = "Moved " + shownName(offer.name) + " to " + homeShort(moveRescueAway(offer)) + ".";
        } catch (const FileFailure& failure) {
            edit.note = editorFailureText(failure);
        }
        return;
    }
    // Taken as one change: undone, the room is the file again.
    edit.undo.push_back(edit.text);
    edit.text = parseRoomText(offer.text);
    settleGoodsLine();
    edit.modified = true;
    edit.rescueTaken = offer.file;
    edit.note = "Took " + shownName(offer.name) + ": ^S saves it into the room and removes the copy, ^Z undoes it.";
}

// What a typed name is: inside the open pack folder it is held beneath it.
RoomFile fileNamed(const std::string& name) {
    const std::string& pack = packFolder().path;
    if (edit.file.inPack && !pack.empty() && name.size() > pack.size() + 1 && name.compare(0, pack.size(), pack) == 0 &&
        name[pack.size()] == '/')
        return {true, name.substr(pack.size() + 1), name};
    return authorsFile(name);
}

// The room's file as it is on disk now; false when there is none.
bool roomOnDisk(std::string& text) {
    OpenFile opened = openRoomFile(edit.file);
    if (opened.fd < 0) return false;
    text = readOpenFile(opened, edit.file.shown, levelFileLimit + 1);
    return true;
}

// Mine kept beside the room as a new file of its own: NAME-mine.lvl.
std::string saveMineAsCopy() {
    std::string stem = edit.file.name.size() > 4 ? edit.file.name.substr(0, edit.file.name.size() - 4) : edit.file.name;
    for (int n = 1; n < 100; ++n) {
        std::string name = stem + (n == 1 ? "-mine" : "-mine-" + std::to_string(n)) + ".lvl";
        RoomFile copy = edit.file.inPack ? RoomFile{true, name, pathIn(packFolder(), name)} : authorsFile(name);
        if (createRoomFile(copy, roomFileText(edit.text, edit.inherited, true))) return copy.shown;
    }
    throw FileFailure{"write", edit.file.shown, reasonFor(EEXIST)};
}

// Another writer (another editor, a text editor, a copy) changed the room's
// file since this editor read or saved it: the author says what happens.
// True when the save goes on over it.
bool mayWriteOverChange() {
    std::string theirs;
    bool there = roomOnDisk(theirs);
    if (there == edit.diskRead && (!there || theirs == edit.diskText)) return true;
    uint8_t answer = askKey(shownName(baseName(edit.path)).substr(0, 20) +
                                " changed on disk. T take theirs, K keep mine, C save mine as a copy",
                            "TKC");
    if (answer == 'K') return true;
    if (answer == 'C') {
        edit.note = "Yours is in " + shownName(saveMineAsCopy()) + "; the room's file is as it was changed.";
    } else if (answer == 'T') {
        // Taken as one change: ^Z brings this editor's room back.
        edit.undo.push_back(edit.text);
        edit.text = there ? parseRoomText(theirs) : freshRoomText();
        settleGoodsLine();
        edit.diskText = theirs;
        edit.diskRead = there;
        edit.savedFile = roomFileText(edit.text, edit.inherited, true);
        edit.modified = false;
        disarmRescue();
        restartCheck();
        edit.note = "The room is its file as changed on disk; ^Z brings yours back.";
    }
    return false;
}

}  // namespace

bool saveRoom() {
    if (!edit.writable) {
        edit.note = edit.readOnlyWhy + ": not written; F12 saves under another name.";
        return false;
    }
    try {
        if (!mayWriteOverChange()) return false;
    } catch (const FileFailure& failure) {
        edit.note = editorFailureText(failure);
        return false;
    }
    std::string remark;
    if (!writeRoomTo(edit.file, remark)) return false;
    edit.note = "Saved " + edit.title + "." + (remark.empty() ? "" : " " + remark);
    return true;
}

bool saveRoomAs() {
    std::string name = edit.path.size() < 60 ? edit.path : "";
    std::string why;
    if (!askName("Save as:", name, 255, why)) {
        edit.note = why;
        return false;
    }
    if (name.empty()) return false;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".lvl") != 0) name += ".lvl";
    RoomFile file = fileNamed(name);
    FileLook look = lookAtRoomFile(file);
    std::string shown = shownName(name);
    if (look.kind == FileKind::Folder || look.kind == FileKind::Other || look.kind == FileKind::Outside) {
        edit.note = shown +
                    (look.kind == FileKind::Folder    ? " is a folder"
                     : look.kind == FileKind::Outside ? " leads outside the pack folder"
                                                      : " is not a regular file") +
                    ": not written.";
        return false;
    }
    bool same = look.kind == FileKind::File && sameFile(file, edit.file);
    if (same && !edit.writable) {
        edit.note = "That is the file opened read-only: choose another name.";
        return false;
    }
    if (look.kind == FileKind::File && !same &&
        askKey(shownName(baseName(name)).substr(0, 40) + " exists. Replace it? Y replaces, N keeps it", "YN") != 'Y')
        return false;
    std::string remark;
    if (!writeRoomTo(file, remark)) return false;
    edit.file = file;
    edit.path = name;
    edit.title = shownName(baseName(name));
    edit.writable = true;
    edit.readOnlyWhy.clear();
    edit.note = "Saved as " + shown + "." + (remark.empty() ? "" : " " + remark);
    edit.note += offerIndexPlace(file);  // in a pack: the index may play the new file
    return true;
}

void openRoom(const RoomFile& file, const std::string& title, const Inheritance& inherited, bool writable,
              StartingRoom fresh) {
    disarmRescue();
    edit = RoomEdit{};
    edit.file = file;
    edit.path = file.shown;
    edit.title = title;
    edit.writable = writable;
    edit.inherited = inherited;
    edit.text = startingRoomText(fresh);
    // Read from the descriptor that was found to be a regular file.
    OpenFile opened = openRoomFile(file);
    bool read = opened.fd >= 0;
    if (read) {
        std::string fileText = readOpenFile(opened, file.shown, levelFileLimit + 1);
        edit.diskText = fileText;
        edit.diskRead = true;
        if (fileText.size() > levelFileLimit) {
            // What is past 4 MiB would be lost at a save: the file is never rewritten.
            fileText.resize(levelFileLimit);
            edit.writable = false;
            edit.readOnlyWhy = "Larger than 4 MiB";
        }
        edit.text = parseRoomText(fileText);
        LevelLines level = splitLevelText(fileText);
        for (size_t i = 0; i < level.messages.size(); ++i)
            if (level.messages[i].size() > messageKeptLimit)
                edit.cutMessages.push_back({static_cast<int>(i) + 1, level.messages[i].size()});
        // What the game ignores is not kept; say so before it goes at the next save.
        std::vector<std::string_view> lines = splitLines(fileText);
        bool longRow = false;
        for (size_t y = 0; y < lines.size() && y < mapHeight; ++y) longRow |= lines[y].size() > mapWidth;
        if (longRow || lines.size() > mapHeight + 1 + edit.text.messages.size())
            edit.note =
                "The game ignores this file's characters past column 80 and lines after the messages;"
                " saving drops them.";
        if (!edit.writable)
            edit.note = "Larger than 4 MiB, the game reads its first 4 MiB: read-only here, F12 saves a copy.";
    }
    // A link that is never followed for writing: said now, not at the first save.
    if (std::string why = whyNotWritable(file); edit.writable && !why.empty()) {
        edit.writable = false;
        edit.readOnlyWhy = why.substr(0, why.find(':'));
        edit.readOnlyWhy[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
        edit.note = shownName(file.shown) + ": " + why + ". F12 saves under another name.";
    }
    settleGoodsLine();
    edit.savedFile = roomFileText(edit.text, edit.inherited, true);
    edit.savedTextKnown = read;
    if (RescueOffer offer = findRescue(file); offer.found) takeRescue(offer);
    restartCheck();
}

void runRoomEditor() {
    for (;;) {
        drawEditor();
        waitForEditorKey();
        uint8_t pressed = readKey();
        edit.note.clear();
        if (!handleKey(pressed)) break;
    }
    disarmRescue();
}
