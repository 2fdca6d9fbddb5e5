// The editor against the file system and the checker: the verdict row, links,
// folders, files over the 4 MiB the game reads, where a pack is played from,
// and the rescue copy on full and read-only folders and on every ending signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <map>

#include "checker.h"
#include "childrun.h"
#include "editrun.h"
#include "system/files.h"
#include "tmux.h"

namespace {

class EditorFiles : public EditorRun {
protected:
    void SetUp() override {
        EditorRun::SetUp();
        for (const char* name : names)
            if (const char* value = std::getenv(name)) saved[name] = value;
        setenv("HOME", (folder / "home").c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : names) saved.count(name) ? setenv(name, saved[name].c_str(), 1) : unsetenv(name);
        EditorRun::TearDown();
    }
    static constexpr const char* names[] = {"HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "TMPDIR"};
    std::map<std::string, std::string> saved;
    std::string path(const std::string& relative) { return (folder / relative).string(); }
};

TEST_F(EditorFiles, TheVerdictRowIsTheCheckersVerdictOnTheRoomAndOnASeries) {
    // A hole in the floor into a shaft deeper than a jump: finishable, yet the player can be stuck.
    std::map<int, std::string> pit = {{16, "i" + std::string(75, ' ') + "9"}, {17, std::string(78, '1')}};
    pit[17][7] = ' ';
    for (int y = 18; y <= 21; ++y) pit[y] = "      1 1";
    writeFile("room.lvl", boxRoom(pit));
    std::string out, err;
    EXPECT_EQ(runChecker({"room.lvl"}, out, err), 1) << out;
    ASSERT_EQ(editAgain("room.lvl"), -1);
    std::string row = trimRight(screenRow(24).substr(0, 50));
    size_t error = out.find(": error: ");
    ASSERT_NE(error, std::string::npos) << out;
    std::string first = out.substr(error + 9, out.find('\n', error) - error - 9);
    EXPECT_EQ(row.rfind(trimRight(("ERROR: " + first).substr(0, 50)), 0), 0u) << row << "\n" << out;

    // Room 2 of a series is loaded over room 1, by the checker and the editor alike:
    // without a start of its own the player starts at room 1's, which is a warning only.
    writeFile("series/1.lvl", boxRoom(flatRoom()));
    writeFile("series/2.lvl", boxRoom({{20, std::string(76, ' ') + "9"}}));
    EXPECT_EQ(runChecker({"series/2.lvl"}, out, err), 0) << out;
    ASSERT_EQ(editAgain("series/2.lvl"), -1);
    EXPECT_EQ(screenRow(24).rfind("finishable in 76 ticks, 1 warning", 0), 0u) << screenRow(24) << out;

    // A jump over lava on one exact tick: F7's third stop is the hardest press, the cursor on its cell.
    std::map<int, std::string> gap = {{15, std::string(78, '1')}, {16, std::string(78, '3')}, {19, "i"}};
    gap[16][21] = ' ';
    gap[19] += std::string(74, ' ') + "9";
    gap[20] = std::string(19, '1') + "22222" + std::string(54, '1');
    writeFile("gap.lvl", boxRoom(gap));
    out.clear();
    EXPECT_EQ(runChecker({"gap.lvl"}, out, err), 0) << out;
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(out.c_str() + out.find("hardest press: space at tick "),
                          "hardest press: space at tick %*d at (%d, %d)", &x, &y),
              2)
        << out;
    startMemoryConsole();
    type(f7);
    type(f7 + f7, 1000);
    ASSERT_EQ(edit("gap.lvl"), -1);
    EXPECT_TRUE(has(bottomRows(), "3/3 note: hardest press: ")) << out;
    EXPECT_EQ(std::make_pair(::edit.cursorX, ::edit.cursorY), std::make_pair(x, y)) << out;

    // A search its limits stop is no pass: "not fully checked" in yellow, F7 in the checker's words.
    writeFile("guardians.lvl", boxRoom({{20, "i  j  4444  7  k   9"}, {10, "     8     "}}, "2"));
    setSearchCeiling({2000, 0, 0});
    startMemoryConsole();
    type(f7);
    int status = edit("guardians.lvl");
    setSearchCeiling({0, 0, 0});
    ASSERT_EQ(status, -1);
    EXPECT_TRUE(has(bottomRows(), "warning: not fully checked: stopped by more than 2000 states")) << bottomRows();
    ::edit.note.clear();  // the note covered row 24 until the next key
    drawVerdictRow();
    EXPECT_TRUE(has(screenRow(24), "not fully checked: more than 2000 states"));
    EXPECT_EQ(bufferCell(1, 24).attribute & 0x0F, 14);
}

TEST_F(EditorFiles, SavingThroughALinkWritesItsTargetAndKeepsModeAndOwnerOnFileAndBackup) {
    std::string before = boxRoom(flatRoom());
    writeFile("real/real.lvl", before);
    chmod(path("real/real.lvl").c_str(), 0640);
    bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown(path("real/real.lvl").c_str(), 1234, 4321) == 0);
    std::filesystem::create_symlink("real/real.lvl", folder / "link.lvl");
    ASSERT_EQ(editAgain("link.lvl", "5" + save + quit), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.lvl"));
    EXPECT_EQ(readFile("real/real.lvl").substr(82, 3), "15 ");
    EXPECT_EQ(readFile("real/real.lvl~"), before);
    EXPECT_FALSE(exists("link.lvl~"));
    for (const char* file : {"real/real.lvl", "real/real.lvl~"}) {
        struct stat info {};
        ASSERT_EQ(stat(path(file).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0640u) << file;
        EXPECT_TRUE(!root || (info.st_uid == 1234 && info.st_gid == 4321)) << file << " " << info.st_uid;
    }
}

TEST_F(EditorFiles, AFolderEntryIsMarkedAndNeverOpenedAndSaveAsWritesElsewhere) {
    writeFile("pack/pack.txt", "room\r\n*\r\n");
    std::filesystem::create_directories(folder / "pack/room.lvl");
    ASSERT_EQ(editAgain("pack", "\r"), -1);
    EXPECT_TRUE(has(screenRow(3), "a folder, not a level file"));
    EXPECT_TRUE(has(screenRow(1), "Pack pack"));  // still the pack screen
    EXPECT_EQ(editAgain("pack/room.lvl"), 2);     // named as a level file: never made a pack
    EXPECT_EQ(editorReport(), "quorvex-edit: pack/room.lvl is a folder, not a level file");
    EXPECT_TRUE(std::filesystem::is_empty(folder / "pack/room.lvl"));

    // Save As: to a folder refused; to a new name in a new folder written, and the room is that file then.
    writeFile("room.lvl", boxRoom(flatRoom()));
    ASSERT_EQ(editAgain("room.lvl", "5" + f12 + times(8, backspace) + "pack/room\r" + f12 + times(14, backspace) +
                                        "copies/copy\r6" + save + quit),
              0);
    EXPECT_EQ(readFile("room.lvl"), boxRoom(flatRoom()));
    EXPECT_EQ(readFile("copies/copy.lvl").substr(82, 4), "156 ");
    EXPECT_EQ(readFile("copies/copy.lvl~").substr(82, 4), "15  ");
    EXPECT_TRUE(std::filesystem::is_directory(folder / "pack/room.lvl"));
}

TEST_F(EditorFiles, FilesOverTheReadLimitAreOpenedReadOnlyAndNeverCut) {
    // A 10 MB room: shown, never rewritten; Save As takes what is shown; leaving asks.
    std::string big = boxRoom(flatRoom()) + std::string(10'000'000, 'x');
    writeFile("big.lvl", big);
    ASSERT_EQ(editAgain("big.lvl", "5" + save), -1);
    EXPECT_TRUE(has(screenRow(25), "Larger than 4 MiB: not written"));
    // Save As to its own name refused; S at the leave prompt sends a read-only room to save as.
    ASSERT_EQ(editAgain("big.lvl", "5" + f12 + "\r" + quit + "s" + times(7, backspace) + "small\r"), 0);
    EXPECT_EQ(readFile("big.lvl"), big);
    EXPECT_FALSE(exists("big.lvl~"));
    EXPECT_EQ(readFile("small.lvl").substr(82, 3), "15 ");

    // A 6 MB index: listed read-only; + and a write nothing.
    std::string index = "one\r\ntwo\r\n*me\r\n" + std::string(6'000'000, 'z');
    writeFile("pack/pack.txt", index);
    ASSERT_EQ(editAgain("pack", "+a"), -1);
    EXPECT_TRUE(has(screenRow(25), "never rewritten"));
    EXPECT_EQ(readFile("pack/pack.txt"), index);
    EXPECT_FALSE(exists("pack/pack.txt~"));
    copyFileAtomically("pack/pack.txt", "copy.txt", keptOf("pack/pack.txt"));  // backups whole, however large
    EXPECT_EQ(readFile("copy.txt"), index);
}

TEST_F(EditorFiles, ThePackScreenSaysWhereThePackIsAndHowTheGameFindsIt) {
    auto whereRow = [&](const std::string& pack) {
        EXPECT_EQ(editAgain(pack), -1);
        return trimRight(screenRow(22));
    };
    // Outside a game folder: where it is, and the folder to copy it into.
    EXPECT_EQ(whereRow("mypack"), " To play it, copy the folder into ~/.local/share/quorvex/levels/custom levels/");
    EXPECT_TRUE(has(screenRow(20), path("mypack")));
    // In a game folder a new pack's bare name is made where the game looks.
    std::filesystem::create_directories(folder / "game/levels");
    std::filesystem::current_path(folder / "game");
    EXPECT_TRUE(has(whereRow("newpack"), "Started in this folder, the game plays it: Custom Levels, pack \"newpack\""));
    EXPECT_TRUE(std::filesystem::exists(folder / "game/levels/custom levels/newpack/newpack.txt"));
    // Another game folder's pack: that folder is named; then the installed game's own folder.
    std::filesystem::current_path(folder);
    EXPECT_EQ(whereRow("game/levels/custom levels/other"),
              " Started in " + path("game") + ", the game plays it as pack \"other\".");
    EXPECT_TRUE(has(whereRow("home/.local/share/quorvex/levels/custom levels/mine"), "The installed game plays it"));
}

// A rescue that cannot be written beside the room says so, leaves the older
// copy there whole and lands in the user's state folder.
TEST_F(EditorFiles, ARescueOnAFullOrReadOnlyFolderIsReportedAndKeptInTheStateFolder) {
    bool root = geteuid() == 0;
    for (const char* kind : {"full", "read-only"}) {
        SCOPED_TRACE(kind);
        bool full = std::string(kind) == "full";
        // As root a small tmpfs in a private mount table, filled or remounted
        // read-only; elsewhere a folder's mode makes it read-only.
        std::string said = inChild([&]() -> std::string {
            std::string where = path("room");
            std::filesystem::create_directories(where);
            if (root && (!privateMounts() || mount("quorvex", where.c_str(), "tmpfs", 0, "size=64k") != 0))
                return "skip: no tmpfs here";
            if (!root && full) return "skip: no tmpfs without root";
            writeFile("room/r1.lvl.rescue", "older");
            if (full) {
                writeFile("room/filler", std::string(1 << 20, 'x'));  // as much as fits
            } else if (root ? mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0
                            : chmod(where.c_str(), 0555) != 0) {
                return "skip: no read-only folder";
            }
            armRescue("room/r1.lvl", std::string(3000, 'r'));
            std::string report = writeRescueNow();
            std::string left;
            for (const auto& entry : std::filesystem::directory_iterator(where))
                left += entry.path().filename().string() + " ";
            chmod(where.c_str(), 0755);
            return report + "|" + readFile("room/r1.lvl.rescue") + "|" + left;
        });
        if (said.rfind("skip", 0) == 0) {
            std::cout << said << "\n";
            continue;
        }
        std::string reason = full ? "No space left on device" : root ? "Read-only file system" : "Permission denied";
        std::string kept = path("state") + "/quorvex/r1.lvl.";
        std::string first = "quorvex-edit: could not keep the unsaved room in room/r1.lvl.rescue: " + reason;
        EXPECT_EQ(said.rfind(first + "\nquorvex-edit: unsaved room kept in " + kept, 0), 0u) << said;
        EXPECT_NE(said.find("|older|"), std::string::npos) << said;
        EXPECT_EQ(said.find(".tmp "), std::string::npos) << said;
        size_t start = said.find(kept) + kept.size() - 7;
        std::string copy = said.substr(start, said.find('|') - start);
        EXPECT_EQ(fileContents(path("state/quorvex/") + copy), std::string(3000, 'r')) << copy;
    }

    // Nowhere to write: every place tried is named, and the loss said plainly.
    writeFile("afile", "x");
    setenv("XDG_STATE_HOME", path("afile").c_str(), 1);
    setenv("TMPDIR", path("afile").c_str(), 1);
    armRescue("nowhere/r2.lvl", "text");
    std::string tried = "quorvex-edit: could not keep the unsaved room in ", pid = std::to_string(getpid());
    EXPECT_EQ(writeRescueNow(), tried + "nowhere/r2.lvl.rescue: No such file or directory\n" + tried + path("afile") +
                                    "/quorvex/r2.lvl." + pid + ".rescue: Not a directory\n" + tried + path("afile") +
                                    "/r2.lvl." + pid +
                                    ".rescue: Not a directory\nquorvex-edit: the unsaved room is lost");
}

// Each in a child; then SIGQUIT in a real terminal, where the report stays
// on the screen once the terminal is back.
TEST_F(EditorFiles, EveryEndingSignalWritesTheRescueAndSaysWhere) {
    for (int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(number);
        pid_t child = fork();
        if (child == 0) {
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            int log = open(path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, STDERR_FILENO);
            installRescueHandlers();
            armRescue("room.lvl", "unsaved " + std::to_string(number));
            raise(number);
            _exit(0);  // not reached: the signal ends the run
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status;
        EXPECT_EQ(readFile("room.lvl.rescue"), "unsaved " + std::to_string(number));
        EXPECT_EQ(readFile("stderr"), "quorvex-edit: unsaved room kept in room.lvl.rescue\n");
        std::filesystem::remove(folder / "room.lvl.rescue");
    }

    TmuxGame editor(std::string(QUORVEX_EDIT_BINARY) + " room.lvl");
    editor.start(folder);
    ASSERT_TRUE(editor.waitFor("F1 help")) << editor.screen();
    editor.keys("6");
    ASSERT_TRUE(editor.waitFor("*room.lvl")) << editor.screen();
    kill(editor.pid(), SIGQUIT);
    EXPECT_EQ(editor.waitExit(), 128 + SIGQUIT);
    EXPECT_EQ(readFile("room.lvl.rescue").substr(82, 3), "16 ");
    EXPECT_TRUE(editor.waitFor("quorvex-edit: unsaved room kept in room.lvl.rescue")) << editor.screen();
    EXPECT_TRUE(editor.lineModeBack());
}

TEST_F(EditorFiles, ARoomBesideANewerRescueOffersToTakeIt) {
    std::map<int, std::string> changed = flatRoom();
    changed[10] = "5555";
    std::string file = boxRoom(flatRoom()), rescued = boxRoom(changed);
    writeFile("room.lvl", file);
    writeFile("room.lvl.rescue", rescued);
    auto now = std::filesystem::last_write_time(folder / "room.lvl");
    std::filesystem::last_write_time(folder / "room.lvl.rescue", now + std::chrono::seconds(5));
    ASSERT_EQ(editAgain("room.lvl", "n" + quit), 0);  // nothing changed: leaves at once
    EXPECT_EQ(readFile("room.lvl"), file);
    EXPECT_EQ(readFile("room.lvl.rescue"), rescued);
    ASSERT_EQ(editAgain("room.lvl", "y" + save + quit), 0);
    EXPECT_EQ(readFile("room.lvl").substr(9 * 82, 6), "15555 ");
    EXPECT_FALSE(exists("room.lvl.rescue"));

    // An older copy is not offered: Y takes nothing.
    writeFile("room.lvl.rescue", rescued);
    std::filesystem::last_write_time(folder / "room.lvl.rescue", now - std::chrono::seconds(500));
    ASSERT_EQ(editAgain("room.lvl", "y"), -1);
    EXPECT_EQ(screenRow(24).find("*room.lvl"), std::string::npos) << screenRow(24);
}

}  // namespace
