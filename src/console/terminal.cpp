#include "console/terminal.h"

// terminfo only: the capabilities of the terminal. The picture and the keys
// are our own work, so that an update sends just the cells that changed.
#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>
// term.h names every capability as a macro; these two are ordinary words here.
#undef columns
#undef lines

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "console/console.h"
#include "console/cp437.h"
#include "console/glyphs.h"
#include "console/keys.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t ctrlC = 3;
constexpr uint8_t ctrlZ = 26;
constexpr size_t keyQueueLimit = 4096;  // beyond this, type-ahead waits in the kernel's buffer
constexpr int readChunk = 256;

// Console colour number (0 black, 1 blue, ... 6 brown, 7 light grey) to the
// terminal's: it numbers red and blue, and cyan and brown, the other way round.
constexpr short terminalColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// The colours and modes the terminal writes with; -1: not known.
struct Look {
    short foreground = -1, background = -1;
    bool bold = false, reverse = false;
    bool operator==(const Look&) const = default;
};

struct Capabilities {
    const char *cup, *hpa, *cuf, *cub1, *setaf, *setab, *bold, *rev, *sgr0, *clear, *csr, *ind;
    const char *ich1, *ich, *smir, *rmir, *rep, *ech, *el;
    bool backColourErase, autoMargins, eatsNewline;
};

// How colours reach the terminal. Bold is never what makes a colour bright:
// many terminals draw it in the plain colour, or overstrike it.
enum class ColourWay {
    None,     // monochrome: bright as bold, a background as reverse
    Palette,  // 16 or more palette colours: setaf and setab, 0 to 15
    Sgr,      // the 16 as SGR 30-37, 90-97 and 40-47: 24-bit terminals (where
              // setaf takes an RGB value, as it does the shades' colours) and
              // 8-colour families that take 90-97
    Eight,    // 8 colours only: bright ones as their plain colour, dark grey as
              // light grey, and a colour that would meet its background turned
};

// How the shades ░ ▒ ▓ are drawn. Terminals that draw them from a font or as
// a stipple show the foreground's own colour in a quarter, half or three
// quarters of the pixels; VTE (GNOME Terminal, xfce4-terminal, sakura),
// konsole and alacritty paint the whole cell in a flat blend of foreground
// over background, where dark grey ░ on black comes out at 1.15:1.
enum class Shades {
    Game,    // the terminal is known to draw stipples: the game's own colours
    Lifted,  // flat, or not known: colours that stand out at least 2:1 both ways
    Blocks,  // known to be flat, with no `rep` to repeat a glyph: each shade
             // cell drawn as a blank in the colour the blend comes out at,
             // which looks the same there and costs a third of the bytes
};

struct TerminalState {
    bool open = false;
    FILE* input = nullptr;
    FILE* output = nullptr;
    bool ownStreams = false;  // /dev/tty, opened here and closed at the end
    int inputFd = -1, outputFd = -1;
    bool inputIsTty = false, inputOpen = false;
    TERMINAL* info = nullptr;
    Capabilities cap{};
    bool colour = false;
    ColourWay colours = ColourWay::None;
    int paletteSize = 0;
    bool brightIsBold = false;  // SGR 90-97 (or setaf 8-15) also turn bold on, which stays until SGR 22 or 0
    Shades shades = Shades::Game;
    bool parkCursor = false;  // the terminal cannot hide it: it waits on a blank cell
    int rows = 0, columns = 0;
    int smallestRows = smallestWindowRows;  // below this, or narrower than smallestColumns: the notice
    int smallestColumns = smallestWindowColumns;
    bool escapeEndsBehindNotice = true;
    bool tooSmall = false;
    ConsoleCell shown[viewRows][screenWidth] = {};  // what the terminal shows of the view
    bool known[viewRows][screenWidth] = {};
    int shownTop = 1;                       // the buffer row shown on the top row
    int cursorRow = -1, cursorColumn = -1;  // -1: not known
    Look look;
    std::string out;                      // the update being gathered
    size_t sgrStart = std::string::npos;  // a colour code that ends `out`, which the next can join
    KeyDecoder decoder;
    Clock::time_point lastInput;
    bool sizeKnown = false;
    // The size request: asked once; the size found is put back only while the
    // window still has the size asked for, and never once the player resized it.
    bool growAsked = false, playerSized = false;
    int oldRows = 0, oldColumns = 0;      // the size found
    int pixelWidth = 0, pixelHeight = 0;  // the window's own size, where the terminal says it (else 0)
    int oldPixelWidth = 0, oldPixelHeight = 0;
    bool windowGrowsWhenAsked = true;       // false: not asked (konsole)
    int askedRows = 0, askedColumns = 0;    // the size asked for
    int expectRows = 0, expectColumns = 0;  // the size the last request would give
    bool restoreGivesSizeBack = false;      // the prepared restore asks for the size found
    bool shrunkAtStop = false;
    sigset_t waitMask;  // the signal mask while waiting: resizes come through
    int stopFd = -1;    // readable while a stop (SIGTSTP) waits, held back, to be acted on
    sigset_t savedMask;
    struct sigaction savedResize, savedStop, savedContinue;
    Clock::duration stoppedFor{};  // all the time spent stopped (SIGTSTP), which pauses do not count
    GlyphTable glyphs;
    // The Linux console's display-control mode (SGR 11) shows each byte as its
    // code page 437 glyph; in use where the start-up found it (checkRepeat).
    bool consoleBytes = false;
    int8_t glyphMode = -1;   // the console's mode now: 1 bytes (SGR 11), 0 UTF-8 (SGR 10), -1 not known
    std::string typedAhead;  // keys that came while the start-up asked the terminal something
    // The start-up's question is answered within this time, in pieces over a
    // slow link: until then (or until the answer came) an Esc that may begin
    // the answer is held rather than read as the Esc key.
    bool answerAwaited = false;
    Clock::time_point answerUntil;
    uint8_t answerPart = 0;  // how far the bytes so far go into an answer (ESC [ row ; column R)
};

TerminalState tty;
char glyphBytes[256][4];
uint8_t glyphLength[256];
int8_t glyphMode[256];  // the mode a glyph's bytes need: 1 bytes, 0 UTF-8, -1 either (ASCII)

// --- restoring the terminal from a signal handler ---
// The handler may only use async-signal-safe calls, so everything it sends
// is prepared while the terminal is set up.

volatile sig_atomic_t restoreArmed = 0;
volatile sig_atomic_t resized = 0;
volatile sig_atomic_t stopAsked = 0;
bool ctrlZStops = true;
volatile sig_atomic_t continued = 0;
char restoreBytes[512];
size_t restoreLength = 0;
int restoreOutputFd = -1;
int modesFd = -1;  // the terminal whose modes were saved, -1 when none
struct termios savedModes;
alignas(16) char signalStack[1 << 16];  // a crash from a stack overflow needs a stack of its own

const int restoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV,
                               SIGBUS, SIGFPE,  SIGILL, SIGSYS,  SIGTRAP, SIGXCPU};

void sendRestore() {
    for (size_t sent = 0; sent < restoreLength;) {
        ssize_t n = write(restoreOutputFd, restoreBytes + sent, restoreLength - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    if (modesFd >= 0) tcsetattr(modesFd, TCSANOW, &savedModes);
}

void restoreFromSignal(int signalNumber) {
    if (restoreArmed) {
        restoreArmed = 0;
        sendRestore();
    }
    dieOfSignal(signalNumber);
}

void noteResize(int) { resized = 1; }
void noteContinue(int) { continued = 1; }

void installSignalHandlers() {
    stack_t alternate{};
    alternate.ss_sp = signalStack;
    alternate.ss_size = sizeof signalStack;
    sigaltstack(&alternate, nullptr);
    for (int signalNumber : restoredSignals) {
        struct sigaction current {};
        sigaction(signalNumber, nullptr, &current);
        // A signal the parent ignores (nohup, background jobs) stays ignored;
        // a handler someone else installed (a sanitizer) stays too.
        if (current.sa_handler == restoreFromSignal) continue;
        if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) continue;
        struct sigaction mine {};
        mine.sa_handler = restoreFromSignal;
        mine.sa_flags = SA_ONSTACK;
        sigemptyset(&mine.sa_mask);
        sigaction(signalNumber, &mine, nullptr);
    }
    // A resize, a stop and a continue are noticed only while waiting: the
    // wait lets them through, and the picture is never cut in two by them.
    struct sigaction note {};
    sigemptyset(&note.sa_mask);
    note.sa_handler = noteResize;
    sigaction(SIGWINCH, &note, &tty.savedResize);
    note.sa_handler = noteContinue;
    sigaction(SIGCONT, &note, &tty.savedContinue);
    // A stop is held back (blocked) and seen through a descriptor in the
    // waits. Acted on, the very signal that asked for it stops the program,
    // so a continue that came meanwhile has cancelled it, as the kernel
    // cancels any pending stop; a stop signal of our own would instead drop
    // a continue that came just before it, and stay stopped.
    sigaction(SIGTSTP, nullptr, &tty.savedStop);
    bool stopIgnored = tty.savedStop.sa_handler == SIG_IGN && !(tty.savedStop.sa_flags & SA_SIGINFO);
    if (!stopIgnored) {
        struct sigaction plain {};
        plain.sa_handler = SIG_DFL;
        sigemptyset(&plain.sa_mask);
        sigaction(SIGTSTP, &plain, nullptr);
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTSTP);
        tty.stopFd = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    }
    sigset_t noted;
    sigemptyset(&noted);
    for (int signalNumber : {SIGWINCH, SIGTSTP, SIGCONT}) sigaddset(&noted, signalNumber);
    sigprocmask(SIG_BLOCK, &noted, &tty.savedMask);
    tty.waitMask = tty.savedMask;
    for (int signalNumber : {SIGWINCH, SIGCONT}) sigdelset(&tty.waitMask, signalNumber);
}

bool usable(const char* capability) {
    return capability != nullptr && capability != reinterpret_cast<const char*>(-1) && *capability != '\0';
}

const char* capability(const char* name) {
    const char* value = tigetstr(name);
    return usable(value) ? value : nullptr;
}

// Appends a capability's text without its padding delays, meaningless here.
void appendCapability(std::string& to, const char* text) {
    if (text == nullptr) return;
    for (; *text != '\0'; ++text) {
        if (text[0] == '$' && text[1] == '<') {
            const char* close = std::strchr(text, '>');
            if (close != nullptr) {
                text = close;
                continue;
            }
        }
        to.push_back(*text);
    }
}

std::string withParameters(const char* capability, int first, int second = 0) {
    std::string text;
    if (capability != nullptr) appendCapability(text, tiparm(capability, first, second));
    return text;
}

// The window still has the size the game asked for, which the player has never changed.
bool sizeStillAsked() {
    return tty.growAsked && !tty.playerSized && tty.rows == tty.askedRows && tty.columns == tty.askedColumns;
}

// What putting the terminal back sends: first CAN, which ends any control
// sequence a signal cut in two; attributes and colours off, the whole screen
// as scroll region, cursor shown, keypad mode off, the user's own screen back,
// and the window's old size if the game asked for a larger one. The screen is
// blanked in the default colours first: tmux, after a resize, keeps coloured
// lines of an alternate screen in the scroll-back.
void prepareRestore() {
    restoreArmed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::string text = "\x18";
    appendCapability(text, tty.cap.sgr0);
    if (tty.consoleBytes) text += "\x1b[10m";  // sgr0 leaves the console's display-control mode on
    appendCapability(text, capability("op"));
    text += withParameters(tty.cap.csr, 0, tty.rows - 1);
    // Cleared in the default colours, with or without an alternate screen:
    // a terminal without one then gives the shell a clean screen, the cursor
    // at the top, instead of a prompt over the status lines.
    const char* leaveAlternate = capability("rmcup");
    appendCapability(text, tty.cap.clear);
    appendCapability(text, capability("cnorm"));
    appendCapability(text, capability("rmkx"));
    appendCapability(text, leaveAlternate);
    tty.restoreGivesSizeBack = sizeStillAsked();
    if (tty.restoreGivesSizeBack)
        text += "\x1b[8;" + std::to_string(tty.oldRows) + ";" + std::to_string(tty.oldColumns) + "t";
    restoreLength = std::min(text.size(), sizeof restoreBytes);
    std::memcpy(restoreBytes, text.data(), restoreLength);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    restoreArmed = 1;
}

// The terminal is gone: end as a hang-up signal would, even when it is ignored.
[[noreturn]] void hangUp() {
    // A handler of the program's own (the editor keeps unsaved work in one)
    // hears of it first; it may return, as under nohup.
    struct sigaction current {};
    sigaction(SIGHUP, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) || (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN))
        raise(SIGHUP);
    restoreFromSignal(SIGHUP);
    _exit(129);
}

// --- output ---

void sendOutput() {
    size_t sent = 0;
    while (sent < tty.out.size()) {
        ssize_t n = write(tty.outputFd, tty.out.data() + sent, tty.out.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
        } else if (n < 0 && errno == EAGAIN) {
            pollfd writable{tty.outputFd, POLLOUT, 0};
            poll(&writable, 1, 100);
        } else {
            if (isatty(tty.outputFd) || errno == EIO) hangUp();
            break;  // a file or pipe that fails: the picture is lost, the game goes on
        }
    }
    tty.out.clear();
    tty.sgrStart = std::string::npos;
}

// Adds a colour code; one that follows another joins it ("\e[31m\e[40m" becomes "\e[31;40m").
void addSgr(const std::string& code) {
    bool plain = code.size() >= 3 && code.compare(0, 2, "\x1b[") == 0 && code.back() == 'm' &&
                 code.find_first_not_of("0123456789;", 2) == code.size() - 1;
    if (plain && tty.sgrStart != std::string::npos && tty.sgrStart < tty.out.size()) {
        tty.out.back() = ';';
        tty.out.append(code, 2, std::string::npos);
        return;
    }
    size_t start = tty.out.size();
    tty.out += code;
    tty.sgrStart = plain ? start : std::string::npos;
}

void addText(const std::string& text) {
    tty.out += text;
    tty.sgrStart = std::string::npos;
}

bool isBlank(uint8_t character) { return character == 0x20 || character == 0; }

// --- shades that stand out ---

// A shade cell drawn in the game's colours that a flat blend would all but
// hide, and what it becomes where the terminal may blend. The 256-colour
// forms use the standard cube and grey ramp, alike in every such terminal;
// the 16-colour forms use the bright background. Worked out for the
// palettes of xterm, VTE (Tango), konsole (Breeze) and alacritty: the blend
// of foreground over background, and the foreground alone, each at least 2:1
// against the palette's black, dark grey in konsole and alacritty (README,
// "Terminals").
struct LiftedShade {
    uint8_t glyph, foreground;  // the game's cell: CP437 shade, console colour, on black
    short foreground256, background256, foreground16, background16;  // terminal colours
};
constexpr LiftedShade liftedShades[] = {
    {0xB0, 8, 250, 237, 7, 8},   // crumbling floor and the menu's bricks: flat 3.1:1
    {0xB0, 7, 255, 243, 15, 7},  // the menu's mortar: flat 6.9:1
    {0xB1, 4, 160, 124, 9, 1},   // lava: flat 3.3:1
    {0xB2, 8, 247, 0, 7, 0},     // walls: flat 4.7:1 (Tango's dark grey gave 2.0:1)
};
// The colour each of them comes out at when blended flat, for Blocks (256
// colours, then 16).
constexpr short blendedBlock[][2] = {{240, 8}, {246, 7}, {160, 1}, {243, 7}};

const LiftedShade* liftedShade(ConsoleCell cell) {
    if (tty.shades == Shades::Game || (cell.attribute & 0x70) != 0) return nullptr;
    char32_t glyph = tty.glyphs.glyph[cell.character];
    if (glyph < 0x2591 || glyph > 0x2593) return nullptr;  // drawn from the font's own character
    for (const LiftedShade& shade : liftedShades)
        if (shade.glyph == cell.character && shade.foreground == (cell.attribute & 0x0F)) return &shade;
    return nullptr;
}

// What the terminal is sent for a cell: its glyph's bytes and the colours and
// modes to write them with. A blank shows only its background.
struct Render {
    const char* bytes;
    uint8_t length;
    bool blank;
    Look look;
    int8_t mode;  // glyphMode's
};

Render renderOf(ConsoleCell cell) {
    Render render{glyphBytes[cell.character], glyphLength[cell.character], isBlank(cell.character), Look{},
                  glyphMode[cell.character]};
    int foreground = cell.attribute & 0x0F, background = (cell.attribute >> 4) & 0x07;
    Look& look = render.look;
    if (tty.colours == ColourWay::None) {
        look.bold = foreground & 8;
        look.reverse = background != 0;
        return render;
    }
    look.background = terminalColour[background];
    if (tty.colours != ColourWay::Eight) {
        look.foreground = static_cast<short>(terminalColour[foreground & 7] + (foreground & 8));
        if (const LiftedShade* shade = liftedShade(cell)) {
            bool wide = tty.paletteSize >= 256;
            look.foreground = wide ? shade->foreground256 : shade->foreground16;
            look.background = wide ? shade->background256 : shade->background16;
            if (tty.shades == Shades::Blocks)
                render = {" ", 1, true, Look{-1, blendedBlock[shade - liftedShades][wide ? 0 : 1], false, false}, -1};
        }
        return render;
    }
    // Eight colours: the walls' and crumbling floor's dark grey would be
    // black on black, the spring's light green green on green.
    short plain = terminalColour[foreground & 7];
    if (foreground == 8) plain = 7;
    if (plain == look.background && foreground != background) plain = look.background == 0 ? 7 : 0;
    look.foreground = plain;
    return render;
}

// Whether the terminal, writing with `look`, shows the cell right. A blank
// shows only its background: its foreground and boldness do not matter.
bool looksRight(const Look& look, const Render& wanted) {
    if (!wanted.blank) return look == wanted.look;
    if (!tty.colour) return look.reverse == wanted.look.reverse;
    return look.background == wanted.look.background && look.background >= 0;
}

bool sameRender(const Render& a, const Render& b) {
    if (a.blank != b.blank) return false;
    if (a.blank) return tty.colour ? a.look.background == b.look.background : a.look.reverse == b.look.reverse;
    return a.length == b.length && std::memcmp(a.bytes, b.bytes, a.length) == 0 && a.look == b.look;
}

bool sameOnScreen(ConsoleCell a, ConsoleCell b) { return sameRender(renderOf(a), renderOf(b)); }

bool modeFits(const Render& cell) { return cell.mode < 0 || cell.mode == tty.glyphMode; }

// A colour of the standard 256-colour palette (the cube and the grey ramp)
// as the RGB value a direct-colour terminal's setaf and setab take.
constexpr int rgbOf(short colour) {
    if (colour >= 232) return 0x010101 * (8 + 10 * (colour - 232));
    constexpr int level[6] = {0, 95, 135, 175, 215, 255};
    int cube = colour - 16;
    return level[cube / 36] << 16 | level[cube / 6 % 6] << 8 | level[cube % 6];
}

// Direct-colour setaf and setab read a value below 8 (some below 16 or 256)
// as a palette colour, not as RGB: no shade may need such a value.
constexpr bool rgbUnambiguous() {
    for (const LiftedShade& shade : liftedShades)
        for (short colour : {shade.foreground256, shade.background256})
            if (colour >= 16 && rgbOf(colour) < 256) return false;
    for (const auto& block : blendedBlock)
        if (block[0] >= 16 && rgbOf(block[0]) < 256) return false;
    return true;
}
static_assert(rgbUnambiguous());

// Terminal colour (curses numbering, 16 and up the 256-colour palette) as the terminal takes it.
std::string colourCode(short colour, bool background) {
    if (tty.colours == ColourWay::Sgr) {
        // Only a direct-colour terminal is asked for more than 16 colours
        // (the shades'); it takes them as RGB, in its own terminfo's form.
        if (colour >= 16) return withParameters(background ? tty.cap.setab : tty.cap.setaf, rgbOf(colour));
        int code = colour < 8 ? (background ? 40 : 30) + colour : (background ? 100 : 90) + colour - 8;
        return "\x1b[" + std::to_string(code) + "m";
    }
    return withParameters(background ? tty.cap.setab : tty.cap.setaf, colour);
}

void useColours(const Render& cell) {
    Look wanted = cell.look;
    bool blank = cell.blank;
    if (blank && tty.colour) wanted.bold = tty.look.bold;  // no reset just for that
    Look& now = tty.look;
    if ((now.bold && !wanted.bold) || (now.reverse && !wanted.reverse)) {
        appendCapability(tty.out, tty.cap.sgr0);
        tty.sgrStart = std::string::npos;
        now = Look{};
        tty.glyphMode = -1;  // the Linux console's sgr0 ends in SI, which resets the glyph map
    }
    if (wanted.bold && !now.bold) addSgr(withParameters(tty.cap.bold, 0)), now.bold = true;
    if (wanted.reverse && !now.reverse) addSgr(withParameters(tty.cap.rev, 0)), now.reverse = true;
    if (tty.colour) {
        if (!blank && now.foreground != wanted.foreground) {
            // The Linux console takes a bright colour as bold plus the colour,
            // and keeps the bold: a plain colour after it turns the bold off.
            if (tty.brightIsBold && tty.colours == ColourWay::Sgr && now.foreground >= 8 && wanted.foreground < 8)
                addSgr("\x1b[22m");
            addSgr(colourCode(wanted.foreground, false));
        }
        if (!blank) now.foreground = wanted.foreground;
        if (now.background != wanted.background) addSgr(colourCode(wanted.background, true));
        now.background = wanted.background;
    }
}

// The colours and modes for a cell, and the console's glyph mode its bytes need.
void useLook(const Render& cell) {
    if (!looksRight(tty.look, cell)) useColours(cell);
    if (!modeFits(cell)) {
        addSgr(cell.mode ? "\x1b[11m" : "\x1b[10m");
        tty.glyphMode = cell.mode;
    }
}

// Moves the cursor by the shortest of the ways the terminal offers,
// rewriting the unchanged cells in between when that is shorter.
void moveTo(int row, int column) {
    if (tty.cursorRow == row && tty.cursorColumn == column) return;
    std::string best = withParameters(tty.cap.cup, row, column);
    if (tty.cursorRow == row && tty.cursorColumn >= 0) {
        int distance = column - tty.cursorColumn;
        auto consider = [&](const std::string& way) {
            if (!way.empty() && way.size() < best.size()) best = way;
        };
        if (tty.cap.hpa != nullptr) consider(withParameters(tty.cap.hpa, column));
        if (distance > 0 && tty.cap.cuf != nullptr) consider(withParameters(tty.cap.cuf, distance));
        if (distance < 0 && distance >= -4 && tty.cap.cub1 != nullptr) {
            std::string back;
            for (int i = 0; i < -distance; ++i) appendCapability(back, tty.cap.cub1);
            consider(back);
        }
        if (distance > 0 && distance <= 8) {
            std::string again;
            for (int x = tty.cursorColumn; x < column; ++x) {
                Render cell = renderOf(tty.shown[row][x]);
                if (!tty.known[row][x] || !looksRight(tty.look, cell) || !modeFits(cell)) {
                    again.clear();
                    break;
                }
                again.append(cell.bytes, cell.length);
            }
            consider(again);
        }
    }
    addText(best);
    tty.cursorRow = row;
    tty.cursorColumn = column;
}

// The whole window blank in the game's black: then only the cells that are
// not blank need sending. Without back-colour erase the blanks are unknown.
void blankWindow() {
    useLook(renderOf({0x20, 0x07}));
    appendCapability(tty.out, tty.cap.clear);
    tty.sgrStart = std::string::npos;
    bool filled = tty.cap.backColourErase || !tty.colour;
    for (int row = 0; row < viewRows; ++row)
        for (int column = 0; column < screenWidth; ++column) {
            tty.shown[row][column] = {0x20, 0x07};
            tty.known[row][column] = filled;
        }
    tty.cursorRow = tty.cursorColumn = 0;
    tty.shownTop = viewTop();
}

// After a one-row move of the view (the credits), the terminal scrolls the
// picture itself and only the new bottom row is sent.
void scrollPicture() {
    int by = viewTop() - tty.shownTop;
    tty.shownTop = viewTop();
    if (by == 0) return;
    bool canScroll = by > 0 && by < viewRows && tty.cap.ind != nullptr && tty.cap.backColourErase &&
                     (tty.rows == viewRows || tty.cap.csr != nullptr);
    if (!canScroll) {
        for (auto& row : tty.known) std::fill(std::begin(row), std::end(row), false);
        return;
    }
    useLook(renderOf({0x20, 0x07}));
    if (tty.rows != viewRows) addText(withParameters(tty.cap.csr, 0, viewRows - 1));
    tty.cursorRow = -1;
    moveTo(viewRows - 1, 0);
    for (int i = 0; i < by; ++i) appendCapability(tty.out, tty.cap.ind);
    if (tty.rows != viewRows) {
        addText(withParameters(tty.cap.csr, 0, tty.rows - 1));
        tty.cursorRow = tty.cursorColumn = -1;
    }
    for (int row = 0; row < viewRows; ++row)
        for (int column = 0; column < screenWidth; ++column) {
            bool moved = row + by < viewRows;
            tty.shown[row][column] = moved ? tty.shown[row + by][column] : ConsoleCell{0x20, 0x07};
            tty.known[row][column] = moved ? tty.known[row + by][column] : true;
        }
}

void noteShown(int row, int column, ConsoleCell cell) {
    tty.shown[row][column] = cell;
    tty.known[row][column] = true;
}

// The cursor after writing the cell in `column`: at the window's edge, not known.
void cursorAfter(int row, int column) {
    tty.cursorRow = row;
    tty.cursorColumn = column + 1 < tty.columns ? column + 1 : -1;
}

void putCell(int row, int column, ConsoleCell cell) {
    Render render = renderOf(cell);
    moveTo(row, column);
    useLook(render);
    tty.out.append(render.bytes, render.length);
    tty.sgrStart = std::string::npos;
    noteShown(row, column, cell);
    cursorAfter(row, column);
}

bool canInsert() { return tty.cap.ich1 != nullptr || tty.cap.ich != nullptr || tty.cap.smir != nullptr; }

// The last cell of a terminal that wraps at once (TERM=ansi): writing it
// would scroll the picture. It is written one cell to the left instead, and
// its neighbour inserted before it, which pushes it into place.
void putLastCell(int row, int column, ConsoleCell cell, ConsoleCell left) {
    putCell(row, column - 1, cell);
    moveTo(row, column - 1);
    Render render = renderOf(left);
    useLook(render);
    bool insertMode = tty.cap.ich1 == nullptr && tty.cap.ich == nullptr;
    if (insertMode)
        appendCapability(tty.out, tty.cap.smir);
    else if (tty.cap.ich1 != nullptr)
        appendCapability(tty.out, tty.cap.ich1);
    else
        tty.out += withParameters(tty.cap.ich, 1);
    tty.out.append(render.bytes, render.length);
    if (insertMode) appendCapability(tty.out, tty.cap.rmir);
    tty.sgrStart = std::string::npos;
    tty.shown[row][column - 1] = left;
    noteShown(row, column, cell);
    tty.cursorColumn = column;
}

// A cursor that cannot be hidden waits on a blank cell of the game's black,
// the last one from the bottom-right corner backwards (in a room the corner
// itself: the status lines never reach it), where it hides nothing.
void parkCursor(const WindowLayout& layout) {
    for (int row = layout.rows - 1; row >= 0; --row)
        for (int column = layout.columns - 1; column >= 0; --column) {
            ConsoleCell cell = windowCell(layout, column + 1, row + 1);
            if (isBlank(cell.character) && (cell.attribute & 0x70) == 0 && tty.known[row][column]) {
                moveTo(row, column);
                return;
            }
        }
}

// --- painting many cells at once ---

// Writes `count` copies of a cell's glyph from the cursor on, with the
// terminal's `rep` where it has one and that is shorter.
void writeRun(const Render& render, int count) {
    std::string repeat;
    if (tty.cap.rep != nullptr && count > 1) {
        repeat = withParameters(tty.cap.rep, 'X', count);        // the glyph, then count - 1 more
        if (repeat.empty() || repeat[0] != 'X') repeat.clear();  // a form that cannot carry a UTF-8 glyph
    }
    if (!repeat.empty() && repeat.size() - 1 < static_cast<size_t>(render.length) * (count - 1)) {
        tty.out.append(render.bytes, render.length);
        tty.out.append(repeat, 1, std::string::npos);
    } else {
        for (int i = 0; i < count; ++i) tty.out.append(render.bytes, render.length);
    }
    tty.sgrStart = std::string::npos;
}

constexpr int paintInLayers = 400;  // cells to send from which a picture gets a ground

// A picture of many changed cells (the first one, a new room) gets a ground
// first: its most common glyph and look over every stretch of changed cells,
// in long runs that `rep` repeats (or erased, when it is blank); the other
// cells are then written over it. Where nothing repeats, the ground's own
// cells only, all in one look. `send` marks the cells still to send; the
// cells the ground got right are cleared from it.
void paintGround(const WindowLayout& layout, ConsoleCell (&want)[viewRows][screenWidth],
                 bool (&send)[viewRows][screenWidth]) {
    int rows = layout.rows, columns = layout.columns;
    // Writing the last cell of a terminal that wraps at once would scroll it.
    bool lastCellUnsafe = tty.cap.autoMargins && !tty.cap.eatsNewline;
    auto writable = [&](int row, int column) {
        return !(lastCellUnsafe && row == tty.rows - 1 && column == tty.columns - 1);
    };
    // The most common render among the cells to send.
    std::vector<std::pair<ConsoleCell, int>> tally;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            if (!send[row][column]) continue;
            auto same = [&](const auto& entry) { return sameOnScreen(entry.first, want[row][column]); };
            auto found = std::find_if(tally.begin(), tally.end(), same);
            if (found == tally.end())
                tally.push_back({want[row][column], 1});
            else
                ++found->second;
        }
    if (tally.empty()) return;
    std::stable_sort(tally.begin(), tally.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    // The ground: on each row one run from the first cell to send to the
    // last (VTE repeats only to the end of a row: no run wraps).
    ConsoleCell ground = tally.front().first;
    Render groundRender = renderOf(ground);
    bool erasable = groundRender.blank && tty.cap.backColourErase && (tty.cap.el != nullptr || tty.cap.ech != nullptr);
    if (tty.cap.rep == nullptr && !erasable) {
        // Nothing repeats a glyph: the ground's own cells only, in one look,
        // so that the colour changes once instead of at every other run.
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column) {
                if (!send[row][column] || !writable(row, column) || !sameOnScreen(want[row][column], ground)) continue;
                moveTo(row, column);
                useLook(groundRender);
                tty.out.append(groundRender.bytes, groundRender.length);
                tty.sgrStart = std::string::npos;
                noteShown(row, column, ground);
                send[row][column] = false;
                cursorAfter(row, column);
            }
        return;
    }
    for (int row = 0; row < rows; ++row) {
        int first = 0, last = columns - 1;
        while (first < columns && !send[row][first]) ++first;
        if (first == columns) continue;
        while (!send[row][last]) --last;
        if (!writable(row, last)) --last;
        if (last < first) continue;
        moveTo(row, first);
        useLook(groundRender);
        // A blank ground is erased where the terminal erases in the current background.
        bool toRowEnd = last == columns - 1 && tty.columns == columns;
        if (groundRender.blank && tty.cap.backColourErase && toRowEnd && tty.cap.el != nullptr)
            appendCapability(tty.out, tty.cap.el);
        else if (groundRender.blank && tty.cap.backColourErase && tty.cap.ech != nullptr)
            addText(withParameters(tty.cap.ech, last - first + 1));
        else
            writeRun(groundRender, last - first + 1), cursorAfter(row, last);
        tty.sgrStart = std::string::npos;
        for (int c = first; c <= last; ++c) {
            noteShown(row, c, ground);
            send[row][c] = !sameOnScreen(want[row][c], ground);
        }
    }
}

void drawView() {
    WindowLayout layout = windowLayout();
    bool whole = layout.rows == viewRows && layout.columns == screenWidth;
    if (whole)
        scrollPicture();
    else
        tty.shownTop = viewTop();  // cells picked out of the view: the ones that changed are sent
    static ConsoleCell want[viewRows][screenWidth];
    static bool send[viewRows][screenWidth];
    int changed = 0;
    for (int row = 0; row < layout.rows; ++row)
        for (int column = 0; column < layout.columns; ++column) {
            want[row][column] = windowCell(layout, column + 1, row + 1);
            send[row][column] = !tty.known[row][column] || !sameOnScreen(want[row][column], tty.shown[row][column]);
            changed += send[row][column];
        }
    if (changed >= paintInLayers) paintGround(layout, want, send);
    for (int row = 0; row < layout.rows; ++row) {
        for (int column = 0; column < layout.columns; ++column) {
            if (!send[row][column]) continue;
            ConsoleCell now = want[row][column];
            // A run of one glyph in one look: repeated by the terminal.
            int end = column + 1;
            while (tty.cap.rep != nullptr && end < layout.columns && send[row][end] &&
                   !(row == tty.rows - 1 && end == tty.columns - 1) && sameOnScreen(want[row][end], now))
                ++end;
            if (end - column >= 4) {
                Render render = renderOf(now);
                moveTo(row, column);
                useLook(render);
                writeRun(render, end - column);
                for (int c = column; c < end; ++c) noteShown(row, c, now), send[row][c] = false;
                cursorAfter(row, end - 1);
                column = end - 1;
                continue;
            }
            // Writing the last cell of a terminal that wraps at once would scroll it.
            bool lastCell = row == tty.rows - 1 && column == tty.columns - 1;
            if (lastCell && tty.cap.autoMargins && !tty.cap.eatsNewline) {
                if (canInsert() && column > 0) putLastCell(row, column, now, want[row][column - 1]);
                continue;
            }
            putCell(row, column, now);
        }
    }
    if (tty.parkCursor) parkCursor(layout);
}

// A window smaller than the program needs gets a request for more room
// instead of a cut-off picture, in the terminal's own colours; the words wrap
// to whatever width there is.
void showNotice() {
    std::string notice = "Please make the window at least " + std::to_string(tty.smallestColumns) + " x " +
                         std::to_string(tty.smallestRows) + " (now " + std::to_string(tty.columns) + " x " +
                         std::to_string(tty.rows) + ")." + (tty.escapeEndsBehindNotice ? "" : " Ctrl+C leaves.");
    std::string lines[16];
    int lineCount = 0;
    for (size_t start = 0; start < notice.size() && lineCount < 16;) {
        size_t end = notice.find(' ', start);
        std::string word = notice.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? notice.size() : end + 1;
        if (lineCount > 0 && lines[lineCount - 1].size() + 1 + word.size() <= static_cast<size_t>(tty.columns))
            lines[lineCount - 1] += " " + word;
        else
            lines[lineCount++] = word;
    }
    appendCapability(tty.out, tty.cap.sgr0);
    appendCapability(tty.out, tty.cap.clear);
    tty.look = Look{};
    int top = std::max(0, (tty.rows - lineCount) / 2);
    for (int i = 0; i < lineCount && top + i < tty.rows; ++i) {
        int left = std::max(0, (tty.columns - static_cast<int>(lines[i].size())) / 2);
        addText(withParameters(tty.cap.cup, top + i, left));
        addText(lines[i].substr(0, static_cast<size_t>(std::max(0, tty.columns - left))));
    }
    tty.cursorRow = tty.cursorColumn = -1;
    sendOutput();
}

// A size that changed to anything but what the game's last request would
// give is the player's doing: from then on the window is theirs alone.
void askForSize(int rows, int columns) {
    tty.expectRows = rows;
    tty.expectColumns = columns;
    addText("\x1b[8;" + std::to_string(rows) + ";" + std::to_string(columns) + "t");
}

// The grid grew as asked but the window, in pixels, did not (konsole under
// some window managers, and with none): rows or columns beyond the window
// would be hidden, the top row first. Only a terminal that gives its size in
// pixels can tell.
bool gridOutgrewWindow() {
    bool taller = tty.rows > tty.oldRows && tty.oldPixelHeight > 0 && tty.pixelHeight > 0 &&
                  tty.pixelHeight <= tty.oldPixelHeight;
    bool wider = tty.columns > tty.oldColumns && tty.oldPixelWidth > 0 && tty.pixelWidth > 0 &&
                 tty.pixelWidth <= tty.oldPixelWidth;
    return taller || wider;
}

void readWindowSize() {
    int rows = tty.rows, columns = tty.columns;
    struct winsize size {};
    if (ioctl(tty.outputFd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        tty.rows = size.ws_row;
        tty.columns = size.ws_col;
        tty.pixelWidth = size.ws_xpixel;
        tty.pixelHeight = size.ws_ypixel;
    } else {
        tty.rows = viewRows;  // a file or a pipe: taken as just large enough
        tty.columns = screenWidth;
        tty.pixelWidth = tty.pixelHeight = 0;
    }
    bool changed = tty.rows != rows || tty.columns != columns;
    if (tty.growAsked && changed && (tty.rows != tty.expectRows || tty.columns != tty.expectColumns))
        tty.playerSized = true;
    bool grantedNow = tty.growAsked && changed && tty.rows == tty.askedRows && tty.columns == tty.askedColumns &&
                      tty.expectRows == tty.askedRows && tty.expectColumns == tty.askedColumns;
    if (grantedNow && gridOutgrewWindow()) {
        // The old size back at once, and played as in any window of that
        // size until the terminal takes it; as if never asked from then on.
        askForSize(tty.oldRows, tty.oldColumns);
        tty.growAsked = false;
        tty.rows = tty.oldRows;
        tty.columns = tty.oldColumns;
    }
}

// drawNow false: only the blank window, for the start, where the first
// screen paints at once (a frame of blanks then would be sent for nothing).
void handleResize(bool drawNow = true) {
    resized = 0;
    readWindowSize();
    prepareRestore();
    setWindowSize(tty.columns, tty.rows);
    tty.tooSmall = tty.rows < tty.smallestRows || tty.columns < tty.smallestColumns;
    if (tty.tooSmall) return showNotice();
    blankWindow();
    if (drawNow) drawView();
    sendOutput();
}

// What taking the terminal sends: the grow request where the window is
// small (once; again after a stop only when the stop gave the old size
// back), the alternate screen, the cursor hidden, keypad mode.
void addStartSequence(bool first) {
    readWindowSize();
    if (first && tty.sizeKnown && isatty(tty.outputFd) && (tty.rows < viewRows || tty.columns < screenWidth) &&
        tty.windowGrowsWhenAsked) {
        tty.growAsked = true;
        tty.oldRows = tty.rows;
        tty.oldColumns = tty.columns;
        tty.oldPixelWidth = tty.pixelWidth;
        tty.oldPixelHeight = tty.pixelHeight;
        tty.askedRows = std::max(tty.rows, viewRows);
        tty.askedColumns = std::max(tty.columns, screenWidth);
        askForSize(tty.askedRows, tty.askedColumns);
    } else if (!first && tty.shrunkAtStop && !tty.playerSized) {
        askForSize(tty.askedRows, tty.askedColumns);
    }
    tty.shrunkAtStop = false;
    appendCapability(tty.out, capability("smcup"));
    appendCapability(tty.out, capability("civis"));
    appendCapability(tty.out, capability("smkx"));
    tty.look = Look{};
    tty.glyphMode = -1;
}

void setRawModes();

// SIGCONT: the terminal may have been used by anything meanwhile; take it
// again and draw the whole view.
void resumeTerminal() {
    continued = 0;
    setRawModes();
    tty.out.clear();
    addStartSequence(false);
    handleResize();
}

// SIGTSTP: the terminal back as at an end, then stopped for real by the
// stop held back; the time stopped is kept aside so that no pause counts it.
void stopAndResume() {
    stopAsked = 0;
    Clock::time_point stoppedAt = Clock::now();
    tty.out.clear();
    restoreArmed = 0;
    sendRestore();
    if (tty.restoreGivesSizeBack) {
        tty.shrunkAtStop = true;
        tty.expectRows = tty.oldRows;
        tty.expectColumns = tty.oldColumns;
    }
    sigset_t only, before;
    sigemptyset(&only);
    sigaddset(&only, SIGTSTP);
    sigaddset(&only, SIGCONT);                 // heard here, so it does not redraw a second time later
    sigprocmask(SIG_UNBLOCK, &only, &before);  // the process stops here until SIGCONT
    sigprocmask(SIG_SETMASK, &before, nullptr);
    tty.stoppedFor += Clock::now() - stoppedAt;
    resumeTerminal();
}

void handleSignals() {
    if (stopAsked) stopAndResume();
    if (continued) resumeTerminal();
    if (resized) handleResize();
}

// --- keys ---

// Behind the notice nothing can be seen, so keys typed there are dropped,
// all but Esc, which ends the program when it may.
void deliverKey(KeyEvent key) {
    if (!tty.tooSmall) return queueKey(key);
    if (key.code == 27 && !key.extended && tty.escapeEndsBehindNotice) throw NoticeEscape{};
}

// Follows the bytes for the cursor report that answers the start-up's
// question; once it has come whole, nothing is held for it any more.
void watchForAnswer(uint8_t byte) {
    uint8_t& part = tty.answerPart;
    bool digit = byte >= '0' && byte <= '9';
    if (byte == 0x1B)
        part = 1;
    else if (part == 1 && byte == '[')
        part = 2;
    else if ((part == 2 || part == 3) && digit)
        part = 3;
    else if (part == 3 && byte == ';')
        part = 4;
    else if ((part == 4 || part == 5) && digit)
        part = 5;
    else if (part == 5 && byte == 'R')
        part = 0, tty.answerAwaited = false;
    else
        part = 0;
}

// True while what the decoder holds may be the start of the answer still awaited.
bool holdingForAnswer() {
    if (tty.answerAwaited && Clock::now() >= tty.answerUntil) tty.answerAwaited = false;
    return tty.answerAwaited && tty.answerPart > 0;
}

void feed(const uint8_t* bytes, ssize_t count) {
    for (ssize_t i = 0; i < count; ++i) {
        if (tty.answerAwaited) watchForAnswer(bytes[i]);
        DecodedKeys keys = decodeKeyByte(tty.decoder, bytes[i]);
        for (int k = 0; k < keys.count; ++k) {
            if (keys.keys[k].code == ctrlC && !keys.keys[k].extended) throw ConsoleInterrupt{};
            // Ctrl+Z stops the job as the terminal's own suspend key would (raw
            // mode turns that off): the whole process group, so a make or a
            // shell script around the game stops with it. Handled at the next wait.
            if (keys.keys[k].code == ctrlZ && !keys.keys[k].extended && ctrlZStops) {
                kill(0, SIGTSTP);
                continue;
            }
            deliverKey(keys.keys[k]);
        }
    }
    if (count > 0) tty.lastInput = Clock::now();
}

void inputEnded() {
    if (tty.inputIsTty) hangUp();
    tty.inputOpen = false;  // a pipe or file that ended: no more keys
}

bool takingInput() { return tty.inputOpen && queuedKeyCount() < keyQueueLimit; }

void readWaitingInput() {
    if (!tty.typedAhead.empty()) {
        std::string ahead = std::move(tty.typedAhead);
        tty.typedAhead.clear();
        feed(reinterpret_cast<const uint8_t*>(ahead.data()), static_cast<ssize_t>(ahead.size()));
    }
    while (takingInput()) {
        pollfd ready{tty.inputFd, POLLIN, 0};
        int result = poll(&ready, 1, 0);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) break;
        if (ready.revents & POLLIN) {
            uint8_t chunk[readChunk];
            ssize_t got = read(tty.inputFd, chunk, sizeof chunk);
            if (got > 0) {
                feed(chunk, got);
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                inputEnded();
            }
        } else {
            inputEnded();  // hung up or failed
        }
    }
    if (decoderWaiting(tty.decoder) && Clock::now() - tty.lastInput >= std::chrono::milliseconds(escDelayMs) &&
        !holdingForAnswer()) {
        DecodedKeys keys = decodeKeyTimeout(tty.decoder);
        for (int k = 0; k < keys.count; ++k) deliverKey(keys.keys[k]);
    }
}

// Sleeps in the kernel until input, a resize or another signal comes, or
// the time runs out (a negative time: no limit). A half-read Esc sequence
// wakes it when its time is up.
void waitForEvent(Clock::duration limit) {
    if (limit < Clock::duration::zero()) limit = std::chrono::hours(24);
    if (!tty.typedAhead.empty()) limit = Clock::duration::zero();
    if (decoderWaiting(tty.decoder) && takingInput()) {
        Clock::duration escLeft = holdingForAnswer()
                                      ? tty.answerUntil - Clock::now()
                                      : tty.lastInput + std::chrono::milliseconds(escDelayMs) - Clock::now();
        limit = std::clamp(escLeft, Clock::duration::zero(), limit);
    }
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
    struct timespec timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd ready[2] = {{tty.inputFd, POLLIN, 0}, {tty.stopFd, POLLIN, 0}};
    int count = takingInput() ? 1 : 0;
    if (tty.stopFd >= 0) ready[count++] = {tty.stopFd, POLLIN, 0};
    if (ppoll(ready, static_cast<nfds_t>(count), &timeout, &tty.waitMask) > 0 && tty.stopFd >= 0 &&
        (ready[count - 1].revents & POLLIN))
        stopAsked = 1;
    handleSignals();
    readWaitingInput();
}

// --- setting up ---

void makeGlyphs(const std::string& terminalType) {
    std::vector<char32_t> font;
    tty.glyphs = makeGlyphTable(chooseGlyphSet(terminalType, tty.outputFd, font), font);
    for (int byte = 0; byte < 256; ++byte) {
        std::string bytes = utf8Of(tty.glyphs.glyph[byte]);
        std::memcpy(glyphBytes[byte], bytes.data(), bytes.size());
        glyphLength[byte] = static_cast<uint8_t>(bytes.size());
        glyphMode[byte] = -1;
    }
    tty.consoleBytes = false;
}

// The Linux console in its display-control mode: each glyph of code page
// 437 goes as its byte there, a third of its UTF-8 bytes (a fallback too,
// such as █ for ▓ where the font lacks ▓). Not the bytes the console always
// takes as controls (NUL, BS, LF, FF, CR, SO, SI, ESC; 0x9B, CSI), and not a
// glyph outside code page 437, which goes in UTF-8. A two-byte glyph goes
// as a byte only where the player's glyph does too, so that a walk does not
// switch modes at every step.
void useConsoleBytes() {
    constexpr uint32_t alwaysControls = 0x0800F501;  // bit n: byte n
    auto byteFor = [](int byte) {
        char32_t glyph = tty.glyphs.glyph[byte];
        for (int code = 1; code < 256 && glyph >= 0x80; ++code)
            if (cp437ToUnicode(static_cast<uint8_t>(code)) == glyph && code != 0x9B &&
                (code >= 32 || !(alwaysControls >> code & 1)))
                return code;
        return 0;
    };
    bool playerByte = byteFor(glyph::player) != 0;
    tty.consoleBytes = true;
    for (int byte = 0; byte < 256; ++byte) {
        if (tty.glyphs.glyph[byte] < 0x80) continue;  // the same in either mode
        int code = byteFor(byte);
        glyphMode[byte] = code != 0 && (glyphLength[byte] > 2 || playerByte);
        if (glyphMode[byte] == 1) {
            glyphBytes[byte][0] = static_cast<char>(code);
            glyphLength[byte] = 1;
        }
    }
}

void setRawModes() {
    if (modesFd < 0) return;
    struct termios raw = savedModes;
    // No line buffering, no echo; Ctrl+C, Ctrl+S and Ctrl+Q are keys, not signals or flow control.
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag = (raw.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(modesFd, TCSANOW, &raw);
}

std::string terminalName(const char* terminalType) {
    if (terminalType != nullptr) return terminalType;
    const char* fromEnvironment = std::getenv("TERM");
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

// The 8-colour terminal families that take SGR 90-97 for the bright colours
// (the Linux console too: it shows them as bold, which it always draws
// bright); others (ansi, the BSD
// consoles) get the mapping to 8.
bool takesBrightSgr(const std::string& name) {
    for (const char* family : {"xterm", "screen", "tmux", "rxvt", "putty", "linux", "vte", "gnome", "konsole",
                               "alacritty", "kitty", "st-", "foot", "mlterm"})
        if (name.rfind(family, 0) == 0) return true;
    return false;
}

// Where setaf for a bright colour also turns bold on (linux-16color): the
// terminal takes bold as "bright".
bool brightSetsBold() {
    if (tty.cap.setaf == nullptr || tigetnum("colors") < 16) return false;
    std::string bright = withParameters(tty.cap.setaf, 9);
    return bright.find("[1;") != std::string::npos || bright.find(";1m") != std::string::npos ||
           bright.find(";1;") != std::string::npos;
}

bool environmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// tmux or screen between the game and the terminal, by their own word.
bool insideMultiplexer() { return environmentHas("TMUX") || environmentHas("STY"); }

// How the terminal draws ░ ▒ ▓, from what TERM and the environment honestly
// say: terminals that set a variable of their own, or have a TERM of their
// own, are known; a multiplexer passes the glyphs on to a terminal it does
// not name. QUORVEX_SHADES=stipple or flat says it outright.
Shades shadeDrawing(const std::string& name) {
    auto startsWith = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    bool stipple = false;
    if (const char* forced = std::getenv("QUORVEX_SHADES")) {
        if (std::string(forced) == "stipple")
            stipple = true;
        else if (std::string(forced) == "flat")
            stipple = false;
        else
            forced = nullptr;
        if (forced != nullptr) return stipple ? Shades::Game : tty.cap.rep == nullptr ? Shades::Blocks : Shades::Lifted;
    }
    bool multiplexed = insideMultiplexer() || startsWith("screen") || startsWith("tmux");
    bool flatMarks = environmentHas("VTE_VERSION") || environmentHas("KONSOLE_VERSION") ||
                     environmentHas("ALACRITTY_WINDOW_ID") || environmentHas("ALACRITTY_SOCKET") || startsWith("vte") ||
                     startsWith("gnome") || startsWith("konsole") || startsWith("alacritty");
    if (!multiplexed && !flatMarks) {
        // The Linux console's font, rxvt, st and kitty draw stipples, as does
        // xterm (which names itself in XTERM_VERSION).
        stipple = startsWith("linux") || startsWith("rxvt") || startsWith("st-") || name == "st" ||
                  startsWith("xterm-kitty") || (startsWith("xterm") && environmentHas("XTERM_VERSION")) ||
                  (environmentHas("KITTY_WINDOW_ID") && !environmentHas("XTERM_VERSION"));
    }
    if (stipple) return Shades::Game;
    return flatMarks && !multiplexed && tty.cap.rep == nullptr ? Shades::Blocks : Shades::Lifted;
}

bool loadCapabilities(const char* terminalType, std::string& failure) {
    std::string name = terminalName(terminalType);
    int result = 0;
    if (name.empty() || setupterm(name.c_str(), tty.outputFd, &result) != OK) {
        failure = "quorvex: unknown terminal type TERM=" + name +
                  "; try TERM=xterm-256color (or install the ncurses-term package)";
        return false;
    }
    tty.info = cur_term;
    Capabilities& c = tty.cap;
    c.cup = capability("cup");
    c.clear = capability("clear");
    if (c.cup == nullptr || c.clear == nullptr || tigetflag("hc") > 0 || tigetflag("gn") > 0) {
        failure = "quorvex: the terminal TERM=" + name +
                  " cannot place the cursor; the game needs one that can, such as TERM=xterm-256color";
        del_curterm(cur_term);
        tty.info = nullptr;
        return false;
    }
    c.hpa = capability("hpa");
    c.cuf = capability("cuf");
    c.cub1 = capability("cub1");
    c.setaf = capability("setaf");
    c.setab = capability("setab");
    c.bold = capability("bold");
    c.rev = capability("rev");
    c.sgr0 = capability("sgr0");
    c.csr = capability("csr");
    c.ind = capability("ind");
    c.ich1 = capability("ich1");
    c.ich = capability("ich");
    c.smir = capability("smir");
    c.rmir = capability("rmir");
    // A multiplexer in between (whatever TERM says) may not repeat a UTF-8
    // glyph: tmux repeats only ASCII ones. Elsewhere checkRepeat finds out.
    c.rep = insideMultiplexer() ? nullptr : capability("rep");
    c.ech = capability("ech");
    c.el = capability("el");
    c.backColourErase = tigetflag("bce") > 0;
    c.autoMargins = tigetflag("am") > 0;
    c.eatsNewline = tigetflag("xenl") > 0;
    int colours = tigetnum("colors");
    tty.colour = colours >= 8 && c.setaf != nullptr && c.setab != nullptr;
    tty.colours = !tty.colour            ? ColourWay::None
                  : colours > 256        ? ColourWay::Sgr  // direct colour: setaf(9) is RGB 0:0:9
                  : colours >= 16        ? ColourWay::Palette
                  : takesBrightSgr(name) ? ColourWay::Sgr
                                         : ColourWay::Eight;
    tty.paletteSize = colours;
    tty.brightIsBold = name.rfind("linux", 0) == 0 || brightSetsBold();
    tty.shades = shadeDrawing(name);
    // konsole grows its grid to the size asked for but not its window, whose
    // top row is then hidden: not asked at all where it names itself.
    tty.windowGrowsWhenAsked = !environmentHas("KONSOLE_VERSION") && name.rfind("konsole", 0) != 0;
    tty.parkCursor = capability("civis") == nullptr;
    return true;
}

// Whether the terminal repeats a UTF-8 glyph is found out, not believed:
// tmux reached where nothing says tmux is there (over ssh, or under env -i)
// takes `rep` from a TERM that claims it and ignores it after a UTF-8 glyph,
// which would draw a wall row as one ░; st repeats one though its terminfo
// has no `rep`. So one shade and its repeat (terminfo's form,
// or else ECMA-48's REP) are written where the blank window will cover them,
// and the cursor is asked for: `rep` is used only where it moved two cells.
// An answer that comes too late reads as no key (the decoder drops a
// sequence with a ';'). Inside a multiplexer that says so nothing is asked.
// Where TERM says linux the same question finds the console's display-control
// mode (useConsoleBytes): two control bytes written in it move the cursor
// two cells more, where they would move nothing anywhere else.
void checkRepeat(const std::string& name) {
    constexpr uint8_t shade = 0xB0;
    static const char ecmaRepeat[] = "%p1%c\x1b[%p2%{1}%-%db";
    if (!tty.inputIsTty || !isatty(tty.outputFd) || glyphLength[shade] < 2 || insideMultiplexer()) return;
    const char* form = tty.cap.rep != nullptr ? tty.cap.rep : ecmaRepeat;
    tty.cap.rep = nullptr;
    std::string repeat = withParameters(form, 'X', 2);
    if (repeat.empty() || repeat[0] != 'X') return;  // writeRun could not use such a form anyway
    const char* ask = capability("u7");
    appendCapability(tty.out, withParameters(tty.cap.cup, 2, 0).c_str());
    tty.out.append(glyphBytes[shade], glyphLength[shade]);
    tty.out.append(repeat, 1, std::string::npos);
    bool askBytes = name.rfind("linux", 0) == 0;
    if (askBytes) tty.out += "\x1b[11m\x01\x01\x1b[10m";
    appendCapability(tty.out, ask != nullptr ? ask : "\x1b[6n");
    sendOutput();
    tty.answerAwaited = true;  // a late answer is dropped too, whole or in pieces
    tty.answerUntil = Clock::now() + std::chrono::seconds(3);
    tty.answerPart = 0;
    tty.cursorRow = tty.cursorColumn = -1;
    std::string heard;
    int row = 0, column = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(400);
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{tty.inputFd, POLLIN, 0};
        int result = poll(&ready, 1, static_cast<int>(left) + 1);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0 || !(ready.revents & POLLIN)) break;
        char chunk[256];
        ssize_t got = read(tty.inputFd, chunk, sizeof chunk);
        if (got <= 0) break;
        heard.append(chunk, static_cast<size_t>(got));
        size_t at = heard.find("\x1b[");
        for (; at != std::string::npos; at = heard.find("\x1b[", at + 1)) {
            int length = 0;
            if (std::sscanf(heard.c_str() + at, "\x1b[%d;%dR%n", &row, &column, &length) == 2 && length > 0) {
                tty.typedAhead = heard.substr(0, at) + heard.substr(at + static_cast<size_t>(length));
                tty.answerAwaited = false;
                int moved = column - 2;  // beyond the shade: 1 for the repeat, 2 for the console's mode
                if (moved == 1 || (askBytes && moved == 3)) tty.cap.rep = form;
                if (askBytes && (moved == 2 || moved == 3)) useConsoleBytes();
                return;
            }
        }
    }
    tty.typedAhead = heard;  // no answer: no `rep`, the picture right if longer
}

bool startTerminal(FILE* input, FILE* output, const char* terminalType, bool sizeMustBeKnown, std::string& failure) {
    int outputFd = fileno(output);
    struct winsize size {};
    bool sizeKnown = ioctl(outputFd, TIOCGWINSZ, &size) == 0;
    if (!sizeKnown && sizeMustBeKnown) {
        failure = "No way to get console screen buffer info";
        return false;
    }
    tty.input = input;
    tty.output = output;
    tty.inputFd = fileno(input);
    tty.outputFd = outputFd;
    // Before anything is drawn: a terminal that cannot show the game is refused.
    if (!loadCapabilities(terminalType, failure)) return false;
    tty.inputIsTty = isatty(tty.inputFd);
    tty.inputOpen = true;
    tty.decoder = KeyDecoder{};
    tty.typedAhead.clear();
    tty.answerAwaited = false;
    tty.look = Look{};
    tty.out.clear();
    makeGlyphs(terminalName(terminalType));
    modesFd = tty.inputIsTty ? tty.inputFd : (isatty(outputFd) ? outputFd : -1);
    if (modesFd >= 0 && tcgetattr(modesFd, &savedModes) != 0) modesFd = -1;
    installSignalHandlers();
    setRawModes();
    restoreOutputFd = outputFd;
    // Most terminal emulators open at 80 x 24: ask for the one row more, and
    // for the old size back at the end.
    tty.sizeKnown = sizeKnown;
    tty.rows = tty.columns = 0;
    tty.growAsked = tty.playerSized = tty.shrunkAtStop = false;
    addStartSequence(true);
    checkRepeat(terminalName(terminalType));
    tty.shades = shadeDrawing(terminalName(terminalType));  // again, for a `rep` found wanting
    tty.open = true;
    handleResize(false);  // the blank window, and the restore bytes
    return true;
}

void closeStreams() {
    if (tty.ownStreams) {
        if (tty.input != nullptr) fclose(tty.input);
        if (tty.output != nullptr) fclose(tty.output);
    }
    tty.input = tty.output = nullptr;
    tty.ownStreams = false;
}

}  // namespace

// As if nothing had caught the signal, so the parent sees why the program ended.
void dieOfSignal(int signalNumber) {
    signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

void restoreTerminalInSignalHandler() {
    if (!restoreArmed) return;
    restoreArmed = 0;
    sendRestore();
}

bool terminalAtHand() {
    if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) return true;
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool openTerminal(std::string& failure) {
    if (tty.open) return true;
    FILE* input = stdin;
    FILE* output = stdout;
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        // Redirected: draw on and read from the controlling terminal itself.
        input = std::fopen("/dev/tty", "re");
        output = std::fopen("/dev/tty", "we");
        tty.ownStreams = true;
        tty.input = input;
        tty.output = output;
        if (input == nullptr || output == nullptr) {
            closeStreams();
            failure = "No way to get the console handle";
            return false;
        }
    }
    if (!startTerminal(input, output, nullptr, true, failure)) {
        closeStreams();
        return false;
    }
    return true;
}

bool openTerminalOn(FILE* input, FILE* output, const char* terminalType, std::string& failure) {
    if (tty.open) return true;
    return startTerminal(input, output, terminalType, false, failure);
}

void closeTerminal() {
    if (!tty.open) return;
    if (!tty.tooSmall) drawView();
    sendOutput();
    restoreArmed = 0;
    sendRestore();
    tty.open = false;
    sigaction(SIGWINCH, &tty.savedResize, nullptr);
    sigaction(SIGCONT, &tty.savedContinue, nullptr);
    sigaction(SIGTSTP, &tty.savedStop, nullptr);
    if (tty.stopFd >= 0) close(tty.stopFd);
    tty.stopFd = -1;
    sigprocmask(SIG_SETMASK, &tty.savedMask, nullptr);
    if (tty.info != nullptr) del_curterm(tty.info);
    tty.info = nullptr;
    closeStreams();
}

void setSmallestWindow(int columns, int rows, bool escapeEnds) {
    tty.smallestColumns = std::clamp(columns, 1, screenWidth);
    tty.smallestRows = std::clamp(rows, 1, viewRows);
    tty.escapeEndsBehindNotice = escapeEnds;
    if (tty.open) handleResize();
}

bool terminalIsOpen() { return tty.open; }
const char* terminalGlyphSet() { return glyphSetName(tty.glyphs.set); }
bool terminalTooSmall() { return tty.open && tty.tooSmall; }

void terminalCtrlZStops(bool on) { ctrlZStops = on; }

void terminalShowView() {
    if (!tty.open || tty.tooSmall) return;
    drawView();
    sendOutput();
}

void terminalPumpKeys() {
    if (!tty.open) return;
    handleSignals();
    readWaitingInput();
}

void terminalWait() {
    if (tty.open) waitForEvent(Clock::duration(-1));
}

void terminalSleep(int milliseconds) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    Clock::duration stoppedBefore = tty.stoppedFor;
    for (;;) {
        terminalPumpKeys();
        // Stopped meanwhile (SIGTSTP): the pause goes on where it was.
        deadline += tty.stoppedFor - stoppedBefore;
        stoppedBefore = tty.stoppedFor;
        Clock::time_point now = Clock::now();
        if (!tty.open) return std::this_thread::sleep_until(deadline);
        if (!tty.tooSmall && now >= deadline) return;
        bool standingStill = tty.tooSmall;
        waitForEvent(standingStill ? Clock::duration(-1) : deadline - now);
        // Behind the notice time stands still: the pause goes on afterwards.
        if (standingStill) deadline += Clock::now() - now;
    }
}
