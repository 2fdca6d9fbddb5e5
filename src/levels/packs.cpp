// Custom level packs: levels/custom levels/<pack>/<pack>.txt lists the rooms,
// one file name per line, until a line that starts with '*' and names the
// author. The index is read afresh for every room.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/files.h"
#include "system/folders.h"

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

Folder openPlayedPack() {
    Folder pack = openFolderIn(gameFolder(run.baseDirectory), hostPath("levels/custom levels/" + run.packName), false);
    pack.reach = Reach::Beneath;
    return pack;
}

size_t packRoomCount() {
    try {
        Folder pack = openPlayedPack();
        OpenFile indexFile = openPackFile(pack, run.packName + ".txt");
        if (indexFile.fd < 0) return 0;
        return parsePackIndex(readOpenFile(indexFile, hostPath(packIndexPath()), levelFileLimit)).entries.size();
    } catch (const FileFailure&) {
        return 0;  // the loader of the next room says what is wrong
    }
}

RoomLoad loadPackLevel() {
    Folder pack = openPlayedPack();
    if (!isOpen(pack)) throw FileFailure{"open", hostPath(packFolderPath()), std::strerror(errno)};
    OpenFile indexFile = openPackFile(pack, run.packName + ".txt");
    // An index that leads out of the pack now (swapped for a link since
    // the pack was chosen) is no pack's: nothing of it is read.
    if (indexFile.look.kind == FileKind::Outside) return {LoadOutcome::Missing, hostPath(packIndexPath())};
    PackIndex index = parsePackIndex(readOpenFile(indexFile, hostPath(packIndexPath()), levelFileLimit));
    size_t number = static_cast<size_t>(std::max<int>(1, game.levelNumber));

    clearScreen();
    // An index that runs out of lines ends the pack as an end line without an author would.
    if (number > index.entries.size())
        return {LoadOutcome::PackEnd, number == index.entries.size() + 1 && index.hasEndLine ? index.endLine : "*"};
    const std::string& entry = index.entries[number - 1];
    // A room that lies outside the pack is not the pack's to give: it counts
    // as missing, and nothing of that file is read.
    std::string shown = run.baseDirectory + "levels/custom levels/" + run.packName + "/" + entry + ".lvl";
    OpenFile roomFile = openPackFile(pack, entry + ".lvl");
    if (noFileThere(roomFile.look.kind)) return {LoadOutcome::Missing, shown};
    std::string text = readOpenFile(roomFile, hostPath(shown), levelFileLimit);
    readLevelText(text);
    drawRoom();
    loadedRoom = {RoomSourceKind::Pack, entry, std::move(text)};
    return {game.levelNumber == backdropRoom ? LoadOutcome::Backdrop : LoadOutcome::Play, ""};
}

namespace {

// The name taken as names that do not exist: only ".." can lead it out of
// where it starts.
bool climbsOut(std::string_view name) {
    int depth = 0;
    for (size_t start = 0; start <= name.size();) {
        size_t end = std::min(name.find('/', start), name.size());
        std::string_view part = name.substr(start, end - start);
        if (part == "..")
            --depth;
        else if (!part.empty() && part != ".")
            ++depth;
        if (depth < 0) return true;
        start = end + 1;
    }
    return false;
}

bool leadsOutByName(const std::string& name) {
    return name.find('\0') != std::string::npos || (!name.empty() && name[0] == '/') || climbsOut(name);
}

}  // namespace

Folder openPackFolder(const std::string& path) { return openFolder(hostPath(path), Reach::Beneath); }

std::string packFileName(std::string_view name) {
    std::string mapped(name);
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    return mapped;
}

FileLook lookAtPackFile(const Folder& pack, std::string_view fileName) {
    std::string name = packFileName(fileName);
    if (leadsOutByName(name)) return {FileKind::Outside, leadsOutError, {}};
    return lookAt(pack, name);
}

OpenFile openPackFile(const Folder& pack, std::string_view fileName) {
    std::string name = packFileName(fileName);
    if (leadsOutByName(name)) {
        OpenFile none;
        none.look = {FileKind::Outside, leadsOutError, {}};
        return none;
    }
    return openFileIn(pack, name);
}
