#include "system/rescue.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "system/folders.h"
#include "system/output.h"

namespace {

constexpr size_t pathRoom = PATH_MAX + 64;

// Two copies, so the handler always finds a whole one: arming fills the
// one not in use and then switches.
struct Prepared {
    int beside = -1;
    char besideName[NAME_MAX + 1];
    char stateFolder[pathRoom];
    char temporaryFolder[pathRoom];
    char secondName[NAME_MAX + 1];
    // How the report shows the places: bytes a terminal would act on escaped.
    char shown[3][pathRoom];
    char program[32];
    char what[64];
    char text[rescueTextLimit];
    size_t length;
};
Prepared copies[2];
volatile sig_atomic_t current = -1;
char errorTexts[134][64];  // strerror's texts, taken while it was safe to
char report[4 * pathRoom + 512];
size_t reportLength = 0;

// Bounded string building without the C library's allocating functions.
void append(char* to, size_t room, size_t& at, const char* text) {
    for (; *text != '\0' && at + 1 < room; ++text) to[at++] = *text;
    to[at] = '\0';
}

void appendNumber(char* to, size_t room, size_t& at, long number, int width = 1) {
    char digits[24];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + number % 10);
    while (((number /= 10) > 0 || count < width) && count < 23);
    char text[24];
    for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    text[count] = '\0';
    append(to, room, at, text);
}

bool copyInto(char* to, size_t room, const std::string& text) {
    if (text.size() >= room || text.find('\0') != std::string::npos) return false;
    std::memcpy(to, text.c_str(), text.size() + 1);
    return true;
}

const char* errorText(int number) {
    if (number > 0 && number < 134 && errorTexts[number][0] != '\0') return errorTexts[number];
    return "failed";
}

void reportLine(const Prepared& copy, const char* first, const char* where, const char* reason) {
    append(report, sizeof report, reportLength, copy.program);
    append(report, sizeof report, reportLength, ": ");
    append(report, sizeof report, reportLength, first);
    append(report, sizeof report, reportLength, where);
    if (reason != nullptr) {
        append(report, sizeof report, reportLength, ": ");
        append(report, sizeof report, reportLength, reason);
    }
    append(report, sizeof report, reportLength, "\n");
}

// The copy written whole under a temporary name and renamed to name in the
// folder: an older file there is replaced only by a whole copy. 0, or why not.
int writeCopy(int folder, const char* name, const Prepared& copy) {
    char temporary[NAME_MAX + 8];
    size_t at = 0;
    append(temporary, sizeof temporary, at, name);
    append(temporary, sizeof temporary, at, ".tmp");
    unlinkat(folder, temporary, 0);  // this process's own, from an earlier try
    int fd = openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    int error = writeWhole(fd, std::string_view(copy.text, copy.length)) ? 0 : errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && renameat(folder, temporary, folder, name) != 0) error = errno;
    if (error != 0) unlinkat(folder, temporary, 0);
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

int writeInFolder(const char* folder, const Prepared& copy) {
    int fd = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = writeCopy(fd, copy.secondName, copy);
    close(fd);
    return error;
}

// "YYYY-MM-DD HH:MM:SS UTC" of now, without the C library's locale and time zone.
void appendTime(char* to, size_t room, size_t& at) {
    long seconds = static_cast<long>(time(nullptr));
    long days = seconds / 86400, rest = seconds % 86400;
    // Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
    long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    long dayOfEra = z - era * 146097;
    long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long mp = (5 * dayOfYear + 2) / 153;
    long day = dayOfYear - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    long year = yearOfEra + era * 400 + (month <= 2);
    appendNumber(to, room, at, year, 4);
    append(to, room, at, "-");
    appendNumber(to, room, at, month, 2);
    append(to, room, at, "-");
    appendNumber(to, room, at, day, 2);
    append(to, room, at, " ");
    appendNumber(to, room, at, rest / 3600, 2);
    append(to, room, at, ":");
    appendNumber(to, room, at, rest / 60 % 60, 2);
    append(to, room, at, ":");
    appendNumber(to, room, at, rest % 60, 2);
    append(to, room, at, " UTC ");
}

void appendToLog(const Prepared& copy) {
    if (copy.stateFolder[0] == '\0') return;
    makeFoldersSafely(copy.stateFolder);
    char path[pathRoom + 16];
    size_t at = 0;
    append(path, sizeof path, at, copy.stateFolder);
    append(path, sizeof path, at, "/rescue.log");
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // One write per line, each with the time: lines of runs at once stay whole.
    for (size_t start = 0; start < reportLength;) {
        size_t end = start;
        while (end < reportLength && report[end] != '\n') ++end;
        char line[sizeof report + 32];
        size_t length = 0;
        appendTime(line, sizeof line, length);
        for (size_t i = start; i <= end && i < reportLength && length + 1 < sizeof line; ++i)
            line[length++] = report[i];
        writeWhole(fd, std::string_view(line, length));
        start = end + 1;
    }
    close(fd);
}

bool keep(const Prepared& copy) {
    reportLength = 0;
    report[0] = '\0';
    const char* kept = "unsaved room kept in ";
    const char* notKept = "could not keep the unsaved room in ";
    if (copy.beside >= 0) {
        int error = writeCopy(copy.beside, copy.besideName, copy);
        if (error == 0) {
            reportLine(copy, kept, copy.shown[0], nullptr);
            return true;
        }
        reportLine(copy, notKept, copy.shown[0], errorText(error));
    }
    if (copy.stateFolder[0] != '\0') {
        makeFoldersSafely(copy.stateFolder);
        int error = writeInFolder(copy.stateFolder, copy);
        if (error == 0) {
            reportLine(copy, kept, copy.shown[1], nullptr);
            return true;
        }
        reportLine(copy, notKept, copy.shown[1], errorText(error));
    }
    if (copy.temporaryFolder[0] != '\0') {
        // A private folder of its own: a name someone else made first in a
        // shared folder cannot block it or receive the copy.
        char folder[pathRoom + 32];
        size_t at = 0;
        append(folder, sizeof folder, at, copy.temporaryFolder);
        append(folder, sizeof folder, at, "/quorvex-rescue-XXXXXX");
        int error = mkdtemp(folder) != nullptr ? 0 : errno;
        char shown[2 * pathRoom];
        at = 0;
        append(shown, sizeof shown, at, copy.shown[2]);
        if (error == 0) {
            append(shown, sizeof shown, at, folder + std::strlen(folder) - 22);
            append(shown, sizeof shown, at, "/");
            append(shown, sizeof shown, at, copy.shown[2] + std::strlen(copy.shown[2]) + 1);
            error = writeInFolder(folder, copy);
            if (error == 0) {
                reportLine(copy, kept, shown, nullptr);
                return true;
            }
            rmdir(folder);
        } else {
            append(shown, sizeof shown, at, "/quorvex-rescue-XXXXXX");
        }
        reportLine(copy, notKept, shown, errorText(error));
    }
    append(report, sizeof report, reportLength, copy.program);
    append(report, sizeof report, reportLength, ": ");
    append(report, sizeof report, reportLength, copy.what);
    append(report, sizeof report, reportLength, " is lost\n");
    return false;
}

// Pid of "NAME.PID.rescue.tmp", or -1 for any other name.
long leftoverOwner(std::string_view entry) {
    constexpr std::string_view suffix = ".rescue.tmp";
    if (entry.size() <= suffix.size() || entry.substr(entry.size() - suffix.size()) != suffix) return -1;
    entry.remove_suffix(suffix.size());
    size_t dot = entry.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == entry.size() || entry.size() - dot > 11) return -1;
    long pid = 0;
    for (char c : entry.substr(dot + 1)) {
        if (c < '0' || c > '9') return -1;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

}  // namespace

std::string rescueTemporaryName(std::string_view name) { return std::string(name) + ".tmp"; }

bool armRescueCopy(const RescuePlan& plan, std::string_view text) {
    if (errorTexts[1][0] == '\0')
        for (int number = 1; number < 134; ++number) {
            size_t at = 0;
            append(errorTexts[number], sizeof errorTexts[number], at, std::strerror(number));
        }
    int next = current == 0 ? 1 : 0;
    Prepared& copy = copies[next];
    if (copy.beside >= 0) close(copy.beside);
    copy.beside = -1;
    static const bool utf8 = localeIsUtf8();
    auto shown = [&](char* into, const std::string& place) {
        std::string text = escapedForTerminal(place, utf8).substr(0, pathRoom - 1);
        std::memcpy(into, text.c_str(), text.size() + 1);
    };
    bool fits = text.size() <= sizeof copy.text && copyInto(copy.besideName, sizeof copy.besideName, plan.besideName) &&
                copyInto(copy.stateFolder, sizeof copy.stateFolder, plan.stateFolder) &&
                copyInto(copy.temporaryFolder, sizeof copy.temporaryFolder, plan.temporaryFolder) &&
                copyInto(copy.secondName, sizeof copy.secondName, plan.secondName) &&
                copyInto(copy.program, sizeof copy.program, plan.program) &&
                copyInto(copy.what, sizeof copy.what, plan.what) && !plan.secondName.empty();
    if (!fits) {
        current = -1;  // never an older state of the work in its place
        return false;
    }
    if (plan.besideFolder >= 0 && !plan.besideName.empty()) copy.beside = fcntl(plan.besideFolder, F_DUPFD_CLOEXEC, 3);
    shown(copy.shown[0], plan.besideShown);
    shown(copy.shown[1], plan.stateFolder + "/" + plan.secondName);
    // The temporary place: the folder, then (after a NUL) the name, put together once the folder is made.
    std::string temporaryShown =
        escapedForTerminal(plan.temporaryFolder, utf8) + '\0' + escapedForTerminal(plan.secondName, utf8);
    std::memcpy(copy.shown[2], temporaryShown.data(), std::min(temporaryShown.size(), pathRoom - 2));
    copy.shown[2][std::min(temporaryShown.size(), pathRoom - 2)] = '\0';
    copy.length = text.size();
    std::memcpy(copy.text, text.data(), copy.length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    current = next;
    return true;
}

void disarmRescueCopy() { current = -1; }

std::string_view writeArmedRescueCopy() {
    int armed = current;
    if (armed < 0) return {};
    current = -1;  // once: a second signal meanwhile finds nothing to do
    keep(copies[armed]);
    appendToLog(copies[armed]);
    return std::string_view(report, reportLength);
}

void removeRescueLeftovers(int folder) {
    for (const std::string& entry : namesInOpenFolder(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))) {
        long pid = leftoverOwner(entry.c_str());
        if (pid > 0 && !processRuns(pid)) unlinkat(folder, entry.c_str(), 0);
    }
}
