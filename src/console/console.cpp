#include "console/console.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "console/terminal.h"

namespace {

struct ScriptedKey {
    uint64_t atMs;
    KeyEvent key;
};

struct ConsoleState {
    ConsoleCell buffer[bufferRows][screenWidth];
    int cursorX = 1, cursorY = 1;
    int viewTop = 1;
    uint8_t attribute = 0x07;
    uint8_t pendingKey = 0;
    bool extendedPending = false;
    std::deque<KeyEvent> queue;
    bool viewChanged = false;  // the terminal has not seen the latest writes
    // a window smaller than the view
    int windowRows = viewRows, windowColumns = screenWidth;
    bool roomLayout = false;  // set by followPlayer, ended by clearScreen
    int mapTop = 1;           // the map row on the window's top row
    int mapLeft = 1;          // the map column on the window's first column
    int playerRow = 1, playerColumn = 1;
    bool tickerRunning = false;  // the last layout ran a message as a ticker
    std::string tickerText;      // the text it runs, and since when
    uint64_t tickerStart = 0;
    // in-memory form
    bool memory = false;
    uint64_t now = 0;
    uint64_t stopAt = 0;
    std::vector<ScriptedKey> script;  // kept sorted by time
    size_t nextScripted = 0;
};

ConsoleState con;

// Silent: tools that step the rules on a copied room (the level checker, the
// editor's background search) turn every write, colour change and pause into
// nothing, so the screen and the clock stay as they were.
bool silent = false;
double pauseScale = 1.0;

void blankRow(int row) {
    for (auto& cell : con.buffer[row - 1]) cell = {0x20, con.attribute};
}

void followCursor() {
    if (con.cursorY > con.viewTop + viewRows - 1) con.viewTop = con.cursorY - viewRows + 1;
    if (con.cursorY < con.viewTop) con.viewTop = con.cursorY;
}

void putByte(uint8_t b) {
    if (b == 7) {
    } else if (b == 8) {
        if (con.cursorX > 1) --con.cursorX;
    } else if (b == 10) {
        ++con.cursorY;
    } else if (b == 13) {
        con.cursorX = 1;
    } else {
        con.buffer[con.cursorY - 1][con.cursorX - 1] = {b, con.attribute};
        ++con.cursorX;
    }
    if (con.cursorX > screenWidth) {
        con.cursorX = 1;
        ++con.cursorY;
    }
    while (con.cursorY > bufferRows) {
        std::memmove(con.buffer[0], con.buffer[1], sizeof(ConsoleCell) * screenWidth * (bufferRows - 1));
        blankRow(bufferRows);
        --con.cursorY;
    }
}

void afterWrite() {
    followCursor();
    presentView();
}

void checkStopTime() {
    if (con.stopAt != 0 && con.now > con.stopAt) throw ScriptEnded{};
}

void pumpScript() {
    while (con.nextScripted < con.script.size() && con.script[con.nextScripted].atMs <= con.now)
        con.queue.push_back(con.script[con.nextScripted++].key);
}

// One update of the terminal for everything written since the last.
void updateTerminal() {
    if (!con.viewChanged) return;
    con.viewChanged = false;
    if (!con.memory && terminalIsOpen()) terminalShowView();
}

// In memory, a wait for a key costs 1 ms and then jumps to the next scripted key.
void memoryPause() {
    ++con.now;
    if (con.pendingKey == 0 && con.queue.empty()) {
        if (con.nextScripted >= con.script.size()) throw ScriptEnded{};
        con.now = std::max(con.now, con.script[con.nextScripted].atMs);
    }
    checkStopTime();
}

constexpr int statusRows = viewRows - 22;

// The map rows a window of `rows` rows has room for, under the status lines.
int mapArea(int rows) { return std::min(rows, viewRows) - statusRows; }
int windowWidth() { return std::min(con.windowColumns, screenWidth); }

void placeMap() {
    int area = mapArea(con.windowRows);
    if (con.playerRow < con.mapTop + playerMargin) con.mapTop = con.playerRow - playerMargin;
    if (con.playerRow > con.mapTop + area - 1 - playerMargin) con.mapTop = con.playerRow - area + 1 + playerMargin;
    con.mapTop = std::clamp(con.mapTop, 1, viewRows - statusRows - area + 1);
    int width = windowWidth();
    if (con.playerColumn < con.mapLeft + playerSideMargin) con.mapLeft = con.playerColumn - playerSideMargin;
    if (con.playerColumn > con.mapLeft + width - 1 - playerSideMargin)
        con.mapLeft = con.playerColumn - width + 1 + playerSideMargin;
    con.mapLeft = std::clamp(con.mapLeft, 1, screenWidth - width + 1);
}

bool isShade(uint8_t c) { return c == 0xB0 || c == 0xB1 || c == 0xB2 || c == 0xDB; }
bool isBlankCell(ConsoleCell cell) { return cell.character == 0 || cell.character == 0x20; }

// Letters, digits, glyphs: anything but blanks and the shading of walls and bricks.
bool isText(ConsoleCell cell) { return !isBlankCell(cell) && !isShade(cell.character); }

// The first and last columns of a view row's text (and of the cursor on it); 0 0: none.
std::pair<int, int> textSpan(int viewRow) {
    int first = 0, last = 0;
    for (int x = 1; x <= screenWidth; ++x)
        if (isText(bufferCell(x, con.viewTop + viewRow - 1)) ||
            (con.cursorY - con.viewTop + 1 == viewRow && con.cursorX == x)) {
            if (first == 0) first = x;
            last = x;
        }
    return {first, last};
}

// A narrow window: the first column that shows the most text rows whole.
int commonFirstColumn(const std::pair<int, int> (&span)[viewRows + 1], int width) {
    int best = 1, bestCount = -1;
    for (int f = 1; f + width - 1 <= screenWidth; ++f) {
        int count = 0;
        for (int row = 1; row <= viewRows; ++row)
            if (span[row].first != 0 && span[row].first >= f && span[row].second <= f + width - 1) ++count;
        if (count > bestCount) best = f, bestCount = count;
    }
    return best;
}

void textLayout(WindowLayout& layout) {
    int height = layout.rows, width = layout.columns;
    bool keep[viewRows + 1] = {};
    std::pair<int, int> span[viewRows + 1] = {};
    int cursor = con.cursorY - con.viewTop + 1;
    int first = viewRows, last = 1;
    for (int row = 1; row <= viewRows; ++row) {
        span[row] = textSpan(row);
        keep[row] = span[row].first != 0;
        if (keep[row]) first = std::min(first, row), last = std::max(last, row);
    }
    // How many window rows each view row takes, and the view columns each shows.
    constexpr int maxParts = 16;
    int common = commonFirstColumn(span, width);
    int lines[viewRows + 1], start[viewRows + 1][maxParts], end[viewRows + 1][maxParts];
    for (int row = 1; row <= viewRows; ++row) {
        auto [a, b] = span[row];
        lines[row] = 1, start[row][0] = common, end[row][0] = screenWidth;
        if (a == 0 || (a >= common && b <= common + width - 1)) continue;
        if (b - a + 1 <= width) {
            start[row][0] = std::min(a, screenWidth - width + 1);
            continue;
        }
        // Folded at the last break (a blank or shading) that keeps a word whole.
        auto breaks = [&](int x) { return x > screenWidth || !isText(bufferCell(x, con.viewTop + row - 1)); };
        lines[row] = 0;
        for (int from = a; from <= b && lines[row] < maxParts;) {
            int to = std::min(from + width - 1, b);
            if (to < b && !breaks(to + 1)) {
                int cut = to;
                while (cut > from && !breaks(cut)) --cut;
                if (cut > from) to = cut - 1;
            }
            start[row][lines[row]] = from, end[row][lines[row]++] = to;
            for (from = to + 1; from <= b && breaks(from);) ++from;
        }
    }
    auto emit = [&](const bool(&shown)[viewRows + 1]) {
        int at = 0;
        for (int row = 1; row <= viewRows; ++row)
            for (int part = 0; shown[row] && part < lines[row] && at < height; ++part, ++at) {
                layout.viewRow[at] = row;
                layout.firstColumn[at] = start[row][part];
                layout.lastColumn[at] = end[row][part];
            }
        layout.rows = at;
    };
    int needed = 0;
    for (int row = first; row <= last; ++row) needed += lines[row];
    if (needed <= height) {
        // Rows above the text, then below it, fill the rest.
        bool shown[viewRows + 1] = {};
        for (int row = first; row <= last; ++row) shown[row] = true;
        for (int row = first - 1; row >= 1 && needed < height; --row) shown[row] = true, needed += lines[row];
        for (int row = last + 1; row <= viewRows && needed < height; ++row) shown[row] = true, needed += lines[row];
        return emit(shown);
    }
    // Too far apart: the text rows stay, and of each run of other rows
    // between them as many as there is room for, the longest runs giving way first.
    struct Run {
        int start, length, kept;
    };
    Run runs[viewRows];
    int runCount = 0, surplus = -height;
    for (int row = first; row <= last; ++row) {
        surplus += lines[row];
        if (keep[row]) continue;
        if (row > first && !keep[row - 1] && runCount > 0)
            ++runs[runCount - 1].length, ++runs[runCount - 1].kept;
        else
            runs[runCount++] = {row, 1, 1};
    }
    while (surplus > 0) {
        Run* longest = nullptr;
        for (int r = 0; r < runCount; ++r)
            if (runs[r].kept > 0 && (longest == nullptr || runs[r].kept > longest->kept)) longest = &runs[r];
        if (longest == nullptr) break;
        --longest->kept;
        --surplus;
    }
    for (int r = 0; r < runCount; ++r)
        for (int row = runs[r].start; row < runs[r].start + runs[r].kept; ++row) keep[row] = true;
    // More text rows than window rows: those farthest from the cursor go.
    while (surplus > 0) {
        int farthest = 0;
        for (int row = first; row <= last; ++row)
            if (keep[row] && (farthest == 0 || std::abs(row - cursor) > std::abs(farthest - cursor))) farthest = row;
        if (farthest == 0) break;
        keep[farthest] = false;
        surplus -= lines[farthest];
    }
    emit(keep);
}

// --- the status lines in a narrow window ---

// The ticker's clock: the virtual one in memory, the real one on a terminal.
uint64_t tickerNow() {
    if (con.memory) return con.now;
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A cell every 50 ms after a rest of 400 ms: even a message of the longest
// kind (145 cells) in a window of 60 columns is run through within the three
// seconds it stays.
constexpr int tickerStepMs = 50, tickerRestMs = 400;

// A cell that shows something: a glyph, or a blank on a background.
bool isInk(ConsoleCell cell) { return !isBlankCell(cell) || (cell.attribute & 0x70) != 0; }

// The status lines as items: runs of ink in reading order (one blank inside
// a run keeps it whole; a run that reaches the end of a row goes on at the
// start of the next, as a long message does), laid out in `width` columns.
void composeStatus(WindowLayout& layout) {
    constexpr int cells = statusRows * screenWidth;
    auto at = [](int i) { return viewCell(i % screenWidth + 1, viewRows - statusRows + 1 + i / screenWidth); };
    struct Item {
        int from, length;
    };
    Item items[cells];
    int count = 0;
    for (int i = 0; i < cells;) {
        if (!isInk(at(i))) {
            ++i;
            continue;
        }
        int end = i;
        auto sameRow = [](int a, int b) { return a / screenWidth == b / screenWidth; };
        while (end + 1 < cells &&
               (isInk(at(end + 1)) || (end + 2 < cells && sameRow(end, end + 2) && isInk(at(end + 2)))))
            ++end;
        items[count++] = {i, end - i + 1};
        i = end + 1;
    }
    int width = layout.columns, room = statusRows * width;
    ConsoleCell blank{0x20, 0x07};
    for (auto& row : layout.status) std::fill(std::begin(row), std::end(row), blank);
    bool taken[statusRows * screenWidth] = {};
    int longest = -1;
    for (int k = 0; k < count; ++k)
        if (longest < 0 || items[k].length > items[longest].length) longest = k;
    // The short items first, each on its own row, at its own column where it fits.
    int end = 0;
    for (int k = 0; k < count; ++k) {
        if (k == longest) continue;
        const Item& item = items[k];
        int row = item.from / screenWidth, column = item.from % screenWidth;
        int place = std::max(row * width + std::min(column, std::max(0, width - item.length)), end);
        for (int c = 0; c < item.length && place + c < room; ++c) {
            layout.status[(place + c) / width][(place + c) % width] = at(item.from + c);
            taken[place + c] = true;
        }
        end = place + item.length + 1;
    }
    con.tickerRunning = false;
    if (longest < 0) return;
    // The longest flows on through the cells left free after its own start.
    const Item& flow = items[longest];
    int begin = flow.from / screenWidth * width + std::min(flow.from % screenWidth, width - 1);
    int free[statusRows * screenWidth], freeCount = 0;
    // A blank is left beside every short item.
    auto besideItem = [&](int i) {
        return (i % width > 0 && taken[i - 1]) || (i % width < width - 1 && i + 1 < room && taken[i + 1]);
    };
    for (int i = begin; i < room; ++i)
        if (!taken[i] && !besideItem(i)) free[freeCount++] = i;
    // Whole words where they fit: a word that would break at the end of a
    // stretch of free cells starts the next one instead.
    int slot[statusRows * screenWidth], placed = 0, spot = 0;
    for (int c = 0; c < flow.length && placed >= 0; ++c) {
        bool blank = isBlankCell(at(flow.from + c));
        bool stretchStart = spot == 0 || free[spot] != free[spot - 1] + 1 || free[spot] % width == 0;
        if (blank && stretchStart && c > 0) {
            slot[c] = -1;  // a blank where the line breaks
            continue;
        }
        if (!blank && (c == 0 || isBlankCell(at(flow.from + c - 1))) && !stretchStart) {
            int word = 0, room = 0;
            while (c + word < flow.length && !isBlankCell(at(flow.from + c + word))) ++word;
            while (spot + room < freeCount &&
                   (room == 0 || (free[spot + room] == free[spot + room - 1] + 1 && free[spot + room] % width != 0)))
                ++room;
            if (word > room) {
                while (spot < freeCount && !(free[spot] != free[spot - 1] + 1 || free[spot] % width == 0)) ++spot;
            }
        }
        if (spot >= freeCount)
            placed = -1;
        else
            slot[c] = free[spot++], ++placed;
    }
    if (placed >= 0) {
        for (int c = 0; c < flow.length; ++c)
            if (slot[c] >= 0) layout.status[slot[c] / width][slot[c] % width] = at(flow.from + c);
        return;
    }
    int shift = 0;
    if (flow.length > freeCount && freeCount > 0) {
        // Too long even so: it runs as a ticker, resting at both ends.
        con.tickerRunning = true;
        std::string text;
        for (int c = 0; c < flow.length; ++c) text += static_cast<char>(at(flow.from + c).character);
        if (text != con.tickerText) con.tickerText = text, con.tickerStart = tickerNow();
        int over = flow.length - freeCount;
        int cycle = 2 * tickerRestMs + over * tickerStepMs;
        int t = static_cast<int>((tickerNow() - con.tickerStart) % static_cast<uint64_t>(cycle));
        shift = std::clamp((t - tickerRestMs) / tickerStepMs, 0, over);
    }
    for (int c = 0; c < freeCount && c + shift < flow.length; ++c)
        layout.status[free[c] / width][free[c] % width] = at(flow.from + shift + c);
}

void pumpKeys() {
    if (con.memory)
        pumpScript();
    else if (terminalIsOpen())
        terminalPumpKeys();
}

}  // namespace

void clearScreen() {
    if (silent) return;
    for (int row = 1; row <= bufferRows; ++row) blankRow(row);
    con.cursorX = con.cursorY = 1;
    con.viewTop = 1;
    con.roomLayout = false;
    con.mapTop = con.mapLeft = 1;
    presentView();
}

void clearToLineEnd() {
    if (silent) return;
    for (int x = con.cursorX; x <= screenWidth; ++x) con.buffer[con.cursorY - 1][x - 1] = {0x20, con.attribute};
    presentView();
}

void setTextColor(uint8_t colour) {
    if (silent) return;
    con.attribute = (con.attribute & 0x70) | (colour & 0x8F);
}

void setTextBackground(uint8_t colour) {
    if (silent) return;
    con.attribute = (con.attribute & 0x8F) | ((colour * 16) & 0x70);
}

void moveCursor(int column, int row) {
    if (silent) return;
    if (column < 1 || column > screenWidth || row < 1 || row > bufferRows) return;
    int oldTop = con.viewTop;
    con.cursorX = column;
    con.cursorY = row;
    followCursor();
    if (con.viewTop != oldTop) presentView();
}

void writeChar(uint8_t byte) {
    if (silent) return;
    putByte(byte);
    afterWrite();
}

void writeText(std::string_view text) {
    if (silent) return;
    for (char c : text.substr(0, 255)) putByte(static_cast<uint8_t>(c));
    afterWrite();
}

void writeNumber(long long number) { writeText(std::to_string(number)); }

void writeLineEnd() {
    if (silent) return;
    putByte(13);
    putByte(10);
    afterWrite();
}

void delayMs(int milliseconds) {
    if (silent) return;
    if (pauseScale != 1.0) milliseconds = static_cast<int>(milliseconds * pauseScale + 0.5);
    if (milliseconds <= 0) return;
    if (pauseWatcher != nullptr) pauseWatcher(milliseconds);
    if (con.memory) {
        con.now += static_cast<uint64_t>(milliseconds);
        checkStopTime();
    } else {
        if (con.tickerRunning) presentView();  // the ticker moves on with the time
        updateTerminal();
        terminalSleep(milliseconds);
    }
}

void waitForKey() {
    if (con.memory) {
        while (!keyPressed()) memoryPause();
        return;
    }
    for (;;) {
        if (keyPressed() && !terminalTooSmall()) return;
        if (terminalIsOpen())
            terminalWait();
        else
            terminalSleep(1);
    }
}

bool keyPressed() {
    updateTerminal();
    if (con.pendingKey != 0) return true;
    pumpKeys();
    while (!con.queue.empty()) {
        KeyEvent key = con.queue.front();
        con.queue.pop_front();
        if (key.code == 0) continue;  // nothing to deliver
        con.pendingKey = key.code;
        con.extendedPending = key.extended;
        return true;
    }
    return false;
}

uint8_t readKey() {
    if (con.memory) {
        do memoryPause();
        while (!keyPressed());
    } else {
        updateTerminal();
        terminalSleep(1);  // even a key that is already waiting comes after 1 ms
        waitForKey();
    }
    if (con.extendedPending) {
        con.extendedPending = false;
        return 0;
    }
    uint8_t key = con.pendingKey;
    con.pendingKey = 0;
    return key;
}

std::string readLine() {
    constexpr size_t maxTyped = 254;
    std::string line;
    size_t pos = 0;
    auto eraseAll = [&] {
        while (pos < line.size()) writeChar(static_cast<uint8_t>(line[pos++]));
        while (!line.empty()) {
            line.pop_back();
            writeText("\x08 \x08");
        }
        pos = 0;
    };
    for (;;) {
        uint8_t pressed = readKey();
        if (pressed == key::extended) {
            uint8_t code = readKey();
            if (code == scan::left && pos > 0) {
                --pos;
                writeChar(8);
            } else if (code == scan::home) {
                for (; pos > 0; --pos) writeChar(8);
            } else if (code == scan::right && pos < line.size()) {
                writeChar(static_cast<uint8_t>(line[pos++]));
            } else if (code == scan::end) {
                while (pos < line.size()) writeChar(static_cast<uint8_t>(line[pos++]));
            }
        } else if (pressed == key::enter) {
            writeLineEnd();
            return line;
        } else if (pressed == key::backspace || pressed == key::ctrl('S')) {
            if (pos == line.size() && pos > 0) {
                line.pop_back();
                --pos;
                writeText("\x08 \x08");
            }
        } else if (pressed == key::escape || pressed == key::ctrl('Y')) {
            eraseAll();
        } else if (pressed == key::ctrl('Z')) {
        } else if (pos < line.size()) {
            line[pos++] = static_cast<char>(pressed);
            writeChar(pressed);
        } else if (line.size() < maxTyped) {
            line.push_back(static_cast<char>(pressed));
            ++pos;
            writeChar(pressed);
        }
    }
}

void hideCursor() {
    // The terminal form never shows a cursor; nothing to do in memory.
}

ConsoleCell bufferCell(int column, int row) {
    if (column < 1 || column > screenWidth || row < 1 || row > bufferRows) return {0, 0};
    return con.buffer[row - 1][column - 1];
}

ConsoleCell viewCell(int column, int screenRow) { return bufferCell(column, con.viewTop + screenRow - 1); }

std::string bufferRowText(int row) {
    std::string text;
    for (int x = 1; x <= screenWidth; ++x) text.push_back(static_cast<char>(bufferCell(x, row).character));
    return text;
}

void followPlayer(int column, int row) {
    if (silent) return;
    int oldTop = con.mapTop, oldLeft = con.mapLeft;
    con.roomLayout = true;
    con.playerRow = std::clamp(row, 1, viewRows - statusRows);
    con.playerColumn = std::clamp(column, 1, screenWidth);
    placeMap();
    if (con.mapTop != oldTop || con.mapLeft != oldLeft) presentView();
}

void setWindowSize(int columns, int rows) {
    con.windowRows = std::max(1, rows);
    con.windowColumns = std::max(1, columns);
    if (con.roomLayout) placeMap();
    presentView();
}

WindowLayout windowLayout() {
    WindowLayout layout;
    layout.rows = std::min(con.windowRows, viewRows);
    layout.columns = windowWidth();
    con.tickerRunning = false;
    for (int i = 0; i < viewRows; ++i) layout.viewRow[i] = i + 1, layout.firstColumn[i] = 1;
    std::fill(std::begin(layout.lastColumn), std::end(layout.lastColumn), screenWidth);
    if (layout.rows == viewRows && layout.columns == screenWidth) return layout;
    if (con.roomLayout && layout.rows > statusRows) {
        int area = mapArea(con.windowRows);
        for (int i = 0; i < area; ++i) layout.viewRow[i] = con.mapTop + i, layout.firstColumn[i] = con.mapLeft;
        for (int i = 0; i < statusRows; ++i) layout.viewRow[area + i] = viewRows - statusRows + 1 + i;
        if (layout.columns < screenWidth) {
            layout.statusComposed = true;
            composeStatus(layout);
        }
    } else {
        textLayout(layout);
    }
    return layout;
}

ConsoleCell windowCell(const WindowLayout& layout, int column, int row) {
    if (row < 1 || row > layout.rows || column < 1 || column > layout.columns) return {0x20, 0x07};
    if (layout.statusComposed && row > layout.rows - statusRows)
        return layout.status[row - (layout.rows - statusRows) - 1][column - 1];
    int viewColumn = layout.firstColumn[row - 1] + column - 1;
    if (viewColumn > layout.lastColumn[row - 1]) return {0x20, 0x07};
    ConsoleCell cell = viewCell(viewColumn, layout.viewRow[row - 1]);
    return cell.character == 0 && cell.attribute == 0 ? ConsoleCell{0x20, 0x07} : cell;
}

int viewTop() { return con.viewTop; }
int cursorColumn() { return con.cursorX; }
int cursorRow() { return con.cursorY; }
uint8_t textAttribute() { return con.attribute; }

void startMemoryConsole() {
    con.memory = true;
    pauseScale = 1.0;
    con.attribute = 0x07;
    for (int row = 1; row <= bufferRows; ++row) blankRow(row);
    con.cursorX = con.cursorY = con.viewTop = 1;
    con.windowRows = viewRows;
    con.windowColumns = screenWidth;
    con.roomLayout = false;
    con.mapTop = con.mapLeft = con.playerRow = con.playerColumn = 1;
    con.pendingKey = 0;
    con.extendedPending = false;
    con.queue.clear();
    con.now = 0;
    con.stopAt = 0;
    con.script.clear();
    con.nextScripted = 0;
}

void scriptKey(uint64_t atMs, KeyEvent key) {
    auto later = std::upper_bound(con.script.begin() + static_cast<long>(con.nextScripted), con.script.end(), atMs,
                                  [](uint64_t t, const ScriptedKey& k) { return t < k.atMs; });
    con.script.insert(later, {atMs, key});
}

void scriptText(uint64_t atMs, std::string_view bytes) {
    for (char c : bytes) scriptKey(atMs, {static_cast<uint8_t>(c), false});
}

void setStopTime(uint64_t atMs) { con.stopAt = atMs; }
uint64_t virtualNow() { return con.now; }
bool usingMemoryConsole() { return con.memory; }

void setConsoleSilent(bool on) { silent = on; }

namespace {

// The picture's fields, from the console to a picture or back.
template <typename From, typename To>
void copyPicture(const From& from, To& to) {
    std::memcpy(to.buffer, from.buffer, sizeof to.buffer);
    to.cursorX = from.cursorX;
    to.cursorY = from.cursorY;
    to.viewTop = from.viewTop;
    to.attribute = from.attribute;
    to.roomLayout = from.roomLayout;
    to.mapTop = from.mapTop;
    to.mapLeft = from.mapLeft;
    to.playerRow = from.playerRow;
    to.playerColumn = from.playerColumn;
}

}  // namespace

void savePicture(ConsolePicture& picture) { copyPicture(con, picture); }

void restorePicture(const ConsolePicture& picture) {
    copyPicture(picture, con);
    if (con.roomLayout) placeMap();
    presentView();
}

void setPauseScale(double factor) { pauseScale = factor; }

void (*pauseWatcher)(int milliseconds) = nullptr;
bool consoleSilent() { return silent; }

void queueKey(KeyEvent key) { con.queue.push_back(key); }
size_t queuedKeyCount() { return con.queue.size(); }

void presentView() {
    if (!con.memory) con.viewChanged = true;
}
