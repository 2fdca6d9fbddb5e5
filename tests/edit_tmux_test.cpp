// The editor in a real terminal: a pack made from nothing, a room painted,
// saved and play-tested, then played by the game through Custom Levels; and
// the rescue copy when the terminal goes away.
#include "checker.h"
#include "editrun.h"
#include "tmux.h"

namespace {

using EditorTerminal = GameRun;  // for its folder

TEST_F(EditorTerminal, AThreeRoomPackMadeInTheEditorIsProvenAndPlayedByTheGame) {
    TmuxGame editor(std::string(QUORVEX_EDIT_BINARY) + " " + shellQuoted("levels/custom levels/tmuxpack"));
    editor.start(folder, "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(editor.waitFor("Pack tmuxpack")) << editor.screen();
    for (const char* name : {"first", "second", "third"}) {
        SCOPED_TRACE(name);
        editor.keys(std::string("a ") + name + " Enter 1");
        ASSERT_TRUE(editor.waitFor(std::string("Added ") + name)) << editor.screen();
        editor.keys("Enter");
        ASSERT_TRUE(editor.waitFor("F1 help")) << editor.screen();
        // Goods at (10, 21) and a nearer exit at (12, 21), from the cursor's (2, 2).
        for (int i = 0; i < 19; ++i) editor.keys("Down");
        for (int i = 0; i < 8; ++i) editor.keys("Right");
        editor.keys("j Right 9 C-s");
        ASSERT_TRUE(editor.waitFor("Saved " + std::string(name))) << editor.screen();
        EXPECT_TRUE(editor.waitFor("finishable in 9 ticks, all goods in 9")) << editor.screen();
        editor.keys("F5");
        ASSERT_TRUE(editor.waitFor("Lives: ♥♥♥")) << editor.screen();
        editor.keys("Right");
        ASSERT_TRUE(editor.waitFor("exit reached in")) << editor.screen();
        editor.keys("C-q");
        ASSERT_TRUE(editor.waitFor("End line")) << editor.screen();
    }
    editor.keys("e tester Enter");
    ASSERT_TRUE(editor.waitFor("*tester")) << editor.screen();
    editor.keys("q");
    ASSERT_EQ(editor.waitExit(), 0);

    std::string level = readFile("levels/custom levels/tmuxpack/third.lvl");
    EXPECT_EQ(level.substr(20 * 82, 82), "1 i      j 9" + std::string(65, ' ') + "9 1\r\n");
    EXPECT_EQ(level.size(), 22u * 82 + 3);
    EXPECT_EQ(readFile("levels/custom levels/tmuxpack/tmuxpack.txt"), "first\r\nsecond\r\nthird\r\n*tester\r\n");

    TmuxGame game;
    game.start(folder);
    ASSERT_TRUE(game.waitFor("Custom Levels")) << game.screen();
    game.keys("Down Enter");
    ASSERT_TRUE(game.waitFor("Pack name")) << game.screen();
    game.keys("tmuxpack Enter");
    for (int room = 1; room <= 3; ++room) {
        ASSERT_TRUE(game.waitFor("Goods: 0/1")) << game.screen();
        game.keys("Right");
        ASSERT_TRUE(game.waitFor("Goods: 1/1")) << game.screen();
    }
    ASSERT_TRUE(game.waitFor("Level Pack made by", 8000)) << game.screen();
    EXPECT_NE(game.screen().find("tester"), std::string::npos);
}

// Under nohup no hang-up signal comes: the terminal just goes away.
TEST_F(EditorTerminal, ATerminalThatGoesAwaySavesTheUnsavedRoom) {
    TmuxGame editor("sh -c " + shellQuoted("trap '' HUP; exec " + std::string(QUORVEX_EDIT_BINARY) + " room.lvl"));
    editor.start(folder, "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(editor.waitFor("F1 help")) << editor.screen();
    editor.keys("6");
    ASSERT_TRUE(editor.waitFor("*room.lvl")) << editor.screen();
    editor.tmux("kill-server");
    auto rescued = [&] {
        std::string name = rescueName(folder, "room.lvl");
        return name.empty() ? "" : readFile(name);
    };
    for (int waited = 0; waited < 5000 && rescued().size() < 22u * 82 + 3; waited += 50) TmuxGame::nap();
    EXPECT_EQ(rescued().substr(82, 82), "16" + std::string(77, ' ') + "1\r\n");
}

// Two editors on one pack take turns at add, rename, move and the author
// text, and a hand edit comes between: every change is kept. A change made
// on disk while a prompt is open is merged; one that collides is asked
// about, and mine can be kept as a copy.
TEST_F(EditorTerminal, TwoEditorsOnOnePackAndAHandEditLoseNothing) {
    std::filesystem::create_directories(folder / "b");
    TmuxGame a(std::string(QUORVEX_EDIT_BINARY) + " pk"), b(std::string(QUORVEX_EDIT_BINARY) + " ../pk");
    a.start(folder, "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(a.waitFor("Pack pk")) << a.screen();
    b.start(folder / "b", "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(b.waitFor("Pack pk")) << b.screen();
    auto turn = [](TmuxGame& editor, const std::string& keys, const std::string& said) {
        editor.keys(keys);
        return editor.waitFor(said);
    };
    ASSERT_TRUE(turn(a, "a one Enter 1", "Added one")) << a.screen();
    ASSERT_TRUE(turn(b, "a two Enter 1", "Added two")) << b.screen();
    ASSERT_TRUE(turn(a, "e me Enter", "*me")) << a.screen();
    ASSERT_TRUE(turn(b, "r C-u deux Enter", "Renamed two to deux")) << b.screen();
    ASSERT_TRUE(turn(a, "+", "2   one")) << a.screen();
    EXPECT_EQ(readFile("pk/pk.txt"), "deux\r\none\r\n*me\r\n");
    writeFile("pk/pk.txt", "deux\r\nhand\r\none\r\n*me\r\n");  // by hand, while both screens are open
    ASSERT_TRUE(turn(a, "+", "3   one")) << a.screen();
    EXPECT_EQ(readFile("pk/pk.txt"), "deux\r\nhand\r\none\r\n*me\r\n");  // at the end already: nothing moved
    ASSERT_TRUE(turn(b, "Home + ", "1   hand")) << b.screen();
    EXPECT_EQ(readFile("pk/pk.txt"), "hand\r\ndeux\r\none\r\n*me\r\n");
    EXPECT_EQ(readFile("pk/pk.txt~"), "deux\r\nhand\r\none\r\n*me\r\n");  // the version B replaced

    // While A's prompt is open, B adds a room: merged. Then both change the end line: asked.
    ASSERT_TRUE(turn(a, "e", "Author text:")) << a.screen();
    ASSERT_TRUE(turn(b, "a three Enter 1", "Added three")) << b.screen();
    ASSERT_TRUE(turn(a, "C-u you Enter", "that change is kept too")) << a.screen();
    EXPECT_EQ(readFile("pk/pk.txt"), "hand\r\ndeux\r\nthree\r\none\r\n*you\r\n");
    ASSERT_TRUE(turn(a, "e", "Author text:")) << a.screen();
    ASSERT_TRUE(turn(b, "e C-u bee Enter", "*bee")) << b.screen();
    ASSERT_TRUE(turn(a, "C-u ay Enter", "T take theirs, K keep mine, C save mine as a copy")) << a.screen();
    EXPECT_NE(a.screen().find("end line *bee"), std::string::npos) << a.screen();
    ASSERT_TRUE(turn(a, "c", "pk-mine.txt")) << a.screen();
    EXPECT_EQ(readFile("pk/pk.txt"), "hand\r\ndeux\r\nthree\r\none\r\n*bee\r\n");
    EXPECT_EQ(readFile("pk/pk-mine.txt"), "hand\r\ndeux\r\nthree\r\none\r\n*ay\r\n");
    EXPECT_TRUE(a.waitFor("*bee")) << a.screen();
}

// Two editors on one room, each saves: the second is asked, keeps its room
// as a copy, then takes the first one's and saves over it with nothing lost.
TEST_F(EditorTerminal, TwoEditorsSavingOneRoomAreAskedFirst) {
    std::filesystem::create_directories(folder / "b");
    TmuxGame a(std::string(QUORVEX_EDIT_BINARY) + " room.lvl"), b(std::string(QUORVEX_EDIT_BINARY) + " ../room.lvl");
    a.start(folder, "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    b.start(folder / "b", "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(a.waitFor("F1 help") && b.waitFor("F1 help")) << a.screen() << b.screen();
    a.keys("5 C-s");
    ASSERT_TRUE(a.waitFor("Saved room.lvl")) << a.screen();
    std::string first = readFile("room.lvl");
    b.keys("Down 6 C-s");
    ASSERT_TRUE(b.waitFor("changed on disk. T take theirs, K keep mine, C save mine as a copy")) << b.screen();
    b.keys("c");
    ASSERT_TRUE(b.waitFor("room-mine.lvl")) << b.screen();
    EXPECT_EQ(readFile("room.lvl"), first);
    EXPECT_EQ(readFile("room-mine.lvl").substr(2 * 82, 3), "16 ");
    b.keys("C-s");
    ASSERT_TRUE(b.waitFor("T take theirs")) << b.screen();
    b.keys("t");
    ASSERT_TRUE(b.waitFor("as changed on disk")) << b.screen();
    b.keys("7 C-s");
    ASSERT_TRUE(b.waitFor("Saved room.lvl")) << b.screen();
    std::string both = readFile("room.lvl");
    EXPECT_EQ(both.substr(82, 3), "15 ");     // the first editor's change
    EXPECT_EQ(both.substr(164, 3), "1 7");    // and the second's since it took that
    EXPECT_EQ(readFile("room.lvl~"), first);  // the version this editor replaced
}

}  // namespace

// A room whose check takes seconds (two guards make millions of states):
// the verdict row says it is checking until the verdict is the end's, F8
// says that it waits for the check, and F9 checks again with four times the
// time and memory, which the row says while it runs.
TEST_F(EditorTerminal, WhileTheCheckRunsTheRowsSaySo) {
    std::map<int, std::string> rows = {{2, std::string(30, ' ') + "7" + std::string(39, ' ') + "191"}, {4, " 8"}};
    for (int y : {7, 13, 19}) rows[y] = std::string(70, ' ');
    rows[20] = "i";
    writeFile("guards.lvl", boxRoom(rows));
    TmuxGame editor(std::string(QUORVEX_EDIT_BINARY) + " guards.lvl");
    editor.start(folder, "XDG_STATE_HOME=" + shellQuoted((folder / "state").string()));
    ASSERT_TRUE(editor.waitFor("checking...")) << editor.screen();
    editor.keys("F8");
    EXPECT_TRUE(editor.waitFor("F8 waits for the check to end (any key stops it).")) << editor.screen();
    ASSERT_TRUE(editor.waitFor("no solution for this room", 30000)) << editor.screen();
    EXPECT_NE(editor.screen().find("ERROR: exit not reachable"), std::string::npos) << editor.screen();
    editor.keys("F9");
    EXPECT_TRUE(editor.waitFor("checking with 4 x time and memory...")) << editor.screen();
    EXPECT_TRUE(editor.waitFor("ERROR: exit not reachable", 30000)) << editor.screen();
    editor.keys("C-q");
    EXPECT_EQ(editor.waitExit(), 0);
}
