// The room editor on the in-memory console: scripted keys, the files it
// writes compared byte for byte; its tools for authors and the answers that
// used to confuse them.
#include <cstring>
#include <fstream>

#include "editrun.h"
#include "levels/levels.h"
#include "system/files.h"
#include "tmux.h"

namespace {

using Editor = EditorRun;

TEST_F(Editor, PaintsLinesBoxesAndDrawingsAndSavesTheGamesFormatKeepingThePreviousVersion) {
    // "1j" at (2,3); spikes from (2,6) to (5,6), lava at (6,6); a box of lava (10,9)-(12,10).
    type(downKey + "1j" + times(3, downKey) + homeKey + rightKey + "3" + leftKey);  // the brush "3" steps right
    type(block + times(4, rightKey) + line + "2" + leftKey + moveTo(6, 5) + block + moveTo(4, 3) + box);
    // Drawing starts on the cell under the cursor: spikes from (12,11) to (15,11), then off again.
    type(downKey + "3" + draw + times(2, rightKey) + esc + rightKey + save + quit);
    ASSERT_EQ(edit("room.lvl"), 0);
    EXPECT_EQ(readFile("room.lvl"),
              fileOf(freshRows({{2, 1, "1j"}, {5, 1, "33332"}, {8, 9, "222"}, {9, 9, "222"}, {10, 11, "3333"}}), "1"));
    EXPECT_FALSE(exists("room.lvl~"));  // nothing was there before the first save
}
// Tab moves eight columns and, in drawing mode, paints them as the arrows do, as one undo step.
TEST_F(Editor, TabPaintsTheCellsItPassesInDrawingMode) {
    ASSERT_EQ(editAgain("room.lvl", "2" + leftKey + draw + "\t\t" + undo + esc + "\t" + save + quit), 0);
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows({{1, 1, "222222222"}})));
}
TEST_F(Editor, TheGoodsLineFollowsTheMapUntilTheAuthorSetsIt) {
    // An empty goods line follows the map; Del off a goods cell changes no count; Backspace erases the
    // second k; the room is left discarding.
    type("jkl" + save + goodsKey + "5\rj" + save + goodsKey + "\r" + save + "kk" + delKey + backspace + quit + "d");
    ASSERT_EQ(edit("room.lvl"), 0);
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows({{1, 1, "jklj"}}), "4"));
    EXPECT_EQ(readFile("room.lvl~"), fileOf(freshRows({{1, 1, "jklj"}}), "5"));
}
TEST_F(Editor, AMessageOverSixtySixCharactersIsMarkedAndSavedWhole) {
    std::string message = std::string(66, 'a') + "bcde";
    ASSERT_EQ(editAgain("room.lvl", "m" + leftKey + "\r" + message), -1);  // still in the line editor
    EXPECT_EQ(bufferCell(80, 24).character, 'a');                          // the 66th character, last on row 24, marked
    EXPECT_EQ(background(80, 24) * 16 + background(79, 24), 0x67);
    ASSERT_EQ(editAgain("room.lvl", "m" + leftKey + "\r" + message + "\r" + save + quit), 0);
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows({{1, 1, "m"}}), "0", {message}));
}
TEST_F(Editor, ThePackScreenAddsReordersAndRemovesRoomsInTheIndex) {
    // Gamma before beta, alpha after gamma, beta out of the index (End would mark the backups below it).
    type("aalpha\r1abeta\r1agamma\r1-" + homeKey + "+eme and you\r" + downKey + "dyq");
    ASSERT_EQ(edit("levels/custom levels/demo"), 0);
    EXPECT_EQ(readFile("levels/custom levels/demo/demo.txt"), "gamma\r\nalpha\r\n*me and you\r\n");
    for (const char* name : {"alpha", "beta", "gamma"})
        EXPECT_EQ(readFile(std::string("levels/custom levels/demo/") + name + ".lvl"), fileOf(freshRows()));
}

// Ctrl+Z and Ctrl+Y take back and make again the pack screen's changes,
// files and all; a copy changed since it was made stays in the folder; an
// index changed on disk meanwhile keeps that change through undo and redo,
// and where both changed the same line nothing is taken back.
TEST_F(Editor, ThePackScreensChangesAreUndoneAndRedoneOverTheIndexAsItIsThen) {
    const std::string room = fileOf(freshRows()), index = "pack/pack.txt";
    writeFile(index, "alpha\r\nbeta\r\n*me\r\n");
    writeFile("pack/alpha.lvl", room);
    writeFile("pack/beta.lvl", fileOf(freshRows({{1, 1, "5"}})));
    // Rename, copy, move, author text, remove; all undone, then two redone.
    ASSERT_EQ(editAgain("pack",
                        "r\x15"
                        "first\rc\r+e\x15you\r" +
                            homeKey + "dy" + times(5, undo) + times(2, redo) + "q"),
              0);
    EXPECT_EQ(readFile(index), "first\r\nfirst copy\r\nbeta\r\n*me\r\n");
    EXPECT_EQ(readFile("pack/first.lvl"), room);
    EXPECT_EQ(readFile("pack/first copy.lvl"), room);
    EXPECT_FALSE(exists("pack/alpha.lvl"));
    // A copy painted and saved before its undo: out of the index, its file kept.
    ASSERT_EQ(editAgain("pack", "c\x15other\r\r5" + save + quit + undo), -1);
    EXPECT_EQ(readFile(index), "first\r\nfirst copy\r\nbeta\r\n*me\r\n");
    EXPECT_EQ(readFile("pack/other.lvl"), fileOf(freshRows({{1, 1, "5"}})));
    EXPECT_TRUE(has(bottomRows(), "other.lvl stays in the folder: it changed"));

    // Hand edits at 1 s (a room added) and 3 s (the end line), each seen
    // after the key then; at 2.5 s the index is looked at (an empty text).
    static std::vector<std::pair<uint64_t, std::string>> handEdits;
    static std::filesystem::path indexPath;
    static std::string seen;
    indexPath = folder / index;
    handEdits = {{1000, "beta\r\ngamma\r\nhand\r\n*you\r\n"}, {2500, ""}, {3000, "beta\r\ngamma\r\nhand\r\n*them\r\n"}};
    fileUseWatcher = [](const char*, int, std::string_view) {
        if (handEdits.empty() || virtualNow() < handEdits.front().first) return;
        if (handEdits.front().second.empty())
            seen = fileContents(indexPath);
        else
            std::ofstream(indexPath, std::ios::binary) << handEdits.front().second;
        handEdits.erase(handEdits.begin());
    };
    writeFile(index, "alpha\r\nbeta\r\ngamma\r\n*me\r\n");
    startMemoryConsole();
    type("dye\x15you\r");
    type(downKey, 1000);
    type(undo + undo, 2000);  // the author text, then alpha's removal: the hand's room stays
    type(redo, 2500);         // alpha out again
    type(downKey, 3000);
    type(redo, 4000);  // the author text again: the hand changed the end line too
    int status = edit("pack");
    fileUseWatcher = nullptr;
    ASSERT_EQ(status, -1);
    EXPECT_EQ(seen, "alpha\r\nbeta\r\ngamma\r\nhand\r\n*me\r\n");
    EXPECT_EQ(readFile(index), "beta\r\ngamma\r\nhand\r\n*them\r\n");
    EXPECT_TRUE(has(bottomRows(), "Not redone (the author text changed)"));
}

// A room added starts from the room chosen; an entry without a file asks
// before a room is made; renamed to a file that is there, the entry may lead
// to it; a file the index does not name is listed with l or Enter; a room
// saved under a new name can take its entry's place or follow it.
TEST_F(Editor, ThePackScreenMakesRoomsOnlyWhenAskedAndListsWhatTheIndexMisses) {
    writeFile("pack/pack.txt", "gone\r\n*\r\n");
    writeFile("pack/springs.lvl", fileOf(freshRows()));
    writeFile("pack/sub/deep.lvl", fileOf(freshRows()));
    ASSERT_EQ(editAgain("pack", "\r"), -1);
    EXPECT_TRUE(has(screenRow(25), "New room from:  1 empty  2 corridor  3 shaft  4 tower  Esc no"));
    ASSERT_EQ(editAgain("pack", "\r" + esc + "\r2" + save + quit + "anew\r4q"), 0);
    EXPECT_EQ(readFile("pack/gone.lvl"), roomFileText(startingRoomText(StartingRoom::Corridor), {}, true));
    EXPECT_EQ(readFile("pack/new.lvl"), roomFileText(startingRoomText(StartingRoom::Tower), {}, true));

    std::filesystem::remove(folder / "pack/gone.lvl");
    writeFile("pack/extra.lvl", fileOf(freshRows()));
    // gone renamed to springs (its file there); below the index extra listed with l, sub/deep with Enter and y.
    ASSERT_EQ(editAgain("pack", "r\x15springs\ry" + times(2, downKey) + "l" + downKey + "\ryq"), 0);
    EXPECT_EQ(readFile("pack/pack.txt"), "springs\r\nnew\r\nextra\r\nsub/deep\r\n*\r\n");

    // Saved as other (in the pack): A puts it after springs; then saved as third, R replaces other.
    ASSERT_EQ(editAgain("pack", "\r" + f12 + "\x15pack/other\ra5" + f12 + "\x15pack/third\rr" + quit + "q"), 0);
    EXPECT_EQ(readFile("pack/pack.txt"), "springs\r\nthird\r\nnew\r\nextra\r\nsub/deep\r\n*\r\n");
    EXPECT_EQ(readFile("pack/third.lvl"), fileOf(freshRows({{1, 1, "5"}})));
}

TEST_F(Editor, PlayTestsAndTheCheckersSolutionReachTheExitAndComeBackToTheRoomAsItWas) {
    // Goods on the floor, a message cell, goods shut in under the ceiling.
    std::string file =
        fileOf(freshRows({{20, 10, "j"}, {20, 30, "m"}, {1, 30, "1k1"}, {2, 30, "111"}}), "2", {"hello"});
    writeFile("room.lvl", file);
    for (const std::string& playKey : {f5, f8}) {  // the solution plays its own keys, not Right
        startMemoryConsole();
        type(playKey);
        type(rightKey, 100);
        ASSERT_EQ(edit("room.lvl"), -1);
        // Right is read in the third tick (at 150 ms); 75 steps from column 3 to the exit.
        EXPECT_TRUE(has(screenRow(25), playKey == f5 ? "exit reached in 77 ticks, goods 1/2, no life lost"
                                                     : "solution: exit reached in 75"));
        EXPECT_EQ(bufferCell(11, 21).character, 0x04);  // the goods are back
        EXPECT_EQ(room.roomMessages[0], "hello");
        EXPECT_EQ(screenRow(24).find('*'), std::string::npos);  // unmodified
    }

    // Esc leaves a play-test early, from the cursor this time.
    startMemoryConsole();
    type(f6);
    type(esc, 300);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(25), "Play-test left after"));
    EXPECT_EQ(readFile("room.lvl"), file);

    // The checker's findings walked past the success note to the goods shut in.
    startMemoryConsole();
    type(f7);
    type(f7, 1000);  // a key that comes while the check runs would stop it
    type(f7, 1100);
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(25), "cannot be reached"));
    EXPECT_EQ(screenRow(23).substr(0, 4), "32,2");
}

TEST_F(Editor, LeavingWithUnsavedChangesNamesSaveDiscardAndStay) {
    ASSERT_EQ(editAgain("room.lvl", "55" + quit), -1);
    for (const char* choice : {"S save", "D discard", "Esc stay"}) EXPECT_TRUE(has(screenRow(25), choice));

    // Esc stays; N is no answer, D leaves without writing, S saves.
    ASSERT_EQ(editAgain("room.lvl", "55" + quit + esc), -1);
    for (const std::string answer : {"nd", "s"}) {
        ASSERT_EQ(editAgain("room.lvl", "55" + quit + answer), 0);
        EXPECT_EQ(readFile("room.lvl"), answer == "s" ? fileOf(freshRows({{1, 1, "55"}})) : "") << answer;
    }
}

TEST_F(Editor, UndoingBackToTheSavedRoomIsNoChange) {
    // Undoing to the last save is clean, one step further is a change again.
    for (const auto& [keys, changed] : std::vector<std::pair<std::string, bool>>{
             {"1" + undo, false}, {"1" + save + "2" + undo, false}, {"4" + save + "5" + undo + undo, true}}) {
        ASSERT_EQ(editAgain("room.lvl", keys), -1);
        EXPECT_EQ(screenRow(24).find("*room.lvl") != std::string::npos, changed) << screenRow(24);
        EXPECT_TRUE(changed || writeRescueNow().empty());  // nothing to rescue either
    }
    EXPECT_EQ(editAgain("room.lvl", "3" + undo + quit), 0);  // clean again: leaving asks nothing
}

TEST_F(Editor, ReportsAreShownWholeAndNamedAfterTheEditor) {
    // A note longer than a row: wrapped over the rows above, never cut.
    std::vector<std::string> rows = freshRows();
    rows[3] += "extra";
    writeFile("room.lvl", fileOf(rows));
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(bottomRows(), "saving drops them."));
    EXPECT_EQ(bottomRows().find('\xAF'), std::string::npos) << bottomRows();

    // A message line longer than the game shows: editing keeps the 145 it shows, and says so.
    writeFile("room.lvl", fileOf(freshRows({{1, 1, "m"}}), "0", {std::string(145, 'a') + std::string(55, 'b')}));
    ASSERT_EQ(editAgain("room.lvl", f4 + "1\r"), -1);
    EXPECT_EQ(::edit.text.messages, std::vector<std::string>{std::string(145, 'a')});
    EXPECT_TRUE(has(bottomRows(), "held 200 characters; the game shows only 145"));

    // A failed write on the pack screen: the editor's name, and the whole reason.
    writeFile("pack/pack.txt", "a\r\n*\r\n");
    std::filesystem::create_directories(folder / "pack/pack.txt~/in the way");
    ASSERT_EQ(editAgain("pack", "esomeone\r"), -1);
    EXPECT_TRUE(has(bottomRows(), "quorvex-edit: cannot"));
    EXPECT_EQ(readFile("pack/pack.txt"), "a\r\n*\r\n");

    // Without a terminal (setsid: not even the one ctest was started from): the report on
    // standard error names the editor too, and the run fails.
    std::string said =
        commandOutput("setsid -w " + std::string(QUORVEX_EDIT_BINARY) + " room.lvl 2>&1 </dev/null || echo failed");
    EXPECT_EQ(said.rfind("quorvex-edit: ", 0), 0u) << said;
    EXPECT_TRUE(has(said, "\nfailed\n"));
}

// Every prompt takes ^U (clear) and ^K (cut to the end); a failed save says
// why in one sentence; a message the file held over the 255 characters the
// game keeps is named when its cut is saved.
TEST_F(Editor, PromptsClearAndCutAndSavingSaysWhatItCouldNotKeep) {
    // Save as: the prefilled name cleared at once; a message cut after its fifth character.
    ASSERT_EQ(editAgain("room.lvl", "m" + leftKey + "\rhello world" + homeKey + times(5, rightKey) + "\x0B\r" + f12 +
                                        "\x15other\r" + quit),
              0);
    EXPECT_EQ(readFile("other.lvl"), fileOf(freshRows({{1, 1, "m"}}), "0", {"hello"}));
    EXPECT_FALSE(exists("room.lvl"));

    // The backup cannot be written: "Not saved (F12 saves elsewhere): cannot ...".
    writeFile("room.lvl", fileOf(freshRows()));
    std::filesystem::create_directories(folder / "room.lvl~/in the way");
    ASSERT_EQ(editAgain("room.lvl", "5" + save), -1);
    EXPECT_TRUE(has(bottomRows(), "Not saved (F12 saves elsewhere): cannot ")) << bottomRows();

    std::string kept = std::string(255, 'a');
    writeFile("long.lvl", fileOf(freshRows({{1, 1, "mn"}}), "0", {"short", kept + "bbbbb"}));
    ASSERT_EQ(editAgain("long.lvl", "5" + save), -1);
    EXPECT_TRUE(has(bottomRows(), "Message 2 had 260 characters; the game keeps 255: saved with\nthe first 255."));
    EXPECT_EQ(readFile("long.lvl"), fileOf(freshRows({{1, 1, "5n"}}), "0", {"short", kept}));
}

// At 80 x 24 the map scrolls under the three status rows to keep the
// cursor in sight, and every other screen shows all of its text.
TEST_F(Editor, At80x24TheRoomScrollsUnderTheStatusRowsAndEveryScreenFits) {
    auto window = [](bool text) {
        WindowLayout layout = windowLayout();
        std::string shown;
        for (int row = 1; row <= layout.rows; ++row) {
            for (int x = 1; x <= layout.columns; ++x) shown += char(windowCell(layout, x, row).character);
            shown += "\n";
        }
        return text ? shown : std::to_string(layout.rows) + ":" + std::to_string(layout.viewRow[0]);
    };
    writeFile("room.lvl", fileOf(freshRows()));
    for (const auto& [keys, top] :
         std::vector<std::pair<std::string, int>>{{times(20, downKey), 2},
                                                  {times(20, downKey) + times(3, upKey), 2},
                                                  {times(20, downKey) + times(4, upKey), 1}}) {
        startMemoryConsole();
        setWindowSize(80, 24);
        type(keys);
        ASSERT_EQ(edit("room.lvl"), -1);
        EXPECT_EQ(window(false), "24:" + std::to_string(top)) << keys.size();
        EXPECT_TRUE(has(window(true), "F1 help ^S save"));  // the keys, on the last row
    }
    for (const std::string& page : {std::string("wall: solid"), std::string("F12          save as")}) {
        startMemoryConsole();
        setWindowSize(80, 24);
        type(extended(scan::f1) + (page[0] == 'F' ? "x" : ""));
        ASSERT_EQ(edit("room.lvl"), -1);
        EXPECT_TRUE(has(window(true), page));
        EXPECT_TRUE(has(window(true), "quorvex-edit: "));
        EXPECT_TRUE(has(window(true), "Any key"));
    }
    // A full pack screen with a note: only its blank second row is left out.
    std::string index;
    for (int i = 1; i <= 18; ++i) index += "r" + std::to_string(i) + "\r\n";
    writeFile("pack/pack.txt", index + "*\r\n");
    for (int i = 2; i <= 18; ++i) writeFile("pack/r" + std::to_string(i) + ".lvl", fileOf(freshRows()));
    startMemoryConsole();
    setWindowSize(80, 24);
    type("x");
    ASSERT_EQ(edit("pack"), -1);
    for (const char* shown : {" Pack pack", "r17", "End line: *", "No file r1.lvl", "new room."})
        EXPECT_TRUE(has(window(true), shown)) << window(true);
}

TEST_F(Editor, CopyCutAndPasteMoveABoxOfCellsAsOneUndoStepEach) {
    writeFile("room.lvl", fileOf(freshRows({{1, 1, "123"}, {2, 1, "j9m"}}), "1", {"hi"}));
    // (2,2)-(4,3) pasted at (10,3), then at (10,5), the second undone whole.
    ASSERT_EQ(editAgain("room.lvl", block + moveTo(4, 3) + copyKey + times(6, rightKey) + paste + times(2, downKey) +
                                        paste + undo + save + quit),
              0);
    EXPECT_EQ(readFile("room.lvl"),
              fileOf(freshRows({{1, 1, "123"}, {2, 1, "j9m"}, {2, 9, "123"}, {3, 9, "j9m"}}), "2", {"hi"}));

    // Cut empties the box (2,20)-(4,21); pasting the start with it at (4,18) moves it (there is one).
    ASSERT_EQ(editAgain("new.lvl", moveTo(2, 20) + block + downKey + times(2, rightKey) + cut + times(3, upKey) +
                                       paste + save + quit),
              0);
    EXPECT_EQ(readFile("new.lvl"), fileOf(freshRows({{20, 1, "   "}, {18, 3, " i "}})));
}
TEST_F(Editor, FillPaintsTheEnclosedAreaAndUndoesAndRedoesAsOneStep) {
    // A closed box from (10,5) to (15,8), a hole of 4 x 2.
    std::vector<Put> cells = {{4, 9, "111111"}, {5, 9, "1  8 1"}, {6, 9, "1    1"}, {7, 9, "111111"}};
    writeFile("room.lvl", fileOf(freshRows(cells)));
    // Lava at (12,6) is the brush; the fill undone whole (the lava stays) as the backup shows, then redone;
    // a second redo finds nothing.
    ASSERT_EQ(editAgain("room.lvl", moveTo(12, 6) + "2" + fill + undo + save + redo + redo + save + quit), 0);
    cells.push_back({5, 11, "2"});
    EXPECT_EQ(readFile("room.lvl~"), fileOf(freshRows(cells)));
    cells.push_back({5, 9, "122821"});  // the enemy's start stays where it is
    cells.push_back({6, 9, "122221"});
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows(cells)));
}

// In a pack the second room's short first row inherits the first room's
// cells: shown so, saved with them and copied with them.
TEST_F(Editor, ShortRowsShowWhatTheyInheritAndAreSavedAndCopiedWithIt) {
    std::vector<std::string> base = freshRows({{0, 40, std::string(40, '2')}}), alpha = freshRows(), whole = base;
    alpha[0] = "9";
    whole[0][0] = '9';
    writeFile("pack/pack.txt", "base\r\nalpha\r\n*\r\n");
    writeFile("pack/base.lvl", fileOf(base));
    writeFile("pack/alpha.lvl", fileOf(alpha));
    ASSERT_EQ(editAgain("pack", downKey + "c\r" + upKey + "\r"),
              -1);  // the name offered, "alpha copy"; then alpha opened
    EXPECT_EQ(readFile("pack/pack.txt"), "base\r\nalpha\r\nalpha copy\r\n*\r\n");
    EXPECT_EQ(readFile("pack/alpha copy.lvl"), fileOf(whole));
    // The exit, as the game draws it; an inherited wall and lava, on the mark's blue.
    for (auto [x, glyph] : std::vector<std::pair<int, int>>{{1, 0x0F}, {2, 0xB2}, {41, 0xB1}}) {
        EXPECT_EQ(bufferCell(x, 1).character, glyph) << x;
        EXPECT_EQ(background(x, 1), x == 1 ? 0 : 1) << x;
    }

    ASSERT_EQ(editAgain("pack", downKey + "\r" + save + quit + "q"), 0);
    EXPECT_EQ(readFile("pack/alpha.lvl"), fileOf(whole));
}

TEST_F(Editor, ThePackIsPlayedFromTheChosenRoomWithoutSaveFilesAndStopsWhereTheGameWould) {
    // Rooms of two steps: the exit two cells right of the start.
    std::string twoSteps = fileOf(freshRows({{20, 2, "i 9" + std::string(73, ' ')}}));
    writeFile("pack/r.lvl", twoSteps);
    writeFile("pack/a.lvl", twoSteps);
    std::string index;
    for (int i = 1; i <= 22; ++i) index += "r\r\n";
    writeFile("pack/pack.txt", index + "*\r\n");
    type(times(19, downKey) + "p");  // room 20: a checkpoint room in the main series
    type(rightKey, 1000);
    type(rightKey, 4000);
    ASSERT_EQ(edit("pack"), -1);
    EXPECT_TRUE(has(bottomRows(), "Room 22 is the ending's backdrop"));
    EXPECT_FALSE(exists("checkpoint.sav"));
    EXPECT_FALSE(exists("save.sav"));

    // Where the game would stop after room 1: a missing file, the end line.
    for (const auto& [index, said] :
         std::vector<std::pair<std::string, std::string>>{{"a\r\nmissing\r\n*me\r\n", "Room 2: the game finds no file"},
                                                          {"a\r\n*me\r\n", "Room 2 is the end line"}}) {
        writeFile("pack/pack.txt", index);
        startMemoryConsole();
        type("p");
        type(rightKey, 1000);
        ASSERT_EQ(edit("pack"), -1);
        EXPECT_TRUE(has(bottomRows(), said));
    }
}

TEST_F(Editor, EarlierRoomsReadOnlyWhatTheGameReads) {
    // Every kind of line end, one straddling the reading's 64 KiB chunks, long rows and messages.
    std::string tricky = std::string(65535, '1') + "\r\n" + "2222\r" + "3333\n" + std::string(300, 'k') + "\r\n";
    for (int y = 5; y <= 22; ++y) tricky += (y % 2 ? "i5" : "m6") + std::string(static_cast<size_t>(y), '4') + "\n";
    tricky += "7\r\n" + std::string(400, 'a') + "\r\n\x1A stop\r\nnever\r\n";
    for (const std::string& fileText : {tricky, std::string("12\r\n\r\n\rij"), std::string()}) {
        writeFile("t.lvl", fileText);
        Inheritance read;
        setCell(read.map, 5, 5, Lava);
        Inheritance game = read;
        applyEarlierRoom(read, readLevelLines(authorsFile("t.lvl")));
        applyEarlierRoom(game, readTextFile("t.lvl"));
        EXPECT_EQ(std::memcmp(&read.map, &game.map, sizeof read.map), 0);
        EXPECT_EQ(read.messages, game.messages);
        EXPECT_EQ(std::make_pair(read.startX, read.startY), std::make_pair(game.startX, game.startY));
        EXPECT_FALSE(read.firstRoom);
    }
    EXPECT_LE(readLevelLines(authorsFile("t.lvl")).size(), 31u * 256);
}

}  // namespace

TEST_F(Editor, HelpFirstShowsWhatEachKeyPaintsInTheGamesOwnLook) {
    writeFile("room.lvl", fileOf(freshRows()));
    type(extended(scan::f1));
    ASSERT_EQ(edit("room.lvl"), -1);  // the legend waits for a key
    auto look = [&](const std::string& name) {
        for (int row = 1; row <= 25; ++row)
            if (screenRow(row).find(name) != std::string::npos)
                return std::to_string(bufferCell(11, row).character) + "/" +
                       std::to_string(bufferCell(11, row).attribute);
        return std::string("missing");
    };
    EXPECT_EQ(look("wall: solid"), "178/8");  // dark grey shade
    EXPECT_EQ(look("lava: deadly"), "177/4");
    EXPECT_EQ(look("spring: throws"), "127/42");    // light green on green
    EXPECT_EQ(look("the player's start"), "2/30");  // marked on blue: the game never draws it
    startMemoryConsole();
    type(extended(scan::f1) + "x");
    ASSERT_EQ(edit("room.lvl"), -1);
    EXPECT_TRUE(has(screenRow(1), "keys of the room editor"));
}

// Every row's words stay on their row: the legend's title, the help page
// (whose verdict row is the window's own: 23 at 80 x 24), and a report that
// names a long path, folded after a slash, never inside a name.
TEST_F(Editor, TheEditorsWordsFitTheirRows) {
    writeFile("room.lvl", fileOf(freshRows()));
    for (int rows : {25, 24})
        for (const std::string& page : {std::string(""), std::string("x")}) {
            SCOPED_TRACE(std::to_string(rows) + (page.empty() ? " legend" : " keys"));
            startMemoryConsole();
            setWindowSize(80, rows);
            type(extended(scan::f1) + page);
            ASSERT_EQ(edit("room.lvl"), -1);
            for (int row = 1; row < 25; ++row)
                EXPECT_FALSE(isalpha(bufferCell(80, row).character) && isalpha(bufferCell(1, row + 1).character))
                    << "runs on: " << screenRow(row) << "\n"
                    << screenRow(row + 1);
            if (!page.empty()) {
                EXPECT_TRUE(has(screenRow(22), "Row " + std::to_string(rows - 1) + " is the"));
            }
        }
    const std::string parts[] = {"a-long-folder-name-for-the-pack-of-rooms", "another-long-folder-name-below-it"};
    std::string path = parts[0] + "/" + parts[1] + "/room.lvl";
    writeFile(path, fileOf(freshRows()));
    std::filesystem::create_directories(folder / (path + "~/in the way"));
    ASSERT_EQ(editAgain(path, "5" + save), -1);
    ASSERT_TRUE(has(bottomRows(), "Not saved"));
    for (const std::string& part : parts) EXPECT_TRUE(has(bottomRows(), part + "/"));
    EXPECT_TRUE(has(bottomRows(), "/\nroom.lvl~: "));  // once "room" / ".lvl~"
}
