// The room editor on the in-memory console: scripted keys, the files it
// writes compared byte for byte.
#include <algorithm>

#include "editrun.h"

namespace {

using Editor = EditorRun;

TEST_F(Editor, PaintsLinesAndBoxesAndSavesTheGamesFormatKeepingThePreviousVersion) {
    // "1j" at (2,3); spikes from (2,6) to (5,6), lava at (6,6); a box of lava (10,9)-(12,10).
    press(scan::down);
    text(0, "1j");
    press(scan::down, 3);
    press(scan::home);
    press(scan::right);
    text(0, "3");  // the brush; the cursor steps to (3,6)
    press(scan::left);
    text(0, block);
    press(scan::right, 4);
    text(0, line + "2");
    press(scan::left);  // back onto the lava; the box from (10,9)
    moveTo(6, 5);
    text(0, block);
    moveTo(4, 3);
    text(0, box + save + quit);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[2].replace(1, 2, "1j");
    rows[5].replace(1, 5, "33332");
    rows[8].replace(9, 3, "222");
    rows[9].replace(9, 3, "222");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "1"));
    EXPECT_EQ(readFile("room.lvl~"), fileOf(freshRows()));
}

TEST_F(Editor, UndoAndRedoStepThroughEveryChange) {
    // The cursor stays where the undone keys left it: k at (5,2); the last redo finds nothing.
    text(0, "111" + undo + undo + redo + "k" + undo + undo + redo + redo + redo + save + quit);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 4, "11 k");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "1"));
}

TEST_F(Editor, TheGoodsLineFollowsTheMapUntilTheAuthorSetsIt) {
    text(0, "jkl" + save + goodsKey + "5\rj" + save + goodsKey + "\r" + save + "kk");  // empty: follow the map
    press(scan::del);                 // not on a goods cell: no change in count
    text(0, backspace + quit + "d");  // erases the second k; leaves, discarding
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 4, "jklj");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "4"));
    EXPECT_EQ(readFile("room.lvl~"), fileOf(rows, "5"));
}

TEST_F(Editor, AMessageOverSixtySixCharactersIsMarked) {
    std::string message = std::string(66, 'a') + "bcde";
    auto typeMessage = [&](const std::string& after) {
        startMemoryConsole();
        text(0, "m");
        press(scan::left);
        text(0, "\r" + message + after);
        return edit("room.lvl");
    };
    ASSERT_EQ(typeMessage(""), -1);                // still in the line editor
    EXPECT_EQ(bufferCell(80, 24).character, 'a');  // the 66th character, last on row 24, marked
    EXPECT_EQ(background(80, 24), 6);
    EXPECT_EQ(background(79, 24), 7);
    EXPECT_EQ(bufferCell(1, 25).character, 'b');  // over the goods label, in red
    EXPECT_EQ(bufferCell(1, 25).attribute & 0x0F, 4);

    ASSERT_EQ(typeMessage("\r"), -1);
    EXPECT_TRUE(has(screenRow(25), "has 70 characters"));

    EXPECT_EQ(typeMessage("\r" + save + quit), 0);
    std::vector<std::string> rows = freshRows();
    rows[1][1] = 'm';
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "0", {message}));
}

TEST_F(Editor, APlayTestReachesTheExitAndComesBackToTheRoomAsItWas) {
    std::vector<std::string> rows = freshRows();
    rows[20][10] = 'j';
    rows[20][30] = 'm';
    writeFile("room.lvl", fileOf(rows, "1", {"hello"}));
    press(f5);
    press(scan::right, 1, 100);
    ASSERT_EQ(edit("room.lvl"), -1);
    // Right is read in the third tick (at 150 ms); 75 steps from column 3 to the exit.
    EXPECT_TRUE(has(screenRow(25), "exit reached in 77 ticks"));
    EXPECT_EQ(bufferCell(11, 21).character, 0x04);  // the goods are back
    EXPECT_EQ(room.roomMessages[0], "hello");
    const std::vector<std::string>& sounds = soundLog();
    for (const char* cue : {"once Sound/key.wav", "once Sound/next.wav"})
        EXPECT_NE(std::find(sounds.begin(), sounds.end(), cue), sounds.end()) << cue;
    EXPECT_EQ(screenRow(24).find('*'), std::string::npos);  // unmodified

    // Esc leaves a play-test early, from the cursor this time.
    startMemoryConsole();
    press(f6);
    key(300, 27);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(25), "Play-test left after"));
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "1", {"hello"}));
}

TEST_F(Editor, ThePackScreenAddsReordersAndRemovesRoomsInTheIndex) {
    text(0, "aalpha\rabeta\ragamma\r-");  // gamma before beta
    press(scan::home);
    text(0, "+eme and you\r");  // alpha after gamma
    press(scan::end);
    text(0, "dyq");  // beta out of the index
    ASSERT_EQ(edit("levels/custom levels/demo"), 0);
    EXPECT_EQ(readFile("levels/custom levels/demo/demo.txt"), "gamma\r\nalpha\r\n*me and you\r\n");
    for (const char* name : {"alpha", "beta", "gamma"})
        EXPECT_EQ(readFile(std::string("levels/custom levels/demo/") + name + ".lvl"), fileOf(freshRows()));
}

TEST_F(Editor, WhatTheGameNeverDrawsIsMarked) {
    std::vector<std::string> rows = freshRows();
    rows[4].replace(4, 9, "7 8 n 3 0");  // enemies, message 2, invisible spikes, a character that writes nothing
    rows[5][40] = 'z';                   // a code without a meaning
    rows[6] = "1111";                    // a short row
    writeFile("room.lvl", fileOf(rows, "0", {"", "hi"}));
    text(0, patrols);
    ASSERT_EQ(edit("room.lvl"), -1);
    // clang-format off
    const struct { int x, y; uint8_t glyph, background; } marks[] = {
        {3, 21, 0x02, 1}, {5, 5, 0x12, 1}, {7, 5, 0x1D, 1}, {9, 5, '2', 1}, {11, 5, 0x1E, 1}, {13, 5, 0xFA, 1},
        {41, 6, '?', 1}, {4, 7, 0xB2, 0}, {5, 7, 0xFA, 1}, {80, 7, 0xFA, 1},
        {5, 4, 0xFA, 0}, {8, 5, 0xFA, 0},  // the patrols: up from (5,5), right from (7,5) until the message cell
    };
    // clang-format on
    for (const auto& mark : marks) {
        SCOPED_TRACE(std::to_string(mark.x) + "," + std::to_string(mark.y));
        EXPECT_EQ(bufferCell(mark.x, mark.y).character, mark.glyph);
        EXPECT_EQ(background(mark.x, mark.y), mark.background);
    }
}

TEST_F(Editor, TheCheckerWalksThroughItsFindingsAndPlaysItsSolution) {
    std::vector<std::string> rows = freshRows();
    rows[20][10] = 'j';
    rows[1].replace(30, 3, "1k1");  // goods shut in under the ceiling
    rows[2].replace(30, 3, "111");
    writeFile("room.lvl", fileOf(rows, "2"));
    press(f7);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(bottomRows(), "1/3 note: finishable in 75 ticks"));

    startMemoryConsole();
    press(f7);
    press(f7, 1, 1000);  // a key that comes while the check runs would stop it
    press(f7, 1, 1100);  // past the success note
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(25), "cannot be reached"));
    EXPECT_EQ(screenRow(23).substr(0, 4), "32,2");

    startMemoryConsole();
    clearSoundLog();
    press(f8);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(25), "solution: exit reached in 75 ticks"));
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"once Sound/key.wav", "once Sound/next.wav"}));
}

}  // namespace
