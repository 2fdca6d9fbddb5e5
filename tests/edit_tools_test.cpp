// The room editor's tools for authors and the answers that used to confuse
// them, on the in-memory console: the files written compared byte for byte.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "editrun.h"
#include "levels/levels.h"
#include "system/files.h"

namespace {

class EditorTools : public EditorRun {
protected:
    int listRowOf(const std::string& name) {  // the pack screen's row of an entry
        for (int row = 3; row <= 19; ++row)
            if ((screenRow(row) + " ").compare(7, name.size() + 1, name + " ") == 0) return row;
        return 0;
    }
};

TEST_F(EditorTools, LeavingWithUnsavedChangesNamesSaveDiscardAndStay) {
    std::vector<std::string> painted = freshRows();
    painted[1].replace(1, 2, "55");
    text(0, "55" + quit);
    ASSERT_EQ(edit("room.lvl"), -1);
    for (const char* choice : {"S save", "D discard", "Esc stay"}) EXPECT_TRUE(has(screenRow(25), choice));

    // Esc stays with the changes, and the rescue (as the signal handlers write it) holds them.
    startMemoryConsole();
    text(0, "55" + quit + esc + "7");
    ASSERT_EQ(edit("room.lvl"), -1);
    writeRescueNow();
    painted[1][3] = '7';
    EXPECT_EQ(readFile("room.lvl.rescue"), fileOf(painted));
    std::filesystem::remove(folder / "room.lvl.rescue");
    painted[1][3] = ' ';
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows()));

    // N is no answer, D leaves without writing, S saves.
    for (const std::string answer : {"nd", "s"}) {
        startMemoryConsole();
        text(0, "55" + quit + answer);
        ASSERT_EQ(edit("room.lvl"), 0);
        EXPECT_EQ(readFile("room.lvl"), fileOf(answer == "s" ? painted : freshRows())) << answer;
    }
}

TEST_F(EditorTools, UndoingBackToTheSavedRoomIsNoChange) {
    // Undoing to the last save is clean, one step further is a change again.
    const struct {
        std::string keys;
        bool changed;
    } cases[] = {{"1" + undo, false}, {"1" + save + "2" + undo, false}, {"4" + save + "5" + undo + undo, true}};
    for (const auto& run : cases) {
        startMemoryConsole();
        text(0, run.keys);
        ASSERT_EQ(edit("room.lvl"), -1);
        EXPECT_EQ(screenRow(24).find("*room.lvl") != std::string::npos, run.changed) << screenRow(24);
        EXPECT_TRUE(run.changed || writeRescueNow().empty());  // nothing to rescue either
    }
    startMemoryConsole();
    text(0, "3" + undo + quit);  // clean again: leaving asks nothing
    EXPECT_EQ(edit("room.lvl"), 0);
}

TEST_F(EditorTools, DrawingModeStartsOnTheCellUnderTheCursor) {
    text(0, "3" + draw);  // painted (2,2); the cursor steps to (3,2)
    press(scan::right, 2);
    text(0, esc);
    press(scan::right);  // drawing is off again
    text(0, save + quit);
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
    EXPECT_TRUE(has(bottomRows(), "saving drops them."));
    EXPECT_EQ(bottomRows().find('\xAF'), std::string::npos) << bottomRows();

    // A message line longer than the game shows: editing keeps the 145 it shows, and says so.
    startMemoryConsole();
    rows = freshRows();
    rows[1][1] = 'm';
    writeFile("room.lvl", fileOf(rows, "0", {std::string(145, 'a') + std::string(55, 'b')}));
    press(f4);
    text(0, "1\r");
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_EQ(::edit.text.messages, std::vector<std::string>{std::string(145, 'a')});
    EXPECT_TRUE(has(bottomRows(), "held 200 characters; the game shows only 145"));

    // A failed write on the pack screen: the editor's name, and the whole reason.
    startMemoryConsole();
    writeFile("pack/pack.txt", "a\r\n*\r\n");
    std::filesystem::create_directories(folder / "pack/pack.txt~/in the way");
    text(0, "esomeone\r");
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_TRUE(has(bottomRows(), "quorvex-edit: cannot"));
    EXPECT_EQ(bottomRows().find("quorvex: "), std::string::npos) << bottomRows();
    EXPECT_EQ(readFile("pack/pack.txt"), "a\r\n*\r\n");

    // Without a terminal: the report on standard error names the editor too.
    FILE* pipe = popen((std::string(QUORVEX_EDIT_BINARY) + " room.lvl 2>&1 </dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char said[512] = "";
    ASSERT_NE(std::fgets(said, sizeof said, pipe), nullptr);
    EXPECT_NE(pclose(pipe), 0);
    EXPECT_EQ(std::string(said).rfind("quorvex-edit: ", 0), 0u) << said;
}

TEST_F(EditorTools, ThePackScreenLabelsBlankLinesAndTheRoomsOfTheEnding) {
    std::string index = "\r\n../" + std::string(40, 'x') + "\r\n";
    for (int i = 3; i <= 23; ++i) index += "r" + std::to_string(i) + "\r\n";
    writeFile("pack/pack.txt", index + "*\r\n");
    for (const char* name : {"r21", "r22", "r23"}) writeFile(std::string("pack/") + name + ".lvl", fileOf(freshRows()));
    text(0, "\r");  // the blank line
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_TRUE(has(screenRow(3), "blank line"));
    EXPECT_EQ(screenRow(3).find("outside"), std::string::npos) << screenRow(3);
    EXPECT_TRUE(has(bottomRows(), "is blank: the game stops"));

    // The long name leading out: its note whole.
    startMemoryConsole();
    press(scan::down);
    text(0, "\r");
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_TRUE(has(bottomRows(), "never opens or writes it."));
    EXPECT_TRUE(has(screenRow(4), "outside the pack: unopened"));

    startMemoryConsole();
    press(scan::end);
    press(scan::up);  // entry 22
    ASSERT_EQ(edit("pack"), -1);
    ASSERT_GT(listRowOf("r22"), 0);
    EXPECT_TRUE(has(screenRow(listRowOf("r22")), "ending's backdrop"));
    EXPECT_TRUE(has(screenRow(listRowOf("r23")), "never reached"));
    EXPECT_EQ(screenRow(listRowOf("r21")).find("never"), std::string::npos);
    EXPECT_TRUE(has(screenRow(25), "never played"));
}

TEST_F(EditorTools, AFolderHoldingAnotherPacksIndexSaysSoAndCanTakeIt) {
    writeFile("mypack/sampler.txt", "one\r\ntwo\r\n*the sampler\r\n");
    ASSERT_EQ(edit("mypack"), -1);
    EXPECT_TRUE(has(screenRow(3), "sampler.txt"));
    EXPECT_FALSE(exists("mypack/mypack.txt"));  // nothing written by looking

    startMemoryConsole();
    text(0, "i");
    ASSERT_EQ(edit("mypack"), -1);
    EXPECT_EQ(readFile("mypack/mypack.txt"), readFile("mypack/sampler.txt"));
    EXPECT_TRUE(has(screenRow(4), "two"));

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

TEST_F(EditorTools, CopyCutAndPasteMoveABoxOfCellsAsOneUndoStepEach) {
    std::vector<std::string> rows = freshRows();
    rows[1].replace(1, 3, "123");
    rows[2].replace(1, 3, "j9m");
    writeFile("room.lvl", fileOf(rows, "1", {"hi"}));
    text(0, block);
    moveTo(4, 3);
    text(0, copyKey);  // (2,2)-(4,3)
    press(scan::right, 6);
    text(0, paste);  // at (10,3)
    press(scan::down, 2);
    text(0, paste + undo + save + quit);  // the second paste, at (10,5), undone whole
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> want = rows;
    want[2].replace(9, 3, "123");
    want[3].replace(9, 3, "j9m");
    EXPECT_EQ(readFile("room.lvl"), fileOf(want, "2", {"hi"}));

    // Cut empties the box; pasting the start moves it (there is one).
    startMemoryConsole();
    writeFile("room.lvl", fileOf(rows, "1", {"hi"}));
    moveTo(2, 20);
    text(0, block);
    press(scan::down);
    press(scan::right, 2);
    text(0, cut);  // (2,20)-(4,21), the start at (3,21) with it
    press(scan::up, 3);
    text(0, paste + save + quit);  // at (4,18)
    ASSERT_EQ(edit("room.lvl"), 0);
    want = rows;
    want[20].replace(1, 3, "   ");
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
    // Lava at (12,6) is the brush; the fill is undone whole (the lava stays) as the backup shows, then redone.
    text(0, "2" + fill + undo + save + redo + save + quit);
    ASSERT_EQ(edit("room.lvl"), 0);
    std::vector<std::string> want = rows;
    want[5][11] = '2';
    EXPECT_EQ(readFile("room.lvl~"), fileOf(want));
    want[5].replace(9, 6, "122821");  // the enemy's start stays where it is
    want[6].replace(9, 6, "122221");
    EXPECT_EQ(readFile("room.lvl"), fileOf(want));

    // The whole open room is an area too; starts are no brush for it.
    startMemoryConsole();
    moveTo(12, 6);
    text(0, "i");
    press(scan::left);
    text(0, fill);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(25), "fill with another brush"));
}

// In a pack the second room's short first row inherits the first room's
// cells: shown so, saved with them and copied with them.
TEST_F(EditorTools, ShortRowsShowWhatTheyInheritAndAreSavedAndCopiedWithIt) {
    std::vector<std::string> base = freshRows(), alpha = freshRows();
    base[0] = std::string(40, '1') + std::string(40, '2');
    alpha[0] = "9";
    writeFile("pack/pack.txt", "base\r\nalpha\r\n*\r\n");
    writeFile("pack/base.lvl", fileOf(base));
    writeFile("pack/alpha.lvl", fileOf(alpha));
    press(scan::down);
    text(0, "c\rq");  // the name offered: "alpha copy"
    ASSERT_EQ(edit("pack"), 0);
    EXPECT_EQ(readFile("pack/pack.txt"), "base\r\nalpha\r\nalpha copy\r\n*\r\n");
    std::vector<std::string> whole = alpha;
    whole[0] = "9" + base[0].substr(1);
    EXPECT_EQ(readFile("pack/alpha copy.lvl"), fileOf(whole));

    startMemoryConsole();
    press(scan::down);
    text(0, "\r");
    ASSERT_EQ(edit("pack"), -1);                  // inside alpha
    EXPECT_EQ(bufferCell(1, 1).character, 0x0F);  // the exit, as the game draws it
    EXPECT_EQ(background(1, 1), 0);
    EXPECT_EQ(bufferCell(2, 1).character, 0xB2);  // an inherited wall, on the mark's blue
    EXPECT_EQ(background(2, 1), 1);
    EXPECT_EQ(bufferCell(41, 1).character, 0xB1);  // inherited lava
    EXPECT_EQ(background(41, 1), 1);
    startMemoryConsole();
    press(scan::down);
    text(0, "\r" + save + quit + "q");
    ASSERT_EQ(edit("pack"), 0);
    EXPECT_EQ(readFile("pack/alpha.lvl"), fileOf(whole));
}

TEST_F(EditorTools, ThePackIsPlayedFromTheChosenRoomWithoutSaveFilesAndStopsWhereTheGameWould) {
    // Rooms of two steps: the exit two cells right of the start.
    std::vector<std::string> rows = freshRows();
    rows[20].replace(2, 76, "i 9" + std::string(73, ' '));
    writeFile("pack/r.lvl", fileOf(rows));
    std::string index;
    for (int i = 1; i <= 22; ++i) index += "r\r\n";
    writeFile("pack/pack.txt", index + "*\r\n");
    press(scan::down, 19);  // room 20: a checkpoint room in the main series
    text(0, "p");
    press(scan::right, 1, 1000);
    press(scan::right, 1, 4000);
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_TRUE(has(bottomRows(), "Room 22 is the ending's backdrop"));
    EXPECT_FALSE(exists("checkpoint.sav"));
    EXPECT_FALSE(exists("save.sav"));
    const std::vector<std::string>& sounds = soundLog();
    EXPECT_EQ(std::count(sounds.begin(), sounds.end(), "once Sound/next.wav"), 2);
    EXPECT_EQ(std::count(sounds.begin(), sounds.end(), "once Sound/begin.wav"), 1);

    // Where the game would stop: a missing file, the end line; Esc in a room.
    const struct {
        std::string index, keys, said;
    } stops[] = {
        {"a\r\nmissing\r\n*me\r\n", "", "Room 2: the game finds no file"},
        {"a\r\n*me\r\n", "", "Room 2 is the end line"},
        {"a\r\n*me\r\n", esc, "left in room 1"},
    };
    writeFile("pack/a.lvl", fileOf(rows));
    for (const auto& stop : stops) {
        startMemoryConsole();
        writeFile("pack/pack.txt", stop.index);
        text(0, "p");
        if (stop.keys.empty())
            press(scan::right, 1, 1000);
        else
            text(1000, stop.keys);
        ASSERT_EQ(edit("pack"), -1);
        EXPECT_TRUE(has(bottomRows(), stop.said));
    }
}

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
        EXPECT_EQ(std::make_pair(read.startX, read.startY), std::make_pair(game.startX, game.startY));
        EXPECT_FALSE(read.firstRoom);
    }
    EXPECT_LE(readLevelLines("t.lvl").size(), 31u * 256);
}

}  // namespace
