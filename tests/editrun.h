// The room editor on the in-memory console: the fresh room it starts with,
// level files from rows, control keys as text to type.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "edit/edit.h"
#include "harness.h"

inline const std::string block = "\x02", draw = "\x04", fill = "\x06", goodsKey = "\x07", line = "\x0C",
                         copyKey = "\x0B", quit = "\x11", box = "\x12", save = "\x13", paste = "\x16", cut = "\x17",
                         redo = "\x19", undo = "\x1A", esc = "\x1B", backspace = "\x08";
// Arrows and F keys: 0xE0 and the scan code, as type() sends them.
inline std::string extended(uint8_t scanCode) { return std::string("\xE0") + char(scanCode); }
inline const std::string upKey = extended(scan::up), downKey = extended(scan::down), leftKey = extended(scan::left),
                         rightKey = extended(scan::right), homeKey = extended(scan::home), endKey = extended(scan::end),
                         delKey = extended(scan::del), f4 = extended(62), f5 = extended(63), f6 = extended(64),
                         f7 = extended(65), f8 = extended(66), f12 = extended(134);
inline std::string times(int count, const std::string& keys) { return count > 0 ? keys + times(count - 1, keys) : ""; }
inline std::string moveTo(int x, int y) { return times(x - 2, rightKey) + times(y - 2, downKey); }  // from (2,2)

// Text put over a row (0-based) from a column (0-based).
struct Put {
    size_t row, column;
    std::string text;
};

// A wall border, the start at (3, 21), the exit at (78, 21); then the puts.
inline std::vector<std::string> freshRows(const std::vector<Put>& puts = {}) {
    std::vector<std::string> rows(mapHeight, "1" + std::string(78, ' ') + "1");
    rows.front() = rows.back() = std::string(80, '1');
    rows[20][2] = 'i';
    rows[20][77] = '9';
    for (const Put& put : puts) rows[put.row].replace(put.column, put.text.size(), put.text);
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

// The name of the rescue copy of room (room.PID.rescue) in folder, "" when none.
inline std::string rescueName(const std::filesystem::path& folder, const std::string& room) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() > room.size() + 8 && name.compare(0, room.size() + 1, room + ".") == 0 &&
            name.ends_with(".rescue"))
            return name;
    }
    return "";
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
    // The same on a fresh console with keys typed.
    int editAgain(const std::string& path, const std::string& keys = "") {
        startMemoryConsole();
        type(keys);
        return edit(path);
    }
    void type(const std::string& keys, uint64_t atMs = 0) {
        for (size_t i = 0; i < keys.size(); ++i)
            keys[i] == '\xE0' ? arrow(atMs, uint8_t(keys[++i])) : key(atMs, uint8_t(keys[i]));
    }
    std::string bottomRows() { return screenRow(23) + "\n" + screenRow(24) + "\n" + screenRow(25); }
    uint8_t background(int x, int y) { return bufferCell(x, y).attribute >> 4; }
};
