// Windows smaller than the view: in memory at 80 x 24, 80 x 14, 64 x 20 and
// 60 x 14; in tmux from 59 x 14 to 60 x 14, rooms walked across at 60 x 14
// and 64 x 20, and the editor at 80 x 24 and below.
#include <signal.h>

#include <iterator>
#include <sstream>

#include "endings/endings.h"
#include "roomfixture.h"
#include "shell/flow.h"
#include "tmux.h"

namespace {

const int heights[] = {24, 14};

// Row r (1..) of the window as the layout shows it, trimmed.
std::string windowRow(const WindowLayout& layout, int r) {
    std::string text;
    for (int x = 1; x <= layout.columns; ++x) text += static_cast<char>(windowCell(layout, x, r).character);
    return trimRight(text);
}
std::string windowRow(int r) { return windowRow(windowLayout(), r); }

std::string windowText() {
    WindowLayout layout = windowLayout();
    std::string text;
    for (int r = 1; r <= layout.rows; ++r) text += windowRow(layout, r) + "\n";
    return text;
}

bool shows(const std::string& text) { return windowText().find(text) != std::string::npos; }

std::vector<std::string> words(std::string text) {
    std::replace(text.begin(), text.end(), '\xB0', ' ');  // the menu's bricks
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// The words of `text` in a row on the window: a text row folded over two window rows reads on.
bool showsFolded(const std::string& text) {
    std::string all, wanted;
    for (const std::string& word : words(windowText())) all += " " + word;
    for (const std::string& word : words(text)) wanted += " " + word;
    return (all + " ").find(wanted + " ") != std::string::npos;
}

struct SmallWindow : RoomTest {
    void restart(int height, int width = screenWidth) {
        startMemoryConsole();
        setWindowSize(width, height);
        clearSoundLog();
        resetWorld();
        run = {true, false, "", folder.string() + "/"};
    }
    // The window index (0-based) of the player's map row, -1 when it is not shown.
    int playerLine(const WindowLayout& layout) {
        for (int i = 0; i < layout.rows - 3; ++i)
            if (layout.viewRow[i] == player.playerY) return i;
        return -1;
    }
};

// A fall, a spring and rest: status lines last, the player 3 rows inside the
// map, which moves only as far as it must.
TEST_F(SmallWindow, StatusLinesStayLowAndTheMapKeepsThePlayerInside) {
    for (int height : heights) {
        SCOPED_TRACE(height);
        restart(height);
        std::string floor(80, '1');
        floor[11] = '5';  // a spring under column 12
        play({{2, "  i"}, {21, floor}});
        int area = height - 3, scrolls = 0, highest = 22, farthest = 0;
        WindowLayout before = windowLayout();
        int rowBefore = player.playerY;
        arrow(virtualNow() + 2000, scan::right);  // after the fall
        arrow(virtualNow() + 6000, scan::down);   // stop, back on the floor
        for (int t = 0; t < 100; ++t) {
            tick();
            WindowLayout layout = windowLayout();
            ASSERT_EQ(layout.rows, height);
            for (int i = 0; i < 3; ++i) ASSERT_EQ(layout.viewRow[area + i], 23 + i);
            for (int i = 1; i < area; ++i) ASSERT_EQ(layout.viewRow[i], layout.viewRow[0] + i);
            int line = playerLine(layout);
            ASSERT_GE(line, 0) << "tick " << t;
            EXPECT_TRUE(layout.viewRow[0] == 1 || line >= playerMargin) << "tick " << t;
            EXPECT_TRUE(layout.viewRow[area - 1] == 22 || line <= area - 1 - playerMargin) << "tick " << t;
            if (layout.viewRow[0] != before.viewRow[0]) {
                ++scrolls;
                EXPECT_NE(player.playerY, rowBefore) << "tick " << t;
                EXPECT_TRUE(line == playerMargin || line == area - 1 - playerMargin) << "tick " << t;
            }
            before = layout;
            rowBefore = player.playerY;
            highest = std::min(highest, player.playerY);
            if (t > 0) farthest = std::max(farthest, player.playerX);
        }
        EXPECT_GT(scrolls, 0);
        EXPECT_LE(highest, 13);   // the spring's throw
        EXPECT_GT(farthest, 12);  // and on past it
        EXPECT_EQ(player.playerY, 20);
    }
}

// A walk across the room and back in narrow windows: the map follows the
// player sideways by whole columns, 8 columns inside the window unless the
// room ends there, and only when it moves; Lives stays in sight; a message
// that fits flows whole through the free status cells, a longer one runs as a
// ticker from its first cell to its last while it stays up.
TEST_F(SmallWindow, TheMapFollowsThePlayerSidewaysAndTheStatusLinesFit) {
    const std::string fits = "A message of sixty-six cells, the longest a shipped room may have.";
    std::string longest;
    for (int i = 0; longest.size() < 145; ++i) longest += "word" + std::to_string(i) + " ";
    longest.resize(145);
    for (auto [width, height] : {std::pair{60, 14}, std::pair{64, 20}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        restart(height, width);
        std::string path(80, ' ');
        path.replace(0, 6, "  i  m");
        path[30] = 'n';
        play({{20, path}, {24, fits}, {25, longest}});
        arrow(virtualNow(), scan::right);
        int scrolls = 0, before = windowLayout().firstColumn[0], xBefore = player.playerX;
        std::vector<std::string> running;  // the long message as the ticker showed it
        for (int t = 0; t < 170; ++t) {
            if (t == 85) arrow(virtualNow(), scan::left);
            tick();
            WindowLayout layout = windowLayout();
            ASSERT_EQ(layout.columns, width);
            int left = layout.firstColumn[0], line = -1;
            for (int i = 0; i < layout.rows - 3; ++i)
                if (layout.viewRow[i] == player.playerY) line = i + 1;
            ASSERT_GT(line, 0) << "tick " << t;
            int column = player.playerX - left + 1;
            ASSERT_EQ(windowCell(layout, column, line).character, 0x02) << "tick " << t << "\n" << windowText();
            EXPECT_TRUE(left == 1 || column > playerSideMargin) << "tick " << t;
            EXPECT_TRUE(left == 80 - width + 1 || column <= width - playerSideMargin) << "tick " << t;
            if (left != before) {
                ++scrolls;
                EXPECT_NE(player.playerX, xBefore) << "tick " << t;
            }
            before = left, xBefore = player.playerX;
            std::string status, message;
            for (int r = layout.rows - 2; r <= layout.rows; ++r)
                for (int x = 1; x <= width; ++x) {
                    ConsoleCell cell = windowCell(layout, x, r);
                    status += static_cast<char>(cell.character);
                    if (cell.attribute & 0x70) message += static_cast<char>(cell.character);
                }
            EXPECT_NE(status.find("Lives: \x03\x03\x03"), std::string::npos) << "tick " << t << "\n" << windowText();
            if (message.empty()) continue;
            if (fits.rfind(message.substr(0, 10), 0) == 0) {
                EXPECT_EQ(words(message), words(fits)) << "tick " << t << "\n" << windowText();
            } else {
                EXPECT_LT(message.size(), longest.size());
                EXPECT_NE(longest.find(message), std::string::npos) << message;
                running.push_back(message);
            }
        }
        EXPECT_GT(scrolls, 10);
        ASSERT_FALSE(running.empty());
        EXPECT_EQ(longest.rfind(running.front(), 0), 0u) << running.front();
        bool reachedTheEnd = std::any_of(running.begin(), running.end(), [&](const std::string& shown) {
            return longest.size() >= shown.size() &&
                   longest.compare(longest.size() - shown.size(), shown.size(), shown) == 0;
        });
        EXPECT_TRUE(reachedTheEnd);
    }
}

// Every screen keeps its text rows; at 24 rows the menu loses only bricks.
TEST_F(SmallWindow, EveryScreenKeepsItsTextInSight) {
    // A fresh run in a window of `height` rows: keys 10 ms apart from the start, Right at the times given.
    auto menuKeys = [&](int height, std::initializer_list<int> keys, std::initializer_list<uint64_t> rights = {}) {
        restart(height);
        installCueFiles();
        uint64_t t = 10;
        for (int k : keys) scriptKey(t += 10, {static_cast<uint8_t>(k), k >= 0x100});
        for (uint64_t ms : rights) arrow(ms, scan::right);
        return runGame();
    };
    constexpr int enter = 13, down = 0x100 + scan::down;
    for (const int& height : heights) {
        SCOPED_TRACE(height);
        std::filesystem::remove_all(folder / "levels");
        EXPECT_EQ(menuKeys(height, {}), -1);
        WindowLayout layout = windowLayout();
        std::vector<int> shown(layout.viewRow, layout.viewRow + layout.rows);
        EXPECT_TRUE(height < 24 || bufferRowText(1) == std::string(80, '\xB0'));  // the row left out: bricks alone
        // In 14 rows the longest run of bricks, under Quit, gives way.
        const std::vector<int> expected[] = {
            {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25},
            {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 24, 25}};
        EXPECT_EQ(shown, expected[&height - heights]);
        EXPECT_TRUE(shows("\x10\xB0New Game")) << windowText();
        EXPECT_TRUE(shows("constantly, press UP or DOWN.")) << windowText();

        EXPECT_EQ(menuKeys(height, {down, enter}), -1);
        EXPECT_EQ(windowRow(1), "Type in the Pack name:");

        EXPECT_EQ(menuKeys(height, {enter}), -1);  // New Game without its room
        for (const char* line : {"The Quorvex has stoped", "File missing: ", "Press ENTER to go to Menu."})
            EXPECT_TRUE(shows(line)) << line << "\n" << windowText();

        writeFile("levels/1.lvl", levelText({{20, "    i2"}}));
        EXPECT_EQ(menuKeys(height, {enter}, {2000, 3000, 4000}), -1);  // three steps into the lava
        EXPECT_TRUE(shows("GAME OVER!")) << windowText();
        EXPECT_TRUE(shows("Total Score:\n" + std::string(40, ' ') + "0\n")) << windowText();
    }
}

// The final sequence at 14 rows: walk, dialogue, credits, score in sight.
TEST_F(SmallWindow, TheFinalSequenceShowsTheWalkTheDialogueAndTheScore) {
    for (int enters : {1, 6}) {  // the dialogue's first line, then the end
        restart(14);
        installCueFiles();
        for (int i = 1; i <= enters; ++i) key(i * 10000, 13);
        game.score = 77;
        try {
            playFinalSequence();
        } catch (const ScriptEnded&) {
        }
        if (enters == 6) break;
        EXPECT_EQ(windowRow(13), std::string(9, ' ') + "I can't belive in what I'm seeing!");
        EXPECT_TRUE(shows("\x02")) << windowText();
    }
    EXPECT_TRUE(shows("THE END")) << windowText();
    EXPECT_TRUE(shows("Final Score:\n" + std::string(38, ' ') + "77\n")) << windowText();
}

// Narrower than 80: the screens slide sideways to their text, and a row of
// text wider than the window goes on in the next window row.
TEST_F(SmallWindow, NarrowWindowsShowEveryScreensText) {
    restart(14, 60);
    installCueFiles();
    EXPECT_EQ(runGame(), -1);
    EXPECT_TRUE(shows("\x10\xB0New Game")) << windowText();
    for (const char* text :
         {"The Quorvex", "Custom Levels", "Quit",
          "Controls do not work properly in-game. To stop the character from walking", "constantly, press UP or DOWN."})
        EXPECT_TRUE(showsFolded(text)) << text << "\n" << windowText();
    restart(14, 60);
    installCueFiles();
    writeFile("levels/1.lvl", "");
    std::filesystem::remove(folder / "levels/1.lvl");
    scriptKey(20, {13, false});
    EXPECT_EQ(runGame(), -1);
    EXPECT_TRUE(showsFolded("File missing: " + folder.string() + "/levels/1.lvl")) << windowText();
    EXPECT_TRUE(shows("Press ENTER to go to Menu.")) << windowText();
}

// --- in a real terminal ---

using SmallTerminal = GameRun;

// Below 60 x 14 the notice drops keys. At 60 x 14 the map scrolled as far down as it
// goes: the player on map row 20, the floor of row 21, the blank row 22, the status
// lines; --show lays out as the game does. Esc ends the game behind the notice.
TEST_F(SmallTerminal, At60x14TheGameAndTheCheckersShowPlayAndBelowItTheNoticeDropsKeys) {
    writeFile("levels/1.lvl", levelText({{2, "  i"}}));
    TmuxGame game(QUORVEX_BINARY, 14);
    game.width = 59;
    game.start(folder, "SDL_AUDIODRIVER=nonexistent");
    ASSERT_TRUE(game.waitFor("at least 60 x 14 (now 59 x 14)")) << game.screen();
    game.keys("Down");
    game.keys("Enter");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    game.tmux("resize-window -t 0 -x 60 -y 14");
    ASSERT_TRUE(game.waitFor("►░New Game")) << game.screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(game.screen().find("Lives:"), std::string::npos) << game.screen();
    game.keys("Enter");
    ASSERT_TRUE(game.waitFor("Lives: ♥♥♥")) << game.screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // fallen to the floor
    std::string wall;
    for (int i = 0; i < 60; ++i) wall += "▓";
    EXPECT_EQ(game.tmux("capture-pane -p -t 0 -S 8 -E 9"), "  ☻\n" + wall + "\n") << game.screen();
    EXPECT_EQ(game.tmux("capture-pane -p -t 0 -S 13").substr(0, 11), " Goods: 0/0") << game.screen();
    game.keys("Right");
    EXPECT_TRUE(game.waitFor("       ☻")) << game.screen();  // walking along the floor
    game.tmux("resize-window -t 0 -x 59 -y 14");             // too narrow now: the notice again
    ASSERT_TRUE(game.waitFor("(now 59 x 14)")) << game.screen();
    game.keys("Escape");
    EXPECT_EQ(game.waitExit(), 0);
    EXPECT_EQ(game.screenModes(), "0 1 0\n");
    EXPECT_TRUE(game.lineModeBack());

    // Room 2 of a series, shown with its own number as the game shows it.
    writeFile("levels/2.lvl", levelText({{2, "  i"}, {20, "                        9"}}));
    TmuxGame show(std::string(QUORVEX_CHECK_BINARY) + " --show levels/2.lvl", 14);
    show.width = 60;
    show.start(folder, "SDL_AUDIODRIVER=nonexistent");
    ASSERT_TRUE(show.waitFor(" Lives: ♥♥♥")) << show.screen();
    EXPECT_TRUE(show.waitFor(" Level: 2")) << show.screen();
    EXPECT_EQ(show.tmux("capture-pane -p -t 0 -S 13").substr(0, 11), " Goods: 0/0") << show.screen();
    EXPECT_EQ(show.waitExit(8000), 0);
}

// The hero walks the whole width of a room at 60 x 14 and 64 x 20:
// in sight in every picture, with the status lines under the map.
TEST_F(SmallTerminal, TheHeroStaysInSightWalkingAcrossANarrowWindow) {
    std::string path(80, ' ');
    path[2] = 'i';
    writeFile("levels/1.lvl", levelText({{20, path}, {24, "Walk on to the far wall and back."}}));
    for (auto [width, height] : {std::pair{60, 14}, std::pair{64, 20}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        TmuxGame game(QUORVEX_BINARY, height);
        game.width = width;
        game.start(folder, "SDL_AUDIODRIVER=nonexistent");
        ASSERT_TRUE(game.waitFor("New Game")) << game.screen();
        game.keys("Enter");
        ASSERT_TRUE(game.waitFor("Lives: ♥♥♥")) << game.screen();
        game.keys("Right");
        int pictures = 0, rightmost = 0;
        for (int waited = 0; waited < 6500; waited += 100) {
            std::string screen = game.screen();
            size_t hero = screen.find("☻");
            ASSERT_NE(hero, std::string::npos) << waited << " ms\n" << screen;
            std::string row = screen.substr(0, hero);
            int column = static_cast<int>(row.size() - row.rfind('\n') - 1);  // bytes: ASCII blanks before it
            rightmost = std::max(rightmost, column);
            EXPECT_NE(screen.find("Lives: ♥♥♥"), std::string::npos) << screen;
            ++pictures;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_GT(pictures, 40);
        EXPECT_GE(rightmost, width - playerSideMargin - 1);  // walked on to the right, the map following
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(), 0);
    }
}

// The editor at 80 x 24: the room under its status rows, scrolled to keep
// the cursor in sight; below that the notice names Ctrl+C, Esc is dropped
// (unsaved work) and Ctrl+C leaves with the room kept in its rescue copy.
TEST_F(SmallTerminal, TheEditorWorksAt80x24AndBelowItsNoticeNamesCtrlC) {
    TmuxGame editor(std::string(QUORVEX_EDIT_BINARY) + " room.lvl", 24);
    editor.start(folder, "SDL_AUDIODRIVER=nonexistent XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(editor.waitFor("F1 help ^S save")) << editor.screen();
    editor.keys("5");
    for (int i = 0; i < 20; ++i) editor.keys("Down");
    ASSERT_TRUE(editor.waitFor("3,22")) << editor.screen();
    std::vector<std::string> rows;
    std::istringstream lines(editor.screen());
    for (std::string row; std::getline(lines, row);) rows.push_back(row);
    ASSERT_EQ(rows.size(), 24u) << editor.screen();
    EXPECT_EQ(rows[0].rfind("▓⌂", 0), 0u) << editor.screen();     // map row 2 on top: the spring painted
    EXPECT_EQ(rows[20].rfind("▓▓▓▓", 0), 0u) << editor.screen();  // the bottom wall above the status rows
    EXPECT_EQ(rows[21].rfind("3,22", 0), 0u) << editor.screen();
    editor.tmux("resize-window -t 0 -x 80 -y 23");
    ASSERT_TRUE(editor.waitFor("at least 80 x 24 (now 80 x 23). Ctrl+C leaves.")) << editor.screen();
    editor.keys("Escape");
    EXPECT_EQ(editor.waitExit(300), -1);
    editor.keys("C-c");
    EXPECT_EQ(editor.waitExit(), 130);
    std::string rescued;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".rescue") rescued = fileContents(entry.path());
    EXPECT_EQ(rescued.substr(82, 3), "15 ");
}

}  // namespace
