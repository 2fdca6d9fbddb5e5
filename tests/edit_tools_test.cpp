// The room editor's tools for authors and the answers that used to confuse
// them, on the in-memory console: the files written compared byte for byte.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "edit/edit.h"
#include "harness.h"
#include "levels/levels.h"
#include "system/files.h"

namespace {

constexpr uint8_t ctrlB = 2, ctrlD = 4, ctrlF = 6, ctrlK = 11, ctrlQ = 17, ctrlS = 19, ctrlV = 22, ctrlW = 23,
                  ctrlZ = 26, ctrlY = 25;

std::vector<std::string> freshRows() {
    std::vector<std::string> rows(mapHeight, "1" + std::string(78, ' ') + "1");
    rows.front() = rows.back() = std::string(80, '1');
    rows[20][2] = 'i';
    rows[20][77] = '9';
    return rows;
}

std::string fileOf(const std::vector<std::string>& rows, const std::string& goods = "0",
                   const std::vector<std::string>& messages = {}) {
    std::string text;
    for (const std::string& row : rows) text += row + "\r\n";
    text += goods + "\r\n";
    for (const std::string& message : messages) text += message + "\r\n";
    return text;
}

class EditorTools : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
    }
    int edit(const std::string& path) {
        try {
            return runEditor(path);
        } catch (const ScriptEnded&) {
            return -1;
        }
    }
    void moveTo(int x, int y) {  // from the editor's first cursor place (2,2)
        for (int i = 2; i < x; ++i) arrow(0, scan::right);
        for (int i = 2; i < y; ++i) arrow(0, scan::down);
    }
    int listRowOf(const std::string& name) {  // the pack screen's row of an entry
        for (int row = 3; row <= 19; ++row) {
            std::string shown = screenRow(row) + " ";
            if (shown.compare(7, name.size() + 1, name + " ") == 0) return row;
        }
        return 0;
    }
    std::string bottomRows() { return screenRow(23) + "\n" + screenRow(24) + "\n" + screenRow(25); }
};

// --- what confused a new author ---

TEST_F(EditorTools, LeavingWithUnsavedChangesNamesSaveDiscardAndStay) {
    text(0, "55");
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(25).find("S save"), std::string::npos) << screenRow(25);
    EXPECT_NE(screenRow(25).find("D discard"), std::string::npos) << screenRow(25);
    EXPECT_NE(screenRow(25).find("Esc stay"), std::string::npos) << screenRow(25);

    // Esc stays, N is no answer, D leaves without writing.
    startMemoryConsole();
    text(0, "55");
    key(0, ctrlQ);
    key(0, 27);
    text(0, "7");  // still editing: painted at (4,2)
    key(0, ctrlQ);
    text(0, "nd");
    ASSERT_EQ(edit("room.lvl"), 0);
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows()));

    startMemoryConsole();
    text(0, "55");
    key(0, ctrlQ);
    text(0, "s");
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 2, "55");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows));
}

TEST_F(EditorTools, UndoingBackToTheSavedRoomIsNoChange) {
    text(0, "1");
    key(0, ctrlZ);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_EQ(screenRow(24).find('*'), std::string::npos) << screenRow(24);

    // Saved in between: undoing to the save is clean, one step further is a change again.
    startMemoryConsole();
    text(0, "1");
    key(0, ctrlS);
    text(0, "2");
    key(0, ctrlZ);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_EQ(screenRow(24).find('*'), std::string::npos) << screenRow(24);
    EXPECT_TRUE(writeRescueNow().empty());  // nothing to rescue either

    startMemoryConsole();
    text(0, "4");
    key(0, ctrlS);
    text(0, "5");
    key(0, ctrlZ);
    key(0, ctrlZ);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(24).find("*room.lvl"), std::string::npos) << screenRow(24);

    // Clean again: leaving asks nothing.
    startMemoryConsole();
    text(0, "3");
    key(0, ctrlZ);
    key(0, ctrlQ);
    EXPECT_EQ(edit("room.lvl"), 0);
}

TEST_F(EditorTools, DrawingModeStartsOnTheCellUnderTheCursor) {
    text(0, "3");  // (2,2); the cursor steps to (3,2)
    key(0, ctrlD);
    arrow(0, scan::right);
    arrow(0, scan::right);
    key(0, 27);
    arrow(0, scan::right);  // drawing is off again
    key(0, ctrlS);
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 4, "3333");
    EXPECT_EQ(readFile("room.lvl"), fileOf(rows));
}

TEST_F(EditorTools, ReportsAreShownWholeAndNamedAfterTheEditor) {
    // A note longer than a row: wrapped over the rows above, never cut.
    std::vector<std::string> rows = freshRows();
    rows[3] += "extra";
    writeFile("room.lvl", fileOf(rows));
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(bottomRows().find("saving drops them."), std::string::npos) << bottomRows();
    EXPECT_EQ(bottomRows().find('\xAF'), std::string::npos) << bottomRows();

    // A message line longer than the game shows: editing keeps the 145 it shows, and says so.
    startMemoryConsole();
    rows = freshRows();
    rows[1][1] = 'm';
    writeFile("room.lvl", fileOf(rows, "0", {std::string(145, 'a') + std::string(55, 'b')}));
    arrow(0, 62);  // F4
    text(0, "1\r");
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_EQ(::edit.text.messages, std::vector<std::string>{std::string(145, 'a')});
    EXPECT_NE(bottomRows().find("held 200 characters; the game shows only 145"), std::string::npos) << bottomRows();

    // A failed write on the pack screen: the editor's name, and the whole reason.
    startMemoryConsole();
    writeFile("pack/pack.txt", "a\r\n*\r\n");
    std::filesystem::create_directories(folder / "pack/pack.txt~/in the way");
    text(0, "e");
    text(0, "someone\r");
    ASSERT_EQ(edit("pack"), -1);
    std::string shown = bottomRows();
    EXPECT_NE(shown.find("quorvex-edit: cannot"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("quorvex: "), std::string::npos) << shown;
    EXPECT_EQ(readFile("pack/pack.txt"), "a\r\n*\r\n");

    // Without a terminal: the report on standard error names the editor too.
    FILE* pipe = popen((std::string(QUORVEX_EDIT_BINARY) + " room.lvl 2>&1 </dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512] = "";
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    EXPECT_NE(pclose(pipe), 0);
    EXPECT_EQ(std::string(line).rfind("quorvex-edit: ", 0), 0u) << line;
}

TEST_F(EditorTools, ThePackScreenLabelsBlankLinesAndTheRoomsOfTheEnding) {
    std::string index = "\r\n../" + std::string(40, 'x') + "\r\n";
    for (int i = 3; i <= 23; ++i) index += "r" + std::to_string(i) + "\r\n";
    writeFile("pack/pack.txt", index + "*\r\n");
    for (const char* name : {"r21", "r22", "r23"}) writeFile(std::string("pack/") + name + ".lvl", fileOf(freshRows()));
    text(0, "\r");  // the blank line
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(screenRow(3).find("blank line"), std::string::npos) << screenRow(3);
    EXPECT_EQ(screenRow(3).find("outside"), std::string::npos) << screenRow(3);
    EXPECT_NE(bottomRows().find("is blank: the game stops"), std::string::npos) << bottomRows();

    // The long name leading out: its note whole.
    startMemoryConsole();
    arrow(0, scan::down);
    text(0, "\r");
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(bottomRows().find("never opens or writes it."), std::string::npos) << bottomRows();
    EXPECT_NE(screenRow(4).find("outside the pack: unopened"), std::string::npos) << screenRow(4);

    startMemoryConsole();
    arrow(0, scan::end);
    arrow(0, scan::up);  // entry 22
    ASSERT_EQ(edit("pack"), -1);
    int row22 = listRowOf("r22"), row23 = listRowOf("r23");
    ASSERT_GT(row22, 0);
    EXPECT_NE(screenRow(row22).find("ending's backdrop"), std::string::npos) << screenRow(row22);
    EXPECT_NE(screenRow(row23).find("never reached"), std::string::npos) << screenRow(row23);
    EXPECT_EQ(screenRow(listRowOf("r21")).find("never"), std::string::npos);
    EXPECT_NE(screenRow(25).find("never played"), std::string::npos) << bottomRows();
}

TEST_F(EditorTools, AFolderHoldingAnotherPacksIndexSaysSoAndCanTakeIt) {
    writeFile("mypack/sampler.txt", "one\r\ntwo\r\n*the sampler\r\n");
    ASSERT_EQ(edit("mypack"), -1);
    EXPECT_NE(screenRow(3).find("sampler.txt"), std::string::npos) << screenRow(3);
    EXPECT_EQ(screenRow(3).find("No rooms yet"), std::string::npos);
    EXPECT_FALSE(exists("mypack/mypack.txt"));  // nothing written by looking

    startMemoryConsole();
    text(0, "i");
    ASSERT_EQ(edit("mypack"), -1);
    EXPECT_EQ(readFile("mypack/mypack.txt"), readFile("mypack/sampler.txt"));
    EXPECT_NE(screenRow(3).find("one"), std::string::npos) << screenRow(3);
    EXPECT_NE(screenRow(4).find("two"), std::string::npos) << screenRow(4);

    // Also over an empty index of its own (an earlier run made it); a note is no index.
    startMemoryConsole();
    writeFile("other/other.txt", "*\r\n");
    writeFile("other/notes.txt", "just notes\r\n");
    writeFile("other/old.txt", "a\r\n*x\r\n");
    text(0, "i");
    ASSERT_EQ(edit("other"), -1);
    EXPECT_EQ(readFile("other/other.txt"), "a\r\n*x\r\n");
    EXPECT_EQ(readFile("other/other.txt~"), "*\r\n");
}

// --- the tools ---

TEST_F(EditorTools, CopyCutAndPasteMoveABoxOfCellsAsOneUndoStepEach) {
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 3, "123");
    rows[2].replace(1, 3, "j9m");
    writeFile("room.lvl", fileOf(rows, "1", {"hi"}));
    key(0, ctrlB);
    moveTo(4, 3);
    key(0, ctrlK);  // copy (2,2)-(4,3)
    for (int i = 0; i < 6; ++i) arrow(0, scan::right);
    key(0, ctrlV);  // at (10,3)
    arrow(0, scan::down);
    arrow(0, scan::down);
    key(0, ctrlV);  // at (10,5)
    key(0, ctrlZ);  // the second paste undone whole
    key(0, ctrlS);
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> want = rows;
    want[2].replace(9, 3, "123");
    want[3].replace(9, 3, "j9m");
    EXPECT_EQ(readFile("room.lvl"), fileOf(want, "2", {"hi"}));

    // Cut empties the box; pasting the start moves it (there is one).
    startMemoryConsole();
    writeFile("room.lvl", fileOf(rows, "1", {"hi"}));
    moveTo(2, 20);
    key(0, ctrlB);
    arrow(0, scan::down);
    arrow(0, scan::right);
    arrow(0, scan::right);
    key(0, ctrlW);  // (2,20)-(4,21), the start at (3,21) with it
    arrow(0, scan::up);
    arrow(0, scan::up);
    arrow(0, scan::up);  // (4,18)
    key(0, ctrlV);
    key(0, ctrlS);
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), 0);
    want = rows;
    want[20].replace(1, 3, "   ");
    want[17].replace(3, 3, "   ");
    want[18].replace(3, 3, " i ");
    EXPECT_EQ(readFile("room.lvl"), fileOf(want, "1", {"hi"}));
}

TEST_F(EditorTools, FillPaintsTheEnclosedAreaAndUndoesAsOneStep) {
    std::vector<std::string> rows = freshRows();
    rows[4].replace(9, 6, "111111");  // a closed box from (10,5) to (15,8), a hole of 4 x 2
    rows[5].replace(9, 6, "1  8 1");
    rows[6].replace(9, 6, "1    1");
    rows[7].replace(9, 6, "111111");
    writeFile("room.lvl", fileOf(rows));
    moveTo(12, 6);
    text(0, "2");  // lava at (12,6), the brush; the cursor on (13,6)
    key(0, ctrlF);
    key(0, ctrlZ);  // undone whole (the lava stays)...
    key(0, ctrlS);  // ...as the backup will show
    key(0, ctrlY);  // done again
    key(0, ctrlS);
    key(0, ctrlQ);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> lavaOnly = rows;
    lavaOnly[5][11] = '2';
    EXPECT_EQ(readFile("room.lvl~"), fileOf(lavaOnly));
    std::vector<std::string> want = rows;
    want[5].replace(9, 6, "122821");  // the enemy's start stays where it is
    want[6].replace(9, 6, "122221");
    EXPECT_EQ(readFile("room.lvl"), fileOf(want));

    // The whole open room is an area too; starts are no brush for it.
    startMemoryConsole();
    moveTo(12, 6);
    text(0, "i");
    arrow(0, scan::left);
    key(0, ctrlF);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_NE(screenRow(25).find("fill with another brush"), std::string::npos) << screenRow(25);
}

TEST_F(EditorTools, APackRoomIsCopiedWholeAfterItself) {
    std::vector<std::string> base = freshRows();
    base[0] = std::string(40, '1') + std::string(40, '2');
    std::vector<std::string> alpha = freshRows();
    alpha[0] = "9";  // a short row: the rest comes from base
    writeFile("pack/pack.txt", "base\r\nalpha\r\n*\r\n");
    writeFile("pack/base.lvl", fileOf(base));
    writeFile("pack/alpha.lvl", fileOf(alpha));
    arrow(0, scan::down);
    text(0, "c\r");  // the name offered: "alpha copy"
    text(0, "q");
    ASSERT_EQ(edit("pack"), 0);
    EXPECT_EQ(readFile("pack/pack.txt"), "base\r\nalpha\r\nalpha copy\r\n*\r\n");
    alpha[0] = "9" + base[0].substr(1);
    EXPECT_EQ(readFile("pack/alpha copy.lvl"), fileOf(alpha));
}

TEST_F(EditorTools, ThePackIsPlayedFromTheChosenRoomWithoutSaveFiles) {
    // Rooms of two steps: the exit two cells right of the start.
    std::vector<std::string> rows = freshRows();
    rows[20].replace(2, 76, "i 9" + std::string(73, ' '));
    std::string index;
    for (int i = 1; i <= 22; ++i) index += "r\r\n";
    writeFile("pack/pack.txt", index + "*\r\n");
    writeFile("pack/r.lvl", fileOf(rows));
    for (int i = 0; i < 19; ++i) arrow(0, scan::down);  // room 20: a checkpoint room in the main series
    text(0, "p");
    arrow(1000, scan::right);
    arrow(4000, scan::right);
    text(9000, "q");
    ASSERT_EQ(edit("pack"), 0);
    EXPECT_FALSE(exists("checkpoint.sav"));
    EXPECT_FALSE(exists("save.sav"));
    const std::vector<std::string>& sounds = soundLog();
    EXPECT_EQ(std::count(sounds.begin(), sounds.end(), "once Sound/next.wav"), 2);
    EXPECT_EQ(std::count(sounds.begin(), sounds.end(), "once Sound/begin.wav"), 1);

    // Where it stopped, in words.
    startMemoryConsole();
    for (int i = 0; i < 19; ++i) arrow(0, scan::down);
    text(0, "p");
    arrow(1000, scan::right);
    arrow(4000, scan::right);
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(bottomRows().find("Room 22 is the ending's backdrop"), std::string::npos) << bottomRows();
}

TEST_F(EditorTools, PackPlayStopsWhereTheGameWould) {
    std::vector<std::string> rows = freshRows();
    rows[20].replace(2, 76, "i 9" + std::string(73, ' '));
    writeFile("pack/pack.txt", "a\r\nmissing\r\n*me\r\n");
    writeFile("pack/a.lvl", fileOf(rows));
    text(0, "p");
    arrow(1000, scan::right);
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(bottomRows().find("Room 2: the game finds no file"), std::string::npos) << bottomRows();

    startMemoryConsole();
    writeFile("pack/pack.txt", "a\r\n*me\r\n");
    text(0, "p");
    arrow(1000, scan::right);
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(bottomRows().find("Room 2 is the end line"), std::string::npos) << bottomRows();

    // Esc in a room: back on the pack screen.
    startMemoryConsole();
    text(0, "p");
    key(1000, 27);
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_NE(bottomRows().find("left in room 1"), std::string::npos) << bottomRows();
}

// --- reading earlier rooms ---

TEST_F(EditorTools, EarlierRoomsReadOnlyWhatTheGameReads) {
    // Every kind of line end, one straddling the reading's 64 KiB chunks, long rows and messages.
    std::string tricky = std::string(65535, '1') + "\r\n" + "2222\r" + "3333\n" + std::string(300, 'k') + "\r\n";
    for (int y = 5; y <= 22; ++y) tricky += (y % 2 ? "i5" : "m6") + std::string(static_cast<size_t>(y), '4') + "\n";
    tricky += "7\r\n" + std::string(400, 'a') + "\r\n\x1A stop\r\nnever\r\n";
    for (const std::string& fileText : {tricky, std::string("12\r\n\r\n\rij"), std::string()}) {
        writeFile("t.lvl", fileText);
        Inheritance read;
        setCell(read.map, 5, 5, Lava);
        Inheritance game = read;
        applyEarlierRoom(read, readLevelLines("t.lvl"));
        applyEarlierRoom(game, readTextFile("t.lvl"));
        EXPECT_EQ(std::memcmp(&read.map, &game.map, sizeof read.map), 0);
        EXPECT_EQ(read.messages, game.messages);
        EXPECT_EQ(read.startX, game.startX);
        EXPECT_EQ(read.startY, game.startY);
        EXPECT_FALSE(read.firstRoom);
    }
    EXPECT_LE(readLevelLines("t.lvl").size(), 31u * 256);
}

}  // namespace
