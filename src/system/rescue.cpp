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
    int stateBase = -1;
    char stateRest[pathRoom];
    char stateRefused[160];
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

// Variant n of a copy's name (or of how a report shows it): NAME, then
// NAME-1, NAME-2, ... before its ".rescue".
void withVariant(char* to, size_t room, const char* name, int variant) {
    size_t length = std::strlen(name), at = 0;
    constexpr size_t suffixLength = 7;  // ".rescue"
    bool suffix = length >= suffixLength && std::strcmp(name + length - suffixLength, ".rescue") == 0;
    size_t stemLength = suffix ? length - suffixLength : length;
    to[0] = '\0';
    for (size_t i = 0; i < stemLength && at + 1 < room; ++i) to[at++] = name[i];
    to[at] = '\0';
    if (variant > 0) {
        append(to, room, at, "-");
        appendNumber(to, room, at, variant);
    }
    if (suffix) append(to, room, at, ".rescue");
}

constexpr int variantLimit = 100;

// The copy written whole under a temporary name of its own and moved to
// its name in the folder only where nothing has that name: another file
// there (another editor's copy) is never replaced; the next variant of the
// name is taken instead. 0 and the variant used, or why not.
int writeCopy(int folder, const char* name, const Prepared& copy, int& variant) {
    for (variant = 0; variant < variantLimit; ++variant) {
        char target[NAME_MAX + 16], temporary[NAME_MAX + 24];
        withVariant(target, sizeof target, name, variant);
        size_t at = 0;
        append(temporary, sizeof temporary, at, target);
        append(temporary, sizeof temporary, at, ".tmp");
        int fd = openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;  // another editor's copy on its way to that name
        if (fd < 0) return errno;
        int error = writeWhole(fd, std::string_view(copy.text, copy.length)) ? 0 : errno;
        if (error == 0 && fsync(fd) != 0) error = errno;
        if (close(fd) != 0 && error == 0) error = errno;
        bool linked = false;
        if (error == 0 && renameat2(folder, temporary, folder, target, RENAME_NOREPLACE) != 0) {
            error = errno;
            if (error == EINVAL) {  // no RENAME_NOREPLACE here: a link is made only where nothing is
                error = linkat(folder, temporary, folder, target, 0) == 0 ? 0 : errno;
                linked = error == 0;
            }
        }
        if (error != 0 || linked) unlinkat(folder, temporary, 0);
        if (error != EEXIST) return error;
    }
    variant = 0;
    return EEXIST;
}

int writeInFolder(const char* folder, const Prepared& copy, int& variant) {
    int fd = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = writeCopy(fd, copy.secondName, copy, variant);
    close(fd);
    return error;
}

// The state folder: the folder found when arming, the parts below it made
// (700) where missing and each opened without following a link; used only
// when it is the user's own and no one else may write in it. -1 otherwise,
// with why (or error) saying why not.
int openStateFolder(const Prepared& copy, const char*& why, int& error) {
    why = nullptr;
    error = 0;
    if (copy.stateRefused[0] != '\0') {
        why = copy.stateRefused;
        return -1;
    }
    int fd = copy.stateBase >= 0 ? fcntl(copy.stateBase, F_DUPFD_CLOEXEC, 3) : -1;
    if (fd < 0) {
        error = copy.stateBase >= 0 ? errno : ENOENT;
        return -1;
    }
    char part[NAME_MAX + 1];
    for (const char* at = copy.stateRest; *at != '\0';) {
        size_t length = 0;
        while (at[length] != '\0' && at[length] != '/') ++length;
        if (length > 0 && length <= NAME_MAX) {
            std::memcpy(part, at, length);
            part[length] = '\0';
            mkdirat(fd, part, 0700);
            int next = openat(fd, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            error = errno;
            close(fd);
            if (next < 0) return -1;
            fd = next;
        }
        at += length;
        if (*at == '/') ++at;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_uid != geteuid() || (info.st_mode & 022) != 0) {
        why = info.st_uid != geteuid() ? "it belongs to another user" : "others may write in it";
        close(fd);
        return -1;
    }
    return fd;
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

// The log, only as a regular file of the user's own, opened without
// waiting: a FIFO someone planted there cannot hold the editor.
void appendToLog(int state) {
    if (state < 0) return;
    int fd = openat(state, "rescue.log", O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    0600);
    if (fd < 0) return;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        return;
    }
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

// The report line for a place, naming the variant of the name written.
void placeLine(const Prepared& copy, const char* shown, int variant, int error, const char* why = nullptr) {
    char named[2 * pathRoom];
    withVariant(named, sizeof named, shown, variant);
    if (error == 0 && why == nullptr)
        reportLine(copy, "unsaved room kept in ", named, nullptr);
    else
        reportLine(copy, "could not keep the unsaved room in ", named, why != nullptr ? why : errorText(error));
}

// state: the state folder's descriptor, or -1 with why or stateError saying why not.
bool keep(const Prepared& copy, int state, const char* why, int stateError) {
    reportLength = 0;
    report[0] = '\0';
    int variant = 0;
    if (copy.beside >= 0) {
        int error = writeCopy(copy.beside, copy.besideName, copy, variant);
        placeLine(copy, copy.shown[0], variant, error);
        if (error == 0) return true;
    }
    if (copy.stateFolder[0] != '\0') {
        int error = state >= 0 ? writeCopy(state, copy.secondName, copy, variant) : stateError;
        if (state < 0) variant = 0;
        placeLine(copy, copy.shown[1], variant, error, state >= 0 ? nullptr : why);
        if (state >= 0 && error == 0) return true;
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
            error = writeInFolder(folder, copy, variant);
            placeLine(copy, shown, variant, error);
            if (error == 0) return true;
            rmdir(folder);
        } else {
            append(shown, sizeof shown, at, "/quorvex-rescue-XXXXXX");
            placeLine(copy, shown, 0, error);
        }
    }
    append(report, sizeof report, reportLength, copy.program);
    append(report, sizeof report, reportLength, ": ");
    append(report, sizeof report, reportLength, copy.what);
    append(report, sizeof report, reportLength, " is lost\n");
    return false;
}

// Pid of "NAME.PID.rescue.tmp" (or "NAME.PID-N.rescue.tmp"), or -1 for any other name.
long leftoverOwner(std::string_view entry) {
    constexpr std::string_view suffix = ".rescue.tmp";
    if (entry.size() <= suffix.size() || entry.substr(entry.size() - suffix.size()) != suffix) return -1;
    entry.remove_suffix(suffix.size());
    size_t dash = entry.rfind('-');
    if (dash != std::string_view::npos && dash > entry.rfind('.') && dash + 1 < entry.size() &&
        entry.find_first_not_of("0123456789", dash + 1) == std::string_view::npos)
        entry = entry.substr(0, dash);
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
    if (copy.stateBase >= 0) close(copy.stateBase);
    copy.stateBase = -1;
    static const bool utf8 = localeIsUtf8();
    auto shown = [&](char* into, const std::string& place) {
        std::string text = escapedForTerminal(place, utf8).substr(0, pathRoom - 1);
        std::memcpy(into, text.c_str(), text.size() + 1);
    };
    bool fits = text.size() <= sizeof copy.text && copyInto(copy.besideName, sizeof copy.besideName, plan.besideName) &&
                copyInto(copy.stateFolder, sizeof copy.stateFolder, plan.stateFolder) &&
                copyInto(copy.stateRest, sizeof copy.stateRest, plan.stateRest) &&
                copyInto(copy.stateRefused, sizeof copy.stateRefused, plan.stateRefused.substr(0, 150)) &&
                copyInto(copy.temporaryFolder, sizeof copy.temporaryFolder, plan.temporaryFolder) &&
                copyInto(copy.secondName, sizeof copy.secondName, plan.secondName) &&
                copyInto(copy.program, sizeof copy.program, plan.program) &&
                copyInto(copy.what, sizeof copy.what, plan.what) && !plan.secondName.empty();
    if (!fits) {
        current = -1;  // never an older state of the work in its place
        return false;
    }
    if (plan.besideFolder >= 0 && !plan.besideName.empty()) copy.beside = fcntl(plan.besideFolder, F_DUPFD_CLOEXEC, 3);
    if (plan.stateBase >= 0) copy.stateBase = fcntl(plan.stateBase, F_DUPFD_CLOEXEC, 3);
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
    const Prepared& copy = copies[armed];
    const char* why = nullptr;
    int error = 0;
    int state = copy.stateFolder[0] != '\0' ? openStateFolder(copy, why, error) : -1;
    keep(copy, state, why, error);
    appendToLog(state);
    if (state >= 0) close(state);
    return std::string_view(report, reportLength);
}

void removeRescueLeftovers(int folder) {
    for (const std::string& entry : namesInOpenFolder(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))) {
        long pid = leftoverOwner(entry.c_str());
        if (pid > 0 && !processRuns(pid)) unlinkat(folder, entry.c_str(), 0);
    }
}
