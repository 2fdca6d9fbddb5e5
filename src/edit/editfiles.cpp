// The editor's own file-system calls: what kind of thing a path names,
// folders, renames, the containment test for pack entries, and the rescue
// copy that a SIGTERM or a hang-up writes before the terminal is restored.
// Reading and the atomic replace are the game's file layer (shell/files.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "edit/edit.h"
#include "levels/levels.h"
#include "shell/files.h"

namespace {

FileFailure failure(const char* operation, const std::string& path) { return {operation, path, std::strerror(errno)}; }

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return "";
    return resolved;
}

bool within(const std::string& inner, const std::string& outer) {
    return inner == outer ||
           (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/');
}

// Two copies, so the handler always finds a whole one: the editor fills the
// one not in use and then switches.
struct RescueCopy {
    char path[PATH_MAX + 16];
    char text[16384];
    size_t length;
};
RescueCopy rescueCopies[2];
volatile sig_atomic_t rescueCurrent = -1;
std::string rescuePathShown;
struct sigaction earlierHandlers[2];
const int rescueSignals[2] = {SIGTERM, SIGHUP};

void writeRescueCopy(const RescueCopy& copy) {
    int fd = open(copy.path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < copy.length) {
        ssize_t put = write(fd, copy.text + done, copy.length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    fsync(fd);
    close(fd);
}

void rescueOnSignal(int signalNumber) {
    int saved = errno;
    int current = rescueCurrent;
    if (current >= 0) writeRescueCopy(rescueCopies[current]);
    errno = saved;
    // Then whatever handled the signal before: the terminal's restore, which
    // ends the program by the signal.
    for (int i = 0; i < 2; ++i) {
        if (rescueSignals[i] != signalNumber) continue;
        const struct sigaction& earlier = earlierHandlers[i];
        if (earlier.sa_flags & SA_SIGINFO) {
            earlier.sa_sigaction(signalNumber, nullptr, nullptr);
            return;
        }
        if (earlier.sa_handler == SIG_IGN) return;  // ignored before (nohup): the copy is kept, the run goes on
        if (earlier.sa_handler != SIG_DFL) {
            earlier.sa_handler(signalNumber);
            return;
        }
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
    }
}

}  // namespace

PathKind pathKind(const std::string& path) {
    struct stat info;
    if (stat(hostPath(path).c_str(), &info) != 0) return PathKind::Missing;
    if (S_ISREG(info.st_mode)) return PathKind::File;
    if (S_ISDIR(info.st_mode)) return PathKind::Folder;
    return PathKind::Other;
}

void makeFolders(const std::string& path) {
    std::string host = hostPath(path);
    for (size_t slash = host.find('/', 1);; slash = host.find('/', slash + 1)) {
        std::string part = host.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) throw failure("create", part);
        if (slash == std::string::npos) break;
    }
}

void renamePath(const std::string& from, const std::string& to) {
    if (rename(hostPath(from).c_str(), hostPath(to).c_str()) != 0) throw failure("rename", hostPath(from));
}

bool staysInside(const std::string& folder, const std::string& relative) {
    std::string name = hostPath(relative);
    if (name.empty() || packEntryLeavesFolder(name)) return false;
    if (name.size() >= 2 && name[1] == ':') return false;  // a Windows drive letter
    // Links: every part that exists must resolve inside the folder.
    std::string root = realPath(hostPath(folder));
    if (root.empty()) return true;  // a folder not made yet holds no links
    for (size_t slash = name.find('/');; slash = name.find('/', slash + 1)) {
        std::string part = hostPath(folder) + "/" + name.substr(0, slash);
        struct stat info;
        if (lstat(part.c_str(), &info) != 0) break;
        std::string resolved = realPath(part);
        if (resolved.empty() || !within(resolved, root)) return false;
        if (slash == std::string::npos) break;
    }
    return true;
}

void armRescue(const std::string& path, std::string_view text) {
    int next = rescueCurrent == 0 ? 1 : 0;
    RescueCopy& copy = rescueCopies[next];
    std::string rescuePath = hostPath(path) + ".rescue";
    if (rescuePath.size() >= sizeof copy.path) return;
    std::memcpy(copy.path, rescuePath.c_str(), rescuePath.size() + 1);
    copy.length = std::min(text.size(), sizeof copy.text);
    std::memcpy(copy.text, text.data(), copy.length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    rescueCurrent = next;
    rescuePathShown = rescuePath;
}

void disarmRescue() { rescueCurrent = -1; }

void writeRescueNow() {
    int current = rescueCurrent;
    if (current >= 0) writeRescueCopy(rescueCopies[current]);
}

std::string readLevelLines(const std::string& path, size_t maxLines, size_t maxLineLength, size_t maxBytes) {
    std::string host = hostPath(path);
    std::string reason;
    int fd = openDataFile(host, reason);
    if (fd < 0) throw FileFailure{fd == -2 ? "read" : "open", host, reason};
    // Each line ends in LF here, whatever ended it in the file, so that
    // splitting the result gives the lines the game's reading gives.
    std::string kept;
    size_t lines = 0, lineLength = 0, readSoFar = 0;
    bool afterCR = false;
    char chunk[65536];
    while (lines < maxLines && readSoFar < maxBytes) {
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, maxBytes - readSoFar));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            FileFailure f = failure("read", host);
            close(fd);
            throw f;
        }
        if (got == 0) break;
        readSoFar += static_cast<size_t>(got);
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
    close(fd);
    return kept;
}

std::vector<std::string> filesEndingIn(const std::string& folder, std::string_view suffix) {
    std::vector<std::string> names;
    DIR* dir = opendir(hostPath(folder).c_str());
    if (dir == nullptr) return names;
    while (const dirent* item = readdir(dir)) {
        std::string_view name = item->d_name;
        if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix &&
            pathKind(folder + "/" + std::string(name)) == PathKind::File)
            names.push_back(std::string(name));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string lastRescuePath() { return rescueCurrent >= 0 ? rescuePathShown : ""; }

void installRescueHandlers() {
    for (int i = 0; i < 2; ++i) {
        // Also where the parent ignores the signal (nohup): the handler then
        // only writes the copy, and a terminal that is really gone ends the
        // run through the console layer.
        sigaction(rescueSignals[i], nullptr, &earlierHandlers[i]);
        struct sigaction mine {};
        mine.sa_handler = rescueOnSignal;
        sigfillset(&mine.sa_mask);
        sigaction(rescueSignals[i], &mine, nullptr);
    }
}
