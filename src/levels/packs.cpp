// Custom level packs: levels/custom levels/<pack>/<pack>.txt lists the rooms,
// one file name per line, until a line that starts with '*' and names the
// author. The index is read afresh for every room.
#include <algorithm>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "shell/files.h"
#include "shell/flow.h"

namespace {

constexpr size_t maxEntryLength = 255;

[[noreturn]] void showPackEnd(const std::string& entry) {
    moveCursor(37, 5);
    writeText("THE  END");  // in whatever colour the last room left in effect
    setTextColor(15);
    moveCursor(32, 8);
    writeText("Level Pack made by");

    // Centred on the line; a text too long to centre starts at the left
    // edge and is cut at the right one, so it stays on its row.
    int column = std::max(1, 41 - static_cast<int>(entry.size()) / 2);
    std::string_view author = std::string_view(entry).substr(1, static_cast<size_t>(screenWidth - column + 1));
    moveCursor(column, 9);
    for (char c : author) writeChar(static_cast<uint8_t>(c));

    readLine();
    returnToMainMenu();
}

}  // namespace

std::string packIndexPath() {
    return run.baseDirectory + "levels/custom levels/" + run.packName + "/" + run.packName + ".txt";
}

void loadPackLevel() {
    std::string text = readTextFile(packIndexPath());
    std::vector<std::string_view> lines = splitLines(text);
    size_t number = static_cast<size_t>(std::max<int>(1, game.levelNumber));

    // An index that runs out of lines ends the pack as an end line without an author would.
    std::string entry = number <= lines.size() ? std::string(lines[number - 1].substr(0, maxEntryLength)) : "*";

    clearScreen();
    if (!entry.empty() && entry[0] == '*') showPackEnd(entry);
    loadLevel("custom levels/" + run.packName + "/" + entry);
}

bool packEntryLeavesFolder(std::string_view entry) {
    if (entry.find('\0') != std::string_view::npos || (!entry.empty() && entry[0] == '/')) return true;
    for (size_t start = 0; start <= entry.size();) {
        size_t end = std::min(entry.find('/', start), entry.size());
        if (entry.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}
