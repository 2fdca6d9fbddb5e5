// The checker's par and its way as a run: a par the game shows only where
// its way holds on the room, the pars the editor keeps beside a pack's
// index, the checker's way written as a run that the replay plays to the
// exit, and the way drawn over the room in the editor.
#include "game/par.h"

#include "checker.h"
#include "editrun.h"
#include "shell/replay.h"

namespace {

namespace fs = std::filesystem;

// A floor with a gap to jump, goods beyond it, the exit at the end.
std::string jumpRoom() {
    std::map<int, std::string> rows = flatRoom();
    rows[20][40] = 'j';
    rows[21] = std::string(30, ' ') + "   ";
    return boxRoom(rows, "1");
}

// The room's record as play starts it (no tick played): what the game keeps of a room.
RoomRecord startOf(const std::string& text, bool inPack) {
    return roomRecordFromKeys({RoomSourceKind::Held, "", text}, roomFromText(text, RoomState{}), 1, inPack, {});
}

using ParRun = Checker;

TEST_F(ParRun, AParIsShownOnlyWhereItsWayPlaysToTheExitInItsTicks) {
    const std::string text = jumpRoom();
    writeFile("levels/custom levels/fair/fair.txt", "one\r\n*me\r\n");
    writeFile("levels/custom levels/fair/one.lvl", text);
    std::map<int, std::string> walled;
    for (int y = 2; y <= 21; ++y) walled[y] = "   1";
    walled[21] = "i  1 9";
    writeFile("none.lvl", boxRoom(walled));
    EXPECT_EQ(check({"--par", "--par=levels/custom levels/fair/fair.par", "levels/custom levels/fair", "none.lvl"}), 1);
    EXPECT_TRUE(says("levels/custom levels/fair/one.lvl: par 76 ticks (5.7 s), all goods 76 ticks (5.7 s)\n")) << out;
    EXPECT_TRUE(says("none.lvl: no par: no way to the exit without losing a life\n")) << out;
    // Seconds as the time trial shows them, a half up: 5.85 and 23.25 s, which
    // a double holds just under the half.
    EXPECT_EQ(secondsOfTicks(78) + " " + secondsOfTicks(310), "5.9 23.3");
    std::string file = readFile("levels/custom levels/fair/fair.par");
    RoomPar par;
    ASSERT_TRUE(readParLine(file.substr(0, file.find('\r')), par)) << file;
    EXPECT_EQ(par.roomHash, roomFileHash(text));
    EXPECT_EQ(par.ticks, 76);
    EXPECT_EQ(parLine(par) + "\r\n-\r\n", file);  // the room that has none: "-"
    EXPECT_EQ(roomPar("fair", startOf(text, true), text), 76);
    // The main series keeps its pars in levels/main.par.
    writeFile("levels/main.par", file);
    EXPECT_EQ(roomPar("", startOf(text, false), text), 76);

    // A par faster than the room allows: its way cannot take it there in so few ticks.
    RoomPar fast = par;
    fast.ticks = 60;
    fast.way.resize(60);
    writeFile("levels/custom levels/quick/quick.txt", "one\r\n*me\r\n");
    writeFile("levels/custom levels/quick/one.lvl", text);
    writeFile("levels/custom levels/quick/quick.par", parFileText({fast}));
    EXPECT_EQ(roomPar("quick", startOf(text, true), text), std::nullopt);
    // Nor a par of another room, nor a line that is not one.
    writeFile("levels/custom levels/other/other.par", parFileText({par}) + "76 zz r76\r\n");
    std::string changed = text;
    changed[81 * 5 + 10] = '1';
    EXPECT_EQ(roomPar("other", startOf(changed, true), changed), std::nullopt);
}

// The bench's rooms, past the exact search's share: their pars are the fewest
// ticks the exhaustive search finds (which takes seconds a room).
TEST_F(ParRun, TheParsOfTheBenchRoomsAreTheirFewestTicks) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "millions of steps take minutes under the sanitizers";
#endif
    const std::string rooms = std::string(QUORVEX_SOURCE_DIR) + "/bench/rooms/";
    EXPECT_EQ(check({"--par", rooms + "bridge.lvl", rooms + "cellar.lvl", rooms + "guard.lvl", rooms + "sentries.lvl"}),
              1);
    for (const char* expected :
         {"bridge.lvl: par 68 ticks (5.1 s), all goods 68 ticks (5.1 s)\n", "cellar.lvl: par 68 ticks (5.1 s)\n",
          "guard.lvl: par 72 ticks (5.4 s), all goods 72", "sentries.lvl: par 72 ticks (5.4 s)\n"})
        EXPECT_TRUE(says(expected)) << expected << "\n" << out;
}

TEST_F(ParRun, TheCheckersWayIsARunThatTheReplayPlaysToTheExit) {
    writeFile("room.lvl", jumpRoom());
    EXPECT_EQ(check({"--solution=way.run", "room.lvl"}), 0) << out << err;
    RecordedRun recorded;
    ASSERT_EQ(readRunFile((folder / "way.run").string(), recorded), "");
    EXPECT_EQ(recorded.origin, RunOrigin::Checker);
    ASSERT_EQ(recorded.rooms.size(), 1u);
    EXPECT_EQ(recorded.rooms[0].kind, RoomSourceKind::File);
    EXPECT_EQ(recorded.rooms[0].name, fs::canonical(folder / "room.lvl").string());  // found from anywhere
    EXPECT_EQ(recorded.rooms[0].end, RoomEnd::Exit);
    EXPECT_EQ(recorded.rooms[0].goodsTaken, 1);
    startMemoryConsole();
    scriptKey(100'000, {key::escape, false});
    EXPECT_EQ(replayRun(recorded), 0);
    EXPECT_EQ(replayStopLine(), "");
    EXPECT_TRUE(screenRow(23).ends_with(" end of the run \xFA tick 76 of 76")) << screenRow(23);

    writeFile("room.lvl", boxRoom(flatRoom()));  // a room changed since: the replay says so
    startMemoryConsole();
    scriptKey(100'000, {key::escape, false});
    EXPECT_EQ(replayRun(recorded), 1);
    EXPECT_EQ(replayStopLine(), "room 1 is not the room this run was recorded in");
}

class EditorPar : public EditorRun {};

TEST_F(EditorPar, ThePackScreenKeepsThePacksParsBesideItsIndex) {
    writeFile("levels/custom levels/two/two.txt", "a\r\nb\r\n*me\r\n");
    writeFile("levels/custom levels/two/a.lvl", jumpRoom());
    writeFile("levels/custom levels/two/b.lvl", fileOf(freshRows({{10, 5, "111"}, {11, 5, "1 1"}})));
    type("q", 1000);  // while no key has come, the rooms are checked
    ASSERT_EQ(edit("levels/custom levels/two"), 0) << editorReport() << bottomRows();
    std::string file = readFile("levels/custom levels/two/two.par");
    std::vector<std::string_view> lines = splitLines(file);
    ASSERT_EQ(lines.size(), 2u) << file;
    RoomPar a, b;
    ASSERT_TRUE(readParLine(lines[0], a) && readParLine(lines[1], b)) << file;
    EXPECT_EQ(a.roomHash, roomFileHash(jumpRoom()));
    EXPECT_EQ(a.ticks, 76);
    EXPECT_EQ(b.ticks, 75);  // the start at (3, 21): 75 steps to the exit

    // The checker's way drawn over the room, a dot a tick: the jump as its arc.
    startMemoryConsole();
    type(std::string(1, key::ctrl('T')));
    ASSERT_EQ(edit("levels/custom levels/two/a.lvl"), -1);
    int dots = 0, high = 21;
    for (int x = 2; x <= 79; ++x)
        for (int y = 2; y <= 21; ++y)
            if (bufferCell(x, y).character == 0xFA && (bufferCell(x, y).attribute & 0x0F) == 15)
                ++dots, high = std::min(high, y);
    EXPECT_GE(dots, 70);
    EXPECT_LE(high, 18) << "the jump over the gap rises";
    startMemoryConsole();
    type(std::string(2, key::ctrl('T')));  // again: hidden
    ASSERT_EQ(edit("levels/custom levels/two/a.lvl"), -1);
    EXPECT_EQ(screenRow(20).find('\xFA'), std::string::npos);
}

}  // namespace
