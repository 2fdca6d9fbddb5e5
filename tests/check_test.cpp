// The level checker: findings, verdicts, key windows, packs, unreadable input,
// output forms and exit status, memory and time bounds.
#include <sys/resource.h>
#include <sys/stat.h>

#include <sstream>

#include "checker.h"
#include "childrun.h"
#include "jsonbytes.h"
#include "levels/levels.h"
#include "tmux.h"

namespace {

// A lava gap that only a running jump pressed on one exact tick clears: a jump
// a tick early meets spikes overhead (row 15 shows them), a tick late the lava.
std::string oneTickRoom(const std::string& floor = "i" + std::string(75, ' ') + "9", const std::string& goods = "0") {
    std::map<int, std::string> rows = {{15, std::string(78, '1')},
                                       {16, std::string(78, '3')},
                                       {19, floor},
                                       {20, std::string(19, '1') + "22222" + std::string(54, '1')}};
    rows[16][21] = ' ';
    return boxRoom(rows, goods);
}

TEST_F(Checker, VerdictsOfTheSearchInTheCompilersForm) {
    // A wall before the exit; goods in a sealed box, a warning that names the cell.
    std::map<int, std::string> walled;
    for (int y = 2; y <= 21; ++y) walled[y] = std::string(70, ' ') + "1";
    walled[20] = "i" + walled[20].substr(1) + "     9";
    walled[5].replace(10, 3, "111"), walled[6].replace(10, 3, "1j1"), walled[7].replace(10, 3, "111");
    EXPECT_EQ(checkRoom(boxRoom(walled, "1")), 1);
    EXPECT_TRUE(says("error: exit not reachable")) << out;
    EXPECT_TRUE(says("room.lvl:6:13: warning: the goods item at (13, 6) cannot be reached")) << out;
    EXPECT_TRUE(says("\n2 errors, 1 warning\n")) << out;

    // A shaft drops the player onto an enemy at the one tick it can arrive: a life lost.
    std::map<int, std::string> shaft;
    for (int y = 2; y <= 20; ++y) shaft[y] = std::string(37, ' ') + "1 1";
    shaft[2][38] = 'i';
    shaft[21] = std::string(19, ' ') + "18" + std::string(18, ' ') + "9";
    EXPECT_EQ(checkRoom(boxRoom(shaft)), 0) << out;
    EXPECT_TRUE(says("room.lvl:2:40: note: the exit is reachable only by losing a life")) << out;

    // Stuck alive in a hole in the floor deeper than a jump: an error with its place.
    std::map<int, std::string> rows = {{16, "i" + std::string(75, ' ') + "9"}, {17, "1111111 " + std::string(70, '1')}};
    for (int y = 18; y <= 21; ++y) rows[y] = "      1 1";
    EXPECT_EQ(checkRoom(boxRoom(rows)), 1) << out;
    EXPECT_TRUE(says("error: stuck alive at (9, ")) << out;
    EXPECT_TRUE(says("note: finishable in")) << out;
}

TEST_F(Checker, KeyWindowsAndTheDifficultyFigureFollowTheSpreadOfThePressesAndThePrintedWayReplays) {
    // One key on one tick: a try finishes when the press is off by less than
    // half a tick, 38 % of a normal spread of 1 tick and 68 % of 0.5 tick.
    SearchReport tight = searchRoom(roomFromText(oneTickRoom(), RoomState{}));
    ASSERT_EQ(tight.verdict, Verdict::Finishable);
    EXPECT_EQ(tight.narrowestWindow, 1);
    EXPECT_NEAR(tight.success.newHand, 0.383, 0.04);
    EXPECT_NEAR(tight.success.practised, 0.683, 0.04);

    // The exit behind the start, an item beyond the gap: only who takes every item jumps, twice.
    const std::string detourRoom = oneTickRoom("9       i                    j", "1");
    SearchReport detour = searchRoom(roomFromText(detourRoom, RoomState{}));
    EXPECT_EQ(detour.success.newHand, 1.0);
    EXPECT_NEAR(detour.success.allGoodsNew, 0.383 * 0.383, 0.04);
    EXPECT_NEAR(detour.success.allGoodsPractised, 0.683 * 0.683, 0.05);

    // The printed way, back from its "tick key" lines to one key a tick, through the game's tick.
    checkRoom(detourRoom, {"--solution"});
    std::vector<TickKey> keys;
    const std::map<std::string, TickKey> names = {
        {"left", TickKey::Left}, {"right", TickKey::Right}, {"up", TickKey::Up}, {"space", TickKey::Space}};
    std::istringstream lines(out.substr(out.find('\n', out.find("# room.lvl")) + 1));
    int tick;
    std::string name;
    while (lines >> tick >> name && names.count(name)) {
        keys.resize(tick, TickKey::None);
        keys[tick - 1] = names.at(name);
    }
    room = roomFromText(detourRoom, RoomState{});
    PlayerState player = startRoom();
    TickOutcome outcome = TickOutcome::GoOn;
    for (int t = 0; t < 2000 && outcome == TickOutcome::GoOn; ++t)
        outcome = stepTickWith(player, t < static_cast<int>(keys.size()) ? keys[t] : TickKey::None);
    EXPECT_EQ(outcome, TickOutcome::ExitReached) << out;
    EXPECT_EQ(game.goodsCollected, 1);

    // The program's JSON and text; where nothing on the way can hurt, every try finishes, goods or not.
    EXPECT_EQ(checkRoom(oneTickRoom(), {"--json"}), 0);
    EXPECT_TRUE(says("\"success\":{\"new\":0.386,\"practised\":0.662,\"allGoodsNew\":0.386,")) << out;
    std::map<int, std::string> flat = flatRoom();
    flat[20][30] = 'j';
    EXPECT_EQ(checkRoom(boxRoom(flat, "1")), 0);
    EXPECT_TRUE(says("room.lvl:20:2: note: success 100 % (new hand), 100 % (practised); all goods 100 %, 100 %\n"))
        << out;

    // In small slices: the same ways and the same figure.
    SearchJobPtr job = startSearch(roomFromText(oneTickRoom(), RoomState{}));
    while (!advanceSearch(*job, {200, 0.2})) {
    }
    const SearchReport& sliced = searchReport(*job);
    EXPECT_TRUE(sliced.decided && sliced.success.measured);
    EXPECT_EQ(sliced.solution, tight.solution);
    EXPECT_EQ(sliced.success.newHand, tight.success.newHand);
}

TEST_F(Checker, StaticFindingsOfALevelFile) {
    // Findings of the text and of the first steps: no need to see millions of states.
    const std::vector<std::string> quickly = {"--max-states=300000"};
    std::map<int, std::string> rows = flatRoom();
    rows[8] = "    m";
    std::string text = boxRoom(rows, "3", {std::string(70, 'x'), std::string(150, 'y')});
    text.replace(text.find('\n', 81 * 5) - 10, 10, "");  // row 6 short by ten
    checkRoom(text, quickly);
    for (const char* expected : {"room.lvl:6:71: warning: row 6 has 70 characters: cells (71, 6) to (80, 6) keep",
                                 "room.lvl:23:1: warning: the goods line says 3, the map holds 0 goods",
                                 "room.lvl:24:67: warning: message 'm' has 70 characters: after 66 it wraps",
                                 "room.lvl:25:146: warning: message 'n' has 150 characters: it is cut at 145"})
        EXPECT_TRUE(says(expected)) << expected << "\n" << out;

    // No start in a series' first room is an error; missing rows, long rows, the map edge.
    std::string bare = std::string(90, ' ') + "\n" + std::string(80, '1') + "\n";
    checkRoom(bare, quickly);
    for (const char* expected : {"room.lvl:1:1: error: no start 'i': the player starts at (1, 1)",
                                 "room.lvl:1:1: error: no exit '9' on the map",
                                 "room.lvl:1:81: warning: row 1 has 90 characters: those after column 80 are ignored",
                                 "room.lvl:3: warning: the file ends after 2 lines: rows 3 to 22 keep"})
        EXPECT_TRUE(says(expected)) << expected << "\n" << out;
    // A missing exit is one error: what follows from it is not said again.
    checkRoom(boxRoom({{21, "i"}}), quickly);
    EXPECT_TRUE(says("room.lvl:1:1: error: no exit '9' on the map\n1 error, 0 warnings\n")) << out;

    std::string edge = boxRoom({{21, "i"}, {10, "8"}, {5, "9"}});
    edge[10 * 81 - 2] = edge[21 * 81 - 2] = ' ';  // no wall at the right end of rows 10 and 21
    checkRoom(edge, quickly);
    EXPECT_TRUE(says("warning: the horizontal enemy's path reaches the edge of the map at (80, 10)")) << out;
    EXPECT_TRUE(says("warning: the player can reach the edge of the map at (80, 21)")) << out;
}

TEST_F(Checker, APackIsCheckedInIndexOrderWithItsOwnFindings) {
    writeFile("p/p.txt", "one\nsub\n*me\n");
    writeFile("p/one.lvl", boxRoom(flatRoom()));
    std::filesystem::create_directories(folder / "p/sub.lvl");
    EXPECT_EQ(check({"p"}), 1);
    EXPECT_TRUE(says("p/one.lvl:20:2: note: finishable")) << out;
    EXPECT_TRUE(says("p/p.txt:2:1: error: the entry \"sub\" names the folder")) << out;

    std::string index;
    for (int n = 1; n <= 23; ++n) index += "one\n";
    writeFile("p/p.txt", index);
    check({"p"});
    EXPECT_TRUE(says("p/p.txt:22:1: warning: more than 21 playable rooms")) << out;
    EXPECT_TRUE(says("p/p.txt:24:1: warning: no end line")) << out;
}

TEST_F(Checker, InputThatCannotBeReadIsAFindingAndStatusTwoAsIsShowWithoutATerminal) {
    writeFile("binary.lvl", std::string("\x00\xff\x1b[2J\x07", 7) + std::string(200, '\x01'));
    EXPECT_EQ(check({"binary.lvl"}), 1);  // readable: findings, no crash
    EXPECT_TRUE(says("byte 0x00 is not a map character")) << out;
    ASSERT_EQ(mkfifo((folder / "fifo.lvl").c_str(), 0600), 0);
    EXPECT_EQ(check({"fifo.lvl"}), 2);
    EXPECT_TRUE(says("fifo.lvl: error: cannot read: not a regular file")) << out;
    std::filesystem::create_directories(folder / "empty");
    EXPECT_EQ(check({"empty"}), 2);
    EXPECT_TRUE(says("neither a pack folder")) << out;
    EXPECT_EQ(check({"--frobnicate"}), 2);
    // A loop of links is named so.
    ASSERT_EQ(symlink("b.lvl", (folder / "a.lvl").c_str()), 0);
    ASSERT_EQ(symlink("a.lvl", (folder / "b.lvl").c_str()), 0);
    EXPECT_EQ(check({"a.lvl", "none.lvl"}), 2);
    EXPECT_TRUE(says("a.lvl: error: cannot read: a loop of links\n")) << out;
    EXPECT_TRUE(says("none.lvl: error: cannot read: no such file\n")) << out;
    writeFile("p/p.txt", "one\r\n*me\r\n");
    ASSERT_EQ(symlink("one.lvl", (folder / "p/one.lvl").c_str()), 0);
    EXPECT_EQ(check({"p"}), 1);
    // A looping entry resolves nowhere: an error on its line, unread.
    EXPECT_TRUE(says("p/p.txt:1:1: error: the entry \"one\" names p/one.lvl, a loop of links")) << out;
    // setsid: no controlling terminal, and none on the standard streams.
    EXPECT_EQ(
        commandOutput("setsid -w " + shellQuoted(QUORVEX_CHECK_BINARY) + " --show binary.lvl </dev/null 2>&1; echo $?"),
        "quorvex-check: --show needs a terminal to play the ways in, and there is none\n2\n");
}

TEST_F(Checker, InSlicesTheSearchLeavesTheGameAsItWas) {
    // A guardian rising in a short shaft, one pacing high up out of reach.
    std::map<int, std::string> rows = {{20, "i  j  44    7  k   9"}, {10, "     8     "}, {16, "           111"}};
    RoomState loaded = roomFromText(boxRoom(rows, "2"), RoomState{});
    SearchLimits limits;
    SearchReport whole = searchRoom(loaded, limits);
    moveCursor(5, 5);
    writeText("screen");
    room.startX = 33, game.score = 77;
    const uint64_t clock = virtualNow();
    SearchJobPtr job = startSearch(loaded, limits);
    int slices = 0;
    while (!advanceSearch(*job, {50, 1})) ++slices;
    EXPECT_GT(slices, 3);
    const SearchReport& sliced = searchReport(*job);
    EXPECT_TRUE(whole.decided && sliced.decided);
    EXPECT_EQ(std::tie(sliced.ticks, sliced.allGoodsTicks, sliced.narrowestWindow, sliced.success.newHand),
              std::tie(whole.ticks, whole.allGoodsTicks, whole.narrowestWindow, whole.success.newHand));
    EXPECT_EQ(screenRow(5), "    screen");
    EXPECT_EQ(room.startX * 100 + game.score, 3377);
    EXPECT_EQ(virtualNow(), clock);
}

// Thirty loose goods, two enemies, the exit shut in: ways multiply until a limit stops them.
std::string vastRoom() {
    std::string goods, ledges;  // goods on rows 7, 13, 19, each over a ledge but the last
    for (int x = 5; x < 70; x += 7) goods.resize(x + 1, ' '), goods += 'j', ledges.resize(x, ' '), ledges += "111";
    std::map<int, std::string> rows = {{2, std::string(30, ' ') + "7" + std::string(39, ' ') + "191"}, {4, " 8"}};
    rows[7] = rows[13] = rows[19] = goods, rows[8] = rows[14] = ledges, rows[20] = "i";
    return boxRoom(rows);
}

// The checker in a child with `headroom` bytes of address space left: its output, status,
// and whether the default memory share is a quarter of that limit.
[[maybe_unused]] std::string checkUnderLimit(const std::vector<std::string>& arguments, size_t headroom) {
    return inChild([&] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit space{};
        space.rlim_cur = space.rlim_max = size_t(pages) * size_t(sysconf(_SC_PAGESIZE)) + headroom;
        setrlimit(RLIMIT_AS, &space);
        std::string out, err;
        int status = runChecker(arguments, out, err);
        return out + "status " + std::to_string(status) + " share " +
               std::to_string(searchMemoryShare() * 4 == space.rlim_cur) + "\n";
    });
}

// The report's room: ice, then a bridge of thirteen crumbling cells over lava, and beside
// the exit a pit into a cellar that the player falls into and never leaves. The floor's
// patterns make millions of states, more than the search's old fixed cap.
std::string pitRoom() {
    std::map<int, std::string> rows = {{11, std::string(78, '1')}, {14, "i" + std::string(67, ' ') + "9"}};
    rows[15] = "111111" + std::string(13, '6') + "111" + std::string(13, '4') + std::string(23, '1') + " " +
               std::string(19, '1');
    rows[16] = std::string(22, '1') + std::string(13, '2') + std::string(18, '1') + std::string(11, ' ') +
               std::string(14, '1');
    for (int y = 17; y <= 20; ++y) rows[y] = std::string(53, '1') + std::string(11, ' ') + std::string(14, '1');
    return boxRoom(rows);
}

TEST_F(Checker, EveryReachableStateIsSeenSoAPitBehindCrumblingFloorIsFoundStuck) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "millions of states take minutes under the sanitizers";
#endif
    RoomState loaded = roomFromText(pitRoom(), RoomState{});
    SearchReport report = searchRoom(loaded);
    EXPECT_TRUE(report.decided) << report.stopReason;
    std::vector<Finding> found = searchFindings(loaded, report);
    EXPECT_EQ(roomClass(found), RoomClass::Error);
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found[0].text.rfind("finishable in 68 ticks", 0), 0u) << found[0].text;
    EXPECT_EQ(found.back().text.rfind("stuck alive at (60, 15)", 0), 0u) << found.back().text;
}

TEST_F(Checker, ANumberedPackIsAPack) {
    writeFile("mine/mine.txt", "1\r\n2\r\n*me\r\n");
    writeFile("mine/1.lvl", boxRoom(flatRoom()));
    writeFile("mine/2.lvl", boxRoom({{20, "i" + std::string(50, ' ') + "9"}}));
    EXPECT_EQ(check({"mine"}), 0) << out;
    EXPECT_TRUE(says("mine/1.lvl:20:2: note: finishable in 76 ticks")) << out;
    EXPECT_TRUE(says("mine/2.lvl:20:2: note: finishable in 51 ticks")) << out;
    EXPECT_FALSE(says("3.lvl")) << out;
}

TEST_F(Checker, ALimitThatStopsASearchIsNeverAPassAndRunningOutOfMemoryGivesUpInsteadOfAborting) {
    writeFile("vast.lvl", vastRoom());
    writeFile("flat.lvl", boxRoom(flatRoom()));
    // Each limit as given, named on the room's last line and counted in the summary: status 3.
    EXPECT_EQ(check({"--max-memory=64K", "flat.lvl"}), 3);
    EXPECT_TRUE(
        says("flat.lvl:20:2: warning: not fully checked: stopped by more than 64 KiB of memory "
             "(--max-memory) after "))
        << out;
    EXPECT_TRUE(says("\n0 errors, 1 warning, 1 room not fully checked\n")) << out;
    EXPECT_EQ(check({"--max-states=1000", "--json", "flat.lvl", "vast.lvl"}), 3);
    EXPECT_TRUE(says("stopped by more than 1000 states (--max-states) after 99")) << out;
    EXPECT_TRUE(says("\"decided\":false,\"stoppedBy\":\"states\"")) << out;
    EXPECT_TRUE(says("\"notFullyChecked\":2}")) << out;
    for (const char* bad : {"--max-memory=0", "--max-memory=-5", "--max-memory=12X", "--max-memory=", "--max-memory=G"})
        EXPECT_EQ(check({bad, "flat.lvl"}), 2) << bad;
    EXPECT_EQ(check({"--max-memory=0.5G", "flat.lvl"}), 0);
    EXPECT_TRUE(says("flat.lvl:20:2: note: finishable in 76 ticks (5.7 s), no goods")) << out;
    // Time limits hold when small and are shown as given; an error still decides the status.
    std::map<int, std::string> wall;
    for (int y = 2; y <= 21; ++y) wall[y] = "   1";
    wall[21] = "i  1 9";
    writeFile("shut.lvl", boxRoom(wall));
    EXPECT_EQ(check({"--max-seconds=0.4", "vast.lvl", "shut.lvl"}), 1);
    EXPECT_TRUE(
        says("vast.lvl:20:2: warning: not fully checked: stopped by more than 0.4 s of processor time "
             "(--max-seconds) after "))
        << out;
    // And what filled the states: the two guards' ways, not the floor.
    EXPECT_TRUE(says("; the guard in column 32 and the guard at row 4 could not be proven safe\n")) << out;
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory leaves no room for an address-space limit";
#endif
    // No state bound: the default share stops the search, and a bound past what the
    // system gives ends in a failed allocation, which stops it too.
    std::string output = checkUnderLimit({"--max-seconds=600", "vast.lvl"}, 80 << 20);
    EXPECT_NE(output.find(" MiB of memory (--max-memory) after "), std::string::npos) << output;
    // The exit shut in may be proven out of reach (an error) before the memory ran out.
    EXPECT_TRUE(output.find("status 3 share 1") != std::string::npos ||
                output.find("status 1 share 1") != std::string::npos)
        << output;
    output = checkUnderLimit({"--max-seconds=600", "--max-memory=100G", "vast.lvl", "flat.lvl"}, 80 << 20);
    EXPECT_NE(
        output.find("vast.lvl:20:2: warning: not fully checked: stopped by the system refusing more memory after "),
        std::string::npos)
        << output;
    EXPECT_NE(output.find("flat.lvl:20:2: note: finishable in 76 ticks"), std::string::npos) << output;
    EXPECT_TRUE(output.find("status 3 ") != std::string::npos || output.find("status 1 ") != std::string::npos)
        << output;
}

TEST_F(Checker, JsonGivesTheVerdictAndPathsGiveBackTheirBytesUtf8AsItIsOtherBytesEscaped) {
    const std::vector<std::string> names = {"jsön/rööm.lvl", "b\xff\xc3(\xed\xa0\x80z.lvl", "tab\tquote\"\xc2\x85.lvl"};
    for (const std::string& name : names) writeFile(name, boxRoom(flatRoom()));
    EXPECT_EQ(check({"--json", names[0], names[1], names[2]}), 0) << out;
    EXPECT_TRUE(says("\"verdict\":\"finishable\",\"ticks\":76")) << out;
    EXPECT_TRUE(says("\"errors\":0,\"warnings\":0,\"notFullyChecked\":0}")) << out;
    EXPECT_TRUE(says("b\\udcff\\udcc3(\\udced\\udca0\\udc80z.lvl")) << out;
    EXPECT_TRUE(says("tab\\u0009quote\\\"\\u0085.lvl")) << out;
    std::vector<std::string> paths;
    for (size_t at = out.find("\"path\":\""); at != std::string::npos; at = out.find("\"path\":\"", at))
        paths.push_back(jsonBytes(out, at += 7));
    ASSERT_EQ(paths.size(), 9u) << out;  // two findings (the way, the success) and a room each
    for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(paths[i], names[i < 6 ? i / 2 : i - 6]);
    for (unsigned char c : out) EXPECT_TRUE(c >= 0x20 || c == '\n') << int(c);
}

}  // namespace
