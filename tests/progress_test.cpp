// The game's progress against the world: a clock that lies about file times,
// a disk that fills up at a checkpoint, a game folder renamed during play or
// deeper than PATH_MAX.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "childrun.h"
#include "levels/saves.h"
#include "roomfixture.h"
#include "shell/flow.h"

namespace fs = std::filesystem;

namespace {

using Progress = RoomTest;

// A file dated in the future (written while the clock was ahead, or copied
// with its times) never beats the file written after it; the record keeps
// its three lines.
TEST_F(Progress, TheFileWrittenLastIsTheNewerWhateverTheClockSays) {
    run.baseDirectory = folder.string() + "/";
    auto now = fs::file_time_type::clock::now();
    writeFile("checkpoint.sav", "38\r\n135\r\n-3\r\n");
    fs::last_write_time(folder / "checkpoint.sav", now + std::chrono::hours(24 * 400));
    game = {12, 3, 0, 50, 900};
    writeSaveRecord(SaveFile::Save);
    EXPECT_EQ(newerSaveFile(), SaveFile::Save);
    EXPECT_EQ(readFile("save.sav"), "73\r\n3735\r\n900\r\n");
    game = {15, 3, 0, 60, 1000};
    writeSaveRecord(SaveFile::Checkpoint);
    EXPECT_EQ(newerSaveFile(), SaveFile::Checkpoint);
    game = {};
    EXPECT_EQ(resumeNewerSave(SaveFile::None), SaveFile::Checkpoint);
    EXPECT_EQ(game.levelNumber, 15);
}

// Room 5 reached on a full disk (a small tmpfs filled up, in a mount table
// of the child's own): the old checkpoint stays whole, the room plays and
// its status rows say why nothing was saved.
TEST_F(Progress, ACheckpointThatCannotBeWrittenIsSaidAndPlayGoesOn) {
    std::string said = inChild([&]() -> std::string {
        std::string where = folder.string();
        if (!privateMounts() || mount("quorvex", where.c_str(), "tmpfs", 0, "size=64k") != 0 || chdir(where.c_str()))
            return "skip: no tmpfs of our own here";
        installCueFiles();
        run.baseDirectory = where + "/";
        writeFile("checkpoint.sav", "18\r\n-15\r\n0\r\n");
        writeFile("levels/test.lvl", levelText({{20, "    ijk9"}}));
        int filler = open((where + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
        std::string block(4096, 'x');
        while (write(filler, block.data(), block.size()) > 0) continue;
        close(filler);
        game = {4, 2, 0, 7, 30};
        try {
            completeRoom();
        } catch (const FileFailure& failure) {
            return describeFailure(failure);
        }
        loadLevel("test");
        player = startRoom();
        arrow(virtualNow(), scan::right);
        TickOutcome outcome = TickOutcome::GoOn;
        for (int ticks = 0; ticks < 20 && outcome == TickOutcome::GoOn; ++ticks) outcome = tick();
        return bufferRow(23) + "|" + readFile("checkpoint.sav") + "|" + std::to_string(int(outcome));
    });
    if (said.rfind("skip", 0) == 0) GTEST_SKIP() << said;
    EXPECT_EQ(said, " Level: 5                         Checkpoint not saved: the disk is full|18\r\n-15\r\n0\r\n|" +
                        std::to_string(int(TickOutcome::ExitReached)));
}

// The game holds the folder it started in: renamed during play (a new folder
// made under the old name), the save goes into the folder it plays from.
TEST_F(GameRun, TheGameFolderRenamedDuringPlayIsTheOneWrittenInto) {
    installCueFiles();
    writeFile("levels/1.lvl", levelText({{20, "    i"}}));
    fs::path moved = folder.string() + "-moved";
    static fs::path from, to;
    from = folder, to = moved;
    fileUseWatcher = [](const char* operation, int, std::string_view) {
        if (std::string_view(operation) != "read" || fs::exists(to)) return;
        fs::rename(from, to);  // as the room is read
        fs::create_directory(from);
    };
    key(10, 13);                    // New Game
    key(3000, 13), key(3010, 'y');  // quit the room, saving
    int status = runGame();
    fileUseWatcher = nullptr;
    EXPECT_EQ(status, -1);
    EXPECT_TRUE(fs::exists(moved / "save.sav"));
    for (const auto& entry : fs::directory_iterator(folder))  // the runs' state folder is the test's, by its path
        EXPECT_EQ(entry.path().filename(), "state") << "written by the old name";
    fs::remove_all(moved);
}

// A game folder whose path is longer than PATH_MAX plays its rooms.
TEST_F(GameRun, AGameFolderDeeperThanPathMaxPlays) {
    std::string part(200, 'd');
    for (int depth = 0; depth < 23; ++depth) {
        fs::create_directory(part);
        fs::current_path(part);
    }
    ASSERT_GT(fs::current_path().string().size(), size_t(PATH_MAX));
    fs::path deep = fs::current_path();
    fs::create_directories("levels");
    std::ofstream("levels/1.lvl", std::ios::binary) << levelText({{20, "    i"}});
    key(10, 13);  // New Game
    key(3000, 13), key(3010, 'y');
    EXPECT_EQ(runGame(), -1);
    EXPECT_EQ(fileContents("save.sav"), "18\r\n-15\r\n0\r\n");  // quit in room 1: it was played
    fs::current_path(folder);
    EXPECT_EQ(std::system(("rm -rf " + part).c_str()), 0);  // deeper than the library's own walk goes
}

}  // namespace
