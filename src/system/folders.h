// Files reached through an open folder. A folder is opened once; every name
// in it is then opened, created, renamed or removed relative to that
// descriptor, and what is tested of a file (its kind, its owner, its size)
// is always tested on the descriptor that is then read or written, never on
// a name that could be swapped in between.
//
// A pack folder holds its names beneath it: the kernel keeps the walk there
// (openat2 with RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS), or, on a kernel
// without openat2, a walk of O_NOFOLLOW steps that resolves each link by hand
// inside the folder. A name or a link that leads out fails with EXDEV.
// Names are taken as they are: '\' is mapped by those who read names from
// data (hostPath), never here, so the target of a link is never rewritten.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "system/files.h"

enum class Reach : uint8_t {
    // Links followed wherever they lead, as the user's own paths are; a
    // write walks by hand and never follows a link that another user put in
    // a sticky, world-writable folder (such as /tmp).
    Anywhere,
    // Held beneath the folder: a pack's files.
    Beneath,
};

// The error of a name or link that leads out of a Beneath folder, and of a
// link another user put in a sticky, world-writable folder, met by a write.
constexpr int leadsOutError = EXDEV;
constexpr int foreignLinkError = ENOLINK;  // which no local file system gives
std::string reasonFor(int error);          // strerror, or what those two mean here

// An open folder; closed when it goes. Move-only.
struct Folder {
    int fd = -1;
    std::string path;  // as named (no trailing '/'): reports name files by it
    Reach reach = Reach::Anywhere;

    Folder() = default;
    Folder(int fd, std::string path, Reach reach) : fd(fd), path(std::move(path)), reach(reach) {}
    Folder(Folder&& other) noexcept : fd(other.fd), path(std::move(other.path)), reach(other.reach) { other.fd = -1; }
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();
};

// The folder a path names, links in the path followed (the user named it);
// fd -1 with errno set when it cannot be opened.
Folder openFolder(const std::string& path, Reach reach);
// The current folder, as its own descriptor.
Folder currentFolder(Reach reach = Reach::Anywhere);
bool isOpen(const Folder& folder);
// A folder reached from folder by its reach (forWriting: as writes walk), with the same reach.
Folder openFolderIn(const Folder& folder, std::string_view name, bool forWriting);
// Another descriptor of the same folder.
Folder sameFolder(const Folder& folder);
// How reports name a file of the folder: "FOLDER/NAME" (NAME alone for the
// current folder or an absolute name).
std::string pathIn(const Folder& folder, std::string_view name);

// Link only from openEntryIn.
enum class FileKind : uint8_t { Missing, Outside, Loop, File, Folder, Other, Unreadable, Link };
struct FileLook {
    FileKind kind = FileKind::Missing;
    int error = 0;          // why, for Missing, Outside, Loop and Unreadable
    struct stat info = {};  // for the others
};
// What name is, links followed by the folder's reach; nothing is read.
FileLook lookAt(const Folder& folder, std::string_view name);
// Missing, Outside and Loop: there is no file there for this folder.
bool noFileThere(FileKind kind);

// Opens name for reading only when it is a regular file, never waiting on a
// FIFO; -1 otherwise, with look saying what is there. The descriptor
// returned is the one whose kind was tested.
int openForReading(const Folder& folder, std::string_view name, FileLook& look);
// Reads at most maxBytes of it; a name with no file there (noFileThere)
// gives false and look says why; other failures throw FileFailure.
bool readFileIfThere(const Folder& folder, std::string_view name, std::string& text, FileLook& look,
                     size_t maxBytes = 4u << 20);

// A file opened for reading (openForReading), closed when it goes; fd -1
// when it could not be, look saying why. Move-only.
struct OpenFile {
    int fd = -1;
    FileLook look;
    OpenFile() = default;
    OpenFile(OpenFile&& other) noexcept : fd(other.fd), look(other.look) { other.fd = -1; }
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile();
};
OpenFile openFileIn(const Folder& folder, std::string_view name);
// The same for the entry itself: a link there is not followed (its kind is
// then Link), so what is read is a regular file that was there by that name.
OpenFile openEntryIn(const Folder& folder, std::string_view name);
// Reads it whole, up to maxBytes, and closes it; throws FileFailure naming path.
std::string readOpenFile(OpenFile& file, const std::string& path, size_t maxBytes = 4u << 20);
// Reads the next bytes of it into buffer: how many, 0 at its end. Throws FileFailure naming path.
size_t readChunk(OpenFile& file, const std::string& path, char* buffer, size_t size);

// What a file to be replaced keeps: of the file there now (links followed by the reach).
FileKeep keptOfIn(const Folder& folder, std::string_view name);
FileKeep keepOf(const struct stat& info);

// Replaces the entry name whole (a link there is replaced, not followed):
// a new temporary file beside it, filled, synced, renamed over it. Throws FileFailure.
void replaceFileIn(const Folder& folder, std::string_view name, std::string_view contents, const FileKeep& keep = {});
// Creates name whole only when nothing is there; false (nothing written) when something is.
bool createFileIn(const Folder& folder, std::string_view name, std::string_view contents, const FileKeep& keep = {});
// The file that name leads to at the end of its links, resolved by hand
// inside the folder's reach: the name beneath the folder (Beneath) or the
// path (Anywhere) of the file to write. Throws FileFailure.
std::string linkedFileIn(const Folder& folder, std::string_view name);
// Saves contents as the file name leads to (through a link its target is
// written and the link kept); its previous bytes, whole, go to TARGET~
// first; both keep the replaced file's mode and, where allowed, owner and
// group. Returns the name of the file written. Throws FileFailure.
std::string replaceKeepingBackupIn(const Folder& folder, std::string_view name, std::string_view contents);
// A byte copy of the whole of an open file (however large) replacing to; closes it.
void copyOpenFileIn(OpenFile& from, const std::string& fromShown, const Folder& toFolder, std::string_view to,
                    const FileKeep& keep);
// A byte copy of the whole regular file from (however large) replacing to.
void copyFileIn(const Folder& fromFolder, std::string_view from, const Folder& toFolder, std::string_view to,
                const FileKeep& keep);
// Makes the folder name and those above it inside the folder (mode 755, or
// 700 with private). Throws FileFailure.
void makeFoldersIn(const Folder& folder, std::string_view name, bool privateFolders = false);
// Renames an entry (a link is moved as a link); false when to is taken. Throws FileFailure.
bool renameIn(const Folder& folder, std::string_view from, std::string_view to);
// Moves an entry into another folder, copying across file systems; false when to is taken.
bool moveInto(const Folder& fromFolder, std::string_view from, const Folder& toFolder, std::string_view to);
// Removes the entry (a link, never what it points to); false when it was not there. Throws FileFailure.
bool removeIn(const Folder& folder, std::string_view name);
// Removes the empty folder name; false when it was not there. Throws FileFailure.
bool removeFolderIn(const Folder& folder, std::string_view name);
// The names of the entries of the folder name ("" or "." for the folder
// itself), in order; none when it cannot be read.
std::vector<std::string> entriesIn(const Folder& folder, std::string_view name);
// The names in the folder that fd opened (. and .. left out); fd is closed here.
std::vector<std::string> namesInOpenFolder(int fd);
// True while the process of that number runs (this one does): its leftovers are not ours to remove.
bool processRuns(long pid);
// The longest entry name the folder name takes.
size_t longestNameIn(const Folder& folder, std::string_view name);
// The folder part and the last part of a name: "a/b/c" gives "a/b" and "c"; "c" gives "." and "c".
std::pair<std::string, std::string> splitName(std::string_view name);

// The player's state folder: $XDG_STATE_HOME/quorvex (~/.local/state/quorvex
// when it is unset or relative); "" without either. Runs, bests and the
// editor's rescue copies are kept there, and only while it is the user's own.
std::string stateFolder();
// Why a folder is not the user's own to keep files in ("" when it is):
// someone else's, or one that others may write in.
std::string whyNotOwn(const Folder& folder);
// The state folder, or the folder below names inside it, made (700) where
// missing unless only read, and reached as writes are (another user's link
// in a shared folder is not followed). Not open, with why set, when there is
// none or it is not the user's own (why empty: only read, and not made yet).
// Throws FileFailure when a folder cannot be made.
Folder ownStateFolder(std::string_view below, std::string& why, bool onlyRead = false);

// An advisory lock on a file of the folder (made, 600, when missing), so
// that two programs take turns at a read and rewrite: only a regular file of
// the user's own is locked, opened without following a link or waiting on
// it. Released when it goes. Move-only; fd -1 when not held.
struct HeldLock {
    int fd = -1;
    HeldLock() = default;
    explicit HeldLock(int fd) : fd(fd) {}
    HeldLock(HeldLock&& other) noexcept : fd(other.fd) { other.fd = -1; }
    HeldLock& operator=(HeldLock&& other) noexcept;
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    ~HeldLock();
};
// Waits at most waitMs for the lock; not held (errno set) when another keeps it longer.
HeldLock lockFileIn(const Folder& folder, std::string_view name, int waitMs);

// The game's folder, opened once and held: every file of the game is reached
// through it, never by a path built from its name, so a folder renamed during
// play is never written into by its old name, and a folder whose path is
// longer than PATH_MAX plays. holdGameFolder holds the current folder as the
// one named path (run.baseDirectory); gameFolder(path) is the held one while
// path names it, else path opened now and held from then on; gameFolder()
// the one last held or opened (the current folder when none was).
void holdGameFolder(const std::string& path);
const Folder& gameFolder(const std::string& path);
const Folder& gameFolder();

// For tests: walk by hand even where the kernel has openat2.
void useWalkByHand(bool byHand);
