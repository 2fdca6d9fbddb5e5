// The room editor on the in-memory console: the fresh room it starts with,
// level files from rows, control keys as text to type.
#pragma once

#include <string>
#include <vector>

#include "edit/edit.h"
#include "harness.h"

inline const std::string block = "\x02", draw = "\x04", fill = "\x06", goodsKey = "\x07", line = "\x0C",
                         copyKey = "\x0B", patrols = "\x10", quit = "\x11", box = "\x12", save = "\x13", paste = "\x16",
                         cut = "\x17", redo = "\x19", undo = "\x1A", esc = "\x1B", backspace = "\x08";
constexpr uint8_t f4 = 62, f5 = 63, f6 = 64, f7 = 65, f8 = 66, f12 = 134;

// A wall border, the start at (3, 21), the exit at (78, 21).
inline std::vector<std::string> freshRows() {
    std::vector<std::string> rows(mapHeight, "1" + std::string(78, ' ') + "1");
    rows.front() = rows.back() = std::string(80, '1');
    rows[20][2] = 'i';
    rows[20][77] = '9';
    return rows;
}

inline std::string fileOf(const std::vector<std::string>& rows, const std::string& goods = "0",
                          const std::vector<std::string>& messages = {}) {
    std::string text;
    for (const std::string& row : rows) text += row + "\r\n";
    text += goods + "\r\n";
    for (const std::string& message : messages) text += message + "\r\n";
    return text;
}

// Passes when text holds words; shows the text when not.
inline ::testing::AssertionResult has(const std::string& text, const std::string& words) {
    if (text.find(words) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << words << "\" not in:\n" << text;
}

class EditorRun : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
    }
    // The exit status, or -1 when the script ran out first.
    int edit(const std::string& path) {
        try {
            return runEditor(path);
        } catch (const ScriptEnded&) {
            return -1;
        }
    }
    void press(uint8_t scanCode, int times = 1, uint64_t atMs = 0) {
        for (int i = 0; i < times; ++i) arrow(atMs, scanCode);
    }
    void moveTo(int x, int y) {  // from the first cursor place (2,2)
        press(scan::right, x - 2);
        press(scan::down, y - 2);
    }
    std::string bottomRows() { return screenRow(23) + "\n" + screenRow(24) + "\n" + screenRow(25); }
    uint8_t background(int x, int y) { return bufferCell(x, y).attribute >> 4; }
};
