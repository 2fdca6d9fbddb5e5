#include "endings/endings.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include "levels/world.h"
#include "shell/files.h"
#include "shell/flow.h"
#include "shell/sound.h"
#include "tmux.h"

namespace {

enum class End { Menu, Quit, Stalled };

struct Outcome {
    End end;
    int status;
    uint64_t atMs;
};

template <typename Screen>
Outcome runScreen(Screen screen) {
    try {
        screen();
    } catch (const MenuReturn&) {
        return {End::Menu, 0, virtualNow()};
    } catch (const ProgramEnd& e) {
        return {End::Quit, e.status, virtualNow()};
    } catch (const ScriptEnded&) {
        return {End::Stalled, 0, virtualNow()};
    }
    return {End::Stalled, -99, virtualNow()};
}

std::string at(int column, const std::string& text) { return std::string(column - 1, ' ') + text; }

const char* const lines[] = {"Oh my God! This is insane!",
                             "I can't belive in what I'm seeing!",
                             "It' unbelivable!",
                             "Oh no. It looks like this place is about to colapse.",
                             "But look at all those sniny things!",
                             "I can't go back! I can't leave all this things!"};

}  // namespace

class Endings : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        run.baseDirectory = folder.string() + "/";
        run.soundOn = true;
        game.levelNumber = 22;
    }
    // A fresh console and sound log for each run within one test.
    void restart() {
        startMemoryConsole();
        clearSoundLog();
    }
    void writeSaves() {
        writeFile("save.sav", "123\r\n-15\r\n7\r\n");
        writeFile("checkpoint.sav", "113\r\n-15\r\n0\r\n");
    }
    // Lines 1-3 appear at 1560, 10480, 22000; line 4 at 31300, then 5 and 6 at
    // once after each answer. The fall ends at 62050, the credits are written
    // at 72050, the scroll ends at 90350, the final key wait starts at 95350.
    void answerAllLines() {
        for (int i = 1; i <= 6; ++i) key(i * 10000, ' ');
    }
    Outcome finale() { return runScreen(playFinalSequence); }
    Outcome gameOver() { return runScreen(showGameOver); }
};

TEST_F(Endings, FinaleTimingWithoutExtraKeys) {
    const uint64_t shownAt[] = {1560, 10480, 22000, 31300};
    for (int answered = 0; answered <= 3; ++answered) {
        SCOPED_TRACE(answered);
        restart();
        for (int i = 1; i <= answered; ++i) key(i * 10000, 13);
        Outcome o = finale();
        EXPECT_EQ(o.end, End::Stalled);
        EXPECT_EQ(o.atMs, shownAt[answered] + 1);  // readKey's own 1 ms sleep
        EXPECT_EQ(screenRow(24), at(10, lines[answered]));
        EXPECT_EQ(viewCell(10, 24).attribute, 0x70);
    }
    // The player stands at the end of the walk, brown, with a blank behind.
    EXPECT_EQ(bufferCell(39, 18).character, 0x02);
    EXPECT_EQ(bufferCell(39, 18).attribute, 0x06);
    EXPECT_EQ(bufferCell(38, 18).character, 0x20);

    // A letter during the first walk is dropped; one typed during the last
    // step's pause answers line 1 at once.
    restart();
    key(1200, 'a');
    Outcome o = finale();
    EXPECT_EQ(o.atMs, 1562u);  // one more readKey sleep for the dropped key
    EXPECT_EQ(screenRow(24), at(10, lines[0]));
    restart();
    key(1555, 'a');
    o = finale();
    EXPECT_EQ(o.atMs, 1561u + 480 + 1);
    EXPECT_EQ(screenRow(24), at(10, lines[1]));

    // An arrow at line 3 answers lines 3 and 4.
    restart();
    key(10000, 13);
    key(20000, 13);
    arrow(30000, scan::down);
    o = finale();
    EXPECT_EQ(o.atMs, 31302u);
    EXPECT_EQ(screenRow(24), at(10, lines[4]));
}

TEST_F(Endings, FinaleCompleteRunScrollsCreditsAndDeletesSaves) {
    installCueFiles();
    writeSaves();

    // The credits start to rise one step after they are written.
    answerAllLines();
    setStopTime(72351);
    finale();
    EXPECT_EQ(viewTop(), 2);
    EXPECT_EQ(screenRow(25), at(37, "Credits"));

    // At the final key wait the view shows rows 61 to 85.
    for (auto [score, column] : {std::pair{0, 40}, {127, 39}, {-128, 38}, {1234, 38}}) {
        SCOPED_TRACE(score);
        restart();
        game.score = score;
        answerAllLines();
        Outcome o = finale();
        EXPECT_EQ(o.end, End::Stalled);
        EXPECT_EQ(o.atMs, 95351u);
        EXPECT_EQ(viewTop(), 61);
        EXPECT_EQ(screenRow(12), at(37, "THE END"));
        EXPECT_EQ(screenRow(14), at(34, "Final Score:"));
        EXPECT_EQ(screenRow(15), at(column, std::to_string(score)));
        EXPECT_EQ(soundLog(), (std::vector<std::string>{"once Sound/eq.wav", "loop Sound/eq_loop.wav",
                                                        "direct Sound\\eq_end", "loop Sound/credits.wav"}));
    }
    EXPECT_EQ(bufferRow(31), bufferRow(38));
    EXPECT_TRUE(exists("save.sav") && exists("checkpoint.sav"));

    restart();
    answerAllLines();
    key(100000, 'x');
    Outcome o = finale();
    EXPECT_EQ(o.end, End::Menu);
    EXPECT_FALSE(exists("save.sav"));
    EXPECT_FALSE(exists("checkpoint.sav"));
    EXPECT_EQ(viewTop(), 1);
    EXPECT_EQ(screenRow(12), "");

    // Again with nothing to delete, and the sound off.
    restart();
    run.soundOn = false;
    answerAllLines();
    key(100000, 13);
    EXPECT_EQ(finale().end, End::Menu);
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"direct Sound\\eq_end"}));
}

TEST_F(Endings, FinaleEscEndsAndEnterInTheScrollReturnsKeepingSaves) {
    writeSaves();
    struct Case {
        uint64_t escAt, earliest, latest;
    };
    const Case cases[] = {
        {1200, 1200, 1271},     // first walk
        {5000, 5000, 5001},     // dialogue line 1
        {61700, 61700, 61750},  // falling block
        {64000, 67050, 67051},  // first dark pause: seen only after it
        {70000, 72050, 72051},  // second pause
        {80000, 80000, 80300},  // scroll
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escAt);
        restart();
        answerAllLines();
        key(c.escAt, 27);
        Outcome o = finale();
        EXPECT_EQ(o.end, End::Quit);
        EXPECT_EQ(o.status, 0);
        EXPECT_GE(o.atMs, c.earliest);
        EXPECT_LE(o.atMs, c.latest);
        EXPECT_TRUE(exists("save.sav") && exists("checkpoint.sav"));
    }

    restart();
    answerAllLines();
    key(80000, 13);
    Outcome o = finale();
    EXPECT_EQ(o.end, End::Menu);
    EXPECT_LE(o.atMs, 80300u);
    EXPECT_LT(viewTop() + 24, 72);  // "THE END" never came into view
    EXPECT_TRUE(exists("save.sav") && exists("checkpoint.sav"));
}

TEST_F(Endings, GameOverScoreColumnAndSaveFiles) {
    installCueFiles();
    for (auto [score, column] : {std::pair{0, 41}, {127, 40}, {-128, 39}, {12345, 39}, {-12345, 38}}) {
        SCOPED_TRACE(score);
        restart();
        writeSaves();
        game.score = score;
        key(1000, 13);
        EXPECT_EQ(gameOver().end, End::Menu);
        EXPECT_EQ(screenRow(10), at(36, "GAME OVER!"));
        EXPECT_EQ(viewCell(36, 10).attribute, 0x04);
        EXPECT_EQ(screenRow(12), at(35, "Total Score:"));
        EXPECT_EQ(screenRow(13), at(column, std::to_string(score)));
        EXPECT_FALSE(exists("save.sav"));
        EXPECT_TRUE(exists("checkpoint.sav"));
        EXPECT_EQ(soundLog(), std::vector<std::string>{"once Sound/death.wav"});
    }
    // No save file: the same screen, nothing reported.
    restart();
    key(1000, 13);
    EXPECT_EQ(gameOver().end, End::Menu);

    // A save that cannot be deleted is a file failure, not silence.
    restart();
    std::filesystem::create_directory(folder / "save.sav");
    key(1000, 13);
    EXPECT_THROW(showGameOver(), FileFailure);
}

TEST_F(Endings, GameOverLeavesOnlyOnEnter) {
    key(100, 27);
    arrow(200, scan::right);
    key(300, 'q');
    EXPECT_EQ(gameOver().end, End::Stalled);

    // Typed ahead: Enter is taken right after the pause.
    restart();
    text(0, "a\r");
    Outcome o = gameOver();
    EXPECT_EQ(o.end, End::Menu);
    EXPECT_LE(o.atMs, 752u);
}

TEST(EndingsTerminal, EscAtTheFirstLineOfTheFinaleKeepsTheSave) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "quorvex-finale-XXXXXX").string();
    fs::path folder = mkdtemp(pattern.data());
    fs::create_directories(folder / "levels");
    fs::copy_file(fs::path(QUORVEX_SOURCE_DIR) / "data/levels/22.lvl", folder / "levels/22.lvl");
    std::ofstream(folder / "save.sav", std::ios::binary) << "123\r\n-15\r\n0\r\n";
    {
        TmuxGame terminal;
        terminal.start(folder, "SDL_AUDIODRIVER=dummy");
        ASSERT_TRUE(terminal.waitFor("Continue (Save)"));
        terminal.keys("Enter");
        ASSERT_TRUE(terminal.waitFor(lines[0], 8000)) << terminal.screen();
        std::string screen = terminal.screen();
        size_t row24 = 0;
        for (int i = 0; i < 23; ++i) row24 = screen.find('\n', row24) + 1;
        EXPECT_EQ(screen.compare(row24, 9 + std::string(lines[0]).size(), at(10, lines[0])), 0) << screen;
        terminal.keys("Escape");
        EXPECT_EQ(terminal.waitExit(), 0);
    }
    EXPECT_TRUE(fs::exists(folder / "save.sav"));
    fs::remove_all(folder);
}
