// The editor's own file-system calls: what kind of thing a path names,
// folders, renames, the containment test for pack entries, and the rescue
// copy that a signal or a hang-up writes before the terminal is restored.
// Reading and the atomic replace are the game's file layer (system/files.cpp).
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
#include <vector>

#include "console/terminal.h"
#include "edit/edit.h"
#include "levels/levels.h"
#include "system/files.h"
#include "system/output.h"

namespace {

FileFailure failure(const char* operation, const std::string& path) { return {operation, path, std::strerror(errno)}; }

// --- the rescue copy ---
// Everything the signal handler needs is prepared beforehand: it only
// copies bytes between fixed buffers and makes async-signal-safe calls.

constexpr size_t pathRoom = PATH_MAX + 64;

// Two copies, so the handler always finds a whole one: the editor fills the
// one not in use and then switches.
struct RescueCopy {
    char path[pathRoom];  // NAME.rescue beside the file
    // The second places, in order: FOLDER/NAME.<pid>.rescue in the user's
    // state folder, then in the temporary folder ("" for none).
    char folders[2][pathRoom];
    char name[NAME_MAX + 1];
    // How the report shows the three places: bytes a terminal would act on escaped.
    char shown[3][pathRoom];
    char text[16384];
    size_t length;
};
RescueCopy rescueCopies[2];
volatile sig_atomic_t rescueCurrent = -1;
char errorTexts[134][64];  // strerror's texts, taken while it was safe to
char rescueReport[4 * pathRoom + 512];
size_t rescueReportLength = 0;
struct sigaction earlierHandlers[4];
const int rescueSignals[4] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Bounded string building without the C library's allocating functions.
void append(char* to, size_t room, size_t& at, const char* text) {
    for (; *text != '\0' && at + 1 < room; ++text) to[at++] = *text;
    to[at] = '\0';
}

void appendNumber(char* to, size_t room, size_t& at, long number) {
    char digits[24];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + number % 10);
    while ((number /= 10) > 0 && count < 23);
    char text[24];
    for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    text[count] = '\0';
    append(to, room, at, text);
}

void reportLine(const char* first, const char* path, const char* reason) {
    append(rescueReport, sizeof rescueReport, rescueReportLength, "quorvex-edit: ");
    append(rescueReport, sizeof rescueReport, rescueReportLength, first);
    append(rescueReport, sizeof rescueReport, rescueReportLength, path);
    if (reason != nullptr) {
        append(rescueReport, sizeof rescueReport, rescueReportLength, ": ");
        append(rescueReport, sizeof rescueReport, rescueReportLength, reason);
    }
    append(rescueReport, sizeof rescueReport, rescueReportLength, "\n");
}

const char* errorText(int number) {
    if (number > 0 && number < 134 && errorTexts[number][0] != '\0') return errorTexts[number];
    return "failed";
}

// The copy written whole under a temporary name and renamed to path: an
// older file at path is replaced only by a whole copy. 0, or why not.
int writeWhole(const char* path, const char* text, size_t length) {
    char temporary[pathRoom + 32];
    size_t at = 0;
    append(temporary, sizeof temporary, at, path);
    append(temporary, sizeof temporary, at, ".");
    appendNumber(temporary, sizeof temporary, at, getpid());
    append(temporary, sizeof temporary, at, ".tmp");
    unlink(temporary);  // this process's own, from an earlier try
    int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    int error = ::writeWhole(fd, std::string_view(text, length)) ? 0 : errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary, path) != 0) error = errno;
    if (error != 0) unlink(temporary);
    return error;
}

// Makes the folder and those above it (mode 700: the copies are the
// user's own), as mkdir -p does.
void makeFoldersSafely(const char* folder) {
    char part[pathRoom];
    size_t at = 0;
    append(part, sizeof part, at, folder);
    for (size_t i = 1; i <= at; ++i)
        if (part[i] == '/' || part[i] == '\0') {
            char kept = part[i];
            part[i] = '\0';
            mkdir(part, 0700);
            part[i] = kept;
        }
}

// Beside the file first, then in the second places; every try reported.
bool rescueCopy(const RescueCopy& copy) {
    rescueReportLength = 0;
    rescueReport[0] = '\0';
    int error = writeWhole(copy.path, copy.text, copy.length);
    if (error == 0) {
        reportLine("unsaved room kept in ", copy.shown[0], nullptr);
        return true;
    }
    reportLine("could not keep the unsaved room in ", copy.shown[0], errorText(error));
    for (int place = 0; place < 2; ++place) {
        const char* folder = copy.folders[place];
        const char* shown = copy.shown[place + 1];
        if (folder[0] == '\0') continue;
        makeFoldersSafely(folder);
        char path[pathRoom + NAME_MAX + 2];
        size_t at = 0;
        append(path, sizeof path, at, folder);
        append(path, sizeof path, at, "/");
        append(path, sizeof path, at, copy.name);
        error = writeWhole(path, copy.text, copy.length);
        if (error == 0) {
            reportLine("unsaved room kept in ", shown, nullptr);
            return true;
        }
        reportLine("could not keep the unsaved room in ", shown, errorText(error));
    }
    reportLine("the unsaved room is lost", "", nullptr);
    return false;
}

void rescueOnSignal(int signalNumber) {
    int saved = errno;
    int current = rescueCurrent;
    int index = 0;
    while (index < 3 && rescueSignals[index] != signalNumber) ++index;
    const struct sigaction& earlier = earlierHandlers[index];
    bool ignored = !(earlier.sa_flags & SA_SIGINFO) && earlier.sa_handler == SIG_IGN;
    if (current >= 0) {
        rescueCurrent = -1;  // once: a second signal meanwhile finds nothing to do
        rescueCopy(rescueCopies[current]);
        // The run ends: the terminal back first, so the report stays on the screen.
        if (!ignored) {
            restoreTerminalInSignalHandler();
            ::writeWhole(STDERR_FILENO, std::string_view(rescueReport, rescueReportLength));  // write() alone
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
    if (name.empty()) return false;
    if (name.size() >= 2 && name[1] == ':') return false;  // a Windows drive letter
    return packEntryInsideFolder(folder, relative);
}

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

std::string linkTarget(const std::string& path) {
    std::string at = hostPath(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
        char target[PATH_MAX];
        ssize_t length = readlink(at.c_str(), target, sizeof target - 1);
        if (length <= 0) return at;
        std::string next(target, static_cast<size_t>(length));
        size_t slash = at.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next = at.substr(0, slash + 1) + next;
        at = next;
    }
    errno = ELOOP;
    throw failure("write", hostPath(path));
}

std::string replaceKeepingBackup(const std::string& path, std::string_view text) {
    std::string target = linkTarget(path);
    FileKeep keep = keptOf(target);
    if (pathKind(target) == PathKind::File) copyFileAtomically(target, target + "~", keep);
    writeFileAtomically(target, text, keep);
    return target;
}

// The second places: $XDG_STATE_HOME/quorvex (~/.local/state/quorvex when
// it is unset or relative), then $TMPDIR (/tmp).
static std::vector<std::string> secondFolders() {
    std::vector<std::string> folders;
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (stateHome != nullptr && stateHome[0] == '/')
        folders.push_back(std::string(stateHome) + "/quorvex");
    else if (home != nullptr && home[0] == '/')
        folders.push_back(std::string(home) + "/.local/state/quorvex");
    const char* tmp = std::getenv("TMPDIR");
    folders.push_back(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp");
    return folders;
}

void armRescue(const std::string& path, std::string_view text) {
    if (errorTexts[1][0] == '\0')
        for (int number = 1; number < 134; ++number) {
            size_t at = 0;
            append(errorTexts[number], sizeof errorTexts[number], at, std::strerror(number));
        }
    int next = rescueCurrent == 0 ? 1 : 0;
    RescueCopy& copy = rescueCopies[next];
    std::string rescuePath = hostPath(path) + ".rescue";
    size_t slash = rescuePath.rfind('/');
    std::string base = slash == std::string::npos ? hostPath(path) : hostPath(path).substr(slash + 1);
    std::string name = base + "." + std::to_string(getpid()) + ".rescue";
    if (rescuePath.size() >= PATH_MAX || name.size() > NAME_MAX || text.size() > sizeof copy.text) {
        rescueCurrent = -1;  // never an older state of the room in its place
        return;
    }
    std::memcpy(copy.path, rescuePath.c_str(), rescuePath.size() + 1);
    std::memcpy(copy.name, name.c_str(), name.size() + 1);
    static const bool utf8 = localeIsUtf8();
    std::vector<std::string> folders = secondFolders();
    auto keepShown = [&](char* into, const std::string& place) {
        std::string shown = escapedForTerminal(place, utf8).substr(0, pathRoom - 1);
        std::memcpy(into, shown.c_str(), shown.size() + 1);
    };
    keepShown(copy.shown[0], rescuePath);
    for (size_t i = 0; i < 2; ++i) {
        copy.folders[i][0] = copy.shown[i + 1][0] = '\0';
        if (i < folders.size() && folders[i].size() < PATH_MAX) {
            std::memcpy(copy.folders[i], folders[i].c_str(), folders[i].size() + 1);
            keepShown(copy.shown[i + 1], folders[i] + "/" + name);
        }
    }
    copy.length = text.size();
    std::memcpy(copy.text, text.data(), copy.length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    rescueCurrent = next;
}

void disarmRescue() { rescueCurrent = -1; }

std::string writeRescueNow() {
    int current = rescueCurrent;
    if (current < 0) return "";
    rescueCurrent = -1;
    rescueCopy(rescueCopies[current]);
    std::string report(rescueReport, rescueReportLength);
    while (!report.empty() && report.back() == '\n') report.pop_back();
    return report;
}

std::string rescueFolders() {
    std::string folders;
    for (const std::string& folder : secondFolders()) folders += (folders.empty() ? "" : ", then ") + folder;
    return folders;
}

bool newerRescue(const std::string& path) {
    struct stat rescue, file;
    if (stat(hostPath(path + ".rescue").c_str(), &rescue) != 0 || !S_ISREG(rescue.st_mode)) return false;
    if (stat(hostPath(path).c_str(), &file) != 0) return true;
    return rescue.st_mtim.tv_sec > file.st_mtim.tv_sec ||
           (rescue.st_mtim.tv_sec == file.st_mtim.tv_sec && rescue.st_mtim.tv_nsec > file.st_mtim.tv_nsec);
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
