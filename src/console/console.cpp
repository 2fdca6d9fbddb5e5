#include "console/console.h"

#include <algorithm>
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
    // a window lower than the view
    int windowRows = viewRows;
    bool roomLayout = false;  // set by followPlayer, ended by clearScreen
    int mapTop = 1;           // the map row on the window's top row
    int playerRow = 1;
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

void placeMap() {
    int area = mapArea(con.windowRows);
    if (con.playerRow < con.mapTop + playerMargin) con.mapTop = con.playerRow - playerMargin;
    if (con.playerRow > con.mapTop + area - 1 - playerMargin) con.mapTop = con.playerRow - area + 1 + playerMargin;
    con.mapTop = std::clamp(con.mapTop, 1, viewRows - statusRows - area + 1);
}

// Letters, digits, glyphs: anything but blanks and the shading of walls and bricks.
bool holdsText(int viewRow) {
    for (int x = 1; x <= screenWidth; ++x) {
        uint8_t c = bufferCell(x, con.viewTop + viewRow - 1).character;
        if (c != 0 && c != 0x20 && c != 0xB0 && c != 0xB1 && c != 0xB2 && c != 0xDB) return true;
    }
    return false;
}

void textLayout(WindowLayout& layout) {
    int height = layout.rows;
    bool keep[viewRows + 1] = {};
    int cursor = con.cursorY - con.viewTop + 1;
    int first = viewRows, last = 1;
    for (int row = 1; row <= viewRows; ++row) {
        keep[row] = row == cursor || holdsText(row);
        if (keep[row]) first = std::min(first, row), last = std::max(last, row);
    }
    if (last - first + 1 <= height) {
        int top = std::max(1, last - height + 1);
        for (int i = 0; i < height; ++i) layout.viewRow[i] = top + i;
        return;
    }
    // Too far apart: the text rows stay, and of each run of other rows
    // between them as many as there is room for, the longest runs giving way first.
    struct Run {
        int start, length, kept;
    };
    Run runs[viewRows];
    int runCount = 0, textRows = 0;
    for (int row = first; row <= last; ++row) {
        if (keep[row]) {
            ++textRows;
        } else if (row > first && !keep[row - 1] && runCount > 0) {
            ++runs[runCount - 1].length, ++runs[runCount - 1].kept;
        } else {
            runs[runCount++] = {row, 1, 1};
        }
    }
    int surplus = textRows;
    for (int r = 0; r < runCount; ++r) surplus += runs[r].length;
    surplus -= height;
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
    for (; surplus > 0; --surplus) {
        int farthest = 0;
        for (int row = first; row <= last; ++row)
            if (keep[row] && (farthest == 0 || std::abs(row - cursor) > std::abs(farthest - cursor))) farthest = row;
        if (farthest == 0) break;
        keep[farthest] = false;
    }
    int shown = 0;
    for (int row = first; row <= last && shown < height; ++row)
        if (keep[row]) layout.viewRow[shown++] = row;
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
    con.mapTop = 1;
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
    if (milliseconds <= 0) return;
    if (con.memory) {
        con.now += static_cast<uint64_t>(milliseconds);
        checkStopTime();
    } else {
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

void followPlayer(int row) {
    if (silent) return;
    int oldTop = con.mapTop;
    con.roomLayout = true;
    con.playerRow = std::clamp(row, 1, viewRows - statusRows);
    placeMap();
    if (con.mapTop != oldTop) presentView();
}

void setWindowRows(int rows) {
    con.windowRows = std::max(1, rows);
    if (con.roomLayout) placeMap();
    presentView();
}

WindowLayout windowLayout() {
    WindowLayout layout;
    layout.rows = std::min(con.windowRows, viewRows);
    if (layout.rows == viewRows) {
        for (int i = 0; i < viewRows; ++i) layout.viewRow[i] = i + 1;
    } else if (con.roomLayout && layout.rows > statusRows) {
        int area = mapArea(con.windowRows);
        for (int i = 0; i < area; ++i) layout.viewRow[i] = con.mapTop + i;
        for (int i = 0; i < statusRows; ++i) layout.viewRow[area + i] = viewRows - statusRows + 1 + i;
    } else {
        textLayout(layout);
    }
    return layout;
}

int viewTop() { return con.viewTop; }
int cursorColumn() { return con.cursorX; }
int cursorRow() { return con.cursorY; }
uint8_t textAttribute() { return con.attribute; }

void startMemoryConsole() {
    con.memory = true;
    con.attribute = 0x07;
    for (int row = 1; row <= bufferRows; ++row) blankRow(row);
    con.cursorX = con.cursorY = con.viewTop = 1;
    con.windowRows = viewRows;
    con.roomLayout = false;
    con.mapTop = con.playerRow = 1;
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
bool consoleSilent() { return silent; }

void queueKey(KeyEvent key) { con.queue.push_back(key); }
size_t queuedKeyCount() { return con.queue.size(); }

void presentView() {
    if (!con.memory) con.viewChanged = true;
}
