// The editor's own file rules, over the game's file layer (system/folders):
// where a room's file is (beneath the open pack folder, or a path of the
// author's own), and the rescue copy that a signal or a hang-up writes
// before the terminal is restored, and that a later run offers back.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "console/terminal.h"
#include "edit/edit.h"
#include "levels/levels.h"
#include "system/folders.h"
#include "system/output.h"
#include "system/rescue.h"

namespace {

Folder heldPack;  // the pack screen's folder, its names held beneath it

// --- the rescue copy's signal handler ---

struct sigaction earlierHandlers[4];
const int rescueSignals[4] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void rescueOnSignal(int signalNumber) {
    int saved = errno;
    int index = 0;
    while (index < 3 && rescueSignals[index] != signalNumber) ++index;
    const struct sigaction& earlier = earlierHandlers[index];
    bool ignored = !(earlier.sa_flags & SA_SIGINFO) && earlier.sa_handler == SIG_IGN;
    std::string_view report = writeArmedRescueCopy();
    if (!report.empty()) {
        if (!ignored) {
            // The run ends: the terminal back first, so the report stays on the screen.
            restoreTerminalInSignalHandler();
            writeWhole(STDERR_FILENO, report);  // write() alone
        } else if (!isatty(STDERR_FILENO)) {
            writeWhole(STDERR_FILENO, report);  // nohup's file: the run goes on on its terminal
        }
    }
    errno = saved;
    // Then whatever handled the signal before: the terminal's restore, which
    // ends the program by the signal.
    if (earlier.sa_flags & SA_SIGINFO) {
        earlier.sa_sigaction(signalNumber, nullptr, nullptr);
        return;
    }
    if (ignored) return;  // ignored before (nohup): the copy is kept, the run goes on
    if (earlier.sa_handler != SIG_DFL) {
        earlier.sa_handler(signalNumber);
        return;
    }
    dieOfSignal(signalNumber);
}

// --- rescue copies' names ---

// The room's name, shortened when NAME.PID.rescue (and its temporary name,
// and the -N of a name taken) would not fit the folder: its first bytes (whole UTF-8 characters), '~'
// and eight hex digits of the whole name, so rooms that begin alike keep
// copies apart.
std::string rescueStem(const std::string& base, size_t longest) {
    constexpr size_t room = 32;  // '~', 8 digits, '.', a pid, ".rescue", ".tmp"
    if (base.size() + room <= longest) return base;
    size_t keep = longest > room ? longest - room : 0;
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
    uint32_t hash = 2166136261u;
    for (char c : base) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    static const char digits[] = "0123456789abcdef";
    std::string stem = base.substr(0, keep) + "~";
    for (int shift = 28; shift >= 0; shift -= 4) stem += digits[(hash >> shift) & 15];
    return stem;
}

// A rescue copy of the room named base: "base.rescue" (of older versions)
// or "STEM.PID.rescue".
bool isRescueOf(std::string_view entry, const std::string& base, const std::string& stem) {
    if (entry == base + ".rescue") return true;
    constexpr std::string_view suffix = ".rescue";
    if (entry.size() <= stem.size() + 1 + suffix.size() || entry.substr(0, stem.size()) != stem ||
        entry[stem.size()] != '.' || entry.substr(entry.size() - suffix.size()) != suffix)
        return false;
    // PID, or PID-N where a copy of that name was there already.
    std::string_view pid = entry.substr(stem.size() + 1, entry.size() - stem.size() - 1 - suffix.size());
    auto number = [](std::string_view digits) {
        return !digits.empty() && digits.size() <= 10 &&
               std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    size_t dash = pid.find('-');
    return dash == std::string_view::npos ? number(pid) : number(pid.substr(0, dash)) && number(pid.substr(dash + 1));
}

// The state folder as copies reach it: the nearest folder of its path that
// is there, reached without following a link another user put in a shared
// folder, and the parts below it still to make; or why it is not used.
struct StatePlace {
    Folder base;
    std::string rest;
    std::string refused;
};

StatePlace placeOfState(const std::string& state) {
    StatePlace place;
    std::string at = state;
    for (;;) {
        place.base = openFolderIn(currentFolder(), at, true);
        if (isOpen(place.base)) break;
        if (errno != ENOENT && errno != ENOTDIR) {
            place.refused = reasonFor(errno);
            return place;
        }
        size_t slash = at.rfind('/');
        if (slash == std::string::npos || at == "/") return place;
        place.rest = at.substr(slash + 1) + (place.rest.empty() ? "" : "/" + place.rest);
        at = slash == 0 ? "/" : at.substr(0, slash);
    }
    if (place.rest.empty()) place.refused = whyNotOwn(place.base);
    if (!place.refused.empty()) place.base = Folder{};
    return place;
}

std::string temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

// The room's folder as writes reach it, and the room's last part.
Folder roomFolder(const RoomFile& file, std::string& base, bool forWriting) {
    auto [above, last] = splitName(file.name);
    base = last;
    Folder from = folderFor(file);
    return openFolderIn(from, above, forWriting);
}

std::string whenWritten(const struct stat& info) {
    char text[32];
    struct tm local {};
    time_t seconds = info.st_mtim.tv_sec;
    localtime_r(&seconds, &local);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace

// --- where files are ---

RoomFile authorsFile(const std::string& path) { return {false, path, path}; }

RoomFile packRoomFile(std::string_view entry) {
    std::string name = packFileName(entry) + ".lvl";
    return {true, name, pathIn(heldPack, name)};
}

void holdPackFolder(const std::string& path) {
    // Reached as writes are: the editor writes there, so a link another user
    // put in a shared folder on the way is not followed.
    heldPack = openFolderIn(currentFolder(), path, true);
    if (!isOpen(heldPack)) throw FileFailure{"open", path, reasonFor(errno)};
    heldPack.reach = Reach::Beneath;
}

const Folder& packFolder() { return heldPack; }

Folder folderFor(const RoomFile& file) {
    if (file.inPack) return sameFolder(heldPack);
    return currentFolder();
}

FileLook lookAtRoomFile(const RoomFile& file) {
    if (file.inPack) return lookAtPackFile(heldPack, file.name);
    return lookAt(currentFolder(), file.name);
}

PathKind pathKind(const std::string& path) {
    switch (lookAt(currentFolder(), path).kind) {
        case FileKind::File:
            return PathKind::File;
        case FileKind::Folder:
            return PathKind::Folder;
        case FileKind::Missing:
            return PathKind::Missing;
        default:
            return PathKind::Other;
    }
}

bool sameFile(const RoomFile& a, const RoomFile& b) {
    FileLook one = lookAtRoomFile(a), other = lookAtRoomFile(b);
    return one.kind == FileKind::File && other.kind == FileKind::File && one.info.st_dev == other.info.st_dev &&
           one.info.st_ino == other.info.st_ino;
}

bool staysInside(std::string_view entry) {
    if (entry.empty()) return false;
    if (entry.size() >= 2 && entry[1] == ':') return false;  // a Windows drive letter
    return lookAtPackFile(heldPack, std::string(entry) + ".lvl").kind != FileKind::Outside;
}

OpenFile openRoomFile(const RoomFile& file) {
    if (file.inPack) return openPackFile(heldPack, file.name);
    return openFileIn(currentFolder(), file.name);
}

std::string readRoomFile(const RoomFile& file, size_t maxBytes) {
    OpenFile opened = openRoomFile(file);
    return readOpenFile(opened, file.shown, maxBytes);
}

std::string saveRoomFile(const RoomFile& file, std::string_view text) {
    Folder folder = folderFor(file);
    // A room not written yet: its folders are made now, not before.
    std::string target = linkedFileIn(folder, file.name);
    std::string above = splitName(target).first;
    if (above != "." && above != "/" && lookAt(folder, above).kind == FileKind::Missing) makeFoldersIn(folder, above);
    return pathIn(folder, replaceKeepingBackupIn(folder, file.name, text));
}

std::string whyNotWritable(const RoomFile& file) {
    try {
        Folder folder = folderFor(file);
        linkedFileIn(folder, file.name);
    } catch (const FileFailure& failure) {
        // Only a link that is refused; a folder not made yet is made at the save.
        if (failure.reason == reasonFor(foreignLinkError) || failure.reason == reasonFor(leadsOutError))
            return failure.reason;
    }
    return "";
}

bool createRoomFile(const RoomFile& file, std::string_view text) {
    Folder folder = folderFor(file);
    std::string above = splitName(file.name).first;
    if (above != ".") makeFoldersIn(folder, above);
    return createFileIn(folder, file.name, text);
}

bool renameRoomFile(const RoomFile& from, const RoomFile& to) {
    Folder folder = folderFor(from);
    std::string above = splitName(to.name).first;
    if (above != ".") makeFoldersIn(folder, above);
    return renameIn(folder, from.name, to.name);
}

bool removeRoomFile(const RoomFile& file) { return removeIn(folderFor(file), file.name); }

std::string fullPath(const std::string& path) { return resolvedPath(hostPath(path)); }

std::string userGameFolder() {
    // The launcher's rule: an absolute XDG_DATA_HOME, else ~/.local/share.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::string(data) + "/quorvex";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/share/quorvex";
    return "";
}

std::string homeShort(const std::string& path) {
    const char* home = std::getenv("HOME");
    std::string prefix = home != nullptr ? std::string(home) + "/" : "";
    if (prefix.size() > 1 && path.compare(0, prefix.size(), prefix) == 0) return "~/" + path.substr(prefix.size());
    return path;
}

// --- the rescue copy ---

void armRescue(const RoomFile& file, std::string_view text) {
    std::string base;
    Folder beside = roomFolder(file, base, true);
    // Another folder than last time: its name limit, and what killed runs
    // left there. The last one is held open, so that a folder made after it
    // was removed can never take its inode and pass for it.
    static Folder last;
    static size_t longest = 255;
    FileLook where = isOpen(beside) ? lookAt(beside, ".") : FileLook{};
    FileLook before = isOpen(last) ? lookAt(last, ".") : FileLook{};
    if (where.kind == FileKind::Folder && (before.kind != FileKind::Folder || where.info.st_dev != before.info.st_dev ||
                                           where.info.st_ino != before.info.st_ino)) {
        last = sameFolder(beside);
        longest = longestNameIn(beside, ".");
        removeRescueLeftovers(beside.fd);
    }
    StatePlace state = stateFolder().empty() ? StatePlace{} : placeOfState(stateFolder());
    static bool stateCleaned = false;  // once a run: what killed runs left in the state folder
    if (!stateCleaned && isOpen(state.base) && state.rest.empty()) {
        stateCleaned = true;
        removeRescueLeftovers(state.base.fd);
    }
    RescuePlan plan;
    plan.stateBase = state.base.fd;
    plan.stateRest = state.rest;
    plan.stateRefused = state.refused;
    std::string name = rescueStem(base, longest) + "." + std::to_string(getpid()) + ".rescue";
    plan.besideFolder = beside.fd;
    plan.besideName = name;
    plan.besideShown = pathIn(beside, name);
    plan.stateFolder = stateFolder();
    plan.temporaryFolder = temporaryFolder();
    plan.secondName = name;
    plan.program = "quorvex-edit";
    plan.what = "the unsaved room";
    armRescueCopy(plan, text);
}

void disarmRescue() { disarmRescueCopy(); }

std::string writeRescueNow() {
    std::string report(writeArmedRescueCopy());
    while (!report.empty() && report.back() == '\n') report.pop_back();
    return report;
}

std::string rescueFolders() {
    std::string state = stateFolder();
    return (state.empty() ? "" : state + ", then ") + "a private folder in " + temporaryFolder();
}

RescueOffer findRescue(const RoomFile& room, bool tidy, const std::vector<std::string>* names) {
    RescueOffer offer;
    std::string base;
    Folder folder = roomFolder(room, base, false);
    if (!isOpen(folder)) return offer;
    std::string stem = rescueStem(base, longestNameIn(folder, "."));
    std::vector<std::string> read;
    if (names == nullptr) names = &(read = entriesIn(folder, "."));
    // Only the names that begin with the stem or the room's own name: a
    // folder of any size costs a look-up, not a walk.
    std::vector<std::string> candidates;
    for (const std::string& start : {stem, base}) {
        for (auto at = std::lower_bound(names->begin(), names->end(), start);
             at != names->end() && at->compare(0, start.size(), start) == 0; ++at)
            if (std::find(candidates.begin(), candidates.end(), *at) == candidates.end()) candidates.push_back(*at);
        if (stem == base) break;
    }
    FileLook roomLook = lookAtRoomFile(room);
    std::string roomText;
    bool roomRead = false;
    for (const std::string& entry : candidates) {
        if (!isRescueOf(entry, base, stem)) continue;
        // Only the user's own regular file, never a link: one planted by
        // someone else, or leading to someone else's file, is not offered.
        OpenFile copy = openEntryIn(folder, entry);
        if (copy.fd < 0 || copy.look.info.st_uid != geteuid()) continue;
        struct stat info = copy.look.info;
        std::string text;
        try {
            text = readOpenFile(copy, pathIn(folder, entry), levelFileLimit);
            if (!roomRead && roomLook.kind == FileKind::File) roomText = readRoomFile(room, levelFileLimit);
            roomRead = true;
        } catch (const FileFailure&) {
            continue;
        }
        // What the room holds already is no unsaved work: it goes.
        if (roomLook.kind == FileKind::File && text == roomText) {
            try {
                if (tidy) removeIn(folder, entry);
            } catch (const FileFailure&) {
            }
            continue;
        }
        const timespec &at = info.st_mtim, &file = roomLook.info.st_mtim;
        bool newer = roomLook.kind != FileKind::File || at.tv_sec > file.tv_sec ||
                     (at.tv_sec == file.tv_sec && at.tv_nsec > file.tv_nsec);
        if (!newer) continue;
        ++offer.count;
        if (!offer.found || at.tv_sec > offer.written.tv_sec ||
            (at.tv_sec == offer.written.tv_sec && at.tv_nsec > offer.written.tv_nsec)) {
            offer.found = true;
            offer.written = at;
            offer.name = entry;
            offer.when = whenWritten(info);
            offer.text = std::move(text);
        }
    }
    if (offer.found) {
        std::string above = splitName(room.name).first;
        offer.file = {room.inPack, above == "." ? offer.name : above + "/" + offer.name, pathIn(folder, offer.name)};
    }
    return offer;
}

namespace {

// The state folder, made where missing, as copies use it: only when it is the user's own.
Folder stateFolderForMoves(const std::string& shown) {
    std::string state = stateFolder();
    if (state.empty()) throw FileFailure{"rename", shown, "no state folder (HOME is not set)"};
    Folder here = currentFolder();
    makeFoldersIn(here, state, true);
    Folder folder = openFolderIn(here, state, true);
    if (!isOpen(folder)) throw FileFailure{"rename", state, reasonFor(errno)};
    if (std::string why = whyNotOwn(folder); !why.empty()) throw FileFailure{"use", state, why};
    return folder;
}

}  // namespace

std::string moveToStateFolder(const RoomFile& file) {
    Folder to = stateFolderForMoves(file.shown);
    std::string base;
    Folder from = roomFolder(file, base, true);
    for (int n = 0; n < 100; ++n) {
        std::string name = n == 0 ? base : base + "." + std::to_string(n);
        if (moveInto(from, base, to, name)) return pathIn(to, name);
    }
    throw FileFailure{"rename", file.shown, reasonFor(EEXIST)};
}

bool moveBackFromStateFolder(const std::string& moved, const RoomFile& file) {
    Folder from = stateFolderForMoves(moved);
    std::string base;
    Folder to = roomFolder(file, base, true);
    if (!isOpen(to)) throw FileFailure{"rename", file.shown, reasonFor(errno)};
    return moveInto(from, splitName(moved).second, to, base);
}

std::string moveRescueAway(const RescueOffer& offer) { return moveToStateFolder(offer.file); }

bool removeRescue(const RoomFile& rescue) {
    try {
        return removeRoomFile(rescue);
    } catch (const FileFailure&) {
        return false;
    }
}

std::string readLevelLines(const RoomFile& file, size_t maxLines, size_t maxLineLength, size_t maxBytes) {
    OpenFile opened = openRoomFile(file);
    return readLevelLines(opened, file.shown, maxLines, maxLineLength, maxBytes);
}

std::string readLevelLines(OpenFile& opened, const std::string& shown, size_t maxLines, size_t maxLineLength,
                           size_t maxBytes) {
    // Each line ends in LF here, whatever ended it in the file, so that
    // splitting the result gives the lines the game's reading gives.
    std::string kept;
    size_t lines = 0, lineLength = 0, readSoFar = 0;
    bool afterCR = false;
    char chunk[65536];
    while (lines < maxLines && readSoFar < maxBytes) {
        size_t got = readChunk(opened, shown, chunk, std::min(sizeof chunk, maxBytes - readSoFar));
        if (got == 0) break;
        readSoFar += got;
        const char* at = chunk;
        const char* end = chunk + got;
        while (at < end && lines < maxLines) {
            if (afterCR && *at == '\n') ++at;
            afterCR = false;
            const char* lineEnd = std::find_if(at, end, [](char c) { return c == '\r' || c == '\n'; });
            size_t allowance = maxLineLength - std::min(lineLength, maxLineLength);
            size_t length = static_cast<size_t>(lineEnd - at);
            kept.append(at, std::min(length, allowance));
            lineLength += length;
            at = lineEnd;
            if (at == end) break;
            afterCR = *at == '\r';
            kept += '\n';
            ++lines;
            lineLength = 0;
            ++at;
        }
    }
    return kept;
}

void installRescueHandlers() {
    for (int i = 0; i < 4; ++i) {
        // Also where the parent ignores the signal (nohup): the handler then
        // only writes the copy, and a terminal that is really gone ends the
        // run through the console layer.
        struct sigaction current {};
        sigaction(rescueSignals[i], nullptr, &current);
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == rescueOnSignal) continue;  // installed already
        earlierHandlers[i] = current;
        struct sigaction mine {};
        mine.sa_handler = rescueOnSignal;
        sigfillset(&mine.sa_mask);
        sigaction(rescueSignals[i], &mine, nullptr);
    }
}
