// The pack screen: the rooms of a pack's index, to open, add, rename,
// reorder and remove, and the author text of its end line. Every change is
// written to the index at once. Entries that lead out of the pack folder are
// listed but never opened or written. Each room shows what would keep the
// game from playing it, the checker's verdict (worked out between keys) and
// whether a run that ended badly left unsaved work of it; the level files
// of the folder that the index does not name, and the ~ backups, are listed
// below it. Ctrl+Z and Ctrl+Y take the screen's changes back and make them
// again, each over the index as it is then.
#include <algorithm>
#include <map>
#include <set>

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

// What tells one version of a file from another without reading it.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec written{};
    bool operator==(const FileStamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               written.tv_sec == other.written.tv_sec && written.tv_nsec == other.written.tv_nsec;
    }
};

FileStamp stampOf(const FileLook& look) {
    if (look.kind != FileKind::File) return {};
    return {look.info.st_dev, look.info.st_ino, look.info.st_size, look.info.st_mtim};
}

bool sameIndex(const PackIndex& a, const PackIndex& b) {
    return a.entries == b.entries && a.hasEndLine == b.hasEndLine && a.endLine == b.endLine && a.afterEnd == b.afterEnd;
}

// What the screen shows of an entry, looked at afresh after every change.
struct EntryLook {
    bool looked = false;  // false: not yet looked at since the last change
    std::string state;    // why the game would not play it ("" when it would)
    bool rescued = false;
    bool checked = false;  // a verdict is shown (rooms 1 to 21 with a file)
    RoomVerdict verdict;
};

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
    bool readOnly = false;              // the index was not read whole: it is never rewritten
    std::string where;                  // where the pack is
    std::string found;                  // how the game finds it
    std::string otherIndex;             // with no index of its own: another pack's index in the folder (copied from it)
    std::vector<EntryLook> looks;       // one for each entry
    std::vector<std::string> unlisted;  // level files of the folder the index does not name, without .lvl
    std::vector<std::string> backups;   // the folder's ~ backups, whole names
    // The index as this screen last read or wrote it: what another writer's
    // change (another editor, a text editor, a copy) is told from.
    PackIndex base;
    FileStamp stamp;
    std::string pars;  // the par file as this screen last wrote or found it
};
PackScreen pack;

// What a change did besides the index, as it was done.
enum class FileStep : uint8_t {
    None,
    Renamed,    // the room's file, from entry from's name to entry to's
    Made,       // entry to's file made, holding text
    Unmade,     // that file removed again
    MovedOut,   // file moved to the state folder, to moved
    MovedBack,  // and back from there
};

// One change of the screen, as undo and redo take it back: the index
// around it as written, and what it did to the files.
struct PackChange {
    std::string what;  // in words, for the notes
    PackIndex before, after;
    FileStep step = FileStep::None;
    std::string from, to;  // Renamed: the entries; Made, Unmade: to
    std::string text;      // Made, Unmade: what the file held when made
    RoomFile file;         // MovedOut, MovedBack: the file of the pack
    std::string moved;     // and where it is in the state folder
    size_t bytes = 0;      // what keeping it costs
};
std::vector<PackChange> undoList, redoList;
constexpr size_t undoLimit = 1000, undoBytesLimit = 32u << 20;

// The index around the last write: as found on disk just before, and as written.
PackIndex writtenBefore, writtenAfter;

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

// The index as it is on disk now; readOnly when it was not read whole.
PackIndex indexOnDisk(bool& readOnly) {
    OpenFile file = openPackFile(packFolder(), pack.name + ".txt");
    pack.stamp = stampOf(file.look);
    std::string text = readOpenFile(file, pack.indexPath, levelFileLimit + 1);
    readOnly = text.size() > levelFileLimit;
    if (readOnly) text.resize(levelFileLimit);
    PackIndex index = parsePackIndex(text);
    readOnly |= index.longEntry;  // the rest of a long entry would be lost
    return index;
}

void useIndex(const PackIndex& index) {
    pack.base = index;
    pack.entries = index.entries;
    pack.author = index.hasEndLine ? index.endLine.substr(1) : "";
    pack.afterEnd = index.afterEnd;
}

void readIndex() { useIndex(indexOnDisk(pack.readOnly)); }

// Another writer changed the index since it was read (a hand edit, another
// editor): read again before the next key acts, so nothing of it is lost.
bool readIndexIfChanged() {
    FileLook look = lookAtRoomFile(indexFile());
    if (look.kind != FileKind::File || stampOf(look) == pack.stamp) return false;
    bool marked = pack.selected >= 0 && pack.selected < static_cast<int>(pack.entries.size());
    std::string entry = marked ? pack.entries[static_cast<size_t>(pack.selected)] : "";
    try {
        readIndex();
    } catch (const FileFailure&) {
        return false;
    }
    // The marker stays on the entry it was on, wherever it is now.
    if (marked) {
        int best = -1;
        for (int i = 0; i < static_cast<int>(pack.entries.size()); ++i)
            if (pack.entries[static_cast<size_t>(i)] == entry &&
                (best < 0 || std::abs(i - pack.selected) < std::abs(best - pack.selected)))
                best = i;
        if (best >= 0) pack.selected = best;
    }
    pack.looks.clear();
    return true;
}

// False, with the note, when the index may not be rewritten.
bool mayChange() {
    if (pack.readOnly) pack.note = "The index was not read whole: it is never rewritten here.";
    return !pack.readOnly;
}

// What another writer changed, in a few words for the question.
std::string changeSaid(const PackIndex& base, const PackIndex& theirs) {
    std::string said;
    IndexHunk hunk = indexHunk(base.entries, theirs.entries);
    if (hunk.from != hunk.to || !hunk.lines.empty()) {
        auto names = [](auto from, auto to) {
            std::string text;
            for (auto at = from; at != to; ++at) text += (text.empty() ? "" : ", ") + shownName(*at);
            return text.empty() ? std::string("nothing") : text;
        };
        said = "rooms from " + std::to_string(hunk.from + 1) + ": " +
               names(base.entries.begin() + static_cast<long>(hunk.from),
                     base.entries.begin() + static_cast<long>(hunk.to)) +
               " became " + names(hunk.lines.begin(), hunk.lines.end());
    }
    if (theirs.endLine != base.endLine || theirs.hasEndLine != base.hasEndLine)
        said += (said.empty() ? "" : "; ") + std::string("end line ") + shownName(theirs.endLine);
    return said;
}

// Mine kept as a copy beside the index, under a name of its own.
std::string saveMineAsCopy(const PackIndex& mine) {
    for (int n = 1; n < 100; ++n) {
        std::string name = pack.name + (n == 1 ? "-mine" : "-mine-" + std::to_string(n)) + ".txt";
        if (createFileIn(packFolder(), packFileName(name), packIndexText(mine))) return name;
    }
    throw FileFailure{"write", pack.folder + "/" + pack.name + "-mine.txt", reasonFor(EEXIST)};
}

bool writeIndex() {
    if (!mayChange()) return false;
    PackIndex mine{pack.entries, false, true, "*" + pack.author, pack.afterEnd};
    try {
        // Before the write: what is on disk now may not be what was read.
        bool readOnly = false;
        PackIndex theirs = lookAtRoomFile(indexFile()).kind == FileKind::File ? indexOnDisk(readOnly) : pack.base;
        if (readOnly) {
            pack.stamp = FileStamp{};
            pack.readOnly = true;
            return mayChange();
        }
        PackIndex merged;
        if (sameIndex(theirs, pack.base)) {
            merged = mine;
        } else if (mergePackIndexes(pack.base, mine, theirs, merged)) {
            pack.note = "The index had changed on disk: that change is kept too.";
        } else {
            drawNote("Changed on disk since read: " + changeSaid(pack.base, theirs), 14, 2, 24);
            uint8_t answer =
                askKey("The index changed on disk. T take theirs, K keep mine, C save mine as a copy", "TKC");
            if (answer == 'K') {
                merged = mine;
            } else {
                std::string copy = answer == 'C' ? saveMineAsCopy(mine) : "";
                pack.stamp = FileStamp{};  // read again before the next key, whatever the caller puts back
                pack.note = answer == 'C' ? "Yours is in " + shownName(copy) + "; the index is as it was changed."
                                          : "The index is as it was changed on disk; your change is not made.";
                return false;
            }
        }
        saveRoomFile(indexFile(), packIndexText(merged));
        pack.stamp = stampOf(lookAtRoomFile(indexFile()));
        writtenBefore = theirs;
        writtenAfter = merged;
        useIndex(merged);
        pack.otherIndex.clear();  // an index of its own now
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return false;
    }
    return true;
}

bool inside(const std::string& entry) { return staysInside(entry); }

// --- undo and redo ---

size_t indexBytes(const PackIndex& index) {
    size_t bytes = index.endLine.size();
    for (const auto* lines : {&index.entries, &index.afterEnd})
        for (const std::string& line : *lines) bytes += line.size() + sizeof line;
    return bytes;
}

// A change made on the screen: an undo step, and nothing left to redo.
// indexWritten: the index was written for it (writeIndex); else it stayed.
void recordChange(PackChange change, bool indexWritten = true) {
    change.before = indexWritten ? writtenBefore : pack.base;
    change.after = indexWritten ? writtenAfter : pack.base;
    change.bytes = indexBytes(change.before) + indexBytes(change.after) + change.text.size();
    undoList.push_back(std::move(change));
    redoList.clear();
    // The oldest steps go first when the list grows too long or too large.
    size_t bytes = 0, keep = 0;
    for (auto at = undoList.rbegin(); at != undoList.rend() && keep < undoLimit; ++at, ++keep)
        if ((bytes += at->bytes) > undoBytesLimit && keep > 0) break;
    undoList.erase(undoList.begin(), undoList.end() - static_cast<long>(keep));
}

PackChange changeOf(std::string what, FileStep step = FileStep::None, std::string to = "", std::string text = "") {
    PackChange change;
    change.what = std::move(what);
    change.step = step;
    change.to = std::move(to);
    change.text = std::move(text);
    return change;
}

bool lists(const PackIndex& index, const std::string& entry) {
    return std::find(index.entries.begin(), index.entries.end(), entry) != index.entries.end();
}

// Why a change's files cannot be taken back now ("" when they can).
std::string whyNotTakenBack(const PackChange& change, const PackIndex& merged) {
    if (change.step == FileStep::Renamed) {
        if (lookAtRoomFile(packRoomFile(change.to)).kind != FileKind::File)
            return shownName(change.to) + ".lvl is not there any more";
        if (lookAtRoomFile(packRoomFile(change.from)).kind != FileKind::Missing)
            return "there is a file " + shownName(change.from) + ".lvl again";
        if (lists(merged, change.to)) return "the index names " + shownName(change.to) + " again";
    }
    if (change.step == FileStep::MovedOut && lookAtRoomFile(change.file).kind != FileKind::Missing)
        return "there is a file " + shownName(change.file.name) + " again; it stays in " +
               shownName(homeShort(change.moved));
    return "";
}

// Takes back the newest change of from (the undo list for Ctrl+Z, the redo
// list for Ctrl+Y) and keeps what that did in to. The index is changed as a
// change of its own over the index as it is now: what another editor or a
// text editor changed since stays. Where they changed the same rooms or the
// end line, or its files are not as it left them, nothing is done, and the
// step goes (the ones before it can still be taken back).
void takeBack(std::vector<PackChange>& from, std::vector<PackChange>& to, bool undoing) {
    std::string done = undoing ? "Undone" : "Redone";
    if (from.empty()) {
        pack.note = undoing ? "Nothing to undo." : "Nothing to redo.";
        return;
    }
    if (!sameIndex(from.back().before, from.back().after) && !mayChange()) return;
    PackChange change = std::move(from.back());
    from.pop_back();
    std::string notDone = "Not " + std::string(undoing ? "undone" : "redone") + " (" + change.what + "): ";
    std::string onWith = undoing ? " Ctrl+Z goes on with the change before it." : " Ctrl+Y goes on with the next.";
    PackIndex merged = pack.base;
    bool indexChanges = !sameIndex(change.before, change.after);
    if (indexChanges && !mergePackIndexes(change.after, change.before, pack.base, merged)) {
        pack.note = notDone + "the same lines changed on disk since (" + changeSaid(change.after, pack.base) +
                    "), and that stays." + onWith;
        return;
    }
    if (std::string why = whyNotTakenBack(change, merged); !why.empty()) {
        pack.note = notDone + why + "." + onWith;
        return;
    }
    PackChange back = change;  // what is done now, kept as a change of its own
    back.step = FileStep::None;
    std::string said;
    bool made = false;  // the file of an Unmade step made again here
    try {
        // The files first, so that the index never names a file not there
        // yet; a file made by the change goes only once the index is written.
        switch (change.step) {
            case FileStep::Renamed:
                if (!renameRoomFile(packRoomFile(change.to), packRoomFile(change.from))) {
                    pack.note = notDone + "there is a file " + shownName(change.from) + ".lvl again." + onWith;
                    return;
                }
                back.step = FileStep::Renamed;
                std::swap(back.from, back.to);
                break;
            case FileStep::Unmade:
                // Where a file is there by that name now, it is the one listed again.
                made = createRoomFile(packRoomFile(change.to), change.text);
                back.step = FileStep::Made;
                break;
            case FileStep::MovedOut:
                if (!moveBackFromStateFolder(change.moved, change.file)) {
                    pack.note = notDone + whyNotTakenBack(change, merged) + "." + onWith;
                    return;
                }
                back.step = FileStep::MovedBack;
                said = " " + shownName(change.file.name) + " is back in the pack folder.";
                break;
            case FileStep::MovedBack:
                back.moved = moveToStateFolder(change.file);
                back.step = FileStep::MovedOut;
                said = " " + shownName(change.file.name) + " is in " + shownName(homeShort(back.moved)) + ".";
                break;
            default:
                break;
        }
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);  // nothing was done: it can be tried again
        from.push_back(std::move(change));
        return;
    }
    if (indexChanges) {
        std::vector<std::string> shown = pack.entries;
        pack.entries = merged.entries;
        pack.author = merged.hasEndLine ? merged.endLine.substr(1) : "";
        pack.afterEnd = merged.afterEnd;
        if (!writeIndex()) {
            // The files as they were: the index did not change.
            pack.entries = shown;
            try {
                if (back.step == FileStep::Renamed) renameRoomFile(packRoomFile(back.from), packRoomFile(back.to));
                if (made) removeRoomFile(packRoomFile(change.to));
            } catch (const FileFailure&) {
            }
            from.push_back(std::move(change));
            return;
        }
        pack.selected = static_cast<int>(indexHunk(shown, pack.entries).from);
    }
    if (change.step == FileStep::Made) {
        // Only the file as it was made goes (redo makes it again); one
        // changed since, or listed again meanwhile, stays.
        back.step = FileStep::Unmade;
        RoomFile file = packRoomFile(change.to);
        bool listed = lists(pack.base, change.to), removed = false;
        try {
            removed = !listed && lookAtRoomFile(file).kind == FileKind::File &&
                      readRoomFile(file, levelFileLimit + 1) == change.text && removeRoomFile(file);
        } catch (const FileFailure&) {
        }
        if (!removed && lookAtRoomFile(file).kind != FileKind::Missing)
            said = " " + shownName(change.to) + ".lvl stays in the folder: " +
                   (listed ? "the index names it again." : "it changed since it was made.");
    }
    pack.note = done + ": " + change.what + "." + said;
    back.before = indexChanges ? writtenBefore : pack.base;
    back.after = indexChanges ? writtenAfter : pack.base;
    to.push_back(std::move(back));
}

constexpr const char* fileMissing = "file missing";

// Every state fits the 30 columns left of the row.
std::string entryState(const std::string& entry) {
    if (entry.empty()) return "blank line: the game stops";
    if (!inside(entry)) return "outside the pack: unopened";
    switch (lookAtRoomFile(packRoomFile(entry)).kind) {
        case FileKind::Missing:
            return fileMissing;
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

// The marker moves over the entries, then over the files below the index:
// those it does not name, then the backups.
int selectableCount() { return static_cast<int>(pack.entries.size() + pack.unlisted.size() + pack.backups.size()); }
bool onEntry() { return pack.selected < static_cast<int>(pack.entries.size()); }
bool onUnlisted() { return !onEntry() && pack.selected < static_cast<int>(pack.entries.size() + pack.unlisted.size()); }
const std::string& unlistedMarked() { return pack.unlisted[static_cast<size_t>(pack.selected) - pack.entries.size()]; }
const std::string& backupMarked() {
    return pack.backups[static_cast<size_t>(pack.selected) - pack.entries.size() - pack.unlisted.size()];
}
// The marked file below the index.
RoomFile fileMarked() {
    std::string name = onUnlisted() ? unlistedMarked() + ".lvl" : backupMarked();
    return {true, name, pathIn(packFolder(), name)};
}

// The names in the pack's folders, sorted: each folder read once a refresh,
// however many entries look into it.
std::map<std::string, std::vector<std::string>> listings;

const std::vector<std::string>& namesIn(const std::string& folder) {
    auto [at, fresh] = listings.try_emplace(folder);
    if (fresh) at->second = entriesIn(packFolder(), folder);
    return at->second;
}

// The level files of the folder (and of its folders, a few deep) that no
// entry leads to: the game never plays them; and the ~ backups there. A
// bounded number of names is looked at; an entry leads to a file by its
// name, or, for the entries looked at, as the same file (listed: their files).
void findFilesBelowIndex(const std::set<std::pair<dev_t, ino_t>>& listed) {
    std::vector<std::string> found;
    pack.backups.clear();
    std::vector<std::string> folders{"."};
    size_t looked = 0;
    for (size_t f = 0; f < folders.size() && looked < 4096; ++f) {
        for (const std::string& name : namesIn(folders[f])) {
            if (++looked > 4096 || name.empty() || name[0] == '.') continue;
            std::string path = folders[f] == "." ? name : folders[f] + "/" + name;
            FileLook look = lookAtRoomFile({true, path, path});
            if (look.kind == FileKind::Folder) {
                if (std::count(path.begin(), path.end(), '/') < 2) folders.push_back(path);
                continue;
            }
            if (look.kind == FileKind::File && path.back() == '~' && pack.backups.size() < 200)
                pack.backups.push_back(path);
            if (look.kind != FileKind::File || !path.ends_with(".lvl") || path.size() == 4) continue;
            if (listed.count({look.info.st_dev, look.info.st_ino}) != 0) continue;
            std::string entry = path.substr(0, path.size() - 4);
            // Only what an index line could name.
            if (entry[0] == '*' || std::any_of(entry.begin(), entry.end(),
                                               [](char c) { return static_cast<uint8_t>(c) < 32 || c == '\\'; }))
                continue;
            found.push_back(entry);
        }
    }
    // One pass over the entries, by name: linear however long the index.
    std::set<std::string> named(found.begin(), found.end());
    for (const std::string& entry : pack.entries) {
        if (named.empty()) break;
        named.erase(entry.find('\\') == std::string::npos ? entry : packFileName(entry));
    }
    pack.unlisted.assign(named.begin(), named.end());
    if (pack.unlisted.size() > 200) pack.unlisted.resize(200);
}

// Entries looked at for a key beyond the rooms that are played: a
// screenful and more, so a long index costs no more than a short one.
constexpr int lookBudget = 64;
int looksLeft = 0;

// An entry's state and rescue copy, nothing read. listed: its file.
void lookAtEntry(size_t i, std::set<std::pair<dev_t, ino_t>>* listed = nullptr) {
    EntryLook& look = pack.looks[i];
    look.looked = true;
    look.state = entryState(pack.entries[i]);
    if (!look.state.empty()) return;
    RoomFile file = packRoomFile(pack.entries[i]);
    FileLook fileLook = lookAtRoomFile(file);
    if (listed != nullptr) listed->insert({fileLook.info.st_dev, fileLook.info.st_ino});
    look.rescued = findRescue(file, false, &namesIn(splitName(file.name).first)).found;
}

// The look of an entry to be drawn: looked at now while the refresh's budget lasts.
const EntryLook& entryLook(size_t i) {
    if (!pack.looks[i].looked && looksLeft > 0) {
        --looksLeft;
        lookAtEntry(i);
    }
    return pack.looks[i];
}

// The rooms the game plays (1 to 21), each read once, and what they leave
// for the next: their verdicts.
std::vector<std::pair<std::string, Inheritance>> verdictRooms;  // the text and inheritance of looks[i]

// The pack's pars beside its index (NAME.par, a line a played room in the
// index's order), once every played room has its verdict: written when
// they differ from the file's, so the game's time trial shows them.
void writePackPars() {
    if (pack.readOnly || verdictRooms.empty()) return;
    std::string text;
    for (size_t i = 0; i < verdictRooms.size(); ++i) {
        if (!pack.looks[i].checked || pack.looks[i].verdict.mark == RoomMark::Waiting) return;
        text += (pack.looks[i].verdict.parLine.empty() ? "-" : pack.looks[i].verdict.parLine) + "\r\n";
    }
    if (text == pack.pars) return;
    try {
        std::string name = packFileName(pack.name + ".par"), there;
        FileLook look;
        if (!readFileIfThere(packFolder(), name, there, look, 1u << 16) || there != text)
            replaceFileIn(packFolder(), name, text);
        pack.pars = text;
    } catch (const FileFailure& failure) {
        pack.note = "The pars were not written: " + editorFailureText(failure);
        pack.pars = text;  // said once
    }
}

void askVerdicts() {
    for (size_t i = 0; i < verdictRooms.size(); ++i)
        if (pack.looks[i].checked)
            pack.looks[i].verdict = packRoomVerdict(verdictRooms[i].first, verdictRooms[i].second);
    writePackPars();
}

// Every played room's state, rescue copy and verdict, the files the index
// does not name, and the rest of the entries as they come into view: after
// every change.
void refreshEntries() {
    listings.clear();
    looksLeft = lookBudget;
    pack.looks.assign(pack.entries.size(), EntryLook{});
    verdictRooms.clear();
    beginPackVerdicts();
    Inheritance inherited;
    std::map<std::string, std::string> seen;  // a file listed many times is read once
    std::set<std::pair<dev_t, ino_t>> listed;
    size_t played = std::min(pack.entries.size(), static_cast<size_t>(endingRoom));
    for (size_t i = 0; i < played; ++i) {
        lookAtEntry(i, &listed);
        EntryLook& look = pack.looks[i];
        if (!look.state.empty()) continue;
        if (i + 1 >= static_cast<size_t>(endingRoom)) continue;  // never played: no verdict
        RoomFile file = packRoomFile(pack.entries[i]);
        auto known = seen.find(file.name);
        if (known == seen.end()) {
            OpenFile opened = openRoomFile(file);
            if (opened.fd < 0) continue;
            known = seen.emplace(file.name, readLevelLines(opened, file.shown)).first;
        }
        inherited.firstRoom = i == 0;
        verdictRooms.resize(i + 1);
        verdictRooms[i] = {known->second, inherited};
        look.checked = true;
        applyEarlierRoom(inherited, known->second);
    }
    askVerdicts();
    findFilesBelowIndex(listed);
}

// The verdict in the 30 columns of the state, and its colour.
std::pair<std::string, uint8_t> verdictText(const RoomVerdict& verdict) {
    switch (verdict.mark) {
        case RoomMark::Waiting:
            return {"checking...", 8};
        case RoomMark::Finishable:
            return {"finishable", 10};
        case RoomMark::NotFullyChecked:
            return {"not fully checked", 14};
        case RoomMark::Error:
            break;
    }
    std::string text = "ERROR: " + verdict.error;
    if (text.size() > 30) text = text.substr(0, 29) + "\xAF";  // »
    return {text, 12};
}

void drawEntry(size_t index, int y) {
    bool chosen = static_cast<int>(index) == pack.selected;
    if (chosen) writeAt(2, y, 15, std::string(1, glyph::marker));
    std::string number = std::to_string(index + 1);
    writeAt(6 - static_cast<int>(number.size()), y, 3, number);
    const EntryLook& look = entryLook(index);
    if (look.rescued) writeAt(7, y, 13, "*");
    moveCursor(9, y);
    setTextColor(chosen ? 15 : 7);
    for (char c : shownName(pack.entries[index]).substr(0, 40)) writeChar(static_cast<uint8_t>(c));
    const std::string& state = look.state;
    bool noFile = state == fileMissing;
    if (!look.looked)
        writeAt(50, y, 8, "not yet looked at");
    else if (index + 1 > endingRoom)
        writeAt(50, y, 13, "never reached: after 22");
    else if (index + 1 == endingRoom && (state.empty() || noFile))
        writeAt(50, y, 13, "ending's backdrop, unplayed");
    else if (!state.empty())
        writeAt(50, y, 12, state);
    else if (look.checked)
        writeAt(50, y, verdictText(look.verdict).second, verdictText(look.verdict).first);
}

// The note for the marked line when nothing else is said.
void drawMarkedNote() {
    if (selectableCount() == 0) return;
    int number = pack.selected + 1;
    if (onUnlisted()) {
        drawNote(shownName(unlistedMarked()) +
                     ".lvl is in the pack folder, but the index does not name it: the game "
                     "never plays it. l lists it as room " +
                     std::to_string(pack.entries.size() + 1) + "; d moves it out to the state folder.",
                 7, 2);
        return;
    }
    if (!onEntry()) {
        drawNote(shownName(backupMarked()) +
                     " holds an earlier version, kept by a save: the game never reads it. d moves it out "
                     "to the state folder.",
                 7, 2);
        return;
    }
    const EntryLook& look = entryLook(static_cast<size_t>(pack.selected));
    std::string name = shownName(pack.entries[static_cast<size_t>(pack.selected)]);
    if (number == endingRoom) {
        drawNote("Room 22 is never played: the game draws it as its final sequence's backdrop.", 13, 2);
    } else if (number > endingRoom) {
        drawNote("The game ends at room 22 (its final sequence): this room is never reached.", 13, 2);
    } else if (look.state == fileMissing) {
        drawNote("No file " + name + ".lvl: the game stops here on its missing-file screen. Enter makes a new room" +
                     (pack.unlisted.empty() ? "." : "; r renames the entry to a file listed below the index."),
                 12, 2);
    } else if (look.rescued) {
        drawNote("* A run that ended badly left unsaved work of " + name + ": Enter offers it.", 13, 2);
    } else if (look.checked && look.verdict.mark == RoomMark::Error) {
        drawNote("Room " + std::to_string(number) + ": ERROR: " + look.verdict.error, 12, 2);
    }
}

// questionBelow: a question comes on row 25, so the marked line's note is left out.
void drawPackScreen(bool questionBelow = false) {
    if (pack.looks.size() != pack.entries.size()) refreshEntries();
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
    pack.selected = std::clamp(pack.selected, 0, std::max(0, selectableCount() - 1));
    // The lines of the list: the entries, then under a heading each the
    // files the index does not name and the backups.
    int entries = static_cast<int>(pack.entries.size());
    int unlisted = static_cast<int>(pack.unlisted.size()), backups = static_cast<int>(pack.backups.size());
    int unlistedTop = entries + (unlisted > 0 ? 1 : 0), backupsTop = unlistedTop + unlisted + (backups > 0 ? 1 : 0);
    int lines = backupsTop + backups;
    int markedLine = onEntry()      ? pack.selected
                     : onUnlisted() ? pack.selected - entries + unlistedTop
                                    : pack.selected - entries - unlisted + backupsTop;
    // Below what is said of an empty index.
    int top = listTop + (!pack.otherIndex.empty() ? 4 : entries == 0 ? 1 : 0), shown = listRows - (top - listTop);
    if (markedLine < pack.firstShown) pack.firstShown = markedLine;
    if (markedLine >= pack.firstShown + shown) pack.firstShown = markedLine - shown + 1;
    pack.firstShown = std::clamp(pack.firstShown, 0, std::max(0, lines - 1));
    for (int row = 0; row < shown; ++row) {
        int line = pack.firstShown + row, y = top + row;
        if (line < 0 || line >= lines) continue;
        if (line < entries) {
            drawEntry(static_cast<size_t>(line), y);
        } else if (line == unlistedTop - 1 && unlisted > 0) {
            writeAt(4, y, 14, "Not in the index, never played (l lists the marked one, d moves it out):");
        } else if (line == backupsTop - 1 && backups > 0) {
            writeAt(4, y, 14, "Backups of earlier versions, never read (d moves the marked one out):");
        } else {
            bool backup = line >= backupsTop;
            int selectable = backup ? entries + unlisted + line - backupsTop : entries + line - unlistedTop;
            const std::string& name = backup ? pack.backups[static_cast<size_t>(line - backupsTop)]
                                             : pack.unlisted[static_cast<size_t>(line - unlistedTop)];
            if (selectable == pack.selected) writeAt(2, y, 15, std::string(1, glyph::marker));
            moveCursor(9, y);
            setTextColor(selectable == pack.selected ? 15 : 7);
            for (char c : shownName(name).substr(0, 40)) writeChar(static_cast<uint8_t>(c));
            writeAt(50, y, 8, backup ? "a backup" : "not in the index");
        }
    }
    writeAt(2, 21, 14, "End line: ");
    setTextColor(15);
    writeChar('*');
    for (char c : pack.author.substr(0, 66)) writeChar(static_cast<uint8_t>(c));
    writeAt(2, 20, 8, pack.where);
    writeAt(2, 22, 8, pack.found);
    writeAt(1, 23, 8, "Enter open   a add   c copy   r rename   d remove   - + move   e author text");
    writeAt(1, 24, 8, "F5 play the room   p play the pack from it   ^Z undo   ^Y redo   q leave");
    if (!pack.note.empty())
        drawNote(pack.note, 15, 3);
    else if (!questionBelow)
        drawMarkedNote();
}

// Where the pack is, and whether the game, started in this folder or
// installed, finds it; if not, where to copy it.
void findWhereabouts() {
    std::string full = fullPath(pack.folder);
    std::string shownFull = shownName(full);  // one byte a character, as the screen shows it
    pack.where =
        "Pack folder: " + (shownFull.size() > 65 ? "..." + shownFull.substr(shownFull.size() - 62) : shownFull);
    std::string parent = full.substr(0, full.rfind('/'));
    std::string here = fullPath("levels/custom levels");
    std::string user = userGameFolder();
    std::string custom = user.empty() ? "" : user + "/levels/custom levels";
    // The pack's name whole, as typed in the game's Custom Levels prompt.
    std::string name = "\"" + pack.name + "\"";
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
    pack.found = shownName(pack.found);
    // Too long for the row: the words go before the name does.
    if (pack.found.size() > 78 && pack.found.find(shownName(name)) != std::string::npos)
        pack.found = "Custom Levels, pack " + shownName(name);
    if (pack.found.size() > 78) pack.found = pack.found.substr(0, 77) + "\xAF";  // »
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

// Which starting room a new room gets; false on Esc.
bool askStartingRoom(const std::string& question, StartingRoom& kind) {
    std::string choices;
    for (int k = 0; k < startingRoomCount; ++k)
        choices += "  " + std::to_string(k + 1) + " " + startingRoomName(static_cast<StartingRoom>(k));
    uint8_t answer = askKey(question + choices + "  Esc no", "1234");
    if (answer == key::escape) return false;
    kind = static_cast<StartingRoom>(answer - '1');
    return true;
}

// The file the index does not name goes at its end; - and + move it.
void listUnlisted(bool ask) {
    if (!onUnlisted() || !mayChange()) return;
    std::string name = unlistedMarked();
    std::string number = std::to_string(pack.entries.size() + 1);
    if (ask) {
        drawPackScreen(true);
        if (askKey(shownName(name).substr(0, 40) + ".lvl is not in the index. List it as room " + number + "? Y/N",
                   "YN") != 'Y')
            return;
    }
    if (!acceptableName(name, -1)) return;
    pack.entries.push_back(name);
    if (!writeIndex()) {
        pack.entries.pop_back();
        return;
    }
    recordChange(changeOf(shownName(name) + " listed as room " + number));
    pack.selected = static_cast<int>(pack.entries.size()) - 1;
    pack.note = "Listed " + shownName(name) + " as room " + number + "; - and + move it.";
}

void openSelected(bool playAtOnce) {
    if (pack.entries.empty()) return;
    if (onUnlisted()) return listUnlisted(true);
    if (!onEntry()) {
        pack.note = shownName(backupMarked()) + " is a backup, not opened here; d moves it out to the state folder.";
        return;
    }
    const std::string& entry = pack.entries[static_cast<size_t>(pack.selected)];
    if (entry.empty()) {
        pack.note = "Line " + std::to_string(pack.selected + 1) +
                    " is blank: the game stops there on its missing-file screen. d removes the line.";
        return;
    }
    std::string state = entryState(entry);
    if (!state.empty() && state != fileMissing) {
        pack.note = inside(entry)
                        ? shownName(entry) + ": " + state + "."
                        : shownName(entry) + " leads out of the pack folder: the editor never opens or writes it.";
        return;
    }
    RoomFile file = packRoomFile(entry);
    StartingRoom fresh = StartingRoom::Empty;
    // No file: a new room only when the author says so (a rescue copy of one is offered as it opens).
    if (state == fileMissing && !findRescue(file, false).found) {
        drawPackScreen(true);
        drawNote("There is no file " + shownName(entry) + ".lvl" +
                     (pack.unlisted.empty() ? "." : "; r renames the entry to a file listed below the index.") +
                     " A new room is written when you save it.",
                 15, 2, 24);
        if (!askStartingRoom("New room from:", fresh)) return;
    }
    pausePackChecks();  // the room's own check takes over
    openRoom(file, shownName(entry), inheritanceOf(pack.selected), true, fresh);
    edit.packEntry = pack.selected;
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
    drawPackScreen(true);
    if (!askRoomName("Name of the new room:", name) || !acceptableName(name, -1)) return;
    RoomFile file = packRoomFile(name);
    bool fileThere = lookAtRoomFile(file).kind != FileKind::Missing;
    StartingRoom kind = StartingRoom::Empty;
    if (!fileThere) drawPackScreen(true);
    if (!fileThere && !askStartingRoom("Start " + shownName(name).substr(0, 20) + " from:", kind)) return;
    size_t at = pack.entries.empty() ? 0 : std::min(static_cast<size_t>(pack.selected) + 1, pack.entries.size());
    pack.entries.insert(pack.entries.begin() + static_cast<long>(at), name);
    if (!writeIndex()) {
        pack.entries.erase(pack.entries.begin() + static_cast<long>(at));
        return;
    }
    recordChange(changeOf(shownName(name) + " added"));
    pack.selected = static_cast<int>(at);
    try {
        // Made only where nothing is: a file there already is left as it is.
        std::string text = roomFileText(startingRoomText(kind), inheritanceOf(pack.selected), true);
        if (createRoomFile(file, text)) {
            PackChange& added = undoList.back();
            added.step = FileStep::Made;
            added.to = name;
            added.bytes += text.size();
            added.text = std::move(text);
            pack.note = "Added " + shownName(name) + " (" + startingRoomName(kind) + "): Enter opens it.";
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
    if (pack.entries.empty() || !onEntry()) return;
    std::string& entry = pack.entries[static_cast<size_t>(pack.selected)];
    std::string name = entry;
    drawPackScreen(true);
    if (!askRoomName("New name:", name) || name == entry || !acceptableName(name, pack.selected)) return;
    RoomFile from = packRoomFile(entry), to = packRoomFile(name);
    bool moveFile = inside(entry) && lookAtRoomFile(from).kind == FileKind::File;
    std::string old = entry;
    FileKind there = lookAtRoomFile(to).kind;
    if (there == FileKind::File) {
        // A file of that name is there (renamed by hand, saved as): the entry may lead to it instead.
        std::string question = shownName(name).substr(0, 30) + ".lvl exists. Y: room " +
                               std::to_string(pack.selected + 1) + " plays it" +
                               (moveFile ? " (" + shownName(old).substr(0, 20) + ".lvl stays)" : "") + ", N: no";
        drawPackScreen(true);
        if (askKey(question, "YN") != 'Y') return;
        entry = name;
        if (!writeIndex()) {
            entry = old;
            return;
        }
        recordChange(changeOf("room " + std::to_string(pack.selected + 1) + " made to play " + shownName(name)));
        pack.note = "Room " + std::to_string(pack.selected + 1) + " is " + shownName(name) + ".lvl now" +
                    (moveFile ? "; " + shownName(old) + ".lvl is still in the folder." : ".");
        return;
    }
    if (there != FileKind::Missing) {
        pack.note = shownName(name) + ".lvl is there, but not a level file: not renamed.";
        return;
    }
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
    entry = name;
    if (!writeIndex()) {
        entry = old;
        try {
            if (moveFile) renameRoomFile(to, from);
        } catch (const FileFailure&) {
        }
        return;
    }
    PackChange renamed = changeOf(shownName(old) + " renamed " + shownName(name));
    if (moveFile) {
        renamed.step = FileStep::Renamed;
        renamed.from = old;
        renamed.to = name;
    }
    recordChange(std::move(renamed));
    pack.note = "Renamed " + shownName(old) + " to " + shownName(name) + ".";
}

void removeRoom() {
    if (!mayChange()) return;
    if (pack.entries.empty() || !onEntry()) return;
    drawPackScreen(true);
    std::string entry = pack.entries[static_cast<size_t>(pack.selected)];
    if (askKey("Remove " + shownName(entry).substr(0, 30) + " from the index? Its file stays. Y/N", "YN") != 'Y')
        return;
    pack.entries.erase(pack.entries.begin() + pack.selected);
    if (!writeIndex()) {
        pack.entries.insert(pack.entries.begin() + pack.selected, entry);
        return;
    }
    recordChange(changeOf(shownName(entry) + " removed from the index"));
    pack.note = "Removed " + shownName(entry) + " from the index; " + shownName(entry) + ".lvl is still in the folder.";
}

// A file below the index (one it does not name, a ~ backup) leaves the
// pack folder for the state folder, where rescue copies go too: never
// deleted, and Ctrl+Z puts it back.
void moveFileOut() {
    RoomFile file = fileMarked();
    std::string name = shownName(file.name);
    drawPackScreen(true);
    if (askKey("Move " + name.substr(0, 40) + " out of the pack folder, to the state folder? Y/N", "YN") != 'Y') return;
    PackChange change = changeOf(name + " moved out to the state folder", FileStep::MovedOut);
    change.file = file;
    try {
        change.moved = moveToStateFolder(file);
    } catch (const FileFailure& failure) {
        pack.note = editorFailureText(failure);
        return;
    }
    pack.note = "Moved " + name + " to " + shownName(homeShort(change.moved)) + "; Ctrl+Z puts it back.";
    recordChange(std::move(change), false);
}

void removeMarked() {
    if (onEntry())
        removeRoom();
    else if (selectableCount() > 0)
        moveFileOut();
}

void moveRoom(int by) {
    int to = pack.selected + by;
    if (pack.entries.empty() || !onEntry() || to < 0 || to >= static_cast<int>(pack.entries.size())) return;
    std::swap(pack.entries[static_cast<size_t>(pack.selected)], pack.entries[static_cast<size_t>(to)]);
    if (!writeIndex()) {
        std::swap(pack.entries[static_cast<size_t>(pack.selected)], pack.entries[static_cast<size_t>(to)]);
        return;
    }
    recordChange(changeOf(shownName(pack.entries[static_cast<size_t>(to)]) + " moved " + (by < 0 ? "up" : "down")));
    pack.selected = to;
}

// A copy of the room, listed after it: the copy's file holds the room whole
// (short rows filled in with what they inherit there), so it looks the same.
void duplicateRoom() {
    if (pack.entries.empty() || !onEntry()) return;
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
    drawPackScreen(true);
    if (!askRoomName("Name of the copy:", name) || !acceptableName(name, -1)) return;
    RoomFile to = packRoomFile(name);
    size_t at = static_cast<size_t>(pack.selected) + 1;
    std::string copied;
    try {
        copied = roomFileText(parseRoomText(readOpenFile(source, from.shown, levelFileLimit)),
                              inheritanceOf(pack.selected), true);
        if (!createRoomFile(to, copied)) {
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
    recordChange(changeOf(shownName(entry) + " copied as " + shownName(name), FileStep::Made, name, copied));
    pack.selected = static_cast<int>(at);
    pack.note = "Copied " + shownName(entry) + " as " + shownName(name) + ", listed after it.";
}

// The pack as the game plays it, from the chosen room on.
void playPackFrom() {
    if (pack.entries.empty() || !onEntry()) return;
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
    drawPackScreen(true);
    if (!askText("Author text:", author, 66)) return;
    std::string old = pack.author;
    pack.author = author;
    if (!writeIndex())
        pack.author = old;
    else
        recordChange(changeOf("the author text changed"));
}

// Waits for a key; meanwhile the rooms' verdicts are worked out in short
// slices, the list shown again as each comes.
void waitForPackKey() {
    while (packChecksBusy() && !keyPressed()) {
        if (advancePackChecks(10)) {
            askVerdicts();  // only the verdicts changed: nothing looked at again
            drawPackScreen();
        }
    }
    waitForKey();
}

}  // namespace

IndexHunk indexHunk(const std::vector<std::string>& base, const std::vector<std::string>& changed) {
    size_t prefix = 0, suffix = 0;
    while (prefix < base.size() && prefix < changed.size() && base[prefix] == changed[prefix]) ++prefix;
    while (suffix < base.size() - prefix && suffix < changed.size() - prefix &&
           base[base.size() - 1 - suffix] == changed[changed.size() - 1 - suffix])
        ++suffix;
    return {prefix, base.size() - suffix,
            std::vector<std::string>(changed.begin() + static_cast<long>(prefix),
                                     changed.end() - static_cast<long>(suffix))};
}

bool mergePackIndexes(const PackIndex& base, const PackIndex& mine, const PackIndex& theirs, PackIndex& merged) {
    // The end line and what follows it: taken from whichever side changed them.
    auto endOf = [](const PackIndex& index) { return std::tie(index.hasEndLine, index.endLine, index.afterEnd); };
    bool mineEnd = endOf(mine) != endOf(base), theirEnd = endOf(theirs) != endOf(base);
    if (mineEnd && theirEnd && endOf(mine) != endOf(theirs)) return false;
    merged = mineEnd ? mine : theirs;
    // The entries: each side's change is one run of lines replaced; runs
    // apart from each other are both made.
    IndexHunk a = indexHunk(base.entries, mine.entries), b = indexHunk(base.entries, theirs.entries);
    bool mineSame = a.from == a.to && a.lines.empty(), theirSame = b.from == b.to && b.lines.empty();
    if (mineSame || theirSame || (a.from == b.from && a.to == b.to && a.lines == b.lines)) {
        merged.entries = mineSame ? theirs.entries : mine.entries;
        return true;
    }
    if (a.from < b.to && b.from < a.to) return false;  // the same rooms changed both ways
    const IndexHunk& first = b.from < a.from || (b.from == a.from && b.to <= a.to) ? b : a;
    const IndexHunk& second = &first == &a ? b : a;
    std::vector<std::string> entries(base.entries.begin(), base.entries.begin() + static_cast<long>(first.from));
    entries.insert(entries.end(), first.lines.begin(), first.lines.end());
    entries.insert(entries.end(), base.entries.begin() + static_cast<long>(first.to),
                   base.entries.begin() + static_cast<long>(second.from));
    entries.insert(entries.end(), second.lines.begin(), second.lines.end());
    entries.insert(entries.end(), base.entries.begin() + static_cast<long>(second.to), base.entries.end());
    merged.entries = std::move(entries);
    merged.longEntry = false;
    return true;
}

std::string offerIndexPlace(const RoomFile& saved) {
    int at = edit.packEntry;
    if (pack.folder.empty() || at < 0 || at >= static_cast<int>(pack.entries.size()) || !saved.inPack ||
        saved.name.size() <= 4 || pack.readOnly)
        return "";
    for (const std::string& entry : pack.entries)
        if (!entry.empty() && packRoomFile(entry).name == saved.name) return "";  // listed already
    std::string name = saved.name.substr(0, saved.name.size() - 4);
    std::string entry = pack.entries[static_cast<size_t>(at)];
    pack.note.clear();
    if (name.find('\\') != std::string::npos || !acceptableName(name, -1))
        return " The index cannot name it" + (pack.note.empty() ? "." : ": " + pack.note);
    std::string shown = shownName(name).substr(0, 24);
    uint8_t answer = askKey(
        "In the index? R: " + shown + " replaces " + shownName(entry).substr(0, 20) + ", A: after it, N: no", "RAN");
    if (answer != 'R' && answer != 'A') return " The index still plays " + shownName(entry) + ".";
    std::vector<std::string> before = pack.entries;
    if (answer == 'R')
        pack.entries[static_cast<size_t>(at)] = name;
    else
        pack.entries.insert(pack.entries.begin() + at + 1, name);
    if (!writeIndex()) {
        pack.entries = before;
        return " " + pack.note;
    }
    recordChange(changeOf(shownName(name) + (answer == 'R' ? " put in place of " + shownName(entry)
                                                           : " listed after " + shownName(entry))));
    edit.packEntry = answer == 'R' ? at : at + 1;
    pack.selected = edit.packEntry;
    return " Room " + std::to_string(edit.packEntry + 1) + " of the pack is " + shownName(name) +
           (answer == 'R' ? " now." : ", after " + shownName(entry) + ".");
}

void runPackEditor(const std::string& folder) {
    pack = PackScreen{};
    undoList.clear();
    redoList.clear();
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
    bool changed = true;
    for (;;) {
        // Files may change with any command (and in the room editor): looked at again.
        changed |= readIndexIfChanged();
        if (changed) refreshEntries();
        drawPackScreen();
        waitForPackKey();
        if (readIndexIfChanged()) refreshEntries();  // the key acts on the index as it is now
        looksLeft = lookBudget;                      // for the entries the key brings into view
        uint8_t pressed = readKey();
        pack.note.clear();
        changed = true;
        if (pressed == key::extended) {
            uint8_t code = readKey();
            changed = code == scan::insert || code == scan::del || code == scan::f5;
            if (code == scan::up) --pack.selected;
            if (code == scan::down) ++pack.selected;
            if (code == scan::home) pack.selected = 0;
            if (code == scan::end) pack.selected = selectableCount() - 1;
            if (code == scan::pageUp) pack.selected -= listRows;
            if (code == scan::pageDown) pack.selected += listRows;
            if (code == scan::insert) addRoom();
            if (code == scan::del) removeMarked();
            if (code == scan::f5) openSelected(true);
            continue;
        }
        switch (pressed) {
            case 'l':
            case 'L':
                listUnlisted(false);
                break;
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
                removeMarked();
                break;
            case key::ctrl('Z'):
                takeBack(undoList, redoList, true);
                break;
            case key::ctrl('Y'):
                takeBack(redoList, undoList, false);
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
