#include "system/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "system/output.h"

// The working directory as the system gave it: a backslash in it is part of
// a folder's name. Only what follows it comes from data.
static std::string literalDirectory;

void (*fileUseWatcher)(const char* operation, const std::string& hostPath) = nullptr;

static void tellWatcher(const char* operation, const std::string& hostPath) {
    if (fileUseWatcher != nullptr) fileUseWatcher(operation, hostPath);
}

std::string hostPath(std::string_view path) {
    std::string mapped(path);
    size_t from = 0;
    if (!literalDirectory.empty() && path.substr(0, literalDirectory.size()) == literalDirectory)
        from = literalDirectory.size();
    for (size_t i = from; i < mapped.size(); ++i)
        if (mapped[i] == '\\') mapped[i] = '/';
    return mapped;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(hostPath(path).c_str(), &info) == 0;
}

std::string resolvedPath(const std::string& hostPath) {
    char* resolved = realpath(hostPath.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string currentDirectory() {
    std::string dir(4096, '\0');
    while (getcwd(dir.data(), dir.size()) == nullptr) {
        if (errno != ERANGE) return ".";
        dir.resize(dir.size() * 2);
    }
    dir.resize(std::strlen(dir.c_str()));
    literalDirectory = dir + "/";
    return dir;
}

static FileFailure failure(const char* operation, const std::string& path) {
    return {operation, path, std::strerror(errno)};
}

int openDataFile(const std::string& hostPath, std::string& reason) {
    tellWatcher("read", hostPath);
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer, and in raw mode no key could end that wait.
    int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
        close(fd);
        return -2;
    }
    // A regular file: reads may block as usual again.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string readTextFile(const std::string& path, size_t maxBytes) {
    std::string host = hostPath(path);
    std::string reason;
    int fd = openDataFile(host, reason);
    if (fd < 0) throw FileFailure{fd == -2 ? "read" : "open", host, reason};
    std::string text;
    char chunk[65536];
    while (text.size() < maxBytes) {
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, maxBytes - text.size()));
        if (got < 0) {
            if (errno == EINTR) continue;
            FileFailure f = failure("read", host);
            close(fd);
            throw f;
        }
        if (got == 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return text;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

namespace {

// Temporary files are "<name>.<pid>.<six letters>.tmp" beside the file they
// replace: unique for each write, and the pid tells a leftover of a killed
// run from the live write of another game in the same folder.
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

// Pid of a temporary name for the file named base in its folder, or -1 when
// the name is not one of ours. The fixed name of older versions counts as a
// leftover too.
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

std::pair<std::string, std::string> splitFolder(const std::string& host) {
    size_t slash = host.rfind('/');
    if (slash == std::string::npos) return {".", host};
    return {slash == 0 ? "/" : host.substr(0, slash), host.substr(slash + 1)};
}

}  // namespace

void removeLeftoverTemporaries(const std::string& path) {
    auto [folder, base] = splitFolder(hostPath(path));
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        long pid = temporaryOwner(entry->d_name, base);
        if (pid < 0) continue;
        // A live game's write in progress is not ours to remove.
        if (pid > 0 && pid != getpid() && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
        // unlinkat removes a planted link itself, never what it points to.
        unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

namespace {

// The temporary file is filled by fill(fd) (false with errno set on a
// failure), given the kept mode and owner, synced and renamed over the file.
template <class Fill>
void replaceFile(const std::string& path, const FileKeep& keep, Fill fill) {
    std::string host = hostPath(path);
    tellWatcher("write", host);
    removeLeftoverTemporaries(path);

    // Created new, never through an existing file or link of that name; a
    // file that keeps a narrower mode is never readable wider meanwhile.
    mode_t createMode = keep.mode >= 0 ? 0600 : 0644;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = host + "." + std::to_string(getpid()) + "." + randomLetters() + temporarySuffix;
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw failure("write", host);
    if (keep.owner >= 0 || keep.group >= 0) {
        // Owner and group where allowed, else the group alone; else as created.
        if (fchown(fd, static_cast<uid_t>(keep.owner), static_cast<gid_t>(keep.group)) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(keep.group));
    }
    if (keep.mode >= 0) fchmod(fd, static_cast<mode_t>(keep.mode));

    if (!fill(fd)) {
        FileFailure f = failure("write", host);
        close(fd);
        unlink(temporary.c_str());
        throw f;
    }
    bool synced = fsync(fd) == 0;
    FileFailure f = failure("write", host);
    if (close(fd) != 0 && synced) {
        synced = false;
        f = failure("write", host);
    }
    if (!synced) {
        unlink(temporary.c_str());
        throw f;
    }
    if (rename(temporary.c_str(), host.c_str()) != 0) {
        FileFailure f = failure("write", host);
        unlink(temporary.c_str());
        throw f;
    }
    // The rename itself reaches the disk with the folder.
    int folder = open(splitFolder(host).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

}  // namespace

void writeFileAtomically(const std::string& path, std::string_view contents) {
    writeFileAtomically(path, contents, FileKeep{});
}

void writeFileAtomically(const std::string& path, std::string_view contents, const FileKeep& keep) {
    replaceFile(path, keep, [&](int fd) { return writeWhole(fd, contents); });
}

FileKeep keptOf(const std::string& path) {
    struct stat info;
    if (stat(hostPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return {static_cast<int>(info.st_mode & 07777), static_cast<long>(info.st_uid), static_cast<long>(info.st_gid)};
}

void copyFileAtomically(const std::string& from, const std::string& to, const FileKeep& keep) {
    std::string source = hostPath(from);
    std::string reason;
    int in = openDataFile(source, reason);
    if (in < 0) throw FileFailure{in == -2 ? "read" : "open", source, reason};
    FileFailure readFailure;
    try {
        replaceFile(to, keep, [&](int out) {
            char chunk[65536];
            for (;;) {
                ssize_t got = read(in, chunk, sizeof chunk);
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) {
                    readFailure = failure("read", source);
                    return false;
                }
                if (got == 0) return true;
                if (!writeWhole(out, std::string_view(chunk, static_cast<size_t>(got)))) return false;
            }
        });
    } catch (const FileFailure&) {
        close(in);
        if (!readFailure.operation.empty()) throw readFailure;
        throw;
    }
    close(in);
}

void deleteFile(const std::string& path) {
    std::string host = hostPath(path);
    tellWatcher("delete", host);
    if (unlink(host.c_str()) != 0) throw failure("delete", host);
}

std::string describeFailure(const FileFailure& f) {
    return "quorvex: cannot " + f.operation + " " + f.path + ": " + f.reason;
}
