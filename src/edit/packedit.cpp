// The pack screen: the rooms of a pack's index, to open, add, rename,
// reorder and remove, and the author text of its end line. Every change is
// written to the index at once. Entries that lead out of the pack folder are
// listed but never opened or written.
#include <algorithm>
#include <map>

#include "console/console.h"
#include "console/cp437.h"
#include "edit/edit.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "system/files.h"

namespace {

constexpr int listTop = 3, listRows = 17;
// Room 22 is drawn as the final sequence's backdrop; later rooms are never reached.
constexpr int endingRoom = backdropRoom;

struct PackScreen {
    std::string folder;     // no trailing '/'
    std::string name;       // the folder's own name: the pack's name in the game
    std::string indexPath;  // as shown
    std::vector<std::string> entries;
    std::string author;                 // the end line after its '*'
    std::vector<std::string> afterEnd;  // lines past the end line, kept as they are
    int selected = 0;
    int firstShown = 0;
    std::string note;
    bool readOnly = false;   // the index was not read whole: it is never rewritten
    std::string where;       // where the pack is
    std::string found;       // how the game finds it
    std::string otherIndex;  // with no index of its own: another pack's index in the folder (copied from it)
};
PackScreen pack;

// The pack's index, as the game reads it (beneath the pack folder).
RoomFile indexFile() { return {true, packFileName(pack.name + ".txt"), pack.indexPath}; }

// A copied pack folder keeps the index named after the pack it came from:
// a .txt file of the pack other than its own, with an end line.
std::string otherPacksIndex() {
    for (const std::string& name : entriesIn(packFolder(), ".")) {
        if (name == indexFile().name || name.size() <= 4 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
        OpenFile file = openFileIn(packFolder(), name);
        if (file.fd < 0) continue;
        try {
            if (parsePackIndex(readOpenFile(file, pathIn(packFolder(), name), 1u << 16)).hasEndLine) return name;
        } catch (const FileFailure&) {
        }
    }
    return "";
}

void readIndex() {
    OpenFile file = openPackFile(packFolder(), pack.name + ".txt");
    std::string text = readOpenFile(file, pack.indexPath, levelFileLimit + 1);
    pack.readOnly = text.size() > levelFileLimit;
    if (pack.readOnly) text.resize(levelFileLimit);
    PackIndex index = parsePackIndex(text);
    pack.readOnly |= index.longEntry;  // the rest of a long entry would be lost
    pack.entries = index.entries;
    pack.author = index.hasEndLine ? index.endLine.substr(1) : "";
    pack.afterEnd = index.afterEnd;
}

// False, with the note, when the index may not be rewritten.
bool mayChange() {
    if (pack.readOnly) pack.note = "The index was not read whole: it is never rewritten here.";
    return !pack.readOnly;
}

bool writeIndex() {
    if (!mayChange()) return false;
    PackIndex index{pack.entries, false, true, "*" + pack.author, pack.afterEnd};
    try {
        saveRoomFile(indexFile(), packIndexText(index));
        pack.otherIndex.clear();  // an index of its own now
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return false;
    }
    return true;
}

bool inside(const std::string& entry) { return staysInside(entry); }

// Every state fits the 27 columns left of the row.
std::string entryState(const std::string& entry) {
    if (entry.empty()) return "blank line: the game stops";
    if (!inside(entry)) return "outside the pack: unopened";
    switch (lookAtRoomFile(packRoomFile(entry)).kind) {
        case FileKind::Missing:
            return "no file yet";
        case FileKind::Outside:
            return "outside the pack: unopened";
        case FileKind::Loop:
            return "a loop of links: unopened";
        case FileKind::Folder:
            return "a folder, not a level file";
        case FileKind::File:
            return "";
        default:
            return "not a regular file";
    }
}

void writeAt(int x, int y, uint8_t colour, std::string_view text) {
    moveCursor(x, y);
    setTextColor(colour);
    writeText(text);
}

void drawPackScreen() {
    setTextBackground(0);
    setTextColor(7);
    clearScreen();
    writeAt(2, 1, 14, "Pack ");
    setTextColor(15);
    writeText(shownName(pack.name).substr(0, 30));
    writeAt(40, 1, 8, ("index " + shownName(pack.name) + ".txt").substr(0, 40));
    if (pack.readOnly) writeAt(67, 1, 12, " (read-only)");
    if (!pack.otherIndex.empty()) {
        writeAt(4, listTop, 12,
                (lookAtRoomFile(indexFile()).kind == FileKind::Missing ? "No index " : "No rooms in ") +
                    shownName(pack.name).substr(0, 30) + ".txt, but " + shownName(pack.otherIndex).substr(0, 30) +
                    " is the index of another pack:");
        writeAt(4, listTop + 1, 12, "the game reads only the index named after the folder.");
        writeAt(4, listTop + 2, 15,
                "i: take " + shownName(pack.otherIndex).substr(0, 30) + " as this pack's index (a copy).");
        writeAt(4, listTop + 3, 8, "a: start an empty index instead.");
    } else if (pack.entries.empty()) {
        writeAt(4, listTop, 8, "No rooms yet: press a to add the first.");
    }
    pack.selected = std::clamp(pack.selected, 0, std::max(0, static_cast<int>(pack.entries.size()) - 1));
    if (pack.selected < pack.firstShown) pack.firstShown = pack.selected;
    if (pack.selected >= pack.firstShown + listRows) pack.firstShown = pack.selected - listRows + 1;
    for (int row = 0; row < listRows; ++row) {
        size_t index = static_cast<size_t>(pack.firstShown + row);
        if (index >= pack.entries.size()) break;
        bool chosen = static_cast<int>(index) == pack.selected;
        int y = listTop + row;
        if (chosen) writeAt(2, y, 15, std::string(1, glyph::marker));
        std::string number = std::to_string(index + 1);
        writeAt(6 - static_cast<int>(number.size()), y, 3, number);
        moveCursor(8, y);
        setTextColor(chosen ? 15 : 7);
        for (char c : shownName(pack.entries[index]).substr(0, 44)) writeChar(static_cast<uint8_t>(c));
        std::string state = entryState(pack.entries[index]);
        bool noFile = state.rfind("no file", 0) == 0;
        if (index + 1 > endingRoom)
            writeAt(53, y, 13, "never reached: after 22");
        else if (index + 1 == endingRoom && (state.empty() || noFile))
            writeAt(53, y, 13, "ending's backdrop, unplayed");
        else if (!state.empty())
            writeAt(53, y, noFile ? 8 : 12, state);
    }
    writeAt(2, 21, 14, "End line: ");
    setTextColor(15);
    writeChar('*');
    for (char c : pack.author.substr(0, 66)) writeChar(static_cast<uint8_t>(c));
    writeAt(2, 20, 8, pack.where);
    writeAt(2, 22, 8, pack.found);
    writeAt(1, 23, 8, "Enter open   a add   c copy   r rename   d remove   - + move   e author text");
    writeAt(1, 24, 8, "F5 play the room   p play the pack from it   q leave");
    if (!pack.note.empty()) {
        drawNote(pack.note, 15, 3);
    } else if (pack.selected + 1 == endingRoom) {
        drawNote("Room 22 is never played: the game draws it as its final sequence's backdrop.", 13, 2);
    } else if (pack.selected + 1 > endingRoom) {
        drawNote("The game ends at room 22 (its final sequence): this room is never reached.", 13, 2);
    }
}

// Where the pack is, and whether the game, started in this folder or
// installed, finds it; if not, where to copy it.
void findWhereabouts() {
    std::string full = fullPath(pack.folder);
    pack.where = "Pack folder: " + (full.size() > 65 ? "..." + full.substr(full.size() - 62) : full);
    std::string parent = full.substr(0, full.rfind('/'));
    std::string here = fullPath("levels/custom levels");
    std::string user = userGameFolder();
    std::string custom = user.empty() ? "" : user + "/levels/custom levels";
    std::string name = "\"" + pack.name.substr(0, 24) + "\"";
    if (!here.empty() && parent == here)
        pack.found = "Started in this folder, the game plays it: Custom Levels, pack " + name + ".";
    else if (!custom.empty() && parent == fullPath(custom))
        pack.found = "The installed game plays it: Custom Levels, pack " + name + ".";
    else if (const std::string suffix = "/levels/custom levels";
             parent.size() > suffix.size() && parent.compare(parent.size() - suffix.size(), suffix.size(), suffix) == 0)
        pack.found = "Started in " + homeShort(parent.substr(0, parent.size() - suffix.size())) +
                     ", the game plays it as pack " + name + ".";
    else if (pathKind("levels") == PathKind::Folder)
        pack.found = "The game does not look here: its packs are in levels/custom levels/.";
    else if (!custom.empty())
        pack.found = "To play it, copy the folder into " + homeShort(custom) + "/";
    else
        pack.found = "To play it, copy the folder into levels/custom levels/ of the game's folder.";
    pack.found = pack.found.substr(0, 78);
}

// A name for an entry: a file name without ".lvl", inside the pack.
bool acceptableName(const std::string& name, int except) {
    if (name.empty() || name[0] == '*') {
        pack.note = "A room's name is not empty and does not start with '*'.";
        return false;
    }
    for (char c : name)
        if (static_cast<uint8_t>(c) < 32) {
            pack.note = "A room's name holds no control characters.";
            return false;
        }
    if (!inside(name)) {
        pack.note = "That name leads out of the pack folder.";
        return false;
    }
    for (size_t i = 0; i < pack.entries.size(); ++i)
        if (static_cast<int>(i) != except && pack.entries[i] == name) {
            pack.note = "The pack already lists " + shownName(name) + ".";
            return false;
        }
    return true;
}

// Earlier rooms one file at a time, and only what the game reads of each;
// a pack that lists one file many times reads it once.
Inheritance inheritanceOf(int index) {
    Inheritance inherited;
    std::map<std::string, std::string> seen;
    constexpr size_t seenLimit = 64;
    for (int i = 0; i < index; ++i) {
        const std::string& entry = pack.entries[static_cast<size_t>(i)];
        if (entry.empty() || !inside(entry)) continue;
        RoomFile file = packRoomFile(entry);
        auto known = seen.find(file.name);
        if (known != seen.end()) {
            applyEarlierRoom(inherited, known->second);
            continue;
        }
        // What the game would not read (no file, not a regular one) leaves nothing.
        OpenFile opened = openRoomFile(file);
        if (opened.fd < 0) continue;
        std::string lines = readLevelLines(opened, file.shown);
        applyEarlierRoom(inherited, lines);
        if (seen.size() < seenLimit) seen.emplace(file.name, std::move(lines));
    }
    // As quorvex-check counts the rooms: every entry before it, read or not.
    inherited.firstRoom = index == 0;
    inherited.backdrop = index == 21;
    return inherited;
}

void openSelected(bool playAtOnce) {
    if (pack.entries.empty()) return;
    const std::string& entry = pack.entries[static_cast<size_t>(pack.selected)];
    if (entry.empty()) {
        pack.note = "Line " + std::to_string(pack.selected + 1) +
                    " is blank: the game stops there on its missing-file screen. d removes the line.";
        return;
    }
    if (std::string state = entryState(entry); !state.empty() && state.rfind("no file", 0) != 0) {
        pack.note = inside(entry)
                        ? shownName(entry) + ": " + state + "."
                        : shownName(entry) + " leads out of the pack folder: the editor never opens or writes it.";
        return;
    }
    openRoom(packRoomFile(entry), shownName(entry), inheritanceOf(pack.selected), true);
    // No file yet: the room made by the screen is the change to save.
    if (!edit.savedTextKnown && edit.rescueTaken.name.empty()) edit.modified = true;
    if (playAtOnce) {
        edit.note = playReportText(playTest(false), "Play-test");
    }
    runRoomEditor();
}

// The name the author types for a room; false (a note set) when none.
bool askRoomName(std::string_view question, std::string& name) {
    std::string why;
    if (askName(question, name, 60, why)) return true;
    pack.note = why;
    return false;
}

void addRoom() {
    if (!mayChange()) return;
    std::string name;
    drawPackScreen();
    if (!askRoomName("Name of the new room:", name) || !acceptableName(name, -1)) return;
    size_t at = pack.entries.empty() ? 0 : static_cast<size_t>(pack.selected) + 1;
    pack.entries.insert(pack.entries.begin() + static_cast<long>(at), name);
    if (!writeIndex()) {
        pack.entries.erase(pack.entries.begin() + static_cast<long>(at));
        return;
    }
    pack.selected = static_cast<int>(at);
    RoomFile file = packRoomFile(name);
    try {
        // Made only where nothing is: a file there already is left as it is.
        if (createRoomFile(file, roomFileText(freshRoomText(), inheritanceOf(pack.selected), true))) {
            pack.note = "Added " + shownName(name) + ".";
            return;
        }
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return;
    }
    pack.note = "Added " + shownName(name) +
                (lookAtRoomFile(file).kind == FileKind::File ? " (its file was there already)."
                                                             : ", but its .lvl is not a level file.");
}

void renameRoom() {
    if (!mayChange()) return;
    if (pack.entries.empty()) return;
    std::string& entry = pack.entries[static_cast<size_t>(pack.selected)];
    std::string name = entry;
    drawPackScreen();
    if (!askRoomName("New name:", name) || name == entry || !acceptableName(name, pack.selected)) return;
    RoomFile from = packRoomFile(entry), to = packRoomFile(name);
    bool moveFile = inside(entry) && lookAtRoomFile(from).kind == FileKind::File;
    try {
        // Renamed only where nothing is: never over another file.
        if (moveFile && !renameRoomFile(from, to)) {
            pack.note = "There is a file " + shownName(name) + ".lvl already.";
            return;
        }
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return;
    }
    std::string old = entry;
    entry = name;
    if (!writeIndex()) {
        entry = old;
        try {
            if (moveFile) renameRoomFile(to, from);
        } catch (const FileFailure&) {
        }
        return;
    }
    pack.note = "Renamed " + shownName(old) + " to " + shownName(name) + ".";
}

void removeRoom() {
    if (!mayChange()) return;
    if (pack.entries.empty()) return;
    drawPackScreen();
    std::string entry = pack.entries[static_cast<size_t>(pack.selected)];
    if (askKey("Remove " + shownName(entry).substr(0, 30) + " from the index? Its file stays. Y/N", "YN") != 'Y')
        return;
    pack.entries.erase(pack.entries.begin() + pack.selected);
    if (!writeIndex()) {
        pack.entries.insert(pack.entries.begin() + pack.selected, entry);
        return;
    }
    pack.note = "Removed " + shownName(entry) + " from the index; " + shownName(entry) + ".lvl is still in the folder.";
}

void moveRoom(int by) {
    int to = pack.selected + by;
    if (pack.entries.empty() || to < 0 || to >= static_cast<int>(pack.entries.size())) return;
    std::swap(pack.entries[static_cast<size_t>(pack.selected)], pack.entries[static_cast<size_t>(to)]);
    if (!writeIndex()) {
        std::swap(pack.entries[static_cast<size_t>(pack.selected)], pack.entries[static_cast<size_t>(to)]);
        return;
    }
    pack.selected = to;
}

// A copy of the room, listed after it: the copy's file holds the room whole
// (short rows filled in with what they inherit there), so it looks the same.
void duplicateRoom() {
    if (pack.entries.empty()) return;
    std::string entry = pack.entries[static_cast<size_t>(pack.selected)];
    RoomFile from = packRoomFile(entry);
    // The room is read from this descriptor, found a regular file of the pack.
    OpenFile source;
    if (!entry.empty() && inside(entry)) source = openRoomFile(from);
    if (source.fd < 0) {
        pack.note = "Only a room with its file in the pack can be copied.";
        return;
    }
    std::string name = entry + " copy";
    drawPackScreen();
    if (!askRoomName("Name of the copy:", name) || !acceptableName(name, -1)) return;
    RoomFile to = packRoomFile(name);
    size_t at = static_cast<size_t>(pack.selected) + 1;
    try {
        RoomText text = parseRoomText(readOpenFile(source, from.shown, levelFileLimit));
        if (!createRoomFile(to, roomFileText(text, inheritanceOf(pack.selected), true))) {
            pack.note = "There is a file " + shownName(name) + ".lvl already.";
            return;
        }
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return;
    }
    pack.entries.insert(pack.entries.begin() + static_cast<long>(at), name);
    if (!writeIndex()) {
        pack.entries.erase(pack.entries.begin() + static_cast<long>(at));
        try {
            removeRoomFile(to);
        } catch (const FileFailure&) {
        }
        return;
    }
    pack.selected = static_cast<int>(at);
    pack.note = "Copied " + shownName(entry) + " as " + shownName(name) + ", listed after it.";
}

// The pack as the game plays it, from the chosen room on.
void playPackFrom() {
    if (pack.entries.empty()) return;
    std::vector<RoomFile> rooms;
    for (size_t i = static_cast<size_t>(pack.selected); i < pack.entries.size(); ++i) {
        const std::string& entry = pack.entries[i];
        rooms.push_back(entry.empty() || !inside(entry) ? RoomFile{} : packRoomFile(entry));
    }
    Inheritance before = inheritanceOf(pack.selected);
    playPack(rooms, pack.selected + 1, before, pack.note);
}

// Another pack's index left in a copied folder becomes this pack's, as a
// copy: read only as a regular file of this pack, never over an index
// that was not read whole; it takes the mode (owner, group) of the index it
// replaces, or keeps its own when there was none, so it is never readable
// wider than either.
void takeOtherIndex() {
    if (pack.otherIndex.empty()) return;
    if (!mayChange()) return;
    try {
        const Folder& folder = packFolder();
        OpenFile other = openFileIn(folder, pack.otherIndex);
        if (other.fd < 0) {
            pack.note = shownName(pack.otherIndex) + " is not a regular file of the pack: not taken.";
            return;
        }
        std::string own = linkedFileIn(folder, indexFile().name);
        OpenFile ownFile = openFileIn(folder, own);
        FileKeep keep = keepOf(other.look.info);
        if (ownFile.fd >= 0) {  // the index replaced, backed up whole from what was read
            keep = keepOf(ownFile.look.info);
            copyOpenFileIn(ownFile, pathIn(folder, own), folder, own + "~", keep);
        }
        copyOpenFileIn(other, pathIn(folder, pack.otherIndex), folder, own, keep);
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return;
    }
    pack.note =
        "Copied " + shownName(pack.otherIndex) + " as " + shownName(pack.name) + ".txt, the index the game reads.";
    pack.otherIndex.clear();
    readIndex();
}

void editAuthor() {
    if (!mayChange()) return;
    std::string author = pack.author;
    drawPackScreen();
    if (!askText("Author text:", author, 66)) return;
    std::string old = pack.author;
    pack.author = author;
    if (!writeIndex()) pack.author = old;
}

}  // namespace

void runPackEditor(const std::string& folder) {
    pack = PackScreen{};
    pack.folder = folder;
    while (pack.folder.size() > 1 && pack.folder.back() == '/') pack.folder.pop_back();
    size_t slash = pack.folder.rfind('/');
    pack.name = slash == std::string::npos ? pack.folder : pack.folder.substr(slash + 1);
    pack.indexPath = pack.folder + "/" + pack.name + ".txt";
    if (pathKind(pack.folder) == PathKind::Missing) makeFoldersIn(currentFolder(), pack.folder);
    // From here on every name of the pack is held beneath its folder.
    holdPackFolder(pack.folder);
    FileLook index = lookAtRoomFile(indexFile());
    bool ownIndex = index.kind != FileKind::Missing;
    if (ownIndex) {
        if (index.kind == FileKind::Outside) throw FileFailure{"read", pack.indexPath, reasonFor(leadsOutError)};
        if (index.kind != FileKind::File) throw FileFailure{"read", pack.indexPath, "Not a regular file"};
        readIndex();
    }
    if (pack.entries.empty()) pack.otherIndex = otherPacksIndex();
    if (!ownIndex && pack.otherIndex.empty() && !createFileIn(packFolder(), indexFile().name, "*\r\n")) readIndex();
    findWhereabouts();
    if (pack.readOnly) pack.note = "The index is over 4 MiB or has an entry over 255 characters: read-only.";
    for (;;) {
        drawPackScreen();
        uint8_t pressed = readKey();
        pack.note.clear();
        if (pressed == key::extended) {
            uint8_t code = readKey();
            if (code == scan::up) --pack.selected;
            if (code == scan::down) ++pack.selected;
            if (code == scan::home) pack.selected = 0;
            if (code == scan::end) pack.selected = static_cast<int>(pack.entries.size()) - 1;
            if (code == scan::pageUp) pack.selected -= listRows;
            if (code == scan::pageDown) pack.selected += listRows;
            if (code == scan::insert) addRoom();
            if (code == scan::del) removeRoom();
            if (code == scan::f5) openSelected(true);
            continue;
        }
        switch (pressed) {
            case key::enter:
                openSelected(false);
                break;
            case 'a':
            case 'A':
                addRoom();
                break;
            case 'c':
            case 'C':
                duplicateRoom();
                break;
            case 'p':
            case 'P':
                playPackFrom();
                break;
            case 'i':
            case 'I':
                takeOtherIndex();
                break;
            case 'r':
            case 'R':
                renameRoom();
                break;
            case 'd':
            case 'D':
                removeRoom();
                break;
            case '-':
                moveRoom(-1);
                break;
            case '+':
            case '=':
                moveRoom(1);
                break;
            case 'e':
            case 'E':
                editAuthor();
                break;
            case 'q':
            case 'Q':
            case key::escape:
            case key::ctrl('Q'):
            case key::ctrl('X'):
                return;
            default:
                break;
        }
    }
}
