// The editor in a real terminal: a pack made from nothing, a room painted,
// saved and play-tested, then played by the game through Custom Levels; and
// the rescue copy when the terminal goes away.
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

}  // namespace
