// A custom pack may not touch the main series' saves, nor make the game, the
// checker or the editor read a file outside its folder.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#include "check/check.h"
#include "edit/edit.h"
#include "levels/levels.h"
#include "roomfixture.h"
#include "shell/missingfile.h"
#include "system/files.h"

namespace {

// Each file the layer used, as the kernel has it: read back from /proc/self/fd.
std::vector<std::string> fileUses;
void recordFileUse(const char* operation, int fd, std::string_view name) {
    char target[4096];
    ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    std::string path(target, length > 0 ? size_t(length) : 0);
    fileUses.push_back(std::string(operation) + " " + path + (name.empty() ? "" : "/" + std::string(name)));
}

const std::string save = "48\r\n885\r\n40\r\n", checkpoint = "103\r\n1485\r\n-3\r\n";

struct PackSaves : GameRun {
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
        writeFile("save.sav", save);
        writeFile("checkpoint.sav", checkpoint);
        auto written = std::filesystem::last_write_time(folder / "save.sav");  // the save is the later one
        std::filesystem::last_write_time(folder / "checkpoint.sav", written - std::chrono::seconds(10));
        writeFile("levels/custom levels/demo/exit.lvl", levelText({{19, "i"}, {20, "9"}}));  // falls into the exit
        writeFile("levels/custom levels/demo/lava.lvl", levelText({{19, "i"}, {20, "2"}}));  // and into lava
        fileUses.clear();
        fileUseWatcher = recordFileUse;
    }
    void TearDown() override {
        fileUseWatcher = nullptr;
        GameRun::TearDown();
    }
    // Into the pack demo from the menu (so many exit rooms, then the rest); 'x's answer the ending.
    int playPack(int exits, const std::string& rest = "") {
        std::string index;
        while (exits-- > 0) index += "exit\r\n";
        writeFile("levels/custom levels/demo/demo.txt", index + rest);
        arrow(10, scan::down);
        arrow(10, scan::down);
        text(10, "\rdemo\r");
        for (uint64_t ms = 1000; ms < 200000; ms += 500) key(ms, 'x');
        return runGame();
    }
    // Both saves byte for byte, and neither written nor deleted even to the same bytes.
    bool savesKept() {
        for (const std::string& use : fileUses)
            if (use.rfind("read", 0) != 0 && use.rfind("look", 0) != 0 && use.find(".sav") != std::string::npos)
                return false;
        return readFile("save.sav") == save && readFile("checkpoint.sav") == checkpoint;
    }
};

TEST_F(PackSaves, PastACheckpointRoomToGameOverAndThroughTheEndingTheSavesStayByteForByte) {
    EXPECT_EQ(playPack(6, "lava\r\n*me\r\n"), -1);  // the game-over screen waits for Enter
    EXPECT_EQ(screenRow(10), std::string(35, ' ') + "GAME OVER!");
    EXPECT_EQ(game.levelNumber, 7);
    EXPECT_TRUE(savesKept());

    startMemoryConsole();
    clearSoundLog();
    resetWorld();
    EXPECT_EQ(playPack(22), -1);
    // The ending ran to its last key and the menu came back, still offering the save.
    EXPECT_NE(std::find(soundLog().begin(), soundLog().end(), "loop Sound/credits.wav"), soundLog().end());
    EXPECT_EQ(screenRow(10).substr(33, 15), "Continue (Save)");
    EXPECT_TRUE(savesKept());
}

// A pack with every way out of its folder, a room, a link that stays inside, a missing room.
struct LeavingPack : PackSaves {
    const std::string outsideText = "1111SECRET\r\n";
    std::string pack;
    std::vector<std::string> leaving;  // entries whose file lies outside

    void SetUp() override {
        PackSaves::SetUp();
        pack = "levels/custom levels/demo";
        writeFile("outside/x.lvl", outsideText);
        writeFile(pack + "/alpha.lvl", levelText({{1, "2j"}, {20, "i 9"}}));
        std::filesystem::create_symlink(folder / "outside/x.lvl", folder / pack / "linked.lvl");
        std::filesystem::create_directory_symlink(folder / "outside", folder / pack / "out");
        std::filesystem::create_symlink("alpha.lvl", folder / pack / "alias.lvl");
        leaving = {
            "../../../outside/x",        (folder / "outside/x").string(), "..\\..\\..\\outside\\x", "linked", "out/x",
            "gone/../../../../outside/x"};
    }
    std::string index() {
        std::string text;
        for (const std::string& entry : leaving) text += entry + "\r\n";
        return text + "alias\r\ngone\r\n*me\r\n";
    }
    // The pack's room levelNumber loaded, with the missing-file screen the game shows for it.
    LoadOutcome loadShown() {
        RoomLoad load = loadPackLevel();
        if (load.outcome == LoadOutcome::Missing) showMissingFile(load.detail);
        return load.outcome;
    }
    bool outsideUsed() {
        for (const std::string& use : fileUses)
            if (use.find("/outside/") != std::string::npos) return true;
        return false;
    }
};

TEST_F(LeavingPack, TheGameShowsTheMissingFileScreenTheCheckerAnErrorLineAndNeitherReadsOutside) {
    run = {true, true, "demo", folder.string() + "/"};
    writeFile(pack + "/demo.txt", index());
    for (size_t n = 1; n <= leaving.size(); ++n) {
        room = RoomState{};
        startMemoryConsole();
        game.levelNumber = static_cast<int8_t>(n);
        key(10, 13);
        EXPECT_EQ(loadShown(), LoadOutcome::Missing) << leaving[n - 1];
        EXPECT_EQ(trimRight(bufferRowText(4) + bufferRowText(5)),  // a long path runs on into row 5
                  "File missing: " + folder.string() + "/" + pack + "/" + leaving[n - 1] + ".lvl");
        EXPECT_EQ(screenRow(1).substr(0, 15), "The Quorvex has");
        EXPECT_EQ(cellAt(1, 1), Empty) << leaving[n - 1];
    }

    game.levelNumber = static_cast<int8_t>(leaving.size() + 1);  // the link inside is a room like any other
    loadPackLevel();
    EXPECT_EQ(cellAt(1, 1) * 100 + cellAt(2, 1), Lava * 100 + GoodsDiamond);
    game.levelNumber = static_cast<int8_t>(leaving.size() + 2);
    key(virtualNow() + 10, 13);
    EXPECT_EQ(loadShown(), LoadOutcome::Missing);
    EXPECT_EQ(screenRow(4), "File missing: " + folder.string() + "/" + pack + "/gone.lvl");

    // The checker reports each on its index line without reading it.
    std::string out, err;
    EXPECT_EQ(runChecker({pack}, out, err), 1);
    for (size_t n = 1; n <= leaving.size(); ++n) {
        std::string expected = pack + "/demo.txt:" + std::to_string(n) + ":1: error: the entry \"" + leaving[n - 1] +
                               "\" leads outside the pack folder";
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    }
    EXPECT_NE(out.find(pack + "/alias.lvl:"), std::string::npos) << out;  // checked like any room
    EXPECT_NE(out.find("demo.txt:8:1: error: the entry \"gone\" names"), std::string::npos) << out;
    EXPECT_EQ(out.find("outside/x.lvl"), std::string::npos) << out;
    EXPECT_EQ(out.find("SECRET"), std::string::npos) << out;
    EXPECT_FALSE(outsideUsed());
}

TEST_F(LeavingPack, TheEditorListsThemWithAWarningAndNeverOpensOrWritesThem) {
    writeFile(pack + "/demo.txt", index());
    for (size_t n = 1; n <= leaving.size(); ++n) {
        text(0, "\r");  // open: refused
        arrow(0, scan::down);
    }
    arrow(0, scan::home);
    text(0, "aout/new\rq");         // a new room through the folder link: refused too
    EXPECT_EQ(runEditor(pack), 0);  // a ScriptEnded thrown here: the editor waited
    startMemoryConsole();
    EXPECT_THROW(runEditor(pack), ScriptEnded);
    for (int row = 3; row < 3 + static_cast<int>(leaving.size()); ++row)
        EXPECT_EQ(screenRow(row).substr(49, 16), "outside the pack") << row;
    EXPECT_EQ(trimRight(screenRow(9).substr(8, 40)), "alias");  // no warning: a room of the pack
    EXPECT_EQ(trimRight(screenRow(9).substr(49)), "finishable");
    EXPECT_EQ(trimRight(screenRow(10).substr(49)), "file missing");
    EXPECT_EQ(readFile(pack + "/demo.txt"), index());
    EXPECT_EQ(readFile("outside/x.lvl"), outsideText);
    EXPECT_FALSE(exists("outside/new.lvl"));
    EXPECT_FALSE(outsideUsed());
}

// An index linked out of its folder: no pack, an error, a refusal; never read.
TEST_F(LeavingPack, AnIndexLinkedOutOfItsFolderIsNoPack) {
    writeFile("outside/list.txt", "SECRET\r\n*me\r\n");
    std::filesystem::create_directories(folder / "levels/custom levels/evil");
    std::filesystem::create_symlink(folder / "outside/list.txt", folder / "levels/custom levels/evil/evil.txt");
    arrow(10, scan::down);
    arrow(10, scan::down);
    text(10, "\revil\r");
    EXPECT_EQ(runGame(), -1);
    EXPECT_EQ(screenRow(2) + "|" + screenRow(3), "evil|File not found. ESC to Menu.");

    std::string out, err;
    EXPECT_EQ(runChecker({"levels/custom levels/evil"}, out, err), 1);
    EXPECT_NE(out.find("evil/evil.txt: error: the pack index leads outside the pack folder"), std::string::npos) << out;
    EXPECT_EQ(out.find("SECRET"), std::string::npos) << out;

    startMemoryConsole();
    EXPECT_EQ(runEditor("levels/custom levels/evil"), 2);
    EXPECT_NE(editorReport().find("evil.txt: it leads outside the pack folder"), std::string::npos) << editorReport();
    EXPECT_EQ(readFile("outside/list.txt"), "SECRET\r\n*me\r\n");
    EXPECT_FALSE(exists("levels/custom levels/evil/evil.txt~"));
    EXPECT_FALSE(outsideUsed());
}

// A link whose target is spelled with '\\' is followed as the kernel follows
// it: the backslashes are part of the name, never folder separators (the
// mapping is for names read from index and level files). The checker passes
// the pack, and the editor saves into the pack's own file.
TEST_F(LeavingPack, ALinkTargetSpelledWithBackslashesIsNeverMapped) {
    std::string bs = "levels/custom levels/bs", target = "e\\..\\..\\outside";
    writeFile("levels/custom levels/outside", "precious\r\n");  // where the mapped target would lead
    writeFile(bs + "/bs.txt", "r\r\n*me\r\n");
    writeFile(bs + "/" + target, levelText({{19, "i"}, {20, "9"}}));
    std::filesystem::create_symlink(target, folder / bs / "r.lvl");
    std::string out, err;
    EXPECT_EQ(runChecker({bs}, out, err), 0) << out;
    text(0, "\r5\x13\x11q");  // open r, paint, save, leave, leave
    EXPECT_EQ(runEditor(bs), 0);
    EXPECT_EQ(readFile("levels/custom levels/outside"), "precious\r\n");
    EXPECT_EQ(readFile(bs + "/" + target).substr(82, 2), " 5");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / bs / "r.lvl"));
    EXPECT_FALSE(outsideUsed());
}

// While the game, the checker and the editor load a pack, its room and its
// index are swapped between a file of the pack and a link to a file outside
// it: the room by a thread, as fast as the machine allows, and both at
// random between the steps of the file layer (its watcher swaps them each
// time it is told of a step). However the swaps fall, nothing outside is ever opened (as the
// kernel reports the descriptors opened) nor written.
class SwappedPack : public GameRun {
protected:
    static SwappedPack* current;
    static void watch(const char*, int fd, std::string_view) {
        char target[4096];
        ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
        std::string path(target, length > 0 ? size_t(length) : 0);
        if (path.rfind(current->outsideRoot, 0) == 0) ++current->outsideUses;
        current->swap("r.lvl", current->random() % 2 == 0, ".w");
        if (current->random() % 8 == 0) current->swap("sw.txt", current->random() % 2 == 0, ".w");
    }
    // The entry made a link out (or a file of the pack again), by a rename.
    void swap(const std::string& entry, bool toLink, const char* temporarySuffix) {
        std::string at = (folder / pack).string() + "/", temporary = at + entry + temporarySuffix;
        bool index = entry == "sw.txt";
        int made = toLink ? symlink((folder / "outside" / (index ? "sw.txt" : "x.lvl")).c_str(), temporary.c_str())
                          : ::link((at + (index ? "keep.txt" : "keep.lvl")).c_str(), temporary.c_str());
        if (made == 0) rename(temporary.c_str(), (at + entry).c_str());
        unlink(temporary.c_str());  // a rename between two links of one file leaves both
        ++swaps;
    }
    void SetUp() override {
        GameRun::SetUp();
        installCueFiles();
        writeFile("outside/x.lvl", outsideRoom);
        writeFile("outside/sw.txt", "x\r\n*SECRET\r\n");
        writeFile(pack + "/keep.lvl", levelText({{19, "i"}, {20, "9"}}));
        writeFile(pack + "/keep.txt", "r\r\n*me\r\n");
        std::filesystem::copy_file(folder / pack / "keep.lvl", folder / pack / "r.lvl");
        std::filesystem::copy_file(folder / pack / "keep.txt", folder / pack / "sw.txt");
        outsideRoot = std::filesystem::canonical(folder / "outside").string() + "/";
        current = this;
        fileUseWatcher = watch;
        run = {true, true, "sw", folder.string() + "/"};
        // The room swapped every 10 microseconds or so.
        swapper = std::thread([this] {
            for (bool linked = false; !stop;) {
                swap("r.lvl", linked = !linked, ".t");
                auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(10);
                while (std::chrono::steady_clock::now() < until) continue;  // the loads' steps go on meanwhile
            }
        });
        while (swaps < 100) std::this_thread::yield();
    }
    void TearDown() override {
        stop = true;
        swapper.join();
        fileUseWatcher = nullptr;
        useWalkByHand(false);
        GameRun::TearDown();
    }
    // The three programs load the pack `loads` times each, in turn; their outcomes, counted.
    void loadAll(int loads) {
        std::map<std::string, int> seen;
        for (int n = 0; n < loads; ++n) {
            swap("sw.txt", random() % 2 == 0, ".w");
            room = RoomState{};
            game.levelNumber = 1;
            try {
                RoomLoad load = loadPackLevel();
                EXPECT_NE(cellAt(1, 1), Lava);  // the room outside never drawn
                ++seen[load.outcome == LoadOutcome::Play ? "game: played" : "game: missing"];
            } catch (const FileFailure& failure) {
                ++seen["game: " + failure.reason];
            }
            std::string out, err;
            int status = runChecker({pack}, out, err);
            EXPECT_EQ(out.find("SECRET"), std::string::npos) << out;
            ++seen["checker: status " + std::to_string(status)];
            startMemoryConsole();
            text(0,
                 "\r5\x13\x11"
                 "deX\rq");  // open r, paint, save, leave (discarding), author text, leave
            try {
                ++seen["editor: status " + std::to_string(runEditor(pack))];
            } catch (const ScriptEnded&) {
                ++seen["editor: waiting"];
            }
        }
        EXPECT_EQ(outsideUses, 0);
        EXPECT_EQ(readFile("outside/x.lvl"), outsideRoom);
        EXPECT_EQ(readFile("outside/sw.txt"), "x\r\n*SECRET\r\n");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "outside"), {}), 2);  // nothing made there
        std::cout << "      " << swaps << " swaps;";
        for (const auto& [what, count] : seen) std::cout << " " << what << " " << count << ";";
        std::cout << "\n";
    }
    const std::string pack = "levels/custom levels/sw", outsideRoom = levelText({{1, "2222"}, {19, "i"}, {20, "9"}});
    std::string outsideRoot;
    std::atomic<long> outsideUses{0}, swaps{0};
    std::atomic<bool> stop{false};
    std::thread swapper;
    std::mt19937 random{1};
};
SwappedPack* SwappedPack::current = nullptr;

TEST_F(SwappedPack, NothingOutsideIsReadOrWrittenInAThousandLoadsOfEachProgram) { loadAll(1000); }

TEST_F(SwappedPack, NorByTheWalkOfStepsUsedWhereTheKernelHasNoOpenat2) {
    useWalkByHand(true);
    loadAll(300);
}

}  // namespace
