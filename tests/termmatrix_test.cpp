// Each TERM x UTF-8/C locale: every cell kind visible and distinct (bold not
// counted), only allowed glyphs, restored at the end; pyte (vtcheck.py) adds what tmux hides.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <sstream>

#include "console/cp437.h"
#include "console/glyphs.h"
#include "tmux.h"

namespace fs = std::filesystem;

namespace {

struct Cell {
    std::u32string glyph = U" ";
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

// capture-pane -e: text with SGR codes, the state running on across rows.
Grid parseCapture(const std::string& text) {
    Grid grid(25, std::vector<Cell>(80));
    Cell pen;
    size_t row = 0, column = 0;
    for (size_t i = 0; i < text.size() && row < 25;) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b == 0x1b && i + 1 < text.size() && text[i + 1] == '[') {
            size_t end = text.find_first_of("ABCDEFGHJKSTfmhl", i + 2);
            if (end == std::string::npos) break;
            if (text[end] == 'm') {
                std::vector<int> p;
                std::string params = text.substr(i + 2, end - i - 2);
                for (char& c : params)
                    if (c == ':') c = ';';
                std::stringstream parts(params);
                for (std::string part; std::getline(parts, part, ';');) p.push_back(part.empty() ? 0 : std::stoi(part));
                if (p.empty()) p.push_back(0);
                for (size_t k = 0; k < p.size(); ++k) {
                    int v = p[k];
                    auto extended = [&](std::array<int, 3>& into) {
                        if (k + 1 < p.size() && p[k + 1] == 5 && k + 2 < p.size())
                            into = paletteRgb(p[k + 2]), k += 2;
                        else if (k + 1 < p.size() && p[k + 1] == 2 && k + 4 < p.size())
                            into = {p[k + 2], p[k + 3], p[k + 4]}, k += 4;
                    };
                    // clang-format off
                    if (v == 0) pen = Cell{};
                    else if (v == 1 || v == 22) pen.bold = v == 1;
                    else if (v == 7 || v == 27) pen.reverse = v == 7;
                    else if (v >= 30 && v <= 37) pen.fg = paletteRgb(v - 30);
                    else if (v == 38) extended(pen.fg);
                    else if (v == 39) pen.fg = {-1, -1, -1};
                    else if (v >= 40 && v <= 47) pen.bg = paletteRgb(v - 40);
                    else if (v == 48) extended(pen.bg);
                    else if (v == 49) pen.bg = {-1, -1, -1};
                    else if (v >= 90 && v <= 97) pen.fg = paletteRgb(v - 90 + 8);
                    else if (v >= 100 && v <= 107) pen.bg = paletteRgb(v - 100 + 8);
                    // clang-format on
                }
            }
            i = end + 1;
            continue;
        }
        if (b == '\n') {
            ++row, column = 0, ++i;
            continue;
        }
        char32_t c = b;
        size_t length = 1;
        if (b >= 0xF0)
            c = b & 0x07, length = 4;
        else if (b >= 0xE0)
            c = b & 0x0F, length = 3;
        else if (b >= 0xC0)
            c = b & 0x1F, length = 2;
        for (size_t k = 1; k < length && i + k < text.size(); ++k) c = (c << 6) | (text[i + k] & 0x3F);
        i += length;
        if (column < 80) {
            Cell cell = pen;
            cell.glyph = std::u32string(1, c);
            grid[row][column++] = cell;
        }
    }
    return grid;
}

// The colours after reverse, defaults as light grey on black; bold is not brightness.
struct Seen {
    char32_t glyph;
    std::array<int, 3> fg, bg;
    bool bold;
    bool operator<(const Seen& o) const {
        return std::tie(glyph, fg, bg, bold) < std::tie(o.glyph, o.fg, o.bg, o.bold);
    }
};

Seen seen(const Cell& cell, bool monochrome) {
    std::array<int, 3> fg = cell.fg[0] < 0 ? paletteRgb(7) : cell.fg, bg = cell.bg[0] < 0 ? paletteRgb(0) : cell.bg;
    if (cell.reverse) std::swap(fg, bg);
    return {cell.glyph[0], fg, bg, monochrome && cell.bold};
}

bool visible(const Seen& s) {
    int distance = 0;
    for (int k = 0; k < 3; ++k) distance += std::abs(s.fg[k] - s.bg[k]);
    bool blank = s.glyph == U' ';
    return blank ? s.bg != paletteRgb(0) : distance >= 40;  // light green on green: 50; RGB 0:0:9 on black: 9
}

// Every kind of cell in one room.
std::string matrixRoom() {
    std::vector<std::string> rows(22, std::string(80, ' '));
    for (auto& row : rows) row.front() = row.back() = '1';
    rows[0] = rows[21] = std::string(80, '1');
    rows[20] = std::string(80, '1');
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
    int column, row;  // 1-based screen position; row 0: found by scanning
};

const Kind kinds[] = {
    {"wall", 1, 1},          {"lava", 11, 21},     {"spikes right", 41, 10}, {"spikes left", 39, 10},
    {"spikes down", 40, 11}, {"spikes up", 40, 9}, {"crumbling", 60, 15},    {"spring", 62, 15},
    {"ice", 64, 15},         {"exit", 70, 15},     {"diamond", 50, 5},       {"club", 52, 5},
    {"spade", 54, 5},        {"player", 5, 20},    {"enemy", 0, 5},          {"heart", 0, 24},
    {"status text", 2, 23},
};

bool monochromeTerm(const std::string& term) { return term == "vt100"; }

class TerminalMatrix : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-matrix-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        fs::create_directories(folder / "levels");
        std::ofstream(folder / "levels/1.lvl", std::ios::binary) << matrixRoom();
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

}  // namespace

TEST_P(TerminalMatrix, EveryKindOfCellVisibleDistinctInItsGlyphsAndTheTerminalRestored) {
    const std::string term = GetParam();
    bool mono = monochromeTerm(term);
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
        {  // the menu: its bricks and every item readable (xterm-direct once showed only bricks)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Grid menu = parseCapture(game.tmux("capture-pane -p -e -N -t 0"));
            EXPECT_TRUE(visible(seen(menu[0][0], mono))) << "bricks";
            std::vector<std::string> rows;
            std::istringstream lines(game.screen());
            for (std::string line; std::getline(lines, line);) rows.push_back(line);
            for (const char* item : {"New Game", "Quit"})
                for (size_t row = 0; row < rows.size() && row < 25; ++row)
                    if (size_t at = rows[row].find(item); at != std::string::npos) {
                        size_t column = 0;  // the item's first cell, counted in characters
                        for (size_t i = 0; i < at; ++i) column += (rows[row][i] & 0xC0) != 0x80;
                        EXPECT_TRUE(visible(seen(menu[row][column], mono))) << item;
                    }
        }
        game.keys("Enter");
        ASSERT_TRUE(game.waitFor("Goods: 0/3", 10000)) << game.screen();
        game.keys("Down");  // the player stays where it is
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        Grid grid = parseCapture(game.tmux("capture-pane -p -e -N -t 0"));
        fs::remove(folder / "go");

        // The glyphs the set allows.
        std::set<char32_t> allowed;
        GlyphSet set = locale == "C" ? GlyphSet::Ascii : term == "linux" ? GlyphSet::Console : GlyphSet::Unicode;
        GlyphTable table = makeGlyphTable(set);
        for (char32_t g : table.glyph) allowed.insert(g);
        std::set<char32_t> strangers;
        for (const auto& row : grid)
            for (const Cell& cell : row)
                if (char32_t g = cell.glyph[0]; g >= 0x80 && (set == GlyphSet::Ascii || !allowed.count(g)))
                    strangers.insert(g);
        EXPECT_TRUE(strangers.empty()) << strangers.size() << " characters outside the " << glyphSetName(set)
                                       << " set, the first U+" << std::hex << static_cast<int>(*strangers.begin());
        if (set == GlyphSet::Ascii) {
            std::string raw = fileContents(folder / "raw");
            EXPECT_FALSE(raw.empty());
            EXPECT_EQ(
                std::count_if(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }), 0);
        }

        // Each kind visible, and no two alike.
        std::map<Seen, std::string> looks;
        for (const Kind& kind : kinds) {
            int row = kind.row, column = kind.column;
            if (column == 0) {  // the enemy between its walls; the first heart after "Lives: "
                for (int x = (row == 5 ? 26 : 1); x <= (row == 5 ? 34 : 79) && column == 0; ++x) {
                    std::u32string g = grid[row - 1][x - 1].glyph;
                    if (row == 5 && g != U" ") column = x;
                    if (row == 24 && x > 2 && grid[row - 1][x - 2].glyph == U" " &&
                        grid[row - 1][x - 3].glyph == U":" && g != U" ")
                        column = x;
                }
                ASSERT_NE(column, 0) << kind.name;
            }
            Seen s = seen(grid[row - 1][column - 1], mono);
            EXPECT_TRUE(visible(s)) << kind.name;
            if (!mono) {
                EXPECT_FALSE(grid[row - 1][column - 1].bold) << kind.name << ": bold where a colour serves";
            }
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
        if (cursorShows) {
            EXPECT_NE(vt.find("cursor-cell ' '"), std::string::npos) << vt;
        }
        if (term == "xterm-direct") {
            EXPECT_EQ(vt.find(" 38"), std::string::npos) << vt;  // no RGB codes at all
        }

        // The end: status 0, the modes back, the user's screen (or a blank one).
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(10000), 0);
        EXPECT_TRUE(game.lineModeBack());
        EXPECT_EQ(game.tmux("display -p -t 0 '#{alternate_on} #{cursor_flag}'"), "0 1\n");
        EXPECT_EQ(game.screen().find_first_not_of(" \n"), std::string::npos) << game.screen();
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

// Job control: TSTP gives the terminal back; fg redraws and reads keys raw again.
TEST(StopAndContinue, TheTerminalIsGivenBackAndTakenAgainInEachProgram) {
    std::string pattern = (fs::temp_directory_path() / "quorvex-stop-XXXXXX").string();
    fs::path folder = mkdtemp(pattern.data());
    fs::copy(fs::path(QUORVEX_SOURCE_DIR) / "data/levels", folder / "levels", fs::copy_options::recursive);
    // The game and --show stop at Ctrl+Z, as at a shell's suspend key; in the
    // editor Ctrl+Z is undo, so it stops on the signal alone.
    const std::tuple<std::string, std::string, std::string, std::string, bool> programs[] = {
        {QUORVEX_BINARY, "New Game", "Escape", "New Game", true},
        {std::string(QUORVEX_EDIT_BINARY) + " levels/2.lvl", "▓", "C-q", "▓", false},
        {std::string(QUORVEX_CHECK_BINARY) + " --show levels/1.lvl", "Level", "Escape", "♥", true},
    };
    for (const auto& [command, picture, endKey, again, ctrlZ] : programs) {
        SCOPED_TRACE(command);
        TmuxGame shell;
        shell.command = "bash --norc --noprofile -i";
        shell.start(folder, "PS1='ready$ '");
        ASSERT_TRUE(shell.waitFor("ready$")) << shell.screen();
        fs::remove(folder / ".game");
        shell.keys(shellQuoted("sh -c 'echo $$ > .game; exec env SDL_AUDIODRIVER=nonexistent " + command + "'") +
                   " Enter");
        ASSERT_TRUE(shell.waitFor(picture, 20000)) << shell.screen();
        pid_t pid = std::stoi("0" + fileContents(folder / ".game"));
        ASSERT_GT(pid, 0);
        if (ctrlZ)
            shell.keys("C-z");
        else
            kill(pid, SIGTSTP);
        ASSERT_TRUE(shell.waitFor("Stopped")) << shell.screen();
        EXPECT_EQ(shell.screenModes(), "0 1 0\n");
        EXPECT_EQ(shell.screen().find(picture), std::string::npos) << shell.screen();
        shell.keys("fg Enter");
        EXPECT_TRUE(shell.waitFor(again, 10000)) << shell.screen();
        EXPECT_EQ(shell.tmux("display -p -t 0 '#{alternate_on} #{cursor_flag}'"), "1 0\n");
        shell.keys(endKey);
        if (endKey == "C-q") shell.keys("n");  // nothing to keep
        EXPECT_TRUE(shell.waitFor("ready$", 20000)) << shell.screen();
        kill(pid, SIGKILL);  // if it did not end: the test has failed anyway
    }
    fs::remove_all(folder);
}
