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
#include <set>

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

    // The text's error decides at once, before the search has run; a missing exit is one error.
    writeFile("room.lvl", boxRoom({{20, "i"}}));
    ASSERT_EQ(editAgain("room.lvl"), -1);
    restartCheck();
    EXPECT_EQ(verdictLine(), "ERROR: no exit '9' on the map");

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

// A pack named with characters beyond ASCII is named whole on the screen,
// each character as its glyph, however long the name.
TEST_F(EditorFiles, ThePackScreenNamesAPackWhole) {
    std::filesystem::create_directories(folder / "levels");
    for (std::string name : {"caf\xC3\xA9", "caf\xC3\xA9 of the long winter and the longer spring"}) {
        EXPECT_EQ(editAgain(name), -1);
        std::string shown = shownName(name);
        EXPECT_TRUE(has(screenRow(22), "pack \"" + shown + "\"")) << name;
        EXPECT_TRUE(has(screenRow(1), shown.substr(0, 30)));
    }
}

// What the pack screen looks at and lists to show a pack: each folder is
// read once, and an index of 3,000 entries costs a screenful of looks more
// than one of 21, not a look (or a folder read) for each entry.
int looks = 0, lists = 0;
void countFileUse(const char* operation, int, std::string_view) {
    looks += std::string_view(operation) == "look";
    lists += std::string_view(operation) == "list";
}

TEST_F(EditorFiles, ThePackScreensWorkDoesNotGrowWithTheIndex) {
    std::string rooms, level = boxRoom(flatRoom());
    for (int i = 1; i <= 21; ++i) {
        rooms += "room " + std::to_string(i) + "\r\n";
        writeFile("pk/room " + std::to_string(i) + ".lvl", level);
    }
    for (int i = 0; i < 500; ++i) writeFile("pk/other " + std::to_string(i), "");
    std::string more;
    for (int i = 22; i <= 3000; ++i) more += "room " + std::to_string(i) + "\r\n";
    std::map<int, std::pair<int, int>> seen;  // entries: looks, lists
    for (int entries : {21, 3000}) {
        writeFile("pk/pk.txt", rooms + (entries > 21 ? more : "") + "*\r\n");
        looks = lists = 0;
        fileUseWatcher = countFileUse;
        EXPECT_EQ(editAgain("pk", "q"), 0);
        fileUseWatcher = nullptr;
        seen[entries] = {looks, lists};
    }
    EXPECT_LE(seen[3000].first, seen[21].first + 64 * 3) << seen[21].first;
    EXPECT_EQ(seen[3000].second, seen[21].second);
    EXPECT_EQ(seen[21].second, 1);  // the pack folder, once
}

// The rescue copies of this process: NAME.PID.rescue.
std::string mine(const std::string& name) { return name + "." + std::to_string(getpid()) + ".rescue"; }

// The report of a rescue of text as the unsaved work of room.
std::string writeRescueAfter(const std::string& text, const std::string& room = "room/r.lvl") {
    armRescue(authorsFile(room), text);
    return writeRescueNow();
}

// A rescue that cannot be written beside the room says so, leaves the older
// copy there whole and lands in the user's state folder; with no state
// folder either, in a private folder of its own in TMPDIR, which a name
// someone made there first cannot block.
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
            writeFile("room/" + mine("r1.lvl"), "older");
            if (full) {
                writeFile("room/filler", std::string(1 << 20, 'x'));  // as much as fits
            } else if (root ? mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0
                            : chmod(where.c_str(), 0555) != 0) {
                return "skip: no read-only folder";
            }
            armRescue(authorsFile("room/r1.lvl"), std::string(3000, 'r'));
            std::string report = writeRescueNow();
            std::string left;
            for (const auto& entry : std::filesystem::directory_iterator(where))
                left += entry.path().filename().string() + " ";
            chmod(where.c_str(), 0755);
            return report + "|" + readFile("room/" + mine("r1.lvl")) + "|" + left;
        });
        if (said.rfind("skip", 0) == 0) {
            std::cout << said << "\n";
            continue;
        }
        std::string reason = full ? "No space left on device" : root ? "Read-only file system" : "Permission denied";
        std::string kept = path("state") + "/quorvex/r1.lvl.";
        std::string first = "quorvex-edit: could not keep the unsaved room in room/r1.lvl.";
        EXPECT_EQ(said.rfind(first, 0), 0u) << said;
        EXPECT_NE(said.find(".rescue: " + reason + "\nquorvex-edit: unsaved room kept in " + kept), std::string::npos)
            << said;
        EXPECT_NE(said.find("|older|"), std::string::npos) << said;
        EXPECT_EQ(said.find(".tmp "), std::string::npos) << said;
        size_t start = said.find(kept) + kept.size() - 7;
        std::string copy = said.substr(start, said.find('|') - start);
        EXPECT_EQ(fileContents(path("state/quorvex/") + copy), std::string(3000, 'r')) << copy;
    }

    // No state folder: a private folder made in TMPDIR, whatever was made there first.
    writeFile("afile", "x");
    setenv("XDG_STATE_HOME", path("afile").c_str(), 1);
    setenv("TMPDIR", path("tmp").c_str(), 1);
    std::filesystem::create_directories(folder / "tmp" / mine("r2.lvl"));  // the old fixed name, taken
    armRescue(authorsFile("nowhere/r2.lvl"), "text");
    std::string report = writeRescueNow(), tried = "quorvex-edit: could not keep the unsaved room in ";
    std::string expected = tried + path("afile") + "/quorvex/" + mine("r2.lvl") + ": Not a directory\n" +
                           "quorvex-edit: unsaved room kept in " + path("tmp") + "/quorvex-rescue-";
    EXPECT_EQ(report.rfind(expected, 0), 0u) << report;
    std::string privateFolder = report.substr(expected.size() - 15, 22);
    EXPECT_EQ(fileContents(folder / "tmp" / privateFolder / mine("r2.lvl")), "text") << report;
    struct stat info {};
    ASSERT_EQ(stat((folder / "tmp" / privateFolder).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// Two editors with one process number (each the first process of a PID
// namespace of its own) on rooms named alike in a full folder: both copies
// land in the state folder, neither replaces the other, each report names
// the file that holds its own work.
TEST_F(EditorFiles, RescueCopiesNeverReplaceOneAnotherWhateverProcessNumbersRepeat) {
    if (geteuid() != 0) GTEST_SKIP() << "PID namespaces and a tmpfs need root";
    std::string said = inChild([&]() -> std::string {
        std::string where = path("room");
        std::filesystem::create_directories(where);
        if (!privateMounts() || mount("quorvex", where.c_str(), "tmpfs", 0, "size=64k") != 0) return "skip: no tmpfs";
        writeFile("room/filler", std::string(1 << 20, 'x'));  // as much as fits
        std::string reports;
        for (const char* text : {"first editor's", "second editor's"})
            reports += inChild([&]() -> std::string {
                           if (unshare(CLONE_NEWPID) != 0) return "skip: no PID namespace";
                           return inChild([&] { return std::to_string(getpid()) + " " + writeRescueAfter(text); });
                       }) +
                       "#";
        return reports;
    });
    if (said.find("skip") != std::string::npos) GTEST_SKIP() << said;
    std::string kept = "quorvex-edit: unsaved room kept in " + path("state/quorvex/");
    size_t at = 0;
    for (const char* text : {"first editor's", "second editor's"}) {
        size_t end = said.find('#', at);
        std::string report = said.substr(at, end - at);
        at = end + 1;
        EXPECT_EQ(report.rfind("1 quorvex-edit: could not keep the unsaved room in room/r.lvl.", 0), 0u) << report;
        size_t named = report.find(kept);
        ASSERT_NE(named, std::string::npos) << report;
        std::string name = report.substr(named + kept.size());
        EXPECT_EQ(readFile("state/quorvex/" + name), text) << report;
    }
    EXPECT_TRUE(exists("state/quorvex/r.lvl.1.rescue") && exists("state/quorvex/r.lvl.1-1.rescue"));
}

// The state folder is used only when it is the user's own: not another
// user's, not one others may write in, not reached through a link another
// user put in a shared folder; the report says why and the copy goes to a
// private folder. A FIFO planted as rescue.log holds no one: SIGTERM still
// ends the editor at once.
TEST_F(EditorFiles, TheStateFolderIsUsedOnlyWhenItIsTheUsersOwn) {
    bool root = geteuid() == 0;
    setenv("TMPDIR", path("tmp").c_str(), 1);
    std::filesystem::create_directories(folder / "tmp");
    std::filesystem::create_directories(folder / "open/quorvex");
    chmod(path("open/quorvex").c_str(), 0777);
    std::vector<std::pair<std::string, std::string>> cases = {{"open", "others may write in it"}};
    if (root) {
        std::filesystem::create_directories(folder / "theirs/quorvex");
        ASSERT_EQ(chown(path("theirs/quorvex").c_str(), 4242, 4242), 0);
        std::filesystem::create_directories(folder / "shared");
        std::filesystem::create_directories(folder / "victim");
        chmod(path("shared").c_str(), 01777);
        std::filesystem::create_symlink(folder / "victim", folder / "shared/quorvex");
        ASSERT_EQ(lchown(path("shared/quorvex").c_str(), 4242, 4242), 0);
        cases.push_back({"theirs", "it belongs to another user"});
        cases.push_back({"shared", "a link another user made in a shared folder: not followed for writing"});
    }
    for (const auto& [state, why] : cases) {
        SCOPED_TRACE(state);
        setenv("XDG_STATE_HOME", path(state).c_str(), 1);
        std::string report = writeRescueAfter("work", "nowhere/r.lvl");
        std::string expected = "quorvex-edit: could not keep the unsaved room in " + path(state) + "/quorvex/" +
                               mine("r.lvl") + ": " + why + "\nquorvex-edit: unsaved room kept in " + path("tmp") +
                               "/quorvex-rescue-";
        EXPECT_EQ(report.rfind(expected, 0), 0u) << report;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder / "victim"));

    setenv("XDG_STATE_HOME", path("state").c_str(), 1);
    std::filesystem::create_directories(folder / "state/quorvex");
    ASSERT_EQ(mkfifo(path("state/quorvex/rescue.log").c_str(), 0600), 0);
    pid_t child = fork();
    if (child == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDERR_FILENO);
        installRescueHandlers();
        armRescue(authorsFile("room.lvl"), "unsaved");
        raise(SIGTERM);
        _exit(7);
    }
    int status = 0;
    for (int waited = 0; waited < 2000 && waitpid(child, &status, WNOHANG) == 0; waited += 10) usleep(10'000);
    bool ended = kill(child, 0) != 0 || waitpid(child, &status, WNOHANG) == child;
    if (!ended) kill(child, SIGKILL), waitpid(child, &status, 0);
    EXPECT_TRUE(ended) << "held by the FIFO";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(readFile("room.lvl." + std::to_string(child) + ".rescue"), "unsaved");
}

// Each in a child; under nohup (SIGHUP ignored, standard error a file) the
// run goes on and the report is still written, to standard error and to the
// log in the state folder; then SIGQUIT in a real terminal, where the report
// stays on the screen once the terminal is back.
TEST_F(EditorFiles, EveryEndingSignalWritesTheRescueAndSaysWhere) {
    for (int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, 0}) {
        SCOPED_TRACE(number);
        bool nohup = number == 0;
        pid_t child = fork();
        if (child == 0) {
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            int log = open(path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, STDERR_FILENO);
            if (nohup) signal(SIGHUP, SIG_IGN);
            installRescueHandlers();
            armRescue(authorsFile("room.lvl"), "unsaved " + std::to_string(number));
            raise(nohup ? SIGHUP : number);
            _exit(7);  // reached only where the signal was ignored
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (nohup)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status;
        std::string name = "room.lvl." + std::to_string(child) + ".rescue";
        EXPECT_EQ(readFile(name), "unsaved " + std::to_string(number));
        EXPECT_EQ(readFile("stderr"), "quorvex-edit: unsaved room kept in " + name + "\n");
        std::string log = readFile("state/quorvex/rescue.log");
        EXPECT_TRUE(log.size() > 24 && log.ends_with(" UTC quorvex-edit: unsaved room kept in " + name + "\n")) << log;
        std::filesystem::remove(folder / name);
        std::filesystem::remove(folder / "state/quorvex/rescue.log");
    }

    TmuxGame editor(std::string(QUORVEX_EDIT_BINARY) + " room.lvl");
    editor.start(folder);
    ASSERT_TRUE(editor.waitFor("F1 help")) << editor.screen();
    editor.keys("6");
    ASSERT_TRUE(editor.waitFor("*room.lvl")) << editor.screen();
    kill(editor.pid(), SIGQUIT);
    EXPECT_EQ(editor.waitExit(), 128 + SIGQUIT);
    std::string name = "room.lvl." + std::to_string(editor.pid()) + ".rescue";
    EXPECT_EQ(readFile(name).substr(82, 3), "16 ");
    EXPECT_TRUE(editor.waitFor("quorvex-edit: unsaved room kept in " + name)) << editor.screen();
    EXPECT_TRUE(editor.lineModeBack());
}

// Two editors on one room keep a copy each; the offer names the newest and
// when it was written; a declined copy moves to the state folder; a copy
// that holds just the room is no unsaved work; taking one and saving under
// another name removes that copy and never the other room's; a name too
// long for the folder gets a shortened copy that is found again; leftovers
// of killed runs go.
TEST_F(EditorFiles, RescueCopiesAreOnePerEditorAndOfferedOnlyWhenTheyHoldUnsavedWork) {
    std::map<int, std::string> changed = flatRoom(), other = flatRoom();
    changed[10] = "5555";
    other[10] = "6666";
    std::string file = boxRoom(flatRoom());
    writeFile("room.lvl", file);
    auto now = std::filesystem::last_write_time(folder / "room.lvl");
    std::vector<std::string> copies;
    for (const std::string& text : {boxRoom(changed), boxRoom(other)}) {
        std::string child = inChild([&] {
            armRescue(authorsFile("room.lvl"), text);
            writeRescueNow();
            return std::to_string(getpid());
        });
        copies.push_back("room.lvl." + child + ".rescue");
        std::filesystem::last_write_time(folder / copies.back(), now + std::chrono::seconds(5 * copies.size()));
    }
    ASSERT_EQ(readFile(copies[0]), boxRoom(changed));
    ASSERT_EQ(editAgain("room.lvl"), -1);
    char when[32];
    time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(now + std::chrono::seconds(10)));
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", std::localtime(&seconds));
    EXPECT_TRUE(
        has(screenRow(23) + " " + screenRow(24), copies[1] + ", written " + when + " (the newest of 2 copies)"));
    ASSERT_EQ(editAgain("room.lvl", "n" + quit), 0);  // declined: moved out of the room's folder
    EXPECT_FALSE(exists(copies[1]));
    EXPECT_EQ(readFile("state/quorvex/" + copies[1]), boxRoom(other));
    ASSERT_EQ(editAgain("room.lvl", "y" + save + quit), 0);  // the other copy, offered alone now
    EXPECT_EQ(readFile("room.lvl").substr(9 * 82, 6), "15555 ");
    EXPECT_FALSE(exists(copies[0]));

    // Just the room again: nothing to take, and the copy goes.
    writeFile("room.lvl.7.rescue", readFile("room.lvl"));
    std::filesystem::last_write_time(folder / "room.lvl.7.rescue", now + std::chrono::seconds(60));
    ASSERT_EQ(editAgain("room.lvl", "y"), -1);
    EXPECT_EQ(screenRow(24).find("*room.lvl"), std::string::npos) << screenRow(24);
    EXPECT_FALSE(exists("room.lvl.7.rescue"));

    // Taken from a.lvl, saved as b.lvl: a's copy goes, b's stays.
    writeFile("a.lvl", file);
    writeFile("b.lvl", file);
    writeFile("a.lvl.rescue", boxRoom(changed));
    writeFile("b.lvl.rescue", boxRoom(other));
    for (const char* name : {"a.lvl.rescue", "b.lvl.rescue"})
        std::filesystem::last_write_time(folder / name, now + std::chrono::seconds(60));
    ASSERT_EQ(editAgain("a.lvl", "y" + f12 + times(5, backspace) + "b\ry" + quit), 0);
    EXPECT_EQ(readFile("b.lvl").substr(9 * 82, 6), "15555 ");
    EXPECT_FALSE(exists("a.lvl.rescue"));
    EXPECT_EQ(readFile("b.lvl.rescue"), boxRoom(other));

    // 244 characters: a shortened name, said in the report, offered again; a dead run's temporary goes.
    std::string longName = std::string(240, 'x') + ".lvl";
    writeFile(longName, file);
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    writeFile("room.lvl." + std::to_string(gone) + ".rescue.tmp", "leftover");
    writeFile("room.lvl.1.rescue.tmp", "a live run's");
    armRescue(authorsFile("room.lvl"), "x");
    EXPECT_FALSE(exists("room.lvl." + std::to_string(gone) + ".rescue.tmp"));
    EXPECT_TRUE(exists("room.lvl.1.rescue.tmp"));
    armRescue(authorsFile(longName), boxRoom(changed));
    std::string report = writeRescueNow();
    std::string prefix = "quorvex-edit: unsaved room kept in " + std::string(223, 'x') + "~";
    ASSERT_EQ(report.rfind(prefix, 0), 0u) << report;
    std::string kept = report.substr(prefix.size() - 224);
    EXPECT_TRUE(kept.size() <= 255 && kept.ends_with("." + std::to_string(getpid()) + ".rescue")) << kept;
    std::filesystem::last_write_time(folder / kept, now + std::chrono::seconds(60));
    ASSERT_EQ(editAgain(longName, "y" + save + quit), 0) << bottomRows();
    EXPECT_EQ(readFile(longName).substr(9 * 82, 6), "15555 ");
    EXPECT_FALSE(exists(kept));
}

// The pack screen tells what the game would make of each room: the checker's
// verdict (kept per room, so an unchanged one is not searched again), a
// missing file, rescued work, and the level files the index never names.
TEST_F(EditorFiles, ThePackScreenShowsVerdictsMissingFilesRescuedWorkAndFilesOutsideTheIndex) {
    writeFile("pack/pack.txt", "good\r\nbad\r\ngone\r\n*\r\n");
    writeFile("pack/good.lvl", boxRoom(flatRoom()));
    writeFile("pack/bad.lvl", boxRoom({{20, "i"}}));
    writeFile("pack/sub/deep.lvl", boxRoom(flatRoom()));
    writeFile("pack/springs.lvl", boxRoom(flatRoom()));
    writeFile("pack/good.lvl.77.rescue", boxRoom({{20, "i  9"}}));
    std::filesystem::last_write_time(
        folder / "pack/good.lvl.77.rescue",
        std::filesystem::last_write_time(folder / "pack/good.lvl") + std::chrono::seconds(5));
    ASSERT_EQ(editAgain("pack"), -1);  // no key: every verdict worked out
    std::vector<std::pair<int, std::string>> expected = {
        {3, "  1 * good"},   {3, "finishable"},       {4, "ERROR: no exit '9' on the map"},
        {5, "file missing"}, {6, "Not in the index"}, {7, "springs"},
        {8, "sub/deep"}};
    for (const auto& [row, words] : expected) EXPECT_TRUE(has(screenRow(row), words)) << row;
    EXPECT_TRUE(has(bottomRows(), "left unsaved work of good: Enter offers it"));
    EXPECT_TRUE(exists("pack/good.lvl.77.rescue"));  // only looked at

    // Known rooms are not searched again; a changed one is, and a limit stopping it is no pass.
    writeFile("pack/bad.lvl", boxRoom({{20, "i9"}}));
    setSearchCeiling({1, 0, 0});
    int status = editAgain("pack");
    setSearchCeiling({0, 0, 0});
    ASSERT_EQ(status, -1);
    EXPECT_TRUE(has(screenRow(3), "finishable"));
    EXPECT_TRUE(has(screenRow(4), "not fully checked"));
    EXPECT_EQ(bufferCell(50, 4).attribute & 0x0F, 14);
}

// A file the index does not name and a ~ backup leave the pack for the
// state folder (never over a file there, and only when it is the user's
// own), the note saying where; Ctrl+Z puts them back, Ctrl+Y out again.
TEST_F(EditorFiles, FilesBelowTheIndexMoveToTheStateFolderAndBack) {
    writeFile("pack/pack.txt", "room\r\n*\r\n");
    writeFile("pack/room.lvl", boxRoom(flatRoom()));
    writeFile("pack/room.lvl~", "before");
    writeFile("pack/extra.lvl", "extra");
    writeFile("state/quorvex/room.lvl~", "older");
    ASSERT_EQ(editAgain("pack"), -1);
    for (const auto& [row, words] : std::vector<std::pair<int, std::string>>{
             {4, "Not in the index"}, {5, "extra"}, {6, "Backups"}, {7, "room.lvl~"}})
        EXPECT_TRUE(has(screenRow(row), words)) << row;

    auto said = [this] {
        std::string rows = bottomRows();
        std::replace(rows.begin(), rows.end(), '\n', ' ');
        return rows;
    };
    chmod(path("state/quorvex").c_str(), 0777);
    ASSERT_EQ(editAgain("pack", downKey + "dy"), -1);
    EXPECT_TRUE(has(said(), "cannot use " + path("state/quorvex") + ": others may write in it"));
    EXPECT_EQ(readFile("pack/extra.lvl"), "extra");
    chmod(path("state/quorvex").c_str(), 0700);

    ASSERT_EQ(editAgain("pack", downKey + "dy" + "dy"), -1);  // the backup is the marked line then
    EXPECT_TRUE(has(said(), "Moved room.lvl~ to " + path("state/quorvex/room.lvl~.1") + "; Ctrl+Z puts it back"));
    EXPECT_EQ(readFile("state/quorvex/extra.lvl"), "extra");
    EXPECT_EQ(readFile("state/quorvex/room.lvl~.1"), "before");
    EXPECT_EQ(readFile("state/quorvex/room.lvl~"), "older");
    EXPECT_FALSE(exists("pack/extra.lvl") || exists("pack/room.lvl~"));

    std::filesystem::rename(folder / "state/quorvex/extra.lvl", folder / "pack/extra.lvl");
    std::filesystem::rename(folder / "state/quorvex/room.lvl~.1", folder / "pack/room.lvl~");
    ASSERT_EQ(editAgain("pack", downKey + "dy" + "dy" + undo + undo + redo), -1);
    EXPECT_TRUE(has(
        said(), "Redone: extra.lvl moved out to the state folder. extra.lvl is in " + path("state/quorvex/extra.lvl")));
    EXPECT_EQ(readFile("pack/room.lvl~"), "before");
    EXPECT_EQ(readFile("state/quorvex/extra.lvl"), "extra");
    EXPECT_FALSE(exists("pack/extra.lvl") || exists("state/quorvex/room.lvl~.1"));
}

// Every starting room a new room can have is finishable, by the checker's
// own proof, and holds nothing it warns about.
TEST_F(EditorFiles, EveryStartingRoomIsFinishable) {
    std::vector<std::string> rooms;
    for (int k = 0; k < startingRoomCount; ++k) {
        rooms.push_back(std::string(startingRoomName(StartingRoom(k))) + ".lvl");
        writeFile(rooms.back(), roomFileText(startingRoomText(StartingRoom(k)), {}, true));
    }
    std::string out, err;
    EXPECT_EQ(runChecker(rooms, out, err), 0) << out;
    EXPECT_TRUE(out.ends_with("\n0 errors, 0 warnings\n")) << out;
    for (const std::string& room : rooms) EXPECT_TRUE(has(out, room + ":")) << room;
}

// The message being typed is in the rescue copy with every key; a rescue
// taken is one undo step; declined in a pack, it leaves the pack folder.
TEST_F(EditorFiles, NothingTypedIsLostAndATakenRescueIsOneUndoStep) {
    std::string room = fileOf(freshRows({{1, 1, "m"}}), "0", {"old"});
    writeFile("room.lvl", room);
    ASSERT_EQ(editAgain("room.lvl", "\rnew words"), -1);  // killed while typing
    writeRescueNow();
    std::string copy = rescueName(folder, "room.lvl");
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(readFile(copy), fileOf(freshRows({{1, 1, "m"}}), "0", {"oldnew words"}));
    std::filesystem::last_write_time(folder / copy,
                                     std::filesystem::last_write_time(folder / "room.lvl") + std::chrono::seconds(5));

    // Taken and undone: the room as its file holds it, nothing to ask at leaving; redone and saved.
    ASSERT_EQ(editAgain("room.lvl", "y" + undo + quit), 0);
    EXPECT_EQ(readFile("room.lvl"), room);
    ASSERT_EQ(editAgain("room.lvl", "y" + undo + redo + save + quit), 0);
    EXPECT_EQ(readFile("room.lvl"), fileOf(freshRows({{1, 1, "m"}}), "0", {"oldnew words"}));
    EXPECT_FALSE(exists(copy));

    // In a pack: declined, the copy goes to the state folder, never shipped with the pack.
    writeFile("pack/pack.txt", "room\r\n*\r\n");
    writeFile("pack/room.lvl", room);
    writeFile("pack/room.lvl.rescue", fileOf(freshRows({{1, 1, "m5"}}), "0", {"old"}));
    std::filesystem::last_write_time(
        folder / "pack/room.lvl.rescue",
        std::filesystem::last_write_time(folder / "pack/room.lvl") + std::chrono::seconds(5));
    ASSERT_EQ(editAgain("pack", "\rn" + quit + "q"), 0);
    EXPECT_FALSE(exists("pack/room.lvl.rescue"));
    EXPECT_EQ(readFile("state/quorvex/room.lvl.rescue"), fileOf(freshRows({{1, 1, "m5"}}), "0", {"old"}));
}

// Another pack's index is taken only as a regular file of this pack, takes
// the mode of the index it replaces (or keeps its own), and never replaces
// an index that was not read whole.
TEST_F(EditorFiles, TakingAnotherPacksIndexReadsOnlyAFileOfThePackAndNeverWidensOrCutsAnIndex) {
    writeFile("secret.txt", "room\r\n*SECRET\r\n");
    chmod(path("secret.txt").c_str(), 0600);
    std::filesystem::create_directories(folder / "out");
    std::filesystem::create_symlink(folder / "secret.txt", folder / "out/other.txt");
    ASSERT_EQ(editAgain("out", "iq"), 0);
    EXPECT_EQ(readFile("out/out.txt"), "*\r\n");  // no other index offered: an empty one of its own

    writeFile("copied/other.txt", "one\r\n*me\r\n");
    chmod(path("copied/other.txt").c_str(), 0600);
    ASSERT_EQ(editAgain("copied", "iq"), 0);
    EXPECT_EQ(readFile("copied/copied.txt"), "one\r\n*me\r\n");
    struct stat info {};
    ASSERT_EQ(stat(path("copied/copied.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string big = "*me\r\n" + std::string(6'000'000, 'z');
    writeFile("big/big.txt", big);
    writeFile("big/other.txt", "one\r\n*me\r\n");
    ASSERT_EQ(editAgain("big", "i"), -1);
    EXPECT_TRUE(has(screenRow(25), "never rewritten")) << screenRow(25);
    EXPECT_EQ(readFile("big/big.txt"), big);
    EXPECT_FALSE(exists("big/big.txt~"));
}

// A room named on the command line in a sticky, world-writable folder: a
// link another user put there is never followed for writing (nothing made
// at its target, on opening or saving, whatever fs.protected_symlinks
// says); a rescue copy that is a link or another user's file is never offered.
TEST_F(EditorFiles, AnotherUsersLinkInASharedFolderIsNeverWrittenThroughNorItsRescueOffered) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's link";
    std::filesystem::create_directories(folder / "shared");
    chmod(path("shared").c_str(), 01777);
    writeFile("secret.lvl", "SECRET\r\n");
    chmod(path("secret.lvl").c_str(), 0600);
    auto plant = [&](const std::string& link, const std::string& target) {
        std::filesystem::create_symlink(target, folder / link);
        ASSERT_EQ(lchown(path(link).c_str(), 1234, 1234), 0);
    };
    plant("shared/made.lvl", path("made.lvl"));
    plant("shared/secret.lvl", path("secret.lvl"));
    plant("shared/slash.lvl", "..\\made.lvl");
    for (const char* room : {"shared/made.lvl", "shared/secret.lvl", "shared/slash.lvl"}) {
        SCOPED_TRACE(room);
        ASSERT_EQ(editAgain(room), -1);  // opened: nothing made
        EXPECT_FALSE(exists("made.lvl"));
        ASSERT_EQ(editAgain(room, "5" + save), -1);
        EXPECT_TRUE(has(bottomRows(), "link another user made in a shared folder")) << bottomRows();
    }
    EXPECT_FALSE(exists("made.lvl"));
    EXPECT_FALSE(exists("shared/..\\made.lvl"));
    std::filesystem::create_directories(folder / "victim");  // a pack folder through such a link: refused
    plant("shared/pk", path("victim"));
    EXPECT_EQ(editAgain("shared/pk"), 2);
    EXPECT_TRUE(has(editorReport(), "link another user made in a shared folder")) << editorReport();
    EXPECT_TRUE(std::filesystem::is_empty(folder / "victim"));
    EXPECT_EQ(readFile("secret.lvl"), "SECRET\r\n");
    EXPECT_FALSE(exists("secret.lvl~"));

    writeFile("shared/own.lvl", boxRoom(flatRoom()));
    plant("shared/own.lvl.rescue", path("secret.lvl"));
    writeFile("shared/own.lvl.99.rescue", "SECRET too\r\n");
    ASSERT_EQ(chown(path("shared/own.lvl.99.rescue").c_str(), 1234, 1234), 0);
    for (const char* copy : {"shared/own.lvl.rescue", "shared/own.lvl.99.rescue"}) {
        struct timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 60, 0}};
        utimensat(AT_FDCWD, path(copy).c_str(), later, AT_SYMLINK_NOFOLLOW);
    }
    ASSERT_EQ(editAgain("shared/own.lvl", "y" + save + quit), 0);  // nothing offered: 'y' paints nothing
    EXPECT_EQ(readFile("shared/own.lvl").find("SECRET"), std::string::npos);
    EXPECT_EQ(readFile("secret.lvl"), "SECRET\r\n");
}

// Names typed in the prompts: in a UTF-8 locale the file is called what the
// screen shows (é and Θ typed come as their code page 437 glyphs); where
// the locale is not UTF-8 such a name is refused rather than written as
// bytes no listing would show alike.
TEST_F(EditorFiles, NamesTypedInAUtf8LocaleAreWrittenInUtf8) {
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    setenv("LANG", "C.UTF-8", 1);
    ASSERT_EQ(editAgain("pk", "a\x82t\xE9\r1q"), 0);
    EXPECT_EQ(readFile("pk/pk.txt"), "\xC3\xA9t\xCE\x98\r\n*\r\n");
    EXPECT_TRUE(exists("pk/\xC3\xA9t\xCE\x98.lvl"));
    ASSERT_EQ(editAgain("pk"), -1);
    EXPECT_EQ(screenRow(3).substr(8, 3), "\x82t\xE9");  // listed as it was typed
    setenv("LANG", "C", 1);
    ASSERT_EQ(editAgain("pk", "a\x82\r"), -1);
    EXPECT_TRUE(has(bottomRows(), "Names are ASCII here")) << bottomRows();
    EXPECT_EQ(readFile("pk/pk.txt"), "\xC3\xA9t\xCE\x98\r\n*\r\n");
    unsetenv("LANG");
}

}  // namespace

// --export: a clean copy for sharing, the index and the rooms it lists byte
// for byte (a '\' entry as its file, a room listed twice once) and nothing
// else of the folder; never over a copy there; a pack with errors only with
// --force, its missing room left out; no temporary folder left behind.
TEST_F(EditorFiles, ExportWritesACleanCheckedCopyOfThePack) {
    const std::string index = "a\r\nsub\\b\r\na\r\n*us\r\nnever read\r\n";
    writeFile("pack/pack.txt", index);
    writeFile("pack/a.lvl", fileOf(freshRows({{1, 1, "j"}}), "1"));
    writeFile("pack/sub/b.lvl", fileOf(freshRows()));
    for (const char* other : {"a.lvl~", "a.lvl.123.rescue", "stray.lvl", "notes.txt", "sub/old.lvl"})
        writeFile(std::string("pack/") + other, "x");
    auto exported = [&](const std::string& arguments) {
        return commandOutput("cd " + shellQuoted(folder.string()) + " && " + QUORVEX_EDIT_BINARY + " --export " +
                             arguments + " 2>&1; echo status $?");
    };
    auto files = [&](const std::string& under) {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / under))
            if (entry.is_regular_file()) found.insert(entry.path().lexically_relative(folder / under).string());
        std::string names;
        for (const std::string& name : found) names += name + " ";
        return names;
    };
    std::string said = exported("pack shared");
    EXPECT_TRUE(has(said, "0 errors")) << said;
    EXPECT_TRUE(has(said, "Exported pack to shared/pack: its index and 2 rooms.\nstatus 0"));
    EXPECT_EQ(files("shared"), "pack/a.lvl pack/pack.txt pack/sub/b.lvl ") << files("shared");
    for (const char* file : {"pack.txt", "a.lvl", "sub/b.lvl"})
        EXPECT_EQ(readFile(std::string("shared/pack/") + file), readFile(std::string("pack/") + file)) << file;
    EXPECT_TRUE(has(exported("pack shared"), "shared/pack is there already: nothing was exported\nstatus 2"));

    writeFile("pack/pack.txt", "a\r\ngone\r\n*\r\n");
    EXPECT_TRUE(has(exported("pack errors"), "the checker found errors (--force exports it)\nstatus 1"));
    EXPECT_FALSE(exists("errors"));
    EXPECT_TRUE(has(exported("--force pack errors"), "1 entry without a file left out, errors and all.\nstatus 0"));
    EXPECT_EQ(files("errors"), "pack/a.lvl pack/pack.txt ") << files("errors");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "errors"), {}), 1);  // no temporary left
}
