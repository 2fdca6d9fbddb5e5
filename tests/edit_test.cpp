// The room editor on the in-memory console: scripted keys, the files it
// writes compared byte for byte.
#include "edit/edit.h"

#include "harness.h"

namespace {

constexpr uint8_t f5 = 63, f7 = 65, ctrlB = 2, ctrlG = 7, ctrlQ = 17, ctrlR = 18, ctrlS = 19, ctrlY = 25, ctrlZ = 26;

// The fresh room: a wall border, the start at (3, 21), the exit at (78, 21).
std::vector<std::string> freshRows() {
    std::vector<std::string> rows(mapHeight, "1" + std::string(78, ' ') + "1");
    rows.front() = rows.back() = std::string(80, '1');
    rows[20][2] = 'i';
    rows[20][77] = '9';
    return rows;
}

std::string fileOf(const std::vector<std::string>& rows, const std::string& goods,
                   const std::vector<std::string>& messages = {}) {
    std::string text;
    for (const std::string& row : rows) text += row + "\r\n";
    text += goods + "\r\n";
    for (const std::string& message : messages) text += message + "\r\n";
    return text;
}

class Editor : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
    }
    // Keys typed one after the other at the given time.
    void type(uint64_t at, const std::string& bytes) { text(at, bytes); }
    void fkey(uint64_t at, uint8_t code) { arrow(at, code); }
    int edit(const std::string& path) {
        try {
            return runEditor(path);
        } catch (const ScriptEnded&) {
            return -1;
        }
    }
    uint8_t background(int x, int y) { return bufferCell(x, y).attribute >> 4; }
};

TEST_F(Editor, PaintsLinesAndBoxesAndSavesTheGamesFormatKeepingThePreviousVersion) {
    // From (2,2): "1j" at (2,3); a line of spikes from (2,6) to (5,6) and lava at (6,6); a box of lava (10,9)-(12,10).
    arrow(0, scan::down);
    type(0, "1j");
    for (int i = 0; i < 3; ++i) arrow(0, scan::down);
    arrow(0, scan::home);
    arrow(0, scan::right);  // (2,6)
    type(0, "3");           // the brush; the cursor steps to (3,6)
    arrow(0, scan::left);
    key(0, ctrlB);
    for (int i = 0; i < 4; ++i) arrow(0, scan::right);
    key(0, 12);  // ^L
    type(0, "2");
    arrow(0, scan::left);  // back onto the lava at (6,6); the box from (10,9)
    for (int i = 0; i < 4; ++i) arrow(0, scan::right);
    for (int i = 0; i < 3; ++i) arrow(0, scan::down);
    key(0, ctrlB);
    arrow(0, scan::right);
    arrow(0, scan::right);
    arrow(0, scan::down);
    key(0, ctrlR);
    key(0, ctrlS);
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), 0);

    std::vector<std::string> rows = freshRows();
    rows[2].replace(1, 2, "1j");
    rows[5].replace(1, 5, "33332");
    rows[8].replace(9, 3, "222");
    rows[9].replace(9, 3, "222");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "1"));
    EXPECT_EQ(readFile("room.lvl~"), fileOf(freshRows(), "0"));
}

TEST_F(Editor, UndoAndRedoStepThroughEveryChange) {
    type(0, "111");
    key(0, ctrlZ);
    key(0, ctrlZ);
    key(0, ctrlY);
    type(0, "k");  // at (3,2)... the cursor stays where the undone keys left it: (5,2)
    key(0, ctrlZ);
    key(0, ctrlZ);
    key(0, ctrlY);
    key(0, ctrlY);  // back to "11" and the goods item
    key(0, ctrlY);  // nothing more to redo
    key(0, ctrlS);
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 4, "11 k");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "1"));
}

TEST_F(Editor, TheGoodsLineFollowsTheMapUntilTheAuthorSetsIt) {
    type(0, "jkl");
    key(0, ctrlS);
    key(0, ctrlG);
    type(0, "5\r");
    type(0, "j");
    key(0, ctrlS);
    key(0, ctrlG);
    type(0, "\r");  // empty: follow the map again
    key(0, ctrlS);
    type(0, "kk");
    fkey(0, scan::del);  // not on a goods cell: no change in count
    type(0, "\x08");     // erases the second k
    key(0, ctrlQ);
    type(0, "d");  // leave, discarding the changes
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 4, "jklj");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "4"));
    EXPECT_EQ(readFile("room.lvl~"), fileOf(rows, "5"));
}

TEST_F(Editor, ShortRowsShowWhatTheyInheritAndAreSavedWithIt) {
    // In a pack the second room's short first row inherits the first room's cells.
    std::vector<std::string> first = freshRows();
    first[0] = std::string(40, '1') + std::string(40, '2');
    writeFile("pack/pack.txt", "first\r\nsecond\r\n*\r\n");
    writeFile("pack/first.lvl", fileOf(first, "0"));
    std::vector<std::string> second = freshRows();
    second[0] = "9";
    writeFile("pack/second.lvl", fileOf(second, "0"));

    arrow(0, scan::down);
    type(0, "\r");
    ASSERT_EQ(edit("pack"), -1);                  // the script ends inside the room
    EXPECT_EQ(bufferCell(1, 1).character, 0x0F);  // the exit, as the game draws it
    EXPECT_EQ(background(1, 1), 0);
    EXPECT_EQ(bufferCell(2, 1).character, 0xB2);  // an inherited wall, on the mark's blue
    EXPECT_EQ(background(2, 1), 1);
    EXPECT_EQ(bufferCell(41, 1).character, 0xB1);  // inherited lava
    EXPECT_EQ(background(41, 1), 1);

    startMemoryConsole();
    arrow(0, scan::down);
    type(0, "\r");
    key(0, ctrlS);
    key(0, ctrlQ);
    type(0, "q");
    ASSERT_EQ(edit("pack"), 0);
    second[0] = "9" + first[0].substr(1);
    EXPECT_EQ(readFile("pack/second.lvl"), fileOf(second, "0"));
}

TEST_F(Editor, AMessageOverSixtySixCharactersIsMarked) {
    std::string message = std::string(66, 'a') + "bcde";
    type(0, "m");
    arrow(0, scan::left);
    type(0, "\r" + message);
    ASSERT_EQ(edit("room.lvl"), -1);  // still in the line editor
    EXPECT_EQ(bufferCell(15, 24).character, 'a');
    EXPECT_EQ(bufferCell(80, 24).character, 'a');  // the 66th character, last on row 24, marked
    EXPECT_EQ(background(80, 24), 6);
    EXPECT_EQ(background(79, 24), 7);
    EXPECT_EQ(bufferCell(1, 25).character, 'b');  // over the goods label, in red
    EXPECT_EQ(bufferCell(1, 25).attribute & 0x0F, 4);

    startMemoryConsole();
    type(0, "m");
    arrow(0, scan::left);
    type(0, "\r" + message + "\r");
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(25).find("has 70 characters"), std::string::npos) << screenRow(25);

    startMemoryConsole();
    type(0, "m");
    arrow(0, scan::left);
    type(0, "\r" + message + "\r");
    key(0, ctrlS);
    key(0, ctrlQ);
    EXPECT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1][1] = 'm';
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "0", {message}));
}

TEST_F(Editor, APlayTestReachesTheExitAndComesBackToTheRoomAsItWas) {
    std::vector<std::string> rows = freshRows();
    rows[20].replace(10, 1, "j");
    rows[20].replace(30, 1, "m");
    writeFile("room.lvl", fileOf(rows, "1", {"hello"}));
    fkey(0, f5);
    arrow(100, scan::right);
    ASSERT_EQ(edit("room.lvl"), -1);
    // Right is read in the third tick (at 150 ms); 75 steps from column 3 to the exit.
    EXPECT_NE(screenRow(25).find("exit reached in 77 ticks"), std::string::npos) << screenRow(25);
    EXPECT_EQ(bufferCell(11, 21).character, 0x04);  // the goods are back
    EXPECT_EQ(room.roomMessages[0], "hello");
    const std::vector<std::string>& sounds = soundLog();
    EXPECT_NE(std::find(sounds.begin(), sounds.end(), "once Sound/key.wav"), sounds.end());
    EXPECT_NE(std::find(sounds.begin(), sounds.end(), "once Sound/next.wav"), sounds.end());
    EXPECT_EQ(screenRow(24).find('*'), std::string::npos);  // unmodified

    // Esc leaves a play-test early, from the cursor this time.
    startMemoryConsole();
    fkey(0, f5 + 1);
    key(300, 27);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(25).find("Play-test left after"), std::string::npos) << screenRow(25);
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows, "1", {"hello"}));
}

TEST_F(Editor, ThePackScreenAddsReordersAndRemovesRoomsInTheIndex) {
    type(0, "aalpha\r");
    type(0, "abeta\r");
    type(0, "agamma\r");
    type(0, "-");  // gamma before beta
    arrow(0, scan::home);
    type(0, "+");  // alpha after gamma
    type(0, "e");
    type(0, "me and you\r");
    arrow(0, scan::end);
    type(0, "dy");  // beta out of the index
    type(0, "q");
    ASSERT_EQ(edit("levels/custom levels/demo"), 0);
    EXPECT_EQ(readFile("levels/custom levels/demo/demo.txt"), "gamma\r\nalpha\r\n*me and you\r\n");
    for (const char* name : {"alpha", "beta", "gamma"})
        EXPECT_EQ(readFile(std::string("levels/custom levels/demo/") + name + ".lvl"), fileOf(freshRows(), "0"));
}

TEST_F(Editor, EntriesLeadingOutOfThePackAreListedButNeverOpened) {
    writeFile("pack/pack.txt", "../outside\r\nsub\\inside\r\n*x\r\n");
    std::filesystem::create_directory(folder / "elsewhere");
    std::filesystem::create_directory_symlink(folder / "elsewhere", folder / "pack/sub");
    type(0, "\r");
    arrow(0, scan::down);
    type(0, "\r");
    type(0, "q");
    ASSERT_EQ(edit("pack"), 0);
    EXPECT_FALSE(exists("outside.lvl"));
    EXPECT_FALSE(exists("elsewhere/inside.lvl"));

    startMemoryConsole();
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(screenRow(3).find("outside the pack"), std::string::npos) << screenRow(3);
    EXPECT_NE(screenRow(4).find("outside the pack"), std::string::npos) << screenRow(4);
}

TEST_F(Editor, WhatTheGameNeverDrawsIsMarked) {
    std::vector<std::string> rows = freshRows();
    rows[4].replace(4, 9, "7 8 n 3 0");  // row 5: enemies, message 2, invisible spikes, a character that writes nothing
    rows[5][40] = 'z';                   // a code without a meaning
    rows[6] = "1111";                    // a short row
    writeFile("room.lvl", fileOf(rows, "0", {"", "hi"}));
    key(0, 16);  // ^P: the patrols
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
    fkey(0, f7);
    ASSERT_EQ(edit("room.lvl"), -1);
    // The finding is shown whole over rows 23 to 25.
    std::string shown = screenRow(23) + screenRow(24) + screenRow(25);
    EXPECT_NE(shown.find("1/3 note: finishable in 75 ticks"), std::string::npos) << shown;

    startMemoryConsole();
    fkey(0, f7);
    fkey(1000, f7);  // a key that comes while the check runs would stop it
    fkey(1100, f7);  // past the success note
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(25).find("cannot be reached"), std::string::npos) << screenRow(25);
    EXPECT_EQ(screenRow(23).substr(0, 4), "32,2");

    startMemoryConsole();
    clearSoundLog();
    fkey(0, f7 + 1);  // F8
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(25).find("solution: exit reached in 75 ticks"), std::string::npos) << screenRow(25);
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"once Sound/key.wav", "once Sound/next.wav"}));
}

TEST_F(Editor, UnsavedWorkIsKeptForTheRescueAndLeavingAsksFirst) {
    type(0, "55");
    key(0, ctrlQ);
    key(0, 27);  // keep editing
    ASSERT_EQ(edit("room.lvl"), -1);
    writeRescueNow();  // as the SIGTERM handler does
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 2, "55");
    EXPECT_EQ(readFile("room.lvl.rescue"), fileOf(rows, "0"));
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows(), "0"));
}

}  // namespace
