#include "harness.h"
#include "levels/world.h"
#include "shell/flow.h"
#include "shell/sound.h"
#include "tmux.h"

namespace {

constexpr int enter = 13, esc = 27, up = 0x100 + scan::up, down = 0x100 + scan::down;

// "glyph/attribute" of a view cell, in hex.
std::string shown(int column, int row) {
    char text[8];
    snprintf(text, sizeof text, "%02x/%02x", viewCell(column, row).character, viewCell(column, row).attribute);
    return text;
}

// The row of the marker at column 32, 0 when there is not exactly one.
int markerRow() {
    int found = 0;
    for (int row = 1; row <= viewRows; ++row)
        if (viewCell(32, row).character == 0x10) found = found == 0 ? row : -1;
    return found < 0 ? 0 : found;
}

// The path on a missing-file screen, or "" when none is shown.
std::string missingFileShown() {
    for (int row = 1; row <= viewRows; ++row) {
        std::string text = trimRight(bufferRowText(viewTop() + row - 1));
        if (text.rfind("File missing: ", 0) == 0) return text.substr(14);
    }
    return "";
}

}  // namespace

class MenuRun : public GameRun {
protected:
    // A fresh program run with keys 10 ms apart from 10 ms on (arrows as
    // 0x100 + scan code), stopped at stopAt when not 0.
    int runKeys(std::initializer_list<int> keys, uint64_t stopAt = 0) {
        startMemoryConsole();
        setStopTime(stopAt);
        clearSoundLog();
        uint64_t t = 10;
        for (int k : keys) scriptKey(t += 10, {static_cast<uint8_t>(k), k >= 0x100});
        return runGame();
    }
    std::string row(int r, size_t from, size_t count) { return screenRow(r).substr(from - 1, count); }
};

TEST_F(MenuRun, DrawsTheBrickWallItemsAndMarker) {
    installCueFiles();
    EXPECT_EQ(runKeys({}), -1);
    EXPECT_EQ(viewTop(), 1);
    // Bricks (8), joints and mortar bands (7), text in 14 and 15.
    const struct {
        int x, y;
        const char* cell;
    } samples[] = {
        {1, 1, "b0/08"},   {18, 3, "b0/08"},  {19, 1, "b0/07"},  {20, 6, "b0/07"},  {21, 6, "b0/08"},
        {80, 1, "b0/07"},  {1, 7, "b0/07"},   {80, 8, "b0/07"},  {9, 9, "b0/07"},   {10, 14, "b0/07"},
        {19, 9, "b0/08"},  {50, 13, "b0/07"}, {51, 13, "b0/08"}, {40, 15, "b0/07"}, {80, 16, "b0/07"},
        {59, 17, "b0/07"}, {60, 23, "b0/07"}, {9, 20, "b0/08"},  {74, 24, "b0/07"}, {80, 25, "b0/07"},
        {34, 7, "b0/07"},  {35, 7, "54/0e"},  {34, 10, "b0/08"}, {34, 11, "4e/0e"}, {44, 13, "b0/08"},
        {1, 24, "43/0f"},  {32, 11, "10/0e"}, {33, 11, "b0/08"},
    };
    for (auto& s : samples) EXPECT_EQ(shown(s.x, s.y), s.cell) << s.x << "," << s.y;
    EXPECT_EQ(row(7, 35, 11), "The Quorvex");
    EXPECT_EQ(row(11, 34, 8), "New Game");
    EXPECT_EQ(row(12, 34, 13), "Custom Levels");
    EXPECT_EQ(row(13, 34, 11), "Sound [ON]\xB0");
    EXPECT_EQ(row(14, 34, 5), "Quit\xB0");
    EXPECT_EQ(screenRow(24).substr(0, 73), "Controls do not work properly in-game. To stop the character from walking");
    EXPECT_EQ(screenRow(25).substr(0, 30), "constantly, press UP or DOWN.\xB0");
    EXPECT_EQ(bufferRow(26), "");  // the fills wrap to row 26 but never write it
    EXPECT_EQ(soundLog(), std::vector<std::string>{"loop Sound/intro.wav"});
}

TEST_F(MenuRun, MarkerMovesWithinItsLimits) {
    EXPECT_EQ((runKeys({down, down, down, down, down}), markerRow()), 14);
    EXPECT_EQ((runKeys({down, up, up, up}), markerRow()), 11);  // nothing above New Game without a save
    EXPECT_EQ(shown(32, 12), "b0/08");
    EXPECT_EQ(row(12, 34, 13), "Custom Levels");
    EXPECT_EQ((runKeys({'P', 'P', 'p', 'p'}), markerRow()), 13);  // letters act like arrows, lower case not
    EXPECT_EQ((runKeys({'P', 'P', 'P', 'H', 'h', 'h'}), markerRow()), 13);

    writeFile("checkpoint.sav", "18\r\n-15\r\n0\r\n");
    EXPECT_EQ((runKeys({}), markerRow()), 10);
    EXPECT_EQ((runKeys({up, down, up, up}), markerRow()), 10);
    EXPECT_EQ((runKeys({down}), row(10, 32, 23)),
              "\xB0\xB0"
              "Continue (Checkpoint)");
}

TEST_F(MenuRun, EnterOnSoundSwitchesInPlace) {
    installCueFiles();
    runKeys({down, down, enter});
    EXPECT_EQ(row(13, 34, 12), "Sound [OFF]\xB0");
    EXPECT_FALSE(run.soundOn);
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"loop Sound/intro.wav", "stop"}));

    EXPECT_EQ(runKeys({down, down, enter, enter, up}), -1);
    EXPECT_TRUE(run.soundOn);
    EXPECT_EQ(row(13, 34, 10), "Sound [ON]");
    for (int x = 44; x <= 50; ++x) EXPECT_EQ(shown(x, 13), x < 49 ? "b0/08" : "b0/07") << x;
    EXPECT_EQ(markerRow(), 12);  // the menu stayed open
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"loop Sound/intro.wav", "stop", "loop Sound/intro.wav"}));
}

TEST_F(MenuRun, QuitPlaysTheSpikeCueAndEscEndsAtOnce) {
    installCueFiles();
    EXPECT_EQ(runKeys({down, down, down, enter}), 0);  // Enter at 50
    EXPECT_EQ(soundLog().back(), "once Sound/spike.wav");
    EXPECT_GE(virtualNow(), 250u);
    EXPECT_LT(virtualNow(), 260u);

    EXPECT_EQ(runKeys({down, esc}), 0);
    EXPECT_LT(virtualNow(), 40u);
    EXPECT_EQ(soundLog(), std::vector<std::string>{"loop Sound/intro.wav"});
}

TEST_F(MenuRun, ContinueReadsTheSaveBeforeTheCheckpoint) {
    installCueFiles();
    writeFile("save.sav", "48\r\n885\r\n40\r\n");
    writeFile("checkpoint.sav", "63\n1485\n-3\n");
    EXPECT_EQ((runKeys({}), row(10, 32, 17)),
              "\x10\xB0"
              "Continue (Save)");
    runKeys({enter});
    EXPECT_EQ(
        std::to_string(game.levelNumber) + " " + std::to_string(game.totalGoods) + " " + std::to_string(game.score),
        "7 12 40");
    EXPECT_EQ(missingFileShown(), (folder / "levels/7.lvl").string());
    EXPECT_EQ(soundLog().back(), "once Sound/begin.wav");
    EXPECT_TRUE(exists("save.sav"));

    std::filesystem::remove(folder / "save.sav");
    EXPECT_EQ((runKeys({}), row(10, 34, 21)), "Continue (Checkpoint)");
    runKeys({enter});
    EXPECT_EQ(std::to_string(game.levelNumber) + " " + std::to_string(game.score), "10 -3");
    EXPECT_EQ(missingFileShown(), (folder / "levels/10.lvl").string());

    std::filesystem::remove(folder / "checkpoint.sav");
    EXPECT_EQ((runKeys({}), shown(34, 10)), "b0/08");
}

TEST_F(MenuRun, ContinueClearsBeforeTheCueNewGameAfterIt) {
    installCueFiles();
    writeFile("save.sav", "48\r\n885\r\n40\r\n");
    EXPECT_EQ((runKeys({enter}, 150), screenRow(7)), "");  // in the 200 ms wait
    EXPECT_EQ((runKeys({down, enter}, 150), row(7, 35, 11)), "The Quorvex");
    EXPECT_EQ((runKeys({down, enter}, 400), screenRow(7)), "");  // in the 550 ms wait
    game.score = 99;
    runKeys({down, enter});
    EXPECT_EQ(
        std::to_string(game.levelNumber) + " " + std::to_string(game.totalGoods) + " " + std::to_string(game.score),
        "1 0 0");
    EXPECT_TRUE(exists("save.sav"));
}

TEST_F(MenuRun, UnreadableSaveEndsWithStatusTwo) {
    std::filesystem::create_directory(folder / "save.sav");
    EXPECT_EQ(runKeys({enter}), 2);
    EXPECT_NE(failureReport().find("save.sav"), std::string::npos);
}

TEST_F(MenuRun, PackPromptAsksAgainUntilEscBackToMenu) {
    writeFile("levels/custom levels/demo/demo.txt", "*\r\nsomeone\r\n");  // a wildcard would find it
    runKeys({down, enter, 'n', 'o', enter});
    EXPECT_EQ(screenRow(1) + "|" + screenRow(2) + "|" + screenRow(3),
              "Type in the Pack name:|no|File not found. ESC to Menu.");
    EXPECT_EQ(shown(1, 3), "46/0f");

    // "*", an empty name, then an arrow whose letter starts the next line.
    runKeys({down, enter, '*', enter, 'x', enter, down, 'a', 'c', 'k', enter});
    EXPECT_EQ(run.packName, "Pack");
    EXPECT_EQ(screenRow(2) + "|" + screenRow(3), "Pack|File not found. ESC to Menu.");

    runKeys({down, enter, 'z', enter, esc});
    EXPECT_EQ(row(7, 35, 11), "The Quorvex");
    EXPECT_EQ(markerRow(), 11);
}

TEST_F(MenuRun, FoundPackStartsAtRoomOneKeepingScore) {
    installCueFiles();
    writeFile("levels/custom levels/demo/demo.txt", "*\r\nsomeone\r\n");
    game = {7, 0, 0, 4, 33};
    runKeys({down, enter, 'd', 'e', 'm', 'o', enter}, 200);  // in the first wait, cleared
    EXPECT_EQ(screenRow(1), "");
    EXPECT_TRUE(run.playingCustomPack);
    EXPECT_EQ(soundLog().back(), "once Sound/begin.wav");
    runKeys({down, enter, 'd', 'e', 'm', 'o', enter});
    EXPECT_EQ(run.packName + " " + std::to_string(game.levelNumber) + " " + std::to_string(game.totalGoods) + " " +
                  std::to_string(game.score),
              "demo 1 4 33");
}

TEST(MenuTerminal, MarkerFollowsArrowsAndEscEnds) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-tmux-XXXXXX").string();
    std::filesystem::path folder = mkdtemp(pattern.data());
    {
        TmuxGame game;
        game.start(folder, "SDL_AUDIODRIVER=dummy");
        ASSERT_TRUE(game.waitFor("constantly, press UP or DOWN."));
        std::string screen = game.screen();
        EXPECT_NE(screen.find("The Quorvex"), std::string::npos);
        EXPECT_NE(screen.find("►░New Game"), std::string::npos) << screen;
        game.keys("Down");
        EXPECT_TRUE(game.waitFor("►░Custom Levels"));
        EXPECT_NE(game.screen().find("░░New Game"), std::string::npos);
        game.keys("Up");
        EXPECT_TRUE(game.waitFor("►░New Game"));
        game.keys("Escape");
        EXPECT_EQ(game.waitExit(), 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
