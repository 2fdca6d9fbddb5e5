// The checker on rooms past the exact search's share: decided by ways the
// game's tick plays and by proofs, the same verdicts as the exact search
// where both can decide, and the report's small print.
#include <random>

#include "checker.h"
#include "tmux.h"

namespace {

// The start and the exit either side of a two-way bridge of `cells` crumbling
// cells over lava (row 16); pocket: below its right end a shaft walled all
// round, deeper than a jump, where a player who stops there ends up.
std::string bridgeRoom(int cells, bool pocket) {
    std::map<int, std::string> rows;
    rows[14] = "i" + std::string(cells + 19, ' ') + "9";
    for (int y = 15; y <= 21; ++y) rows[y] = std::string(78, '1');
    rows[15].replace(9, cells, std::string(cells, '4'));
    rows[16].replace(9, cells, std::string(cells, '2'));
    if (pocket)
        for (int y = 16; y <= 21; ++y) rows[y][8 + cells] = ' ';
    return boxRoom(rows);
}

class CheckerAtScale : public Checker {
protected:
    void TearDown() override {
        setExactShare(0);
        Checker::TearDown();
    }
};

TEST_F(CheckerAtScale, BridgesOfAnyLengthAreDecidedAndAPocketBelowOneEndIsStuck) {
    for (int cells : {17, 40}) {
        SCOPED_TRACE(cells);
        // Far past what every pattern of holes would take: 2^17 and 2^40 of them.
        RoomState bridge = roomFromText(bridgeRoom(cells, false), RoomState{});
        SearchReport report = searchRoom(bridge);
        ASSERT_TRUE(report.decided) << report.stopReason;
        EXPECT_EQ(report.verdict, Verdict::Finishable);
        EXPECT_TRUE(report.ticksShortest && !report.stuck);
        EXPECT_EQ(report.ticks, cells + 20);  // walking all the way: no way is shorter
        int played = 0;
        EXPECT_EQ(replayKeys(bridge, report.solution, &played), TickOutcome::ExitReached);
        EXPECT_EQ(played, report.ticks);

        // In the editor's small slices: the same way.
        SearchJobPtr job = startSearch(bridge);
        while (!advanceSearch(*job, {200, 0.2})) {
        }
        EXPECT_EQ(searchReport(*job).solution, report.solution);

        checkRoom(bridgeRoom(cells, true));
        std::string pocketAt = std::to_string(cells + 10) + ", 17";
        EXPECT_TRUE(says("room.lvl:17:" + std::to_string(cells + 10) + ": error: stuck alive at (" + pocketAt + ")"))
            << out;
        EXPECT_TRUE(says("note: finishable in " + std::to_string(cells + 20) + " ticks")) << out;
    }
    // A limit that stops it says what filled its states.
    checkRoom(bridgeRoom(17, true), {"--max-states=20000"});
    EXPECT_TRUE(says("; the 17 crumbling cells at row 15, columns 11 to 27 could not be proven safe\n")) << out;
}

// Rooms drawn at random, small enough for the exact search: decided the
// exact way and by the proofs, they must say the same.
std::string randomRoom(std::mt19937& random) {
    std::map<int, std::string> rows;
    const int width = 14 + static_cast<int>(random() % 12);
    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    for (int y = 2; y <= 21; ++y) rows[y] = std::string(width, ' ') + std::string(78 - width, '1');
    for (int y = 2; y <= 9; ++y) rows[y] = std::string(78, '1');
    for (int ledge = 0; ledge < 3; ++ledge) {
        int y = 12 + pick(8), x = pick(width - 2), length = 2 + pick(9);
        for (int i = x; i < std::min(width, x + length); ++i) rows[y][i] = "11444423"[pick(8)];
    }
    for (int x = 0; x < width; ++x) rows[21][x] = "1111144423 "[pick(11)];
    for (int goods = 0; goods < 2; ++goods) rows[11 + pick(9)][pick(width)] = 'j';
    rows[10 + pick(9)][pick(width)] = 'i';
    rows[10 + pick(10)][pick(width)] = '9';
    return boxRoom(rows, "2");
}

TEST_F(CheckerAtScale, TheProofsSayWhatTheExactSearchSays) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "two searches of each room take minutes under the sanitizers";
#endif
    std::mt19937 random(7);
    int compared = 0;
    for (int i = 0; i < 12; ++i) {
        std::string text = randomRoom(random);
        RoomState loaded = roomFromText(text, RoomState{});
        setExactShare(0);
        SearchReport exact = searchRoom(loaded);
        setExactShare(1);  // the proofs take over at once
        SearchReport proven = searchRoom(loaded);
        if (!exact.decided || !proven.decided) continue;
        ++compared;
        SCOPED_TRACE(text);
        EXPECT_EQ(proven.verdict, exact.verdict);
        EXPECT_EQ(proven.ticks, exact.ticks);
        EXPECT_EQ(proven.allGoodsTicks, exact.allGoodsTicks);
        EXPECT_EQ(proven.unreachableGoods.size(), exact.unreachableGoods.size());
        EXPECT_EQ(proven.stuck, exact.stuck);
        if (proven.verdict == Verdict::Finishable) {
            EXPECT_EQ(replayKeys(loaded, proven.solution), TickOutcome::ExitReached);
        }
    }
    EXPECT_GE(compared, 10);
}

TEST_F(CheckerAtScale, ARoomOnlyTheExactSearchCanDecide) {
    // A cellar below crumbling floor where only a guard pacing it takes a life:
    // the worst case leaves enemies out, so only play itself shows the way on.
    std::map<int, std::string> rows = {{14, "i" + std::string(50, ' ') + "9"}};
    for (int y = 15; y <= 21; ++y) rows[y] = std::string(78, '1');
    rows[15].replace(20, 3, "444");
    for (int y = 16; y <= 20; ++y) rows[y].replace(14, 16, std::string(16, ' '));
    rows[20][14] = '8';
    setExactShare(1);
    SearchReport guarded = searchRoom(roomFromText(boxRoom(rows), RoomState{}));
    EXPECT_TRUE(guarded.decided && guarded.stuckKnown && !guarded.stuck) << guarded.stopReason;
    rows[20][14] = ' ';
    SearchReport alone = searchRoom(roomFromText(boxRoom(rows), RoomState{}));
    EXPECT_TRUE(alone.decided && alone.stuck);
    EXPECT_EQ(alone.stuckAt.y, 15);  // falling through the floor into the cellar
}

TEST_F(CheckerAtScale, TheSmallPrintIsTrue) {
    // A message high over the floor, seen by no player who walks as the checker does.
    std::map<int, std::string> rows = flatRoom();
    rows[15] = std::string(30, ' ') + "m";
    rows[21] = std::string(40, ' ') + "n";  // the player falls to row 21 at once and walks it
    checkRoom(boxRoom(rows, "0", {"never read", "read on the way"}));
    EXPECT_TRUE(says("room.lvl:15:32: warning: message 1 at (32, 15) is never passed on the ways found\n")) << out;
    EXPECT_FALSE(says("message 2")) << out;
    // A window the measure ends is no finding: a room where nothing is tight says none.
    EXPECT_FALSE(says("narrowest key window")) << out;
    checkRoom(boxRoom(flatRoom()));
    EXPECT_FALSE(says("narrowest key window")) << out;

    // A ledge the player can drop to but never leave except into lava.
    rows = {{10, "i" + std::string(40, ' ') + "9"}, {11, std::string(42, '1')}};
    rows[11][10] = ' ';
    rows[20] = "          1";
    rows[21] = std::string(9, '2') + "1" + std::string(68, '2');
    checkRoom(boxRoom(rows));
    EXPECT_TRUE(says("room.lvl:19:12: note: from (12, 19) (tick ")) << out;
    EXPECT_TRUE(says(") the exit cannot be reached: the only way on is losing a life\n")) << out;

    // "." inside a pack folder is that pack.
    writeFile("mine/mine.txt", "one\r\n*me\r\n");
    writeFile("mine/one.lvl", boxRoom(flatRoom()));
    std::string status = commandOutput("cd " + shellQuoted((folder / "mine").string()) + " && " +
                                       shellQuoted(QUORVEX_CHECK_BINARY) + " .; echo $?");
    EXPECT_NE(status.find("./one.lvl:20:2: note: finishable in 76 ticks"), std::string::npos) << status;
    EXPECT_NE(status.find("0 errors, 0 warnings\n0\n"), std::string::npos) << status;
}

}  // namespace
