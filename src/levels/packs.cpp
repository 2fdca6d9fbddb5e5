// Custom level packs: levels/custom levels/<pack>/<pack>.txt lists the rooms,
// one file name per line, until a line that starts with '*' and names the
// author. The index is read afresh for every room.
#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/files.h"

PackIndex parsePackIndex(std::string_view text) {
    PackIndex index;
    std::vector<std::string_view> lines = splitLines(text);
    size_t i = 0;
    for (; i < lines.size() && !(!lines[i].empty() && lines[i][0] == '*'); ++i) {
        index.longEntry |= lines[i].size() > packEntryLimit;
        index.entries.push_back(std::string(lines[i].substr(0, packEntryLimit)));
    }
    if (i == lines.size()) return index;
    index.hasEndLine = true;
    index.endLine = std::string(lines[i]);
    for (++i; i < lines.size(); ++i) index.afterEnd.push_back(std::string(lines[i]));
    return index;
}

std::string packIndexText(const PackIndex& index) {
    std::string text;
    for (const std::string& entry : index.entries) text += entry + "\r\n";
    if (index.hasEndLine) text += index.endLine + "\r\n";
    for (const std::string& line : index.afterEnd) text += line + "\r\n";
    return text;
}

void showPackEnd(const std::string& endLine) {
    moveCursor(37, 5);
    writeText("THE  END");  // in whatever colour the last room left in effect
    setTextColor(15);
    moveCursor(32, 8);
    writeText("Level Pack made by");

    // Centred on the line; a text too long to centre starts at the left
    // edge and is cut at the right one, so it stays on its row.
    int column = std::max(1, 41 - static_cast<int>(endLine.size()) / 2);
    std::string_view author = std::string_view(endLine).substr(1, static_cast<size_t>(screenWidth - column + 1));
    moveCursor(column, 9);
    for (char c : author) writeChar(static_cast<uint8_t>(c));
    readLine();
}

std::string packFolderPath() { return run.baseDirectory + "levels/custom levels/" + run.packName; }

std::string packIndexPath() { return packFolderPath() + "/" + run.packName + ".txt"; }

RoomLoad loadPackLevel() {
    PackIndex index = parsePackIndex(readTextFile(packIndexPath(), levelFileLimit));
    size_t number = static_cast<size_t>(std::max<int>(1, game.levelNumber));

    clearScreen();
    // An index that runs out of lines ends the pack as an end line without an author would.
    if (number > index.entries.size())
        return {LoadOutcome::PackEnd, number == index.entries.size() + 1 && index.hasEndLine ? index.endLine : "*"};
    const std::string& entry = index.entries[number - 1];
    // A room that lies outside the pack is not the pack's to give: it counts
    // as missing, and nothing of that file is read.
    std::string name = "custom levels/" + run.packName + "/" + entry;
    if (!packEntryInsideFolder(packFolderPath(), entry))
        return {LoadOutcome::Missing, run.baseDirectory + "levels/" + name + ".lvl"};
    return loadLevel(name);
}

namespace {

bool under(const std::string& inner, const std::string& outer, bool mayBeEqual) {
    if (inner == outer) return mayBeEqual;
    if (outer == "/") return true;
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/';
}

// The parts from `first` on, taken as names that do not exist: only ".." can
// lead them out of where they start.
bool climbsOut(const std::vector<std::string>& parts, size_t first) {
    int depth = 0;
    for (size_t i = first; i < parts.size(); ++i) {
        if (parts[i] == "..")
            --depth;
        else if (!parts[i].empty() && parts[i] != ".")
            ++depth;
        if (depth < 0) return true;
    }
    return false;
}

}  // namespace

bool packEntryInsideFolder(const std::string& packFolder, std::string_view entry) {
    return packFileInsideFolder(packFolder, std::string(entry) + ".lvl");
}

bool packIndexInsideFolder(const std::string& packFolder, const std::string& packName) {
    return packFileInsideFolder(packFolder, packName + ".txt");
}

bool packFileInsideFolder(const std::string& packFolder, std::string_view fileName) {
    if (fileName.find('\0') != std::string_view::npos) return false;  // the system call would see a shorter name
    std::string name(fileName);
    std::replace(name.begin(), name.end(), '\\', '/');
    if (!name.empty() && name[0] == '/') return false;
    std::vector<std::string> parts;
    for (size_t start = 0; start <= name.size();) {
        size_t end = std::min(name.find('/', start), name.size());
        parts.push_back(name.substr(start, end - start));
        start = end + 1;
    }

    std::string folder = hostPath(packFolder);
    std::string root = resolvedPath(folder);
    if (root.empty()) return !climbsOut(parts, 0);  // a folder not made yet holds no links

    // From the file itself back towards the folder: the longest part of the
    // path that exists decides, links followed; the rest does not exist yet.
    for (size_t count = parts.size() + 1; count-- > 0;) {
        std::string path = folder;
        for (size_t i = 0; i < count; ++i) path += "/" + parts[i];
        std::string real = resolvedPath(path);
        if (!real.empty()) return under(real, root, count < parts.size()) && !climbsOut(parts, count);
        // There, but it cannot be followed (a broken or looping link): where it
        // leads cannot be known, so it is not trusted.
        struct stat info;
        if (count > 0 && lstat(path.c_str(), &info) == 0) return false;
    }
    return false;
}
