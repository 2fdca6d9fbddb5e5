// Each TERM x UTF-8/C locale: every cell kind visible and distinct (bold not
// counted), only allowed glyphs, restored at the end; pyte (vtcheck.py) adds what tmux hides.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string_view>

#include "console/cp437.h"
#include "console/glyphs.h"
#include "tmux.h"

namespace fs = std::filesystem;

namespace {

struct Cell {
    std::string glyph = " ";                            // as UTF-8
    std::array<int, 3> fg{-1, -1, -1}, bg{-1, -1, -1};  // RGB; -1: the default
    bool bold = false, reverse = false;
};
using Grid = std::vector<std::vector<Cell>>;

std::array<int, 3> paletteRgb(int n) {
    static const int base[16][3] = {{0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                                    {0, 0, 238},     {205, 0, 205}, {0, 205, 205}, {229, 229, 229},
                                    {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                    {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    if (n < 16) return {base[n][0], base[n][1], base[n][2]};
    if (n >= 232) return {8 + 10 * (n - 232), 8 + 10 * (n - 232), 8 + 10 * (n - 232)};
    int c = n - 16, level[6] = {0, 95, 135, 175, 215, 255};
    return {level[c / 36], level[c / 6 % 6], level[c % 6]};
}

void applySgr(Cell& pen, std::string params) {
    std::replace(params.begin(), params.end(), ':', ';');
    std::vector<int> p;
    std::stringstream parts(params);
    for (std::string part; std::getline(parts, part, ';');) p.push_back(part.empty() ? 0 : std::stoi(part));
    if (p.empty()) p.push_back(0);
    for (size_t k = 0; k < p.size(); ++k) {
        int v = p[k];
        auto extended = [&](std::array<int, 3>& into) {
            if (k + 2 < p.size() && p[k + 1] == 5)
                into = paletteRgb(p[k + 2]), k += 2;
            else if (k + 4 < p.size() && p[k + 1] == 2)
                into = {p[k + 2], p[k + 3], p[k + 4]}, k += 4;
        };
        // clang-format off
        if (v == 0) pen = Cell{};
        else if (v == 1 || v == 22) pen.bold = v == 1;
        else if (v == 7 || v == 27) pen.reverse = v == 7;
        else if (v == 38 || v == 48) extended(v == 38 ? pen.fg : pen.bg);
        else if (v == 39 || v == 49) (v == 39 ? pen.fg : pen.bg) = {-1, -1, -1};
        else if (v / 10 == 3 || v / 10 == 9) pen.fg = paletteRgb(v % 10 + (v >= 90 ? 8 : 0));
        else if (v / 10 == 4 || v / 10 == 10) pen.bg = paletteRgb(v % 10 + (v >= 100 ? 8 : 0));
        // clang-format on
    }
}

// capture-pane -e: text with SGR codes, the state running on across rows.
Grid parseCapture(const std::string& text) {
    Grid grid(25, std::vector<Cell>(80));
    Cell pen;
    size_t row = 0, column = 0;
    for (size_t i = 0; i < text.size() && row < 25;) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (text.compare(i, 2, "\x1b[") == 0) {
            size_t end = text.find_first_of("ABCDEFGHJKSTfmhl", i + 2);
            if (end == std::string::npos) break;
            if (text[end] == 'm') applySgr(pen, text.substr(i + 2, end - i - 2));
            i = end + 1;
        } else if (b == '\n') {
            ++row, column = 0, ++i;
        } else {
            size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            if (column < 80) grid[row][column] = pen, grid[row][column++].glyph = text.substr(i, length);
            i += length;
        }
    }
    return grid;
}

// The glyph and the colours after reverse, defaults as light grey on black; bold is not brightness.
using Seen = std::tuple<std::string, std::array<int, 3>, std::array<int, 3>, bool>;

Seen seen(const Cell& cell, bool monochrome) {
    std::array<int, 3> fg = cell.fg[0] < 0 ? paletteRgb(7) : cell.fg, bg = cell.bg[0] < 0 ? paletteRgb(0) : cell.bg;
    if (cell.reverse) std::swap(fg, bg);
    return {cell.glyph, fg, bg, monochrome && cell.bold};
}

bool visible(const Seen& s) {
    const auto& [glyph, fg, bg, bold] = s;
    int distance = 0;
    for (int k = 0; k < 3; ++k) distance += std::abs(fg[k] - bg[k]);
    return glyph == " " ? bg != paletteRgb(0) : distance >= 40;  // light green on green: 50; RGB 0:0:9 on black: 9
}

// Every kind of cell in one room.
std::string matrixRoom() {
    std::vector<std::string> rows(22, std::string(80, ' '));
    for (auto& row : rows) row.front() = row.back() = '1';
    rows[0] = rows[20] = rows[21] = std::string(80, '1');
    rows[20][10] = rows[20][11] = '2';
    rows[19][4] = 'i';
    rows[9][39] = '1';  // the block; spikes right, left, below and above it
    rows[9][40] = rows[9][38] = rows[10][39] = rows[8][39] = '3';
    rows[14][59] = '4', rows[14][61] = '5', rows[14][63] = '6', rows[14][69] = '9';
    rows[15].replace(58, 13, std::string(13, '1'));
    rows[4][49] = 'j', rows[4][51] = 'k', rows[4][53] = 'l';
    rows[4][24] = rows[4][34] = '1', rows[4][29] = '8';
    std::string text;
    for (auto& row : rows) text += row + "\r\n";
    return text + "3\r\nEvery kind of cell\r\n";
}

struct Kind {
    const char* name;
    int column, row;  // 1-based screen position; column 0: found by scanning
};

const Kind kinds[] = {
    {"wall", 1, 1},          {"lava", 11, 21},     {"spikes right", 41, 10}, {"spikes left", 39, 10},
    {"spikes down", 40, 11}, {"spikes up", 40, 9}, {"crumbling", 60, 15},    {"spring", 62, 15},
    {"ice", 64, 15},         {"exit", 70, 15},     {"diamond", 50, 5},       {"club", 52, 5},
    {"spade", 54, 5},        {"player", 5, 20},    {"enemy", 0, 5},          {"heart", 9, 24},
    {"status text", 2, 23},
};

class TerminalMatrix : public GameRun, public ::testing::WithParamInterface<const char*> {};

}  // namespace

TEST_P(TerminalMatrix, EveryKindOfCellVisibleDistinctInItsGlyphsAndTheTerminalRestored) {
    const std::string term = GetParam();
    bool mono = term == "vt100";
    writeFile("levels/1.lvl", matrixRoom());
    for (const std::string locale : {"C.UTF-8", "C"}) {
        SCOPED_TRACE(term + " " + locale);
        fs::remove(folder / "raw");
        TmuxGame game;
        // The game waits for the recording of its bytes to start.
        game.start(folder,
                   "TERM=" + term + " LANG=" + locale +
                       " SDL_AUDIODRIVER=nonexistent sh -c 'while [ ! -e go ]; do sleep 0.02; done; exec \"$0\"'");
        game.tmux("pipe-pane -o -t 0 " + shellQuoted("cat >> " + shellQuoted((folder / "raw").string())));
        std::ofstream(folder / "go") << "";
        ASSERT_TRUE(game.waitFor("New Game", 10000)) << game.screen();
        GlyphSet set = locale == "C" ? GlyphSet::Ascii : term == "linux" ? GlyphSet::Console : GlyphSet::Unicode;
        GlyphTable table = makeGlyphTable(set);
        {  // the menu: its bricks and every item readable (xterm-direct once showed only bricks), every cell in place
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Grid menu = parseCapture(game.tmux("capture-pane -p -e -N -t 0"));
            startMemoryConsole();
            EXPECT_EQ(runGame(), -1);  // the menu the game draws
            int misplaced = 0;
            for (int row = 0; row < 25; ++row)
                for (int column = 0; column < 80; ++column)
                    misplaced +=
                        menu[row][column].glyph != utf8Of(table.glyph[bufferCell(column + 1, row + 1).character]);
            EXPECT_EQ(misplaced, 0);
            EXPECT_TRUE(visible(seen(menu[0][0], mono))) << "bricks";
            for (const auto& row : menu) {
                std::string text;  // a character a cell
                for (const Cell& cell : row) text += cell.glyph.size() == 1 ? cell.glyph[0] : '?';
                for (const char* item : {"New Game", "Quit"})
                    if (size_t at = text.find(item); at != std::string::npos) {
                        EXPECT_TRUE(visible(seen(row[at], mono))) << item;
                    }
            }
        }
        game.keys("Enter");
        ASSERT_TRUE(game.waitFor("Goods: 0/3", 10000)) << game.screen();
        game.keys("Down");  // the player stays where it is
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        Grid grid = parseCapture(game.tmux("capture-pane -p -e -N -t 0"));
        fs::remove(folder / "go");

        // The glyphs the set allows.
        std::set<std::string> allowed, strangers;
        for (char32_t g : table.glyph) allowed.insert(utf8Of(g));
        for (const auto& row : grid)
            for (const Cell& cell : row)
                if (cell.glyph.size() > 1 && (set == GlyphSet::Ascii || !allowed.count(cell.glyph)))
                    strangers.insert(cell.glyph);
        EXPECT_TRUE(strangers.empty()) << strangers.size() << " characters outside the " << glyphSetName(set)
                                       << " set, the first " << *strangers.begin();
        std::string raw = fileContents(folder / "raw");  // in the C locale not one byte beyond ASCII sent
        auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
        EXPECT_TRUE(!raw.empty() && (set != GlyphSet::Ascii || std::all_of(raw.begin(), raw.end(), ascii)));

        // Each kind visible, and no two alike.
        std::map<Seen, std::string> looks;
        for (const Kind& kind : kinds) {
            int row = kind.row, column = kind.column;
            for (int x = 26; column == 0 && x <= 34; ++x)  // the enemy, somewhere between its walls
                if (grid[row - 1][x - 1].glyph != " ") column = x;
            ASSERT_NE(column, 0) << kind.name;
            Seen s = seen(grid[row - 1][column - 1], mono);
            EXPECT_TRUE(visible(s)) << kind.name;
            EXPECT_TRUE(mono || !grid[row - 1][column - 1].bold) << kind.name << ": bold where a colour serves";
            auto [at, fresh] = looks.emplace(s, kind.name);
            EXPECT_TRUE(fresh) << kind.name << " looks like " << at->second;
        }

        // What tmux hides: writes into the last cell that would scroll a
        // terminal without delayed wrap; the cell under a cursor that shows.
        std::string vt = commandOutput("/usr/bin/python3 " + std::string(QUORVEX_SOURCE_DIR) + "/tests/vtcheck.py " +
                                       shellQuoted((folder / "raw").string()) + " " + term);
        EXPECT_NE(vt.find("scrolling-writes 0\n"), std::string::npos) << vt;
        bool cursorShows = game.tmux("display -p -t 0 '#{cursor_flag}'") == "1\n";
        EXPECT_EQ(cursorShows, term == "vt100" || term == "ansi");
        EXPECT_TRUE(!cursorShows || vt.find("cursor-cell ' '") != std::string::npos) << vt;
        // The Linux console's own rule on the same bytes: each cell in the colour the game means.
        if (size_t at = vt.find("console-colours\n"); term == "linux" && at != std::string::npos) {
            std::istringstream rows(vt.substr(at + 16));
            std::string shown;
            int wrong = 0;
            for (int row = 0; row < 25 && std::getline(rows, shown); ++row)
                for (int column = 0; column < 80 && column < static_cast<int>(shown.size()); ++column) {
                    if (shown[column] == '.' || grid[row][column].glyph == " ") continue;  // (an enemy moved since)
                    std::array<int, 3> fg = grid[row][column].fg[0] < 0 ? paletteRgb(7) : grid[row][column].fg;
                    int meant = 0;
                    while (meant < 16 && paletteRgb(meant) != fg) ++meant;
                    if (std::stoi(std::string(1, shown[column]), nullptr, 16) != meant && wrong++ < 3)
                        ADD_FAILURE() << "row " << row + 1 << " column " << column + 1 << ": colour " << shown[column]
                                      << " instead of " << meant;
                }
            EXPECT_EQ(wrong, 0);
        }

        // The end: status 0, the modes back, the user's screen (or a blank one).
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(10000), 0);
        EXPECT_TRUE(game.lineModeBack());
        EXPECT_EQ(game.screenModes(), "0 1 0\n");
        EXPECT_TRUE(game.blank()) << game.screen();
    }
}

INSTANTIATE_TEST_SUITE_P(Terms, TerminalMatrix,
                         ::testing::Values("xterm", "xterm-256color", "xterm-direct", "screen", "linux", "vt100",
                                           "ansi", "rxvt-unicode-256color"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A direct-colour terminal shows what a 256-colour one does, cell for cell:
// the menu's bricks and the room's walls, lava and crumbling floor in the
// lifted shades' colours (once sent as SGR 332, which terminals ignore), the
// 16 colours as themselves (never RGB 0:0:9 for bright red). Each terminfo
// form of RGB: colons with and without the colour space, semicolons.
using TerminalMatrixColours = GameRun;

TEST_F(TerminalMatrixColours, DirectColourShowsThePictureOf256ColoursCellForCell) {
    writeFile("levels/1.lvl", matrixRoom());
    std::map<std::string, std::array<Grid, 2>> pictures;  // the menu, the room
    const char* const direct[] = {"xterm-direct", "kitty-direct", "konsole-direct"};
    for (const char* term : {"xterm-256color", direct[0], direct[1], direct[2]}) {
        TmuxGame game;
        game.start(folder, std::string("TERM=") + term);
        ASSERT_TRUE(game.waitFor("New Game", 10000)) << game.screen();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pictures[term][0] = parseCapture(game.tmux("capture-pane -p -e -N -t 0"));
        game.keys("Enter");
        ASSERT_TRUE(game.waitFor("Goods: 0/3", 10000)) << game.screen();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pictures[term][1] = parseCapture(game.tmux("capture-pane -p -e -N -t 0"));
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(10000), 0);
    }
    for (const char* term : direct)
        for (int screen = 0; screen < 2; ++screen) {
            SCOPED_TRACE(std::string(term) + (screen ? " room" : " menu"));
            const Grid &wanted = pictures["xterm-256color"][screen], &shown = pictures[term][screen];
            int differing = 0;
            for (int row = 0; row < 25; ++row)
                for (int column = 0; column < 80; ++column) {
                    auto looks = [](const Cell& cell) {  // a blank shows only its background
                        Seen s = seen(cell, false);
                        if (std::get<0>(s) == " ") std::get<1>(s) = std::get<2>(s);
                        return s;
                    };
                    const Cell& cell = shown[row][column];
                    if (looks(cell) != looks(wanted[row][column]) && differing++ < 3)
                        ADD_FAILURE() << "row " << row + 1 << " column " << column + 1 << ": " << cell.glyph << " "
                                      << ::testing::PrintToString(cell.fg) << " on "
                                      << ::testing::PrintToString(cell.bg) << " instead of "
                                      << ::testing::PrintToString(wanted[row][column].fg) << " on "
                                      << ::testing::PrintToString(wanted[row][column].bg);
                }
            EXPECT_EQ(differing, 0);
            // A brick and lava in the lifted colours (inside tmux, which names no terminal).
            EXPECT_EQ((screen ? shown[20][10].bg : shown[0][0].fg), paletteRgb(screen ? 124 : 250));
        }
}

// Job control: Ctrl+Z stops the game as a shell's suspend key would and gives the
// terminal back; fg redraws and reads keys raw again.
using StopAndContinue = GameRun;

TEST_F(StopAndContinue, TheTerminalIsGivenBackAndTakenAgain) {
    TmuxGame shell("bash --norc --noprofile -i");
    shell.start(folder, "PS1='ready$ ' HISTFILE=");  // no ~/.bash_history
    ASSERT_TRUE(shell.waitFor("ready$")) << shell.screen();
    shell.keys(shellQuoted("sh -c 'echo $$ > .game; exec env SDL_AUDIODRIVER=nonexistent " +
                           std::string(QUORVEX_BINARY) + "'") +
               " Enter");
    ASSERT_TRUE(shell.waitFor("New Game", 20000)) << shell.screen();
    pid_t pid = std::stoi("0" + fileContents(folder / ".game"));
    ASSERT_GT(pid, 0);
    shell.keys("C-z");
    ASSERT_TRUE(shell.waitFor("Stopped")) << shell.screen();
    EXPECT_EQ(shell.screenModes(), "0 1 0\n");
    EXPECT_EQ(shell.screen().find("New Game"), std::string::npos) << shell.screen();
    shell.keys("fg Enter");
    EXPECT_TRUE(shell.waitFor("New Game", 10000)) << shell.screen();
    EXPECT_EQ(shell.tmux("display -p -t 0 '#{alternate_on} #{cursor_flag}'"), "1 0\n");
    shell.keys("Escape");
    EXPECT_TRUE(shell.waitFor("ready$", 20000)) << shell.screen();
    kill(pid, SIGKILL);  // if it did not end: the test has failed anyway
}

namespace {

// The game on a pty of 80 x 25 until it has been quiet for 600 ms, then ended
// by `ending`: the bytes it sent. `answer` is what the terminal says when the
// start-up asks where the cursor is ("" for a terminal that never answers).
std::string ptyRun(const char* term, const char* locale, const std::string& answer, int ending = SIGKILL) {
    int master = -1;
    winsize size{25, 80, 0, 0};
    pid_t game = forkpty(&master, nullptr, nullptr, &size);
    if (game < 0) return "";
    if (game == 0) {
        setenv("TERM", term, 1);
        setenv("LANG", locale, 1);
        unsetenv("LC_ALL"), unsetenv("LC_CTYPE"), unsetenv("TMUX"), unsetenv("VTE_VERSION");
        setenv("SDL_AUDIODRIVER", "nonexistent", 1);
        execl(QUORVEX_BINARY, QUORVEX_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string sent;
    auto quiet = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - quiet < std::chrono::milliseconds(600)) {
        pollfd ready{master, POLLIN, 0};
        char chunk[4096];
        if (poll(&ready, 1, 50) <= 0) continue;
        ssize_t got = read(master, chunk, sizeof chunk);
        if (got <= 0) break;
        sent.append(chunk, static_cast<size_t>(got));
        if (std::string_view(chunk, static_cast<size_t>(got)).find("\x1b[6n") != std::string_view::npos &&
            write(master, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size()))
            ADD_FAILURE() << "no answer sent";
        quiet = std::chrono::steady_clock::now();
    }
    kill(game, ending);
    for (char chunk[4096];;) {  // what it sends on the way out
        pollfd ready{master, POLLIN, 0};
        ssize_t got = poll(&ready, 1, 2000) > 0 ? read(master, chunk, sizeof chunk) : 0;
        if (got <= 0) break;
        sent.append(chunk, static_cast<size_t>(got));
    }
    kill(game, SIGKILL);
    waitpid(game, nullptr, 0);
    close(master);
    return sent;
}

// The bytes played back in pyte (vtcheck.py) for TERM `term`: what it prints.
std::string vtcheck(const std::filesystem::path& folder, const std::string& sent, const char* term) {
    std::ofstream(folder / "raw", std::ios::binary) << sent;
    return commandOutput("/usr/bin/python3 " + std::string(QUORVEX_SOURCE_DIR) + "/tests/vtcheck.py " +
                         shellQuoted((folder / "raw").string()) + " " + term);
}

// Fails where a row of the picture the bytes draw differs from the in-memory
// console's view, drawn with `glyphs` (with shades as blanks where `blocks`).
void expectPicture(const std::filesystem::path& folder, const std::string& sent, const char* term,
                   const GlyphTable& glyphs, bool blocks = false) {
    std::string vt = vtcheck(folder, sent, term);
    std::istringstream shown(vt.substr(vt.find("picture\n") + 8));
    for (int row = 1; row <= 25; ++row) {
        std::string line, expected;
        std::getline(shown, line);
        for (char byte : bufferRowText(viewTop() + row - 1)) {
            auto b = static_cast<uint8_t>(byte);
            expected += blocks && b >= 0xB0 && b <= 0xB2 ? " " : utf8Of(glyphs.glyph[b]);
        }
        EXPECT_EQ(line, expected.erase(expected.find_last_not_of(' ') + 1)) << "row " << row;
    }
}

}  // namespace

// The menu's first picture on a pty, for each TERM: at most 2,048 bytes where
// the terminal repeats a glyph, at most 4,096 where it does not (there in the C locale's
// one-byte glyphs, or as the blended blanks of a terminal known to draw shades
// flat), and, played back in pyte, the whole menu.
using FirstPicture = GameRun;

TEST_F(FirstPicture, TheMenuArrivesWholeInFewBytes) {
    struct Case {
        const char* term;
        const char* locale;
        size_t limit;
        bool blocks;  // shades as blanks
        const char* answer = "\x1b[3;3R";
    };
    const Case cases[] = {{"xterm-256color", "C.UTF-8", 2048, false},
                          {"vte-256color", "C.UTF-8", 2048, false},
                          {"xterm", "C.UTF-8", 2048, false},
                          {"ansi", "C.UTF-8", 2048, false},
                          {"st-256color", "C.UTF-8", 2048, false},
                          {"konsole-256color", "C.UTF-8", 4096, true},
                          {"screen", "C", 4096, false},
                          {"rxvt-unicode-256color", "C", 4096, false},
                          {"linux", "C", 4096, false},
                          // The Linux console: its display-control mode shown (two cells on), no repeat.
                          {"linux", "C.UTF-8", 4096, false, "\x1b[3;4R"}};
    startMemoryConsole();
    EXPECT_EQ(runGame(), -1);  // the menu, as the game draws it
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.term) + " " + c.locale);
        // Answered as the terminal does: konsole (not tried) as one that does not repeat.
        std::string sent = ptyRun(c.term, c.locale, c.blocks ? "\x1b[3;2R" : c.answer);
        EXPECT_LE(sent.size(), c.limit);
        bool ascii = std::string(c.locale) == "C", console = std::string(c.term) == "linux";
        GlyphTable glyphs = makeGlyphTable(ascii ? GlyphSet::Ascii : console ? GlyphSet::Console : GlyphSet::Unicode);
        expectPicture(folder, sent, c.term, glyphs, c.blocks);
    }
}

// The Linux console shows each byte as its code page 437 glyph in its
// display-control mode (SGR 11): where the start-up sees that mode work (the
// two control bytes written in it moved the cursor), shades and the other
// glyphs of code page 437 go as one byte each, the rest in UTF-8, in a room
// as on the menu; the picture is the one UTF-8 gives, and the console is
// left in UTF-8 at the end. Where the mode did not show, or TERM is not
// linux, it is never used.
TEST_F(FirstPicture, TheLinuxConsoleTakesGlyphsAsBytesWhereItShowsItCan) {
    std::filesystem::copy(std::string(QUORVEX_SOURCE_DIR) + "/data/levels", folder / "levels");
    key(0, key::enter);  // a new game: room 1, as it stands at first
    setStopTime(1000);
    EXPECT_EQ(runGame(), -1);
    auto modeOn = [](const std::string& sent) {  // the menu's shades as bytes 0xB0 (never one of UTF-8's ░)
        return std::count(sent.begin(), sent.end(), '\xb0') > 1000;
    };
    std::string bytes = ptyRun("linux", "C.UTF-8", "\x1b[3;4R\r", SIGTERM);
    std::string utf8 = ptyRun("linux", "C.UTF-8", "\x1b[3;2R\r", SIGTERM);
    EXPECT_TRUE(modeOn(bytes));
    EXPECT_FALSE(modeOn(utf8));
    EXPECT_LT(bytes.size(), utf8.size() * 6 / 10);  // the menu and the room: 4 KB instead of 8
    size_t restored = bytes.rfind("\x18\x1b[m");    // what the game sends on the way out
    ASSERT_NE(restored, std::string::npos);
    expectPicture(folder, bytes.substr(0, restored), "linux", makeGlyphTable(GlyphSet::Console));
    // The way out leaves UTF-8 whatever mode the console was in then.
    EXPECT_NE(vtcheck(folder, "\x1b[11m" + bytes.substr(restored), "linux").find("glyphs-at-end utf-8"),
              std::string::npos);
    EXPECT_FALSE(modeOn(ptyRun("xterm-256color", "C.UTF-8", "\x1b[3;4R")));
    EXPECT_EQ(ptyRun("rxvt-unicode-256color", "C.UTF-8", "\x1b[3;4R").find("\x01"), std::string::npos);  // not asked
}

// `rep` is used only where the terminal shows that it repeats a UTF-8 glyph:
// an answer two cells on keeps it (st too, whose terminfo does not say so),
// one cell on (tmux unnamed, rxvt) or none drops it; a key typed before the
// answer still counts (Enter: a new game, here
// in a folder without rooms).
TEST_F(FirstPicture, RepeatIsUsedOnlyWhereTheTerminalShowsItWorks) {
    auto repeats = [](const std::string& sent) {
        size_t asked = sent.find("\x1b[6n");
        return asked != std::string::npos && std::regex_search(sent.substr(asked), std::regex("\x1b\\[[0-9]+b"));
    };
    std::string kept = ptyRun("xterm-256color", "C.UTF-8", "\x1b[3;3R");
    std::string unheard = ptyRun("xterm-256color", "C.UTF-8", "\x1b[3;2R");
    std::string silent = ptyRun("xterm-256color", "C.UTF-8", "");
    EXPECT_TRUE(repeats(kept));
    EXPECT_FALSE(repeats(unheard));
    EXPECT_TRUE(repeats(ptyRun("st-256color", "C.UTF-8", "\x1b[3;3R")));  // REP without terminfo's word for it
    EXPECT_FALSE(repeats(ptyRun("rxvt-unicode-256color", "C.UTF-8", "\x1b[3;2R")));
    EXPECT_FALSE(repeats(silent));
    EXPECT_NE(silent.find("New Game"), std::string::npos);
    EXPECT_EQ(ptyRun("xterm-256color", "C", "").find("\x1b[6n"), std::string::npos);  // one-byte glyphs: not asked
    EXPECT_NE(ptyRun("xterm-256color", "C.UTF-8", "\r\x1b[3;3R").find("File missing"), std::string::npos);
}

// tmux where nothing says so (over ssh, under env -i) with a TERM that has
// `rep`: it ignores a repeat after a UTF-8 glyph, which once drew each wall
// row of the menu as one shade. The picture is the one drawn where TMUX is set.
TEST_F(FirstPicture, TheMenuIsWholeUnderTmuxThatDoesNotSayItIsThere) {
    std::string pictures[2];
    for (int unset = 0; unset < 2; ++unset) {
        TmuxGame game;
        game.start(folder, std::string(unset ? "-u TMUX " : "") + "TERM=xterm-256color");
        ASSERT_TRUE(game.waitFor("New Game", 10000)) << game.screen();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pictures[unset] = game.screen();
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(10000), 0);
    }
    EXPECT_EQ(pictures[1], pictures[0]);
    std::string bricks;  // the menu's top row: a whole row of wall
    for (int column = 0; column < 80; ++column) bricks += "\u2591";
    EXPECT_EQ(pictures[1].substr(0, pictures[1].find('\n')), bricks);
}
