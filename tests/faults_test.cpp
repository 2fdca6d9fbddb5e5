// Faults from outside: FIFOs for data files, a read-only folder or a full disk
// when saving, links planted at temporary names, kills mid-save, big counters.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <random>

#include "childrun.h"
#include "console/terminal.h"
#include "levels/saves.h"
#include "roomfixture.h"
#include "system/files.h"
#include "tmux.h"

namespace fs = std::filesystem;

namespace {

struct Faults : RoomTest {
    void SetUp() override {
        RoomTest::SetUp();
        run.baseDirectory = folder.string() + "/";
    }
    // The quit prompt answered Y in room 7 with a save already there; what the run says.
    std::string quitAndSave() {
        game = {7, 3, 0, 12, 40};
        text(virtualNow(), "\ry");
        try {
            tick();
        } catch (const FileFailure& failure) {
            return describeFailure(failure);
        }
        return ended == RoomEnd::Quit ? "saved" : "not quit";
    }
};

}  // namespace

// A cue FIFO under a real audio driver, then Continue from a FIFO save: one line, status 2, terminal back,
// not a wait in open(). Levels and pack indexes are opened the same way (openDataFile).
TEST_F(GameRun, RealTerminalFifoSaveAndCueEndWithTheReportAndTheTerminalRestored) {
    fs::copy(fs::path(QUORVEX_SOURCE_DIR) / "data/Sound", folder / "Sound");
    fs::remove(folder / "Sound/intro.wav");
    ASSERT_EQ(mkfifo((folder / "Sound/intro.wav").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((folder / "save.sav").c_str(), 0644), 0);
    TmuxGame game;
    game.start(folder, "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null 2>errors");
    ASSERT_TRUE(game.waitFor("Continue (Save)")) << game.screen();
    game.keys("Enter");
    EXPECT_EQ(game.waitExit(), 2);
    EXPECT_EQ(fileContents(folder / "errors"),
              "quorvex: cannot read " + (folder / "save.sav").string() + ": Not a regular file\n");
    EXPECT_TRUE(game.lineModeBack()) << "the terminal is left raw";
}

// A disk that fills up and a folder the game cannot write: the run ends with
// status 2 and its line, the old save whole, no temporary left. As root a
// mode stops nothing, so a small tmpfs in a private mount table is filled or
// made read-only; elsewhere a file size limit and the folder's mode do it.
TEST_F(Faults, FullDiskAndReadOnlyFolderWhenSavingKeepTheOldSave) {
    for (bool full : {true, false}) {
        std::string said = inChild([&]() -> std::string {
            std::string where = folder.string();
            bool tmpfs = privateMounts() && mount("quorvex", where.c_str(), "tmpfs", 0, "size=64k") == 0 &&
                         chdir(where.c_str()) == 0;
            play({{20, "    i"}});
            writeFile("save.sav", "18\r\n-15\r\n0\r\n");
            if (full && tmpfs) {
                int filler = open((where + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
                std::string block(4096, 'x');
                while (write(filler, block.data(), block.size()) > 0) continue;
                close(filler);
            } else if (full) {
                signal(SIGXFSZ, SIG_IGN);
                rlimit tiny{2, RLIM_INFINITY};
                setrlimit(RLIMIT_FSIZE, &tiny);
            } else if (tmpfs ? mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0
                             : geteuid() == 0 || chmod(where.c_str(), 0555) != 0) {
                return "skip: no read-only folder here";
            }
            std::string outcome = quitAndSave();
            chmod(where.c_str(), 0755);
            return outcome + "|" + readFile("save.sav") + "|" + std::to_string(temporaries(folder).size());
        });
        if (said.rfind("skip", 0) == 0) GTEST_SKIP() << said;
        auto is = [&](const char* why) {
            return said == "quorvex: cannot write " + folder.string() + "/save.sav: " + why + "|18\r\n-15\r\n0\r\n|0";
        };
        EXPECT_TRUE(full ? is("No space left on device") || is("File too large")
                         : is("Read-only file system") || is("Permission denied"))
            << said;
    }
}

// Links planted at temporary names are removed, not followed; a live game's temporary stays.
TEST_F(Faults, PlantedLinksAtTemporaryNamesAreNotFollowedAndKillsNeverLeaveAPartialSave) {
    play({{20, "    i"}});
    writeFile("victim", "precious\n");
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    std::string dead = std::to_string(gone), mine = std::to_string(getpid());
    for (const std::string& name : std::vector<std::string>{"save.sav.tmp", "save.sav." + dead + ".aaaaaa.tmp",
                                                            "save.sav." + mine + ".bbbbbb.tmp"})
        fs::create_symlink(folder / "victim", folder / name);
    fs::create_symlink(folder / "victim", folder / "save.sav.1.cccccc.tmp");  // pid 1 lives
    EXPECT_EQ(quitAndSave(), "saved");
    EXPECT_EQ(readFile("victim"), "precious\n");
    EXPECT_EQ(readFile("save.sav"), "48\r\n885\r\n40\r\n");
    EXPECT_FALSE(fs::is_symlink(folder / "save.sav"));
    EXPECT_EQ(temporaries(folder), std::vector<std::string>{"save.sav.1.cccccc.tmp"});
    fs::remove(folder / "save.sav.1.cccccc.tmp");

    // Kills at random moments of saves: save.sav is always whole; the next save clears what they left.
    std::string path = folder.string() + "/save.sav";
    writeFileAtomically(path, encodeSaveRecord({1, 0, 0}));
    std::mt19937 random(12345);
    for (int kill = 0; kill < 300; ++kill) {
        pid_t child = fork();
        if (child == 0) {
            for (int32_t n = 1;; ++n) writeFileAtomically(path, encodeSaveRecord({int8_t(n % 21 + 1), n, n * 7}));
        }
        usleep(std::uniform_int_distribution<useconds_t>(0, 3000)(random));
        ::kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        std::string saved = readFile("save.sav");
        ASSERT_EQ(encodeSaveRecord(decodeSaveRecord(saved)), saved) << "after kill " << kill;
    }
    writeFileAtomically(path, encodeSaveRecord({2, 0, 0}));
    EXPECT_TRUE(temporaries(folder).empty());
}

// Scores and goods from a save near the top of the range stop there.
TEST_F(Faults, CountersStopAtTheEndsOfTheirRange) {
    writeFile("levels/2.lvl", "i\r\n");
    play({{20, "    i9 2"}});
    // score, all goods, the room's goods, lives; then score and all goods after the exit (15 + 9 points, 3 goods)
    const std::array<int32_t, 6> cases[] = {{INT32_MAX - 5, INT32_MAX - 1, 3, 3, INT32_MAX, INT32_MAX},
                                            {INT32_MAX - 30, 7, 2, 1, INT32_MAX - 17, 9},  // exact, no clamping
                                            {INT32_MIN, INT32_MIN, 0, 0, INT32_MIN, INT32_MIN}};
    for (auto [score, totalGoods, goods, lives, scoreAfter, totalAfter] : cases) {
        game = {1, int8_t(lives), goods, totalGoods, score};
        completeRoom();
        EXPECT_EQ(std::make_pair(game.score, game.totalGoods), std::make_pair(scoreAfter, totalAfter));
    }
    // The last life lost scores the room's goods: clamped too.
    game = {2, 1, INT32_MAX / 4, 0, INT32_MAX - 2};
    player.playerX = 8;  // on the lava
    player.playerY = 20;
    player.jumping = false;
    EXPECT_EQ(runTickRules(player), TickOutcome::GameOver);
    EXPECT_EQ(game.score, INT32_MAX);
}

// Another game in the same folder deleted the save that the menu offers
// (its game over): Enter shows the menu again with what is there now,
// never status 2.
TEST_F(GameRun, RealTerminalAContinueWhoseFileIsGoneShowsTheMenuAgain) {
    writeFile("save.sav", "48\r\n885\r\n40\r\n");
    TmuxGame game;
    game.start(folder);
    ASSERT_TRUE(game.waitFor("Continue (Save)")) << game.screen();
    fs::remove(folder / "save.sav");
    writeFile("checkpoint.sav", "63\r\n1485\r\n-3\r\n");
    game.keys("Enter");
    ASSERT_TRUE(game.waitFor("Continue (Checkpoint)")) << game.screen();
    fs::remove(folder / "checkpoint.sav");
    game.keys("Enter");
    for (int waited = 0; waited < 2000 && game.screen().find("Continue") != std::string::npos; waited += 50)
        TmuxGame::nap();
    EXPECT_EQ(game.screen().find("Continue"), std::string::npos) << game.screen();
    EXPECT_NE(game.screen().find("New Game"), std::string::npos) << game.screen();
    game.keys("Escape");
    EXPECT_EQ(game.waitExit(), 0);
}

// A closed pipe on standard output: each program ends with status 2, not by SIGPIPE.
TEST(FaultsOutput, AClosedPipeIsAFailedWriteInEveryProgram) {
    for (const char* program : {QUORVEX_BINARY, QUORVEX_CHECK_BINARY, QUORVEX_EDIT_BINARY}) {
        SCOPED_TRACE(program);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        close(ends[0]);
        pid_t child = fork();
        if (child == 0) {
            dup2(ends[1], STDOUT_FILENO);
            execl(program, program, "--version", static_cast<char*>(nullptr));
            _exit(99);
        }
        close(ends[1]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    }
}

// kill -TSTP and kill -CONT back to back, twenty times: a continue that comes
// before the stop is acted on cancels it (as the kernel cancels a stop still
// pending), so the game never stays stopped with no continue to come.
TEST(FaultsPty, AStopFollowedAtOnceByAContinueNeverLeavesTheProgramStopped) {
    int master = -1, slave = -1;
    winsize size{25, 80, 0, 0};
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);  // a group of its own with a parent outside it: stopping is not ignored
        close(master);
        std::string failure;
        startMemoryConsole();
        if (!openTerminalOn(fdopen(dup(slave), "r"), fdopen(slave, "w"), "xterm-256color", failure)) _exit(3);
        terminalSleep(2500);  // time stopped does not count
        closeTerminal();
        _exit(0);
    }
    close(slave);
    auto drain = [&](int ms) {
        char chunk[4096];
        for (pollfd ready{master, POLLIN, 0}; poll(&ready, 1, ms) > 0 && read(master, chunk, sizeof chunk) > 0;)
            continue;
    };
    auto state = [&] {
        std::string stat = fileContents("/proc/" + std::to_string(child) + "/stat");
        size_t close = stat.rfind(')');
        return close == std::string::npos ? ' ' : stat[close + 2];
    };
    std::mt19937 random(7);
    drain(300);
    int leftStopped = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        kill(child, SIGTSTP);
        // The stop seen, or not yet: a spin, as sleeps this short are not kept.
        auto until = std::chrono::steady_clock::now() +
                     std::chrono::microseconds(std::uniform_int_distribution<int>(0, 150)(random));
        while (std::chrono::steady_clock::now() < until) continue;
        kill(child, SIGCONT);
        drain(40);
        if (state() == 'T') {  // stopped after the continue: nothing would ever continue it
            ++leftStopped;
            kill(child, SIGCONT);
            drain(40);
        }
    }
    EXPECT_EQ(leftStopped, 0);
    kill(child, SIGCONT);  // whatever happened, the child ends
    int status = 0;
    for (int waited = 0; waited < 8000 && waitpid(child, &status, WNOHANG) == 0; waited += 20) drain(20);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(master);
}
