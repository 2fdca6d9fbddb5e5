#include "harness.h"
#include "levels/world.h"
#include "shell/flow.h"
#include "system/sound.h"

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

std::string gameState() {
    return std::to_string(game.levelNumber) + " " + std::to_string(game.totalGoods) + " " + std::to_string(game.score);
}

struct MenuRun : GameRun {
    // A fresh program run, the cue files present, keys 10 ms apart (arrows as 0x100 + scan code).
    int runKeys(std::initializer_list<int> keys) {
        startMemoryConsole();
        clearSoundLog();
        installCueFiles();
        uint64_t t = 10;
        for (int k : keys) scriptKey(t += 10, {static_cast<uint8_t>(k), k >= 0x100});
        return runGame();
    }
    std::string row(int r, size_t from, size_t count) { return screenRow(r).substr(from - 1, count); }
};

}  // namespace

// The picture and its items: the small-window and terminal-matrix tests.
TEST_F(MenuRun, SoundItemSwitchesInPlace) {
    EXPECT_EQ(runKeys({}), -1);
    EXPECT_EQ(soundLog(), std::vector<std::string>{"loop Sound/intro.wav"});
    EXPECT_EQ((runKeys({down, down, enter}), row(13, 34, 12)), "Sound [OFF]\xB0");
    EXPECT_FALSE(run.soundOn);
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"loop Sound/intro.wav", "stop"}));
    EXPECT_EQ((runKeys({down, down, enter, enter, up}), row(13, 34, 10)), "Sound [ON]");
    for (int x = 44; x <= 50; ++x) EXPECT_EQ(shown(x, 13), x < 49 ? "b0/08" : "b0/07") << x;  // bricks after it again
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"loop Sound/intro.wav", "stop", "loop Sound/intro.wav"}));
}

TEST_F(MenuRun, MarkerMovesWithinItsLimitsAndQuitOrEscEnd) {
    EXPECT_EQ((runKeys({down, down, down, down, down}), markerRow()), 14);
    EXPECT_EQ((runKeys({down, up, up, up}), markerRow()), 11);  // nothing above New Game without a save
    EXPECT_EQ(shown(32, 12) + row(12, 34, 13), "b0/08Custom Levels");
    EXPECT_EQ((runKeys({'P', 'P', 'p', 'H', 'h'}), markerRow()), 12);  // arrow letters act, lower case not
    EXPECT_EQ(runKeys({down, down, down, enter}), 0);                  // Enter at 50, then the cue's 200 ms
    EXPECT_EQ(soundLog().back(), "once Sound/spike.wav");
    EXPECT_GE(virtualNow(), 250u);
    EXPECT_EQ(runKeys({down, esc}), 0);
    EXPECT_LT(virtualNow(), 40u);
    writeFile("checkpoint.sav", "18\r\n-15\r\n0\r\n");
    EXPECT_EQ((runKeys({up, down, up, up}), markerRow()), 10);
}

// A save quit early in the series no longer hides a later checkpoint: the
// file written last wins, and the item names it.
TEST_F(MenuRun, ContinueResumesFromTheFileWrittenLast) {
    writeFile("save.sav", "48\r\n885\r\n40\r\n");   // quit in room 7
    writeFile("checkpoint.sav", "63\n1485\n-3\n");  // then room 10 reached
    auto quitAt = std::filesystem::last_write_time(folder / "save.sav");
    std::filesystem::last_write_time(folder / "checkpoint.sav", quitAt + std::chrono::seconds(5));
    EXPECT_EQ((runKeys({}), row(10, 32, 23)), std::string("\x10\xB0") + "Continue (Checkpoint)");
    EXPECT_EQ((runKeys({enter}), gameState()), "10 20 -3");
    EXPECT_EQ(soundLog().back(), "once Sound/begin.wav");
    std::filesystem::last_write_time(folder / "save.sav", quitAt + std::chrono::seconds(9));
    EXPECT_EQ((runKeys({}), row(10, 34, 15)), "Continue (Save)");
    EXPECT_EQ((runKeys({enter}), gameState()), "7 12 40");
    std::filesystem::last_write_time(folder / "checkpoint.sav", quitAt + std::chrono::seconds(9));
    EXPECT_EQ((runKeys({enter}), gameState()), "7 12 40");  // written at the same moment: the save
    game.score = 99;
    EXPECT_EQ((runKeys({down, enter}), gameState()), "1 0 0");  // New Game starts afresh
    std::filesystem::remove(folder / "save.sav");
    EXPECT_EQ((runKeys({enter}), gameState()), "10 20 -3");
    std::filesystem::remove(folder / "checkpoint.sav");
    EXPECT_EQ((runKeys({}), shown(34, 10)), "b0/08");
}

// In a UTF-8 locale é typed (the key decoder's 0x82) finds the folder café
// that the editor makes from the same typed name; elsewhere it stays a byte.
TEST_F(MenuRun, APackNameTypedWithAnAccentFindsItsFolder) {
    const char* before = std::getenv("LC_ALL");
    std::string saved = before ? before : "";
    writeFile("levels/custom levels/caf\xC3\xA9/caf\xC3\xA9.txt", "*\r\nsomeone\r\n");
    for (const char* locale : {"C.UTF-8", "C"}) {
        setenv("LC_ALL", locale, 1);
        run.playingCustomPack = false;
        runKeys({down, enter, 'c', 'a', 'f', 0x82, enter, esc});
        EXPECT_EQ(run.playingCustomPack, locale[1] == '.') << locale;
    }
    before ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
    EXPECT_EQ(run.packName, "caf\x82");
}

TEST_F(MenuRun, PackPromptAsksAgainUntilEscAndStartsAFoundPack) {
    writeFile("levels/custom levels/demo/demo.txt", "*\r\nsomeone\r\n");  // a wildcard would find it
    runKeys({down, enter, 'n', 'o', enter});
    EXPECT_EQ(screenRow(1) + "|" + screenRow(2) + "|" + screenRow(3),
              "Type in the Pack name:|no|File not found. ESC to Menu.");
    // "*", then an arrow whose letter starts the next line.
    runKeys({down, enter, '*', enter, down, 'a', 'c', 'k', enter});
    EXPECT_EQ(screenRow(2) + "|" + screenRow(3), "Pack|File not found. ESC to Menu.");
    runKeys({down, enter, 'z', enter, esc});
    EXPECT_EQ(row(7, 35, 11) + " " + std::to_string(markerRow()), "The Quorvex 11");
    game = {7, 0, 0, 4, 33};
    runKeys({down, enter, 'd', 'e', 'm', 'o', enter});  // room 1, goods and score kept
    EXPECT_EQ(std::to_string(run.playingCustomPack) + " " + run.packName + " " + gameState(), "1 demo 1 4 33");
}
