#include "system/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "system/output.h"

namespace {

bool walkByHand = false;

void tellWatcher(const char* operation, int fd, std::string_view name = {}) {
    if (fileUseWatcher != nullptr) fileUseWatcher(operation, fd, name);
}

// --- reaching a name ---

bool kernelHasOpenat2() {
    static const bool has = [] {
        open_how how{};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH;
        long fd = syscall(SYS_openat2, AT_FDCWD, ".", &how, sizeof how);
        if (fd < 0) return false;  // ENOSYS, or a filter that refuses it
        close(static_cast<int>(fd));
        return true;
    }();
    return has;
}

int openat2Beneath(int folder, const std::string& name, int flags, unsigned mode) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    // EAGAIN: a rename elsewhere raced the walk; the kernel asks for another try.
    for (int tries = 0; tries < 64; ++tries) {
        long fd = syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        if (errno != EAGAIN && errno != EINTR) return -1;
    }
    return -1;
}

// True for a link that another user put in a sticky, world-writable folder.
bool foreignLink(int folder, const char* name) {
    struct stat where, link;
    if (fstat(folder, &where) != 0 || fstatat(folder, name, &link, AT_SYMLINK_NOFOLLOW) != 0) return true;
    bool shared = (where.st_mode & S_ISVTX) && (where.st_mode & S_IWOTH);
    return shared && link.st_uid != geteuid();
}

void closeAll(std::vector<int>& held) {
    for (int fd : held) close(fd);
    held.clear();
}

int failWith(std::vector<int>& held, int error) {
    closeAll(held);
    errno = error;
    return -1;
}

void pushParts(std::vector<std::string>& pending, std::string_view path) {
    // Kept reversed: the next part is at the back.
    std::vector<std::string> parts;
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// The walk by hand: each part opened with O_NOFOLLOW from the folder above
// it, each link read and its target walked in its place. Beneath, ".."
// goes back only to folders this walk went through, and neither an
// absolute target nor a ".." past the start is followed.
int walk(int start, std::string_view path, int flags, unsigned mode, bool beneath, bool refuseForeignLinks) {
    std::vector<int> held;
    std::vector<std::string> pending;
    auto startAtRoot = [&]() {
        closeAll(held);
        held.push_back(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        return held.back() >= 0;
    };
    if (!path.empty() && path[0] == '/') {
        if (beneath) return failWith(held, leadsOutError);
        if (!startAtRoot()) return failWith(held, errno);
    } else {
        int first = openat(start, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (first < 0) return -1;
        held.push_back(first);
    }
    pushParts(pending, path);
    bool followLast = !(flags & O_NOFOLLOW);  // O_NOFOLLOW asked: the last part is taken as it is
    for (int hops = 0;;) {
        while (!pending.empty() && pending.back() == ".") pending.pop_back();
        if (pending.empty()) {
            int fd = openat(held.back(), ".", flags | O_CLOEXEC, mode);
            int error = errno;
            closeAll(held);
            errno = error;
            return fd;
        }
        std::string part = std::move(pending.back());
        pending.pop_back();
        bool last = pending.empty();
        if (part == "..") {
            if (held.size() > 1) {
                close(held.back());
                held.pop_back();
            } else if (beneath) {
                return failWith(held, leadsOutError);
            } else {
                int up = openat(held.back(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
                if (up < 0) return failWith(held, errno);
                close(held.back());
                held.back() = up;
            }
            continue;
        }
        int fd = last ? openat(held.back(), part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode)
                      : openat(held.back(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        bool isLink = false;
        if (fd >= 0) {
            struct stat info;
            if ((!last || ((flags & O_PATH) && followLast)) && fstat(fd, &info) == 0 && S_ISLNK(info.st_mode)) {
                isLink = true;
                close(fd);
            } else if (!last && (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode))) {
                close(fd);
                return failWith(held, ENOTDIR);
            } else if (!last) {
                held.push_back(fd);
                continue;
            } else {
                closeAll(held);
                return fd;
            }
        } else {
            // O_NOFOLLOW met a link (ELOOP, or ENOTDIR with O_DIRECTORY);
            // with O_EXCL a link is never followed.
            int error = errno;
            struct stat info;
            if (!last || !followLast || (error != ELOOP && error != ENOTDIR) ||
                fstatat(held.back(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                return failWith(held, error);
            if (!S_ISLNK(info.st_mode)) {
                // A link when opened, no link now: it was swapped meanwhile; look again.
                bool swapped = error == ELOOP || S_ISDIR(info.st_mode);
                if (!swapped || ++hops > 40) return failWith(held, error);
                pending.push_back(part);
                continue;
            }
            isLink = true;
        }
        if (!isLink) continue;
        if (++hops > 40) return failWith(held, ELOOP);
        if (refuseForeignLinks && foreignLink(held.back(), part.c_str())) return failWith(held, foreignLinkError);
        char target[4096];
        ssize_t length = readlinkat(held.back(), part.c_str(), target, sizeof target);
        if (length < 0 && errno == EINVAL) {  // no link any more: look again
            pending.push_back(part);
            continue;
        }
        if (length < 0) return failWith(held, errno);
        if (length == 0) return failWith(held, ENOENT);
        if (static_cast<size_t>(length) == sizeof target) return failWith(held, ENAMETOOLONG);
        std::string_view to(target, static_cast<size_t>(length));
        if (to[0] == '/') {
            if (beneath) return failWith(held, leadsOutError);
            if (!startAtRoot()) return failWith(held, errno);
        }
        pushParts(pending, to);
    }
}

// The name opened from the folder by its reach; a write from an Anywhere
// folder walks by hand so that it can refuse another user's link.
int reach(const Folder& folder, std::string_view name, int flags, unsigned mode, bool writing) {
    if (name.find('\0') != std::string_view::npos) {
        errno = ENOENT;  // the system call would see a shorter name
        return -1;
    }
    std::string text(name.empty() ? "." : name);
    if (folder.reach == Reach::Beneath) {
        if (!walkByHand && kernelHasOpenat2()) return openat2Beneath(folder.fd, text, flags, mode);
        return walk(folder.fd, text, flags, mode, true, false);
    }
    if (writing) return walk(folder.fd, text, flags, mode, false, true);
    return openat(folder.fd, text.c_str(), flags | O_CLOEXEC, mode);
}

FileKind kindOfError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:  // a name no file can have
            return FileKind::Missing;
        case leadsOutError:
            return FileKind::Outside;
        case ELOOP:
            return FileKind::Loop;
        default:
            return FileKind::Unreadable;
    }
}

FileKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::File;
    if (S_ISDIR(mode)) return FileKind::Folder;
    return FileKind::Other;
}

FileFailure failure(const char* operation, const Folder& folder, std::string_view name, int error = errno) {
    return {operation, pathIn(folder, name), reasonFor(error)};
}

// The folder that holds name, for changing its entries, and the last part.
int openParent(const Folder& folder, std::string_view name, std::string& base) {
    auto [above, last] = splitName(name);
    base = last;
    if (base.empty() || base == "." || base == "..") {
        errno = EISDIR;
        return -1;
    }
    return reach(folder, above, O_PATH | O_DIRECTORY, 0, true);
}

// --- replacing a file whole ---

// Temporary files are "<name>.<pid>.<six letters>.tmp" beside the file they
// replace: unique for each write, and the pid tells a leftover of a killed
// run from the live write of another program in the same folder.
constexpr const char* temporarySuffix = ".tmp";

std::string randomLetters() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        static unsigned counter = 0;
        unsigned seed =
            static_cast<unsigned>(getpid()) * 2654435761u + counter++ * 40503u + static_cast<unsigned>(time(nullptr));
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(seed >>= 3);
    }
    std::string word;
    for (unsigned char b : bytes) word += letters[b % (sizeof letters - 1)];
    return word;
}

// Pid of a temporary name for the file named base, or -1 when the name is
// not one of ours. The fixed name of older versions counts as a leftover too.
long temporaryOwner(std::string_view entry, std::string_view base) {
    if (entry.size() <= base.size() + 1 || entry.substr(0, base.size()) != base || entry[base.size()] != '.') return -1;
    std::string_view rest = entry.substr(base.size() + 1);
    if (rest == "tmp") return 0;
    size_t suffix = std::strlen(temporarySuffix);
    if (rest.size() < suffix + 8 || rest.substr(rest.size() - suffix) != temporarySuffix) return -1;
    rest.remove_suffix(suffix);
    size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos || rest.size() - dot - 1 != 6 || dot > 9) return -1;
    long pid = 0;
    for (char c : rest.substr(0, dot)) {
        if (c < '0' || c > '9') return -1;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// What temporary names of base begin with: base, or for a name too long to
// take the suffix, its first 200 bytes and '~'.
std::string temporaryStem(std::string_view base) {
    if (base.size() + 24 <= 255) return std::string(base);
    return std::string(base.substr(0, 200)) + "~";
}

// The folder's time as this process left it after its last write of a
// name there: while it is unchanged no one else has made a file in the
// folder since, so there is no leftover to look for, and a folder of any
// size is not read again at every write.
struct Scanned {
    dev_t device;
    ino_t inode;
    std::string base;
    timespec left;
};
std::vector<Scanned> scanned;

Scanned* scanOf(int folder, std::string_view base, struct stat& info) {
    if (fstat(folder, &info) != 0) return nullptr;
    for (Scanned& s : scanned)
        if (s.device == info.st_dev && s.inode == info.st_ino && s.base == base) return &s;
    return nullptr;
}

// After a write of base: the folder's time as this write left it, for
// every name of the folder looked for so far.
void noteWrittenAt(int folder, std::string_view base) {
    struct stat info {};
    if (scanOf(folder, base, info) == nullptr && info.st_ino != 0) {
        if (scanned.size() >= 64) scanned.erase(scanned.begin());
        scanned.push_back(Scanned{info.st_dev, info.st_ino, std::string(base), {}});
    }
    for (Scanned& s : scanned)
        if (s.device == info.st_dev && s.inode == info.st_ino) s.left = info.st_mtim;
}

void removeLeftoversAt(int folder, std::string_view name) {
    struct stat info {};
    const Scanned* known = scanOf(folder, name, info);
    if (known != nullptr && known->left.tv_sec == info.st_mtim.tv_sec && known->left.tv_nsec == info.st_mtim.tv_nsec)
        return;
    std::string base = temporaryStem(name);
    for (const std::string& entry : namesInOpenFolder(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))) {
        long pid = temporaryOwner(entry, base);
        // A live program's write in progress is not ours to remove.
        if (pid < 0 || (pid > 0 && pid != getpid() && processRuns(pid))) continue;
        // unlinkat removes a planted link itself, never what it points to.
        tellWatcher("delete", folder, entry);
        unlinkat(folder, entry.c_str(), 0);
    }
}

bool later(const timespec& a, const timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

// The file's time set after `after` where the clock made it no later: a
// nanosecond on, or a second where the file system keeps coarser times.
int dateAfter(int fd, const timespec& after) {
    struct stat info;
    for (long step : {1L, 1000000000L}) {
        if (fstat(fd, &info) != 0) return errno;
        if (later(info.st_mtim, after)) return 0;
        timespec times[2] = {{0, UTIME_OMIT}, after};
        times[1].tv_nsec += step % 1000000000L;
        times[1].tv_sec += step / 1000000000L;
        if (times[1].tv_nsec >= 1000000000L) {
            times[1].tv_nsec -= 1000000000L;
            ++times[1].tv_sec;
        }
        if (futimens(fd, times) != 0) return errno;
    }
    return 0;
}

// A new temporary file beside base in the folder, created new (never
// through an existing file or link), filled by fill(fd) (false with errno
// set on a failure), given the kept mode and owner, synced; then place()
// puts it in its place (false with errno set, or with errno 0 when the
// place is taken). Throws on failures; false when the place was taken.
template <class Fill, class Place>
bool writeTemporaryAt(int folder, const std::string& shown, std::string_view base, const FileKeep& keep, Fill fill,
                      Place place) {
    removeLeftoversAt(folder, base);
    // A file that keeps a narrower mode is never readable wider meanwhile.
    mode_t createMode = keep.mode >= 0 ? 0600 : 0644;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = temporaryStem(base) + "." + std::to_string(getpid()) + "." + randomLetters() + temporarySuffix;
        fd = openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw FileFailure{"write", shown, reasonFor(errno)};
    tellWatcher("write", fd);
    if (keep.owner >= 0 || keep.group >= 0) {
        // Owner and group where allowed, else the group alone; else as created.
        if (fchown(fd, static_cast<uid_t>(keep.owner), static_cast<gid_t>(keep.group)) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(keep.group));
    }
    if (keep.mode >= 0) fchmod(fd, static_cast<mode_t>(keep.mode));
    int error = fill(fd) ? 0 : errno;
    if (error == 0 && (keep.laterThan.tv_sec != 0 || keep.laterThan.tv_nsec != 0))
        error = dateAfter(fd, keep.laterThan);
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0) {
        tellWatcher("rename", folder, base);
        errno = 0;
        if (!place(temporary)) error = errno;
    }
    if (error == 0) {
        fsync(folder);  // the rename itself reaches the disk with the folder
        noteWrittenAt(folder, base);
        return true;
    }
    unlinkat(folder, temporary.c_str(), 0);
    if (error == EEXIST) return false;
    throw FileFailure{"write", shown, reasonFor(error)};
}

bool writeContentsAt(int folder, const std::string& shown, std::string_view base, const FileKeep& keep,
                     std::string_view contents, bool replace) {
    auto fill = [&](int fd) { return writeWhole(fd, contents); };
    std::string name(base);
    return writeTemporaryAt(folder, shown, base, keep, fill, [&](const std::string& temporary) {
        if (replace) return renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
        if (renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno != EINVAL) return false;
        // A file system without RENAME_NOREPLACE: a hard link is made only where nothing is.
        if (linkat(folder, temporary.c_str(), folder, name.c_str(), 0) != 0) return false;
        unlinkat(folder, temporary.c_str(), 0);
        return true;
    });
}

void copyIntoAt(int from, int folder, const std::string& shown, std::string_view base, const FileKeep& keep,
                const std::string& sourceShown) {
    int readError = 0;
    auto fill = [&](int out) {
        char chunk[65536];
        for (;;) {
            ssize_t got = read(from, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                readError = errno;
                return false;
            }
            if (got == 0) return true;
            if (!writeWhole(out, std::string_view(chunk, static_cast<size_t>(got)))) return false;
        }
    };
    std::string name(base);
    try {
        writeTemporaryAt(folder, shown, base, keep, fill, [&](const std::string& temporary) {
            return renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
        });
    } catch (const FileFailure&) {
        if (readError != 0) throw FileFailure{"read", sourceShown, reasonFor(readError)};
        throw;
    }
}

}  // namespace

FileKeep keepOf(const struct stat& info) {
    return {static_cast<int>(info.st_mode & 07777), static_cast<long>(info.st_uid), static_cast<long>(info.st_gid)};
}

std::string reasonFor(int error) {
    if (error == leadsOutError) return "it leads outside the pack folder";
    if (error == foreignLinkError) return "a link another user made in a shared folder: not followed for writing";
    return std::strerror(error);
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) close(fd);
        fd = other.fd;
        path = std::move(other.path);
        reach = other.reach;
        other.fd = -1;
    }
    return *this;
}

Folder::~Folder() {
    if (fd >= 0) close(fd);
}

Folder openFolder(const std::string& path, Reach reach) {
    std::string named = path;
    while (named.size() > 1 && named.back() == '/') named.pop_back();
    int fd = open(named.empty() ? "." : named.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return Folder(fd, named, reach);
}

Folder currentFolder(Reach reach) { return Folder(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC), "", reach); }

bool isOpen(const Folder& folder) { return folder.fd >= 0; }

Folder openFolderIn(const Folder& folder, std::string_view name, bool forWriting) {
    int fd = reach(folder, name, O_PATH | O_DIRECTORY, 0, forWriting);
    return Folder(fd, name.empty() || name == "." ? folder.path : pathIn(folder, name), folder.reach);
}

Folder sameFolder(const Folder& folder) {
    int fd = folder.fd >= 0 ? fcntl(folder.fd, F_DUPFD_CLOEXEC, 3) : -1;
    return Folder(fd, folder.path, folder.reach);
}

std::string pathIn(const Folder& folder, std::string_view name) {
    if (folder.path.empty() || (!name.empty() && name[0] == '/')) return std::string(name);
    if (name.empty() || name == ".") return folder.path;
    return folder.path + (folder.path.back() == '/' ? "" : "/") + std::string(name);
}

FileLook lookAt(const Folder& folder, std::string_view name) {
    FileLook look;
    int fd = reach(folder, name, O_PATH, 0, false);
    if (fd < 0) {
        look.error = errno;
        look.kind = kindOfError(errno);
        return look;
    }
    if (fstat(fd, &look.info) != 0) {
        look.error = errno;
        look.kind = FileKind::Unreadable;
    } else {
        look.kind = kindOfMode(look.info.st_mode);
    }
    tellWatcher("look", fd);
    close(fd);
    return look;
}

bool noFileThere(FileKind kind) {
    return kind == FileKind::Missing || kind == FileKind::Outside || kind == FileKind::Loop;
}

int openForReading(const Folder& folder, std::string_view name, FileLook& look) {
    look = FileLook{};
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer, and in raw mode no key could end that wait.
    int fd = reach(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, false);
    if (fd < 0) {
        look.error = errno;
        look.kind = kindOfError(errno);
        return -1;
    }
    if (fstat(fd, &look.info) != 0) {
        look.error = errno;
        look.kind = FileKind::Unreadable;
        close(fd);
        return -1;
    }
    look.kind = kindOfMode(look.info.st_mode);
    if (look.kind != FileKind::File) {
        close(fd);
        return -1;
    }
    // A regular file: reads may block as usual again.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    tellWatcher("read", fd);
    return fd;
}

static bool readAll(int fd, std::string& text, size_t maxBytes) {
    text.clear();
    char chunk[65536];
    while (text.size() < maxBytes) {
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, maxBytes - text.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int error = errno;
            close(fd);
            errno = error;
            return false;
        }
        if (got == 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

static std::string lookReason(const FileLook& look) {
    if (look.kind == FileKind::Folder) return std::strerror(EISDIR);
    if (look.kind == FileKind::Other) return "Not a regular file";
    return reasonFor(look.error);
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) close(fd);
        fd = other.fd;
        look = other.look;
        other.fd = -1;
    }
    return *this;
}

OpenFile::~OpenFile() {
    if (fd >= 0) close(fd);
}

OpenFile openFileIn(const Folder& folder, std::string_view name) {
    OpenFile file;
    file.fd = openForReading(folder, name, file.look);
    return file;
}

OpenFile openEntryIn(const Folder& folder, std::string_view name) {
    OpenFile file;
    int fd = reach(folder, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW, 0, false);
    if (fd < 0) {
        file.look.error = errno;
        // O_NOFOLLOW meets a link as ELOOP: a link is no entry of the kind asked for.
        file.look.kind = errno == ELOOP ? FileKind::Link : kindOfError(errno);
        return file;
    }
    if (fstat(fd, &file.look.info) != 0 || !S_ISREG(file.look.info.st_mode)) {
        file.look.kind = S_ISDIR(file.look.info.st_mode) ? FileKind::Folder : FileKind::Other;
        close(fd);
        return file;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.look.kind = FileKind::File;
    file.fd = fd;
    tellWatcher("read", fd);
    return file;
}

std::string readOpenFile(OpenFile& file, const std::string& path, size_t maxBytes) {
    if (file.fd < 0) {
        bool opened = file.look.kind == FileKind::Folder || file.look.kind == FileKind::Other;
        throw FileFailure{opened ? "read" : "open", path, lookReason(file.look)};
    }
    std::string text;
    int fd = file.fd;
    file.fd = -1;
    if (!readAll(fd, text, maxBytes)) throw FileFailure{"read", path, reasonFor(errno)};
    return text;
}

size_t readChunk(OpenFile& file, const std::string& path, char* buffer, size_t size) {
    if (file.fd < 0) {
        bool opened = file.look.kind == FileKind::Folder || file.look.kind == FileKind::Other;
        throw FileFailure{opened ? "read" : "open", path, lookReason(file.look)};
    }
    for (;;) {
        ssize_t got = read(file.fd, buffer, size);
        if (got >= 0) return static_cast<size_t>(got);
        if (errno != EINTR) throw FileFailure{"read", path, reasonFor(errno)};
    }
}

bool readFileIfThere(const Folder& folder, std::string_view name, std::string& text, FileLook& look, size_t maxBytes) {
    int fd = openForReading(folder, name, look);
    if (fd < 0) {
        if (noFileThere(look.kind)) return false;
        bool opened = look.kind == FileKind::Folder || look.kind == FileKind::Other;
        throw FileFailure{opened ? "read" : "open", pathIn(folder, name), lookReason(look)};
    }
    if (!readAll(fd, text, maxBytes)) throw failure("read", folder, name);
    return true;
}

FileKeep keptOfIn(const Folder& folder, std::string_view name) {
    FileLook look = lookAt(folder, name);
    return look.kind == FileKind::File ? keepOf(look.info) : FileKeep{};
}

void replaceFileIn(const Folder& folder, std::string_view name, std::string_view contents, const FileKeep& keep) {
    std::string base;
    int parent = openParent(folder, name, base);
    if (parent < 0) throw failure("write", folder, name);
    try {
        writeContentsAt(parent, pathIn(folder, name), base, keep, contents, true);
    } catch (...) {
        close(parent);
        throw;
    }
    close(parent);
}

bool createFileIn(const Folder& folder, std::string_view name, std::string_view contents, const FileKeep& keep) {
    std::string base;
    int parent = openParent(folder, name, base);
    if (parent < 0) throw failure("write", folder, name);
    bool made = false;
    try {
        made = writeContentsAt(parent, pathIn(folder, name), base, keep, contents, false);
    } catch (...) {
        close(parent);
        throw;
    }
    close(parent);
    return made;
}

std::string linkedFileIn(const Folder& folder, std::string_view name) {
    std::string at(name);
    for (int hops = 0; hops <= 40; ++hops) {
        std::string base;
        int parent = openParent(folder, at, base);
        if (parent < 0 && errno == ENOENT && hops == 0) return at;  // its folder is not made yet: no link there
        if (parent < 0) throw failure("write", folder, name);
        char target[4096];
        ssize_t length = readlinkat(parent, base.c_str(), target, sizeof target);
        int error = errno;
        bool foreign = length > 0 && folder.reach == Reach::Anywhere && foreignLink(parent, base.c_str());
        close(parent);
        if (length < 0 && (error == EINVAL || error == ENOENT)) return at;  // no link: the file itself, made or not
        if (length < 0) throw failure("write", folder, name, error);
        if (foreign) throw failure("write", folder, name, foreignLinkError);
        if (length == 0 || static_cast<size_t>(length) == sizeof target)
            throw failure("write", folder, name, length == 0 ? ENOENT : ENAMETOOLONG);
        std::string next(target, static_cast<size_t>(length));
        if (next[0] == '/') {
            if (folder.reach == Reach::Beneath) throw failure("write", folder, name, leadsOutError);
            at = next;
        } else {
            std::string above = splitName(at).first;
            at = above == "." ? next : above + "/" + next;
        }
    }
    throw failure("write", folder, name, ELOOP);
}

std::string replaceKeepingBackupIn(const Folder& folder, std::string_view name, std::string_view contents) {
    std::string target = linkedFileIn(folder, name);
    std::string base;
    int parent = openParent(folder, target, base);
    if (parent < 0) throw failure("write", folder, target);
    std::string shown = pathIn(folder, target);
    try {
        // The file as it is now, opened without following a link that was
        // put in its place meanwhile: what is backed up is what is replaced.
        FileKeep keep;
        int old = openat(parent, base.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (old < 0 && errno != ENOENT) throw FileFailure{"write", shown, reasonFor(errno)};
        struct stat info;
        if (old >= 0 && fstat(old, &info) == 0 && S_ISREG(info.st_mode)) {
            fcntl(old, F_SETFL, fcntl(old, F_GETFL) & ~O_NONBLOCK);
            keep = keepOf(info);
            tellWatcher("read", old);
            try {
                copyIntoAt(old, parent, shown + "~", base + "~", keep, shown);
            } catch (...) {
                close(old);
                throw;
            }
        }
        if (old >= 0) close(old);
        writeContentsAt(parent, shown, base, keep, contents, true);
    } catch (...) {
        close(parent);
        throw;
    }
    close(parent);
    return target;
}

void copyOpenFileIn(OpenFile& from, const std::string& fromShown, const Folder& toFolder, std::string_view to,
                    const FileKeep& keep) {
    if (from.fd < 0) {
        bool opened = from.look.kind == FileKind::Folder || from.look.kind == FileKind::Other;
        throw FileFailure{opened ? "read" : "open", fromShown, lookReason(from.look)};
    }
    std::string base;
    int parent = openParent(toFolder, to, base);
    if (parent < 0) throw failure("write", toFolder, to);
    int in = from.fd;
    from.fd = -1;
    try {
        copyIntoAt(in, parent, pathIn(toFolder, to), base, keep, fromShown);
    } catch (...) {
        close(in);
        close(parent);
        throw;
    }
    close(in);
    close(parent);
}

void copyFileIn(const Folder& fromFolder, std::string_view from, const Folder& toFolder, std::string_view to,
                const FileKeep& keep) {
    OpenFile file = openFileIn(fromFolder, from);
    copyOpenFileIn(file, pathIn(fromFolder, from), toFolder, to, keep);
}

void makeFoldersIn(const Folder& folder, std::string_view name, bool privateFolders) {
    std::string made = !name.empty() && name[0] == '/' ? "/" : "";
    for (size_t start = 0; start <= name.size();) {
        size_t end = std::min(name.find('/', start), name.size());
        std::string part(name.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".") continue;
        std::string next = made.empty() ? part : made == "/" ? "/" + part : made + "/" + part;
        if (part != "..") {
            int parent = reach(folder, made, O_PATH | O_DIRECTORY, 0, true);
            if (parent < 0) throw failure("create", folder, made.empty() ? "." : made);
            tellWatcher("folder", parent, part);
            int result = mkdirat(parent, part.c_str(), privateFolders ? 0700 : 0755);
            int error = errno;
            close(parent);
            if (result != 0 && error != EEXIST) throw failure("create", folder, next, error);
        }
        made = next;
    }
}

bool renameIn(const Folder& folder, std::string_view from, std::string_view to) {
    return moveInto(folder, from, folder, to);
}

bool moveInto(const Folder& fromFolder, std::string_view from, const Folder& toFolder, std::string_view to) {
    std::string fromBase, toBase;
    int fromParent = openParent(fromFolder, from, fromBase);
    if (fromParent < 0) throw failure("rename", fromFolder, from);
    int toParent = openParent(toFolder, to, toBase);
    if (toParent < 0) {
        FileFailure f = failure("rename", toFolder, to);
        close(fromParent);
        throw f;
    }
    tellWatcher("rename", fromParent, fromBase);
    tellWatcher("rename", toParent, toBase);
    bool moved = renameat2(fromParent, fromBase.c_str(), toParent, toBase.c_str(), RENAME_NOREPLACE) == 0;
    int error = errno;
    if (!moved && error == EINVAL) {
        // A file system without renameat2's flags: a link, then the old name goes.
        moved = linkat(fromParent, fromBase.c_str(), toParent, toBase.c_str(), 0) == 0;
        error = errno;
        if (moved) unlinkat(fromParent, fromBase.c_str(), 0);
    }
    if (!moved && error == EXDEV) {
        // Another file system: a copy, then the original goes.
        int in = openat(fromParent, fromBase.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat info;
        try {
            if (in < 0 || fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) throw failure("read", fromFolder, from);
            fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
            std::string text;
            tellWatcher("read", in);
            int copy = dup(in);
            if (copy < 0 || !readAll(copy, text, SIZE_MAX)) throw failure("read", fromFolder, from);
            moved = writeContentsAt(toParent, pathIn(toFolder, to), toBase, keepOf(info), text, false);
            error = moved ? 0 : EEXIST;
            if (moved) {
                tellWatcher("delete", fromParent, fromBase);
                unlinkat(fromParent, fromBase.c_str(), 0);
            }
        } catch (...) {
            if (in >= 0) close(in);
            close(fromParent);
            close(toParent);
            throw;
        }
        close(in);
    }
    close(fromParent);
    close(toParent);
    if (moved) return true;
    if (error == EEXIST) return false;
    throw failure("rename", fromFolder, from, error);
}

namespace {

bool removeEntryIn(const Folder& folder, std::string_view name, int flags) {
    std::string base;
    int parent = openParent(folder, name, base);
    if (parent < 0) {
        if (errno == ENOENT) return false;
        throw failure("delete", folder, name);
    }
    tellWatcher("delete", parent, base);
    int result = unlinkat(parent, base.c_str(), flags);
    int error = errno;
    close(parent);
    if (result == 0) return true;
    if (error == ENOENT) return false;
    throw failure("delete", folder, name, error);
}

}  // namespace

bool removeIn(const Folder& folder, std::string_view name) { return removeEntryIn(folder, name, 0); }
bool removeFolderIn(const Folder& folder, std::string_view name) { return removeEntryIn(folder, name, AT_REMOVEDIR); }

std::vector<std::string> namesInOpenFolder(int fd) {
    std::vector<std::string> names;
    if (fd < 0) return names;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return names;
    }
    while (const dirent* item = readdir(dir)) {
        std::string_view entry = item->d_name;
        if (entry != "." && entry != "..") names.emplace_back(entry);
    }
    closedir(dir);
    return names;
}

bool processRuns(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH; }

std::vector<std::string> entriesIn(const Folder& folder, std::string_view name) {
    int fd = reach(folder, name, O_RDONLY | O_DIRECTORY, 0, false);
    if (fd >= 0) tellWatcher("list", fd);
    std::vector<std::string> names = namesInOpenFolder(fd);
    std::sort(names.begin(), names.end());
    return names;
}

size_t longestNameIn(const Folder& folder, std::string_view name) {
    int fd = reach(folder, name, O_PATH | O_DIRECTORY, 0, false);
    long most = fd >= 0 ? fpathconf(fd, _PC_NAME_MAX) : -1;
    if (fd >= 0) close(fd);
    return most > 0 ? static_cast<size_t>(most) : 255;
}

std::pair<std::string, std::string> splitName(std::string_view name) {
    size_t slash = name.rfind('/');
    if (slash == std::string_view::npos) return {".", std::string(name)};
    return {slash == 0 ? "/" : std::string(name.substr(0, slash)), std::string(name.substr(slash + 1))};
}

void useWalkByHand(bool byHand) { walkByHand = byHand; }

namespace {
Folder heldGame;
std::string heldGameName;
bool heldAtStart = false;  // by holdGameFolder: kept whatever the current folder is now
}  // namespace

void holdGameFolder(const std::string& path) {
    heldGame = currentFolder();
    std::string named = path;
    while (named.size() > 1 && named.back() == '/') named.pop_back();
    heldGame.path = named;
    heldGameName = path;
    heldAtStart = true;
}

const Folder& gameFolder(const std::string& path) {
    // A relative name opened by name means the current folder of the moment.
    bool relative = path.empty() || path[0] != '/';
    if (!isOpen(heldGame) || heldGameName != path || (relative && !heldAtStart)) {
        heldGame = openFolder(path, Reach::Anywhere);
        heldGameName = path;
        heldAtStart = false;
    }
    return heldGame;
}

const Folder& gameFolder() { return gameFolder(heldGameName); }

std::string stateFolder() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (stateHome != nullptr && stateHome[0] == '/') return std::string(stateHome) + "/quorvex";
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/quorvex";
    return "";
}

std::string whyNotOwn(const Folder& folder) {
    struct stat info;
    if (fstat(folder.fd, &info) != 0) return reasonFor(errno);
    if (info.st_uid != geteuid()) return "it belongs to another user";
    if (info.st_mode & 022) return "others may write in it";
    return "";
}

Folder ownStateFolder(std::string_view below, std::string& why, bool onlyRead) {
    std::string state = stateFolder();
    why.clear();
    if (state.empty()) {
        why = "neither XDG_STATE_HOME nor HOME is set";
        return {};
    }
    std::string path = below.empty() ? state : state + "/" + std::string(below);
    Folder here = currentFolder();
    if (!onlyRead) makeFoldersIn(here, path, true);
    // Each folder from the state folder down must be the user's own.
    Folder folder = openFolderIn(here, state, true);
    for (size_t start = 0; isOpen(folder);) {
        if (why = whyNotOwn(folder); !why.empty()) return {};
        if (start >= below.size()) return folder;
        size_t end = std::min(below.find('/', start), below.size());
        folder = openFolderIn(folder, below.substr(start, end - start), true);
        start = end + 1;
    }
    if (!onlyRead || errno != ENOENT) why = reasonFor(errno);
    return {};
}

HeldLock& HeldLock::operator=(HeldLock&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) close(fd);
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

HeldLock::~HeldLock() {
    if (fd >= 0) close(fd);
}

HeldLock lockFileIn(const Folder& folder, std::string_view name, int waitMs) {
    std::string base;
    int parent = openParent(folder, name, base);
    if (parent < 0) return {};
    HeldLock lock(
        openat(parent, base.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    int error = errno;
    close(parent);
    struct stat info;
    if (lock.fd < 0 || fstat(lock.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        errno = lock.fd < 0 ? error : EPERM;
        return {};
    }
    for (int waited = 0; flock(lock.fd, LOCK_EX | LOCK_NB) != 0; waited += 5) {
        if (errno != EWOULDBLOCK || waited >= waitMs) return {};
        struct timespec nap = {0, 5'000'000};
        nanosleep(&nap, nullptr);
    }
    return lock;
}
