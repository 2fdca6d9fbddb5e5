#include "console/terminal.h"

#include <curses.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstring>
#include <thread>

#include "console/console.h"
#include "console/cp437.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int escDelayMs = 25;
constexpr int sleepSliceMs = 10;  // how late a key or a resize is noticed at worst
constexpr uint8_t ctrlC = 3, escape = 27;

// Console colour number (0 black, 1 blue, ... 6 brown, 7 light grey) to curses:
// curses numbers red and blue, and cyan and brown, the other way round.
constexpr short cursesColour[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                   COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

struct TerminalState {
    SCREEN* screen = nullptr;
    FILE* input = nullptr;
    FILE* output = nullptr;
    bool ownStreams = false;  // /dev/tty, opened here and closed at the end
    int inputFd = -1;
    bool inputIsTty = false;
    bool colour = false;
    bool sixteenColours = false;
    short pairFor[16 * 8] = {};  // curses pair per (foreground, background); 0: not made yet
    short pairsMade = 0;
    ConsoleCell shown[viewRows][screenWidth] = {};  // what the terminal shows of the view
    bool shownValid = false;
    bool tooSmall = false;
    int rows = 0, columns = 0;
};

TerminalState term;

// --- restoring the terminal from a signal handler ---
// The handler may only use async-signal-safe calls, so everything it sends
// is prepared while the terminal is set up.

volatile sig_atomic_t restoreArmed = 0;
char restoreBytes[512];
size_t restoreLength = 0;
int restoreOutputFd = -1;
int modesFd = -1;  // the terminal whose modes were saved, -1 when none
struct termios savedModes;

const int restoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

void sendRestore();

void restoreFromSignal(int signalNumber) {
    if (restoreArmed) {
        restoreArmed = 0;
        sendRestore();
    }
    // Die of the signal as if nothing had caught it, so the parent sees why.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void installSignalHandlers() {
    for (int signalNumber : restoredSignals) {
        struct sigaction current {};
        sigaction(signalNumber, nullptr, &current);
        // A signal the parent ignores (nohup, background jobs) stays ignored;
        // a handler someone else installed (a sanitizer) stays too.
        if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
        struct sigaction mine {};
        mine.sa_handler = restoreFromSignal;
        sigemptyset(&mine.sa_mask);
        sigaction(signalNumber, &mine, nullptr);
    }
}

bool usable(const char* capability) {
    return capability != nullptr && capability != reinterpret_cast<const char*>(-1) && *capability != '\0';
}

void addBytes(const char* capability) {
    if (!usable(capability)) return;
    for (const char* text = capability; *text != '\0'; ++text) {
        if (text[0] == '$' && text[1] == '<') {  // a padding delay, meaningless here
            const char* close = std::strchr(text, '>');
            if (close != nullptr) {
                text = close;
                continue;
            }
        }
        if (restoreLength < sizeof restoreBytes) restoreBytes[restoreLength++] = *text;
    }
}

// What putting the terminal back sends: attributes and colours off, the whole
// screen as scroll region, cursor shown, keypad mode off, the user's own
// screen back. Rebuilt at every resize, as the scroll region depends on it.
// The alternate screen is blanked in the default colours before it is left:
// tmux, after a resize, keeps coloured lines of it in the scroll-back. A
// terminal without one keeps the picture and gets the cursor below it.
void prepareRestore(int rows) {
    restoreArmed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    restoreLength = 0;
    addBytes(tigetstr("sgr0"));
    addBytes(tigetstr("op"));
    const char* scrollRegion = tigetstr("csr");
    if (usable(scrollRegion)) addBytes(tiparm(scrollRegion, 0, rows - 1));
    const char* leaveAlternate = tigetstr("rmcup");
    const char* moveTo = tigetstr("cup");
    if (usable(leaveAlternate))
        addBytes(tigetstr("clear"));
    else if (usable(moveTo))
        addBytes(tiparm(moveTo, rows - 1, 0));
    addBytes(tigetstr("cnorm"));
    addBytes(tigetstr("rmkx"));
    addBytes(leaveAlternate);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    restoreArmed = 1;
}

void sendRestore() {
    for (size_t sent = 0; sent < restoreLength;) {
        ssize_t n = write(restoreOutputFd, restoreBytes + sent, restoreLength - sent);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    if (modesFd >= 0) tcsetattr(modesFd, TCSANOW, &savedModes);
}

// --- locale and colours ---

// The glyphs are sent as UTF-8 whatever the user's locale says: with LANG=C
// ncurses would otherwise turn them into question marks.
void chooseUtf8Locale() {
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "C.utf8");
}

// Colour pairs are made when first needed: some terminals (TERM=screen) have
// only 64, fewer than the 128 combinations of 16 foregrounds and 8 backgrounds.
short pairOf(short foreground, short background) {
    short& pair = term.pairFor[foreground * 8 + background];
    if (pair != 0) return pair;
    if (term.pairsMade + 1 < COLOR_PAIRS && init_pair(term.pairsMade + 1, foreground, background) == OK)
        return pair = ++term.pairsMade;
    // Out of pairs: keep at least the background right.
    for (int other = 0; other < 16; ++other)
        if (term.pairFor[other * 8 + background] != 0) return term.pairFor[other * 8 + background];
    return term.pairsMade > 0 ? 1 : 0;
}

cchar_t cellFor(uint8_t character, uint8_t attribute) {
    int foreground = attribute & 0x0F, background = (attribute >> 4) & 0x07;
    attr_t attributes = A_NORMAL;
    short pair = 0;
    if (term.colour) {
        short curses = cursesColour[foreground & 7];
        if (foreground & 8) {
            if (term.sixteenColours)
                curses += 8;
            else
                attributes |= A_BOLD;
        }
        pair = pairOf(curses, cursesColour[background]);
    } else {
        if (foreground & 8) attributes |= A_BOLD;
        if (background != 0) attributes |= A_REVERSE;
    }
    wchar_t text[2] = {static_cast<wchar_t>(cp437ToUnicode(character)), L'\0'};
    cchar_t cell;
    setcchar(&cell, text, attributes, pair, nullptr);
    return cell;
}

// --- the picture ---

// A window smaller than the game gets a request for more room instead of a
// cut-off picture, in the terminal's own colours; the words wrap to whatever
// width there is.
void showNotice() {
    std::string notice = "Please make the window at least 80 x 25 (now " + std::to_string(term.columns) + " x " +
                         std::to_string(term.rows) + ").";
    std::string lines[16];
    int lineCount = 0;
    for (size_t start = 0; start < notice.size() && lineCount < 16;) {
        size_t end = notice.find(' ', start);
        std::string word = notice.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? notice.size() : end + 1;
        if (lineCount > 0 && lines[lineCount - 1].size() + 1 + word.size() <= static_cast<size_t>(term.columns))
            lines[lineCount - 1] += " " + word;
        else
            lines[lineCount++] = word;
    }
    werase(stdscr);
    int top = std::max(0, (term.rows - lineCount) / 2);
    for (int i = 0; i < lineCount && top + i < term.rows; ++i) {
        int left = std::max(0, (term.columns - static_cast<int>(lines[i].size())) / 2);
        mvwaddnstr(stdscr, top + i, left, lines[i].c_str(), term.columns - left);
    }
    wrefresh(stdscr);
}

void handleResize() {
    getmaxyx(stdscr, term.rows, term.columns);
    prepareRestore(term.rows);
    term.tooSmall = term.rows < viewRows || term.columns < screenWidth;
    term.shownValid = false;
    clearok(curscr, TRUE);  // the next refresh repaints everything
    if (term.tooSmall) {
        showNotice();
    } else {
        werase(stdscr);
        terminalShowView();
    }
}

// --- keys ---

// Alt+letter arrives as Esc followed at once by the letter; it gives the
// letter key's PC scan code, or 0 for anything but a letter.
uint8_t altScanCode(wint_t key) {
    static const char* const keyRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const uint8_t firstCodes[] = {16, 30, 44};
    if (key >= 'A' && key <= 'Z') key += 'a' - 'A';
    if (key < 'a' || key > 'z') return 0;
    for (int row = 0; row < 3; ++row) {
        const char* found = std::strchr(keyRows[row], static_cast<int>(key));
        if (found != nullptr) return static_cast<uint8_t>(firstCodes[row] + (found - keyRows[row]));
    }
    return 0;
}

void queueCharacter(wint_t key);

// Curses keys that are extended keys on the console, with their scan codes.
struct ExtendedKey {
    int curses;
    uint8_t code;
};
const ExtendedKey extendedKeys[] = {
    {KEY_UP, scan::up},          {KEY_DOWN, scan::down},    {KEY_LEFT, scan::left},
    {KEY_RIGHT, scan::right},    {KEY_HOME, scan::home},    {KEY_A1, scan::home},
    {KEY_FIND, scan::home},      {KEY_END, scan::end},      {KEY_C1, scan::end},
    {KEY_SELECT, scan::end},     {KEY_PPAGE, scan::pageUp}, {KEY_A3, scan::pageUp},
    {KEY_NPAGE, scan::pageDown}, {KEY_C3, scan::pageDown},  {KEY_IC, scan::insert},
    {KEY_DC, scan::del},         {KEY_F(11), 133},          {KEY_F(12), 134},
};

void queueSpecialKey(wint_t key) {
    if (key == KEY_RESIZE) return handleResize();
    if (key == KEY_ENTER) return queueKey({13, false});
    if (key == KEY_BACKSPACE) return queueKey({8, false});
    if (key >= KEY_F(1) && key <= KEY_F(10)) return queueKey({static_cast<uint8_t>(59 + (key - KEY_F(1))), true});
    for (const ExtendedKey& extended : extendedKeys)
        if (static_cast<int>(key) == extended.curses) return queueKey({extended.code, true});
    // Mouse, shifted function keys, anything else: nothing.
}

// The rest of a control sequence that curses did not know: dropped whole, so
// none of its bytes reads as a key (its Esc would end the game).
void skipSequence() {
    wint_t key;
    for (int length = 0; length < 32; ++length) {
        int got = wget_wch(stdscr, &key);
        if (got == ERR) return;
        if (got == KEY_CODE_YES) return queueSpecialKey(key);
        if (key >= 0x40 && key <= 0x7E) return;                    // the final byte
        if (key < 0x20 || key > 0x3F) return queueCharacter(key);  // not part of it
    }
}

// After an Esc: alone it is the Esc key; with a letter right behind it,
// Alt+letter; with '[' or 'O', a sequence curses did not recognise.
void queueAfterEscape() {
    for (;;) {
        wint_t key;
        int got = wget_wch(stdscr, &key);
        if (got == ERR) return queueKey({escape, false});
        if (got == KEY_CODE_YES) {
            if (key != KEY_RESIZE) return;  // Alt with an arrow or function key: nothing
            queueKey({escape, false});
            return handleResize();
        }
        if (key == escape) {
            queueKey({escape, false});
            continue;
        }
        if (key < 0x20) {  // a control key typed right after Esc: both count
            queueKey({escape, false});
            return queueCharacter(key);
        }
        if (key == '[') return skipSequence();
        if (key == 'O') {
            wint_t final;
            got = wget_wch(stdscr, &final);
            if (got == ERR) return queueKey({altScanCode('O'), true});
            if (got == KEY_CODE_YES) return queueSpecialKey(final);
            return;  // an unknown SS3 key
        }
        if (uint8_t code = altScanCode(key); code != 0) queueKey({code, true});
        return;
    }
}

void queueCharacter(wint_t key) {
    if (key == ctrlC) throw ConsoleInterrupt{};
    if (key == escape) return queueAfterEscape();
    if (key == 10 || key == 13) return queueKey({13, false});
    if (key == 8 || key == 127) return queueKey({8, false});
    if (key < 0x7F) {
        if (key != 0) queueKey({static_cast<uint8_t>(key), false});
        return;
    }
    // A character typed in UTF-8 counts when code page 437 has it. The glyphs
    // of the control bytes do not: a typed ← must not act as Esc.
    int byte = unicodeToCp437(static_cast<char32_t>(key));
    if (byte >= 0x7F) queueKey({static_cast<uint8_t>(byte), false});
}

// Waits at most the given time for input on the terminal.
void waitForInput(Clock::duration slice) {
    if (term.inputIsTty) {
        struct pollfd ready = {term.inputFd, POLLIN, 0};
        auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count();
        struct timespec timeout = {static_cast<time_t>(nanoseconds / 1000000000),
                                   static_cast<long>(nanoseconds % 1000000000)};
        int result = ppoll(&ready, 1, &timeout, nullptr);
        if (result <= 0 || (ready.revents & POLLIN)) return;
        // Hung up or failed: poll would return at once; sleep instead.
    }
    std::this_thread::sleep_for(slice);
}

// --- setting up ---

bool startCurses(FILE* input, FILE* output, const char* terminalType, bool sizeMustBeKnown, std::string& failure) {
    chooseUtf8Locale();
    int outputFd = fileno(output);
    struct winsize size {};
    bool sizeKnown = ioctl(outputFd, TIOCGWINSZ, &size) == 0;
    if (!sizeKnown && sizeMustBeKnown) {
        failure = "No way to get console screen buffer info";
        return false;
    }
    term.input = input;
    term.output = output;
    term.inputFd = fileno(input);
    term.inputIsTty = isatty(term.inputFd);
    modesFd = term.inputIsTty ? term.inputFd : (isatty(outputFd) ? outputFd : -1);
    if (modesFd >= 0 && tcgetattr(modesFd, &savedModes) != 0) modesFd = -1;
    // Before newterm: curses then leaves SIGINT and SIGTERM to these handlers.
    installSignalHandlers();
    term.screen = newterm(terminalType, output, input);
    if (term.screen == nullptr) {
        failure = "No way to get the console handle";
        return false;
    }
    set_term(term.screen);
    if (!sizeKnown) resize_term(viewRows, screenWidth);
    raw();  // no line buffering, Ctrl+C and Ctrl+S are keys, not signals or flow control
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(escDelayMs);
    typeahead(-1);  // pending keys never hold output back
    leaveok(stdscr, TRUE);
    curs_set(0);
    term.colour = has_colors() && start_color() == OK;
    // Pair 0 as the terminal's own colours: the notice uses them, and resetting
    // to them after each update costs no extra colour codes.
    if (term.colour) use_default_colors();
    term.sixteenColours = term.colour && COLORS >= 16;
    std::fill(std::begin(term.pairFor), std::end(term.pairFor), 0);
    term.pairsMade = 0;
    restoreOutputFd = outputFd;
    handleResize();  // the first picture, and the restore bytes
    return true;
}

void closeStreams() {
    if (term.ownStreams) {
        if (term.input != nullptr) fclose(term.input);
        if (term.output != nullptr) fclose(term.output);
    }
    term.input = term.output = nullptr;
    term.ownStreams = false;
}

}  // namespace

bool openTerminal(std::string& failure) {
    if (term.screen != nullptr) return true;
    FILE* input = stdin;
    FILE* output = stdout;
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        // Redirected: draw on and read from the controlling terminal itself.
        input = std::fopen("/dev/tty", "re");
        output = std::fopen("/dev/tty", "we");
        term.ownStreams = true;
        term.input = input;
        term.output = output;
        if (input == nullptr || output == nullptr) {
            closeStreams();
            failure = "No way to get the console handle";
            return false;
        }
    }
    if (!startCurses(input, output, nullptr, true, failure)) {
        closeStreams();
        return false;
    }
    return true;
}

bool openTerminalOn(FILE* input, FILE* output, const char* terminalType, std::string& failure) {
    if (term.screen != nullptr) return true;
    return startCurses(input, output, terminalType, false, failure);
}

void closeTerminal() {
    if (term.screen == nullptr) return;
    // The same bytes as on a signal, rather than endwin's: see prepareRestore.
    restoreArmed = 0;
    fflush(term.output);
    sendRestore();
    delscreen(term.screen);
    term.screen = nullptr;
    closeStreams();
}

bool terminalIsOpen() { return term.screen != nullptr; }

void terminalShowView() {
    if (term.screen == nullptr) return;
    if (getmaxy(stdscr) != term.rows || getmaxx(stdscr) != term.columns) return handleResize();
    if (term.tooSmall) return;
    bool changed = false;
    for (int row = 0; row < viewRows; ++row) {
        for (int column = 0; column < screenWidth; ++column) {
            ConsoleCell now = viewCell(column + 1, row + 1);
            ConsoleCell& was = term.shown[row][column];
            if (term.shownValid && now.character == was.character && now.attribute == was.attribute) continue;
            cchar_t cell = cellFor(now.character, now.attribute);
            mvwadd_wch(stdscr, row, column, &cell);
            was = now;
            changed = true;
        }
    }
    term.shownValid = true;
    if (changed) wrefresh(stdscr);
}

void terminalPumpKeys() {
    if (term.screen == nullptr) return;
    wint_t key;
    for (int got; (got = wget_wch(stdscr, &key)) != ERR;) {
        if (got == KEY_CODE_YES)
            queueSpecialKey(key);
        else
            queueCharacter(key);
    }
}

void terminalSleep(int milliseconds) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        terminalPumpKeys();
        Clock::time_point now = Clock::now();
        if (now >= deadline) return;
        Clock::duration left = deadline - now;
        if (term.screen == nullptr) {
            std::this_thread::sleep_for(left);
            return;
        }
        waitForInput(std::min<Clock::duration>(left, std::chrono::milliseconds(sleepSliceMs)));
    }
}
