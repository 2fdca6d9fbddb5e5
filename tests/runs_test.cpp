// Runs recorded as games are played and replayed exactly, bests kept by
// two games at once, the time trial's screens, and files that are no runs.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "check/check.h"
#include "editrun.h"
#include "game/runfile.h"
#include "game/runstore.h"
#include "roomfixture.h"
#include "shell/replay.h"
#include "system/files.h"

namespace {

namespace fs = std::filesystem;

std::string padded(const std::string& text, int width) {
    return std::string(size_t(std::max(0, width - int(text.size()))), ' ') + text;
}

// Every pause of the program with the picture it shows then.
std::vector<std::string> pauses;
std::string picture() {
    std::string shown;
    for (int row = 1; row <= viewRows; ++row)
        for (int column = 1; column <= screenWidth; ++column) {
            ConsoleCell cell = viewCell(column, row);
            shown += {char(cell.character), char(cell.attribute)};
        }
    return shown;
}
void keepPicture(int milliseconds) { pauses.push_back(std::to_string(milliseconds) + " " + picture()); }

// Where two lists of pauses part: "" when they do not.
std::string firstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i < a.size() && i < b.size() && a[i] == b[i]) continue;
        std::string said = "pause " + std::to_string(i) + " of " + std::to_string(a.size()) + " and " +
                           std::to_string(b.size()) + "\n";
        for (const std::vector<std::string>* p : {&a, &b}) {
            if (i >= p->size()) continue;
            const std::string& shown = (*p)[i];
            size_t body = shown.find(' ') + 1;
            said += shown.substr(0, body) + "\n";
            for (int row = 0; row < viewRows; ++row) {
                std::string text;
                for (int x = 0; x < screenWidth; ++x) text += shown[body + size_t(row * screenWidth + x) * 2];
                said += trimRight(text) + "\n";
            }
        }
        return said;
    }
    return "";
}

class Runs : public GameRun {
protected:
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
        pauses.clear();
        pauseWatcher = keepPicture;
    }
    void TearDown() override {
        pauseWatcher = nullptr;
        setTimeTrial(false);
        GameRun::TearDown();
    }
    fs::path state() { return folder / "state/quorvex"; }
    // The runs kept, oldest first.
    std::vector<fs::path> runFiles() {
        std::vector<fs::path> files;
        if (fs::is_directory(state() / "runs"))
            for (const auto& entry : fs::directory_iterator(state() / "runs"))
                if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    RecordedRun lastRun() {
        RecordedRun recorded;
        EXPECT_EQ(readRunFile(runFiles().back().string(), recorded), "");
        return recorded;
    }
    // The replay on a fresh console; keys at the times given, then Esc much later.
    int replay(const RecordedRun& recorded, const std::vector<std::pair<uint64_t, KeyEvent>>& keys = {},
               uint64_t stopAt = 0) {
        startMemoryConsole();
        clearSoundLog();
        resetWorld();
        pauses.clear();
        for (auto [at, event] : keys) scriptKey(at, event);
        if (stopAt == 0) scriptKey(10'000'000, {key::escape, false});
        setStopTime(stopAt);
        try {
            return replayRun(recorded);
        } catch (const ScriptEnded&) {
            return -1;
        }
    }
    // A game's room 1 over a run of ticks: the room loop, its tick count kept.
    void writeRooms() {
        // Goods, a message, crumbling floor, a patrolling enemy, a jump; then lava.
        writeFile("levels/1.lvl", levelText({{10, "1                    8                  1"},
                                             {20, "  i   m  j         1                        9"},
                                             {21, "1111111111444111111111111111111111111111111111"},
                                             {23, "1"},
                                             {24, "Walk on."}}));
        writeFile("levels/2.lvl", levelText({{20, "  i    2"}}));
    }
    // New Game: room 1 walked with a jump to its exit, room 2 into the lava.
    void playTwoRooms() {
        key(10, key::enter);
        arrow(1000, scan::right);
        key(1900, ' ');
        arrow(9000, scan::right);
    }
};

// New Game through two rooms: the exit of one, a life lost in the other, the
// quit prompt refused, the sound switched, Esc. The replay shows the same
// pictures at every pause from the first tick on, and plays the same cues.
TEST_F(Runs, AGameIsRecordedAndItsReplayShowsTheSamePicturesAndSounds) {
    writeRooms();
    playTwoRooms();
    key(11000, key::enter), key(11500, 'n'), key(12000, 'm');
    arrow(12500, scan::right);
    key(15000, key::escape);
    ASSERT_EQ(runGame(), 0);
    std::vector<std::string> game = pauses;
    std::vector<std::string> gameSounds = soundLog();

    ASSERT_EQ(runFiles().size(), 1u);
    RecordedRun recorded = lastRun();
    ASSERT_EQ(recorded.rooms.size(), 2u);
    EXPECT_EQ(recorded.origin, RunOrigin::NewGame);
    EXPECT_EQ(recorded.rooms[0].end, RoomEnd::Exit);
    EXPECT_EQ(recorded.rooms[0].goodsTaken, 1);
    EXPECT_EQ(recorded.rooms[1].end, RoomEnd::Leave);
    EXPECT_EQ(std::count(recorded.rooms[1].ticks.begin(), recorded.rooms[1].ticks.end(), RunTick::QuitRefused), 1);
    EXPECT_EQ(std::count(recorded.rooms[1].ticks.begin(), recorded.rooms[1].ticks.end(), RunTick::SoundSwitched), 1);

    ASSERT_EQ(replay(recorded), 0);
    EXPECT_EQ(replayStopLine(), "");
    ASSERT_FALSE(pauses.empty());
    auto first = std::find(game.begin(), game.end(), pauses.front());
    ASSERT_NE(first, game.end());
    EXPECT_EQ(firstDifference(std::vector<std::string>(first, game.end()), pauses), "");
    auto begun = std::find(gameSounds.begin(), gameSounds.end(), "once Sound/begin.wav");
    ASSERT_NE(begun, gameSounds.end());
    EXPECT_EQ(std::vector<std::string>(begun + 1, gameSounds.end()), soundLog());
}

// A changed room stops the replay at its start, a check value that does not
// match at its tick: one line on the screen naming the room, and status 1.
TEST_F(Runs, AReplayThatNoLongerMatchesStopsWithALineNamingTheRoomAndTick) {
    writeRooms();
    playTwoRooms();
    key(15000, key::escape);
    ASSERT_EQ(runGame(), 0);
    RecordedRun recorded = lastRun();
    ASSERT_EQ(recorded.rooms.size(), 2u);

    writeFile("levels/2.lvl", levelText({{20, "  i     2"}}));
    EXPECT_EQ(replay(recorded), 1);
    EXPECT_EQ(replayStopLine(), "room 2 is not the room this run was recorded in");
    EXPECT_TRUE(screenRow(23).find("room 2 is not the room this run was recorded in") != std::string::npos);
    EXPECT_EQ(std::count_if(pauses.begin(), pauses.end(), [](auto& p) { return p.starts_with("1750 "); }), 1)
        << "room 1 played to its exit";

    fs::remove(folder / "levels/1.lvl");
    EXPECT_EQ(replay(recorded), 1);
    EXPECT_EQ(replayStopLine(), "room 1 is not the room this run was recorded in: there is no levels/1.lvl");
    EXPECT_TRUE(pauses.empty());

    writeRooms();
    recorded.rooms[1].checks.back() ^= 1;
    EXPECT_EQ(replay(recorded), 1);
    EXPECT_EQ(replayStopLine(),
              "room 2 went out of step with this run at tick " + std::to_string(recorded.rooms[1].ticks.size()));
    recorded.rooms[1].checks.back() ^= 1;
    recorded.rooms[0].startCheck ^= 1;
    EXPECT_EQ(replay(recorded), 1);
    EXPECT_EQ(replayStopLine(), "room 1 went out of step with this run at tick 0");
}

// Left goes back a second and Home to the room's start: the picture is the
// one the replay showed at that tick, across keyframes, a lost life and
// crumbled floor; Right then steps on from there.
TEST_F(Runs, BackStepsShowThePictureOfTheTickGoneBackTo) {
    // A corridor with lava at its end and a guardian patrolling above.
    writeFile("levels/1.lvl",
              levelText({{10, "1          8                      1"}, {20, "1 i       j             2"}}));
    key(10, key::enter);
    arrow(1000, scan::right);   // into the lava
    arrow(6000, scan::left);    // to the wall
    arrow(43000, scan::right);  // into the lava again, past tick 576
    key(60000, key::escape);
    ASSERT_EQ(runGame(), 0);
    RecordedRun recorded = lastRun();
    const std::vector<RunTick>& ticks = recorded.rooms[0].ticks;
    ASSERT_GT(ticks.size(), 700u);
    auto lastRight = std::find(ticks.rbegin(), ticks.rend(), RunTick::Right);
    int death = int(ticks.rend() - lastRight) + 21;  // 21 cells on to the lava
    EXPECT_GT(death, 576);
    EXPECT_LT(death, 600);

    ASSERT_EQ(replay(recorded), 0);
    std::vector<std::string> forward;  // the picture at each tick, from tick 1
    for (const std::string& p : pauses)
        if (p.starts_with("75 ")) forward.push_back(p.substr(3));
    ASSERT_EQ(forward.size(), ticks.size());

    // Paused past tick 600, then Left once, six times (back over the lost
    // life), and Home with a step on.
    const KeyEvent space{' ', false}, left{scan::left, true}, home{scan::home, true}, right{scan::right, true};
    int paused = 0;
    for (const std::vector<KeyEvent>& keys :
         std::vector<std::vector<KeyEvent>>{{}, {left}, {left, left, left, left, left, left}, {home, right}}) {
        std::vector<std::pair<uint64_t, KeyEvent>> script = {{50'000, space}};
        for (size_t i = 0; i < keys.size(); ++i) script.push_back({50'100 + i * 100, keys[i]});
        replay(recorded, script, 50'100 + keys.size() * 100);
        std::string bar = screenRow(23);
        size_t at = bar.find("paused \xFA tick ");
        ASSERT_NE(at, std::string::npos) << bar;
        int tick = std::stoi(bar.substr(at + 14));
        if (keys.empty()) paused = tick;
        EXPECT_EQ(tick, keys.empty() ? paused : keys[0].code == scan::home ? 1 : paused - 13 * int(keys.size()));
        ASSERT_GE(tick, 1);
        std::string now = picture(), then = forward[size_t(tick) - 1];
        size_t row23 = 22 * screenWidth * 2;
        EXPECT_EQ(now.substr(0, row23 + 80), then.substr(0, row23 + 80)) << "tick " << tick;
        EXPECT_EQ(now.substr(row23 + 2 * screenWidth), then.substr(row23 + 2 * screenWidth)) << "tick " << tick;
    }
    EXPECT_GT(paused, 600);
}

// Files that are no runs get one line and status 1 before anything else
// happens; a run cut anywhere is never taken for a whole one.
TEST_F(Runs, DamagedCutShortForeignAndOversizedFilesAreRefusedInOneLine) {
    writeFile("levels/1.lvl", levelText({{20, "  i  9"}}));
    RoomRecord walk = roomRecordFromKeys({RoomSourceKind::Series, "1", readFile("levels/1.lvl")},
                                         roomFromText(readFile("levels/1.lvl"), RoomState{}), 1, false,
                                         std::vector<TickKey>(3, TickKey::Right));
    EXPECT_EQ(walk.end, RoomEnd::Exit);
    std::string whole = encodeRun({RunOrigin::Checker, 1, "", {walk, walk}});
    RecordedRun decoded;
    ASSERT_EQ(decodeRun(whole, decoded), RunProblem::None);
    EXPECT_EQ(encodeRun(decoded), whole);
    for (size_t cut = 0; cut < whole.size(); ++cut)
        EXPECT_NE(decodeRun(whole.substr(0, cut), decoded), RunProblem::None) << cut;
    EXPECT_EQ(decodeRun(whole.substr(0, whole.size() - 1), decoded), RunProblem::CutShort);
    EXPECT_EQ(decodeRun(whole + "x", decoded), RunProblem::NotARun);

    std::string later = whole;
    later[4] = 2;
    writeFile("text.run", "Room 1: 3 ticks\n");
    writeFile("cut.run", whole.substr(0, whole.size() / 2));
    writeFile("later.run", later);
    writeFile("large.run", whole + std::string(runFileLimit, '\0'));
    mkfifo((folder / "fifo.run").c_str(), 0600);
    const std::pair<const char*, const char*> files[] = {
        {"text.run", "text.run is not a run of The Quorvex"},
        {"cut.run", "cut.run is cut short: its end is missing"},
        {"later.run", "later.run is a run of a later version of The Quorvex"},
        {"large.run", "large.run is too large for a run (more than 1 MiB)"},
        {"fifo.run", "fifo.run is not a run of The Quorvex (not a regular file)"},
        {"none.run", "cannot read none.run: No such file or directory"},
    };
    for (auto [name, line] : files) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readRunFile(name, decoded), line);
        std::string command = std::string(QUORVEX_BINARY) + " --replay " + name + " >out 2>err </dev/null";
        int status = std::system(command.c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(readFile("err"), std::string("quorvex: ") + line + "\n");
        EXPECT_EQ(readFile("out"), "");
    }
    EXPECT_FALSE(exists("state")) << "nothing else happens";
}

// Two games writing bests at once both keep theirs; fewer ticks and more
// goods each better a best, a changed room starts afresh, and a damaged
// file is set aside under a name that is said, never emptied.
TEST_F(Runs, BestsAreMergedByGamesAtOnceAndADamagedFileIsSetAside) {
    auto finished = [](int number, int ticks, int goods, uint64_t hash) {
        RoomRecord room;
        room.number = number, room.roomHash = hash, room.goodsTaken = goods, room.end = RoomEnd::Exit;
        room.ticks.assign(size_t(ticks), RunTick::None);
        room.checks.assign(size_t(ticks) / checkInterval + 1, 0);
        return room;
    };
    pid_t games[2];
    for (int g = 0; g < 2; ++g)
        if ((games[g] = fork()) == 0) {
            RecordedRun run{RunOrigin::Pack, 0, g == 0 ? "a" : "b c\\", {}};
            for (int number = 1; number <= 40; ++number) keepRoomBest(run, finished(number, 100 + number, 1, 7), 2);
            flushBests();
            _exit(takeStoreNotices().empty() ? 0 : 1);
        }
    for (pid_t game : games) {
        int status = 0;
        waitpid(game, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    std::vector<RoomBest> bests = readBests();
    ASSERT_EQ(bests.size(), 80u);
    EXPECT_EQ(bests.front().series, "a");
    EXPECT_EQ(bests.back().series, "b c\\");
    EXPECT_EQ(bests.back().number, 40);

    RecordedRun main{RunOrigin::NewGame, 0, "", {}};
    EXPECT_EQ(keepRoomBest(main, finished(7, 412, 1, 9), 3).ticks, 412);
    RoomBest best = keepRoomBest(main, finished(7, 398, 0, 9), 3);
    EXPECT_EQ(best.ticks, 398);
    EXPECT_EQ(best.goods, 1);
    best = keepRoomBest(main, finished(7, 500, 3, 9), 3);
    EXPECT_EQ(best.ticks, 398);
    EXPECT_EQ(best.goods, 3);
    RecordedRun bestRun;
    EXPECT_EQ(readRunFile((state() / "runs/best/main-07.run").string(), bestRun), "");
    ASSERT_EQ(bestRun.rooms.size(), 1u);
    EXPECT_EQ(bestRun.rooms[0].ticks.size(), 398u);
    EXPECT_EQ(keepRoomBest(main, finished(7, 600, 0, 10), 3).ticks, 600) << "the room changed";

    for (const char* damaged : {"Quorvex bests 1\r\n12 x\r\n", "garbage"}) {
        writeFile("state/quorvex/bests.txt", damaged);
        EXPECT_EQ(keepRoomBest(main, finished(1, 50, 0, 1), 0).ticks, 50);
        EXPECT_EQ(readBests().size(), 1u);
    }
    EXPECT_EQ(readFile("state/quorvex/bests.txt.damaged"), "Quorvex bests 1\r\n12 x\r\n");
    EXPECT_EQ(readFile("state/quorvex/bests.txt.damaged-1"), "garbage");
    std::vector<std::string> notices = takeStoreNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1], "the bests file " + (state() / "bests.txt").string() + " was damaged; it is kept as " +
                              (state() / "bests.txt.damaged-1").string() + " and a new one begun");

    // The last 100 runs are kept, the oldest going first; other files stay.
    for (int i = 0; i < 100; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "state/quorvex/runs/20000101-%06d-1.run", i);
        writeFile(name, "");
    }
    writeFile("state/quorvex/runs/notes.txt", "mine");
    std::string runName;
    keepRun(main, runName);  // begun in 1970, by a clock set back: kept all the same
    EXPECT_TRUE(exists("state/quorvex/runs/" + runName));
    EXPECT_FALSE(exists("state/quorvex/runs/20000101-000000-1.run"));
    EXPECT_TRUE(exists("state/quorvex/runs/20000101-000001-1.run"));
    EXPECT_EQ(runFiles().size(), 101u) << "100 runs and the notes";

    // A state folder others may write in keeps nothing, and says so once.
    fs::permissions(state(), fs::perms::others_write, fs::perm_options::add);
    keepRoomBest(main, finished(2, 50, 0, 1), 0);
    runName.clear();
    keepRun(main, runName);
    notices = takeStoreNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], "bests are not kept: the state folder " + state().string() + ": others may write in it");
    EXPECT_EQ(readBests().size(), 0u);
}

// The time trial: after each room its line, after the last the table; the
// bests printed by --scores. Without it the screen after a room is blank.
TEST_F(Runs, TheTimeTrialShowsEachRoomsTicksAndBestThenATableAndScoresListThem) {
    writeFile("levels/custom levels/duo/duo.txt", "one\r\ntwo\r\n*me\r\n");
    writeFile("levels/custom levels/duo/one.lvl", levelText({{20, "  i  9"}}));
    writeFile("levels/custom levels/duo/two.lvl", levelText({{20, "  i     j  9"}, {23, "1"}}));
    // The pars as the editor keeps them: the checker's, each shown once its way holds.
    std::string checked, errors;
    ASSERT_EQ(runChecker({"--par=levels/custom levels/duo/duo.par", "levels/custom levels/duo"}, checked, errors), 0);
    const size_t parOne = 3, parTwo = 9;  // a step from the start to the exit and eight
    auto secs = [](size_t ticks) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", (ticks * 75 + 50) / 100 / 10.0);
        return std::string(text);
    };
    auto cell = [](size_t value, int width) { return padded(std::to_string(value), width); };
    for (bool times : {false, true}) {
        startMemoryConsole();
        pauses.clear();
        setTimeTrial(times);
        arrow(10, scan::down), key(20, key::enter), text(30, "duo\r");
        arrow(2000, scan::right), arrow(6000, scan::right);
        if (times) key(12000, key::enter);  // after the table
        key(13000, key::enter), key(14000, key::escape);
        ASSERT_EQ(runGame(), 0);
        std::vector<std::string> blank;
        for (const std::string& p : pauses)
            if (p.starts_with("1750 ")) blank.push_back(p.substr(5));
        ASSERT_EQ(blank.size(), 2u);
        auto rowOf = [](const std::string& p, int row) {
            std::string text;
            for (int x = 0; x < screenWidth; ++x) text += p[size_t(((row - 1) * screenWidth + x) * 2)];
            return trimRight(text);
        };
        if (!times) {
            for (int row = 1; row <= viewRows; ++row) EXPECT_EQ(rowOf(blank[0], row), "") << row;
            continue;
        }
        RecordedRun played = lastRun();
        size_t one = played.rooms[0].ticks.size(), two = played.rooms[1].ticks.size();
        std::string line = "Room 1: " + std::to_string(one) + " ticks (" + secs(one) + " s) \xFA best " +
                           std::to_string(one) + " \xFA par " + std::to_string(parOne);
        EXPECT_EQ(rowOf(blank[0], 13), at(int(80 - line.size()) / 2 + 1, line));
        EXPECT_EQ(rowOf(blank[1], 10), at(21, "Time trial"));
        EXPECT_EQ(rowOf(blank[1], 11), at(21, "  Room   Ticks  Seconds    Best    Par"));
        EXPECT_EQ(rowOf(blank[1], 12),
                  at(21, "     1" + cell(one, 8) + padded(secs(one), 9) + cell(one, 8) + cell(parOne, 7)));
        EXPECT_EQ(rowOf(blank[1], 13),
                  at(21, "     2" + cell(two, 8) + padded(secs(two), 9) + cell(two, 8) + cell(parTwo, 7)));
        EXPECT_EQ(rowOf(blank[1], 14), at(21, " Total" + cell(one + two, 8) + padded(secs(one + two), 9)));
        EXPECT_EQ(rowOf(blank[1], 15), at(21, "Enter: go on"));

        std::string out, err;
        EXPECT_EQ(printScores(out, err), 0);
        EXPECT_EQ(err, "");
        EXPECT_NE(out.find("Pack duo\n room  best ticks    seconds    par   goods  date\n" + cell(1, 5) +
                           cell(one, 12) + padded(secs(one) + " s", 11) + cell(parOne, 7) + padded("0/0", 8)),
                  std::string::npos)
            << out;
        EXPECT_NE(
            out.find(cell(2, 5) + cell(two, 12) + padded(secs(two) + " s", 11) + cell(parTwo, 7) + padded("1/1", 8)),
            std::string::npos)
            << out;
        out.clear();
        EXPECT_EQ(listRuns(out, err), 0);
        EXPECT_NE(out.find("    pack duo, rooms 1 to 2, " + std::to_string(one + two) + " ticks, exit\n"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("The best runs, each room's fewest ticks:"), std::string::npos) << out;
    }
    EXPECT_EQ(runFiles().size(), 2u);
}

// The main series played along the checker's ways with every goods item:
// a run of every room well under 8 KiB that replays to the last exit.
TEST_F(Runs, AWholeMainSeriesRunIsUnderEightKibAndReplaysToTheEnd) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the search takes minutes under the sanitizers";
#endif
    const std::string data = std::string(QUORVEX_SOURCE_DIR) + "/data/";
    RecordedRun series{RunOrigin::Checker, 0, "", {}};
    RoomState loaded{};
    for (int n = 1; n <= 21; ++n) {
        std::string text = readTextFile(data + "levels/" + std::to_string(n) + ".lvl");
        loaded = roomFromText(text, loaded);
        SearchReport report = searchRoom(loaded);
        ASSERT_GE(report.allGoodsTicks, 0);
        series.rooms.push_back(roomRecordFromKeys({RoomSourceKind::Series, std::to_string(n), text}, loaded, n, false,
                                                  report.allGoodsSolution));
        EXPECT_EQ(series.rooms.back().end, RoomEnd::Exit);
    }
    std::string bytes = encodeRun(series);
    EXPECT_LT(bytes.size(), 8192u);
    fs::current_path(data);
    EXPECT_EQ(replay(series), 0);
    EXPECT_EQ(replayStopLine(), "");
    EXPECT_EQ(std::count_if(pauses.begin(), pauses.end(), [](auto& p) { return p.starts_with("1750 "); }), 21);
    fs::current_path(folder);
}

// A play-test in the editor is recorded with its room, saved or not, and replays to its exit.
TEST_F(EditorRun, APlayTestIsRecordedWithItsRoomAndReplays) {
    writeFile("room.lvl", fileOf(freshRows()));
    type(extended(scan::f5));
    type(rightKey, 100);
    ASSERT_EQ(edit("room.lvl"), -1);
    ASSERT_TRUE(has(screenRow(25), "exit reached in 77 ticks"));
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder / "state/quorvex/runs")) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    RecordedRun recorded;
    ASSERT_EQ(readRunFile(files[0].string(), recorded), "");
    EXPECT_EQ(recorded.origin, RunOrigin::PlayTest);
    ASSERT_EQ(recorded.rooms.size(), 1u);
    EXPECT_EQ(recorded.rooms[0].kind, RoomSourceKind::Held);
    EXPECT_EQ(recorded.rooms[0].end, RoomEnd::Exit);
    fs::remove(folder / "room.lvl");  // the run holds its room
    startMemoryConsole();
    scriptKey(100'000, {key::escape, false});
    EXPECT_EQ(replayRun(recorded), 0);
    EXPECT_EQ(replayStopLine(), "");
    EXPECT_TRUE(screenRow(23).ends_with(" end of the run \xFA tick 77 of 77")) << screenRow(23);
}

}  // namespace
