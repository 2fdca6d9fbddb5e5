#include "endings/endings.h"

#include "harness.h"
#include "levels/world.h"
#include "shell/flow.h"
#include "system/files.h"
#include "system/sound.h"

namespace {

// How a screen ended: "menu", "status 0" (the program ends), or "waiting" for
// a key the script no longer had.
std::string ending(FinaleEnd (*screen)()) {
    try {
        return screen() == FinaleEnd::Menu ? "menu" : "status 0";
    } catch (const ScriptEnded&) {
    }
    return "waiting";
}
std::string ending(void (*screen)()) {
    try {
        screen();
        return "menu";
    } catch (const ScriptEnded&) {
    }
    return "waiting";
}

const char* const lines[] = {"Oh my God! This is insane!", "I can't belive in what I'm seeing!", "It' unbelivable!",
                             "Oh no. It looks like this place is about to colapse.",
                             "But look at all those sniny things!"};

struct Endings : GameRun {
    // A fresh run, the first dialogue lines answered at 10 s, 20 s ... (the last wait starts at 95350).
    void restart(int answered) {
        startMemoryConsole();
        clearSoundLog();
        installCueFiles();
        run = {true, false, "", folder.string() + "/"};
        for (int i = 1; i <= answered; ++i) key(i * 10000, 13);
    }
    // How the finale ended, when, and what row 24 of the view showed then.
    std::string finale() {
        std::string end = ending(playFinalSequence);
        return end + " at " + std::to_string(virtualNow()) + "|" + screenRow(24);
    }
    bool bothSaves() { return exists("save.sav") && exists("checkpoint.sav"); }
};

}  // namespace

TEST_F(Endings, DialogueLinesWaitForAKeyAndKeysDuringTheWalksAreDropped) {
    for (int answered = 1; answered <= 3; ++answered) {
        restart(answered);
        ending(playFinalSequence);
        EXPECT_EQ(screenRow(24), at(10, lines[answered]));
    }
    restart(0);
    key(1200, 'a');  // dropped: it neither shortens the walk nor answers the line
    EXPECT_EQ(finale(), "waiting at 1562|" + at(10, lines[0]));
    restart(2);
    arrow(30000, scan::down);  // its two bytes answer lines 3 and 4
    EXPECT_EQ(finale(), "waiting at 31302|" + at(10, lines[4]));
}

TEST_F(Endings, CompleteFinaleScrollsToTheScoreAndDeletesBothSaves) {
    for (const char* name : {"save.sav", "checkpoint.sav"}) writeFile(name, "x");
    restart(6);
    game.score = -128;  // centred under its heading whatever its length
    EXPECT_EQ(finale(), "waiting at 95351|");
    EXPECT_EQ(std::to_string(viewTop()) + "|" + screenRow(12) + "|" + screenRow(14) + "|" + screenRow(15),
              "61|" + at(37, "THE END|") + at(34, "Final Score:|") + at(38, "-128"));
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"once Sound/eq.wav", "loop Sound/eq_loop.wav",
                                                    "direct Sound\\eq_end", "loop Sound/credits.wav"}));
    EXPECT_EQ(bufferRow(41) + "|" + bufferRow(42), at(35, "Music by:|") + at(31, "The Quorvex developers"));
    EXPECT_TRUE(bothSaves());
    restart(6);
    key(100000, 'x');
    EXPECT_EQ(ending(playFinalSequence), "menu");
    EXPECT_FALSE(exists("save.sav") || exists("checkpoint.sav"));
    restart(6);
    run.soundOn = false;  // again with nothing to delete, and the sound off
    key(100000, 13);
    EXPECT_EQ(ending(playFinalSequence), "menu");
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"direct Sound\\eq_end"}));
}

TEST_F(Endings, EscEndsAndEnterInTheScrollReturnsKeepingSaves) {
    for (const char* name : {"save.sav", "checkpoint.sav"}) writeFile(name, "x");
    const uint64_t cases[][4] = {
        {27, 1200, 1200, 1271},     // walk (and falling block: the same check)
        {27, 5000, 5000, 5001},     // dialogue line
        {27, 64000, 67050, 67051},  // first dark pause: seen only after it
        {27, 80000, 80000, 80300},  // scroll
        {13, 80000, 80000, 80300},  // Enter in the scroll: the menu
    };
    for (auto [code, pressedAt, earliest, latest] : cases) {
        restart(6);
        key(pressedAt, uint8_t(code));
        EXPECT_EQ(ending(playFinalSequence), code == 27 ? "status 0" : "menu");
        EXPECT_TRUE(virtualNow() >= earliest && virtualNow() <= latest) << pressedAt << ": " << virtualNow();
        EXPECT_TRUE(bothSaves());
    }
    EXPECT_LT(viewTop() + 24, 72);  // after Enter "THE END" never came into view
}

TEST_F(Endings, GameOverShowsTheScoreAndDeletesOnlyTheSave) {
    writeFile("checkpoint.sav", "x");
    for (auto [score, column] : {std::pair{0, 41}, {-12345, 38}}) {
        restart(0);
        if (score != 0) writeFile("save.sav", "x");  // the first without one: nothing to delete, nothing reported
        game.score = score;
        key(1000, 13);
        EXPECT_EQ(ending(showGameOver), "menu");
        EXPECT_EQ(screenRow(12) + "|" + screenRow(13), at(35, "Total Score:|") + at(column, std::to_string(score)));
        EXPECT_TRUE(!exists("save.sav") && exists("checkpoint.sav"));
        EXPECT_EQ(soundLog(), std::vector<std::string>{"once Sound/death.wav"});
    }
    restart(0);
    std::filesystem::create_directory(folder / "save.sav");  // cannot be deleted: a failure, not silence
    key(1000, 13);
    EXPECT_THROW(showGameOver(), FileFailure);
}
