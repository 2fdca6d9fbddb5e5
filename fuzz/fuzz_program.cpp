// The whole program, from the menu on, on the in-memory console: keys from
// the input, over a small game folder made from the input. The input is cut
// at lines "%%" into: the keys, the main series' odd rooms, its even rooms,
// the pack index of the pack "fz", its rooms a and sub\b, save.sav and
// checkpoint.sav (a part that is not there: no such file).
//
// Keys: 0xE0-0xE3 are Up, Down, Left, Right; 0xF0-0xFF let 250 to 4000 ms
// pass; '/' and '\' type '_' (a pack name the player types is the player's
// own choice of path, not the pack's); any other byte is that key.
//
// Beside the game folder lies a folder "outside", and the pack holds links to
// it (up.lvl to outside/x.lvl, dir to outside) and one inside (in.lvl to
// a.lvl); the pack "ln" has only an index, a link to outside/x.lvl. Checked
// at every file the file layer touches, as the kernel opened it (read back
// from /proc/self/fd): nothing outside the game folder is opened, written or
// deleted (but the runs kept in the state folder beside it), no descriptor
// of the process leads into "outside", and while a pack is played nothing
// of the game folder is written or deleted. Checked at every pause (delayMs is wrapped at link
// time): the cursor and view, enemies and crumbling slots on the map, lives
// 0 to 3; at every file use and at the end also that no cell of the view has
// a bright background.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzzkit.h"
#include "shell/flow.h"
#include "system/files.h"

namespace {

namespace fs = std::filesystem;

bool watching = false;
std::string gameRoot;     // the real path of the game folder
std::string outsideRoot;  // and of the folder beside it that the pack's links lead to
std::string stateRoot;    // and of the state folder beside it, where runs are kept

std::string realPathOf(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// Cheap enough for every pause: the cursor and view, what stands on the map, the lives.
void checkPicture() {
    checkConsole();
    for (const EnemySlot* enemy : {&room.verticalEnemy, &room.horizontalEnemy})
        if (enemy->active) FUZZ_CHECK(inMap(enemy->x, enemy->y));
    for (const CrumbleSlot& slot : room.crumbleSlots)
        if (slot.active) FUZZ_CHECK(inMap(slot.x, slot.y));
    FUZZ_CHECK(game.lives >= 0 && game.lives <= 3);
}

// And at every file use and at the end: no cell of the view with a bright background.
void checkWholePicture() {
    checkPicture();
    for (int row = 1; row <= viewRows; ++row)
        for (int column = 1; column <= screenWidth; ++column) FUZZ_CHECK(viewCell(column, row).attribute < 0x80);
}

void watchFileUse(const char* operation, int fd, std::string_view name) {
    if (!watching) return;
    // The recorded run and the bests go to the state folder, made (the
    // folders above it asked for) where missing.
    std::string path = descriptorPath(fd);
    bool toState =
        within(path, stateRoot) || (std::strcmp(operation, "folder") == 0 && (path == "/" || within(stateRoot, path)));
    if (!toState) checkFileUseWithin(gameRoot, fd, name);
    checkNoDescriptorInto(outsideRoot);
    if (run.playingCustomPack && !toState)
        FUZZ_CHECK(std::strcmp(operation, "read") == 0 || std::strcmp(operation, "look") == 0);
    checkWholePicture();
}

void writeOrRemove(const std::string& path, const std::vector<std::string_view>& parts, size_t index) {
    if (index < parts.size())
        writeWhole(path, parts[index]);
    else
        fs::remove(path);
}

}  // namespace

// Every pause of the game, the room loop's ticks among them, checks the picture first.
extern "C" void __real__Z7delayMsi(int milliseconds);
extern "C" void __wrap__Z7delayMsi(int milliseconds) {
    if (watching) checkPicture();
    __real__Z7delayMsi(milliseconds);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts = splitParts(input);

    const std::string top = fuzzFolder(), game = top + "/game", pack = game + "/levels/custom levels/fz";
    static bool made = false;
    if (!made) {
        fs::create_directories(pack + "/sub");
        fs::create_directories(top + "/outside");
        fs::create_symlink(top + "/outside/x.lvl", pack + "/up.lvl");
        fs::create_directory_symlink(top + "/outside", pack + "/dir");
        fs::create_symlink("a.lvl", pack + "/in.lvl");
        fs::create_directories(game + "/levels/custom levels/ln");
        fs::create_symlink(top + "/outside/x.lvl", game + "/levels/custom levels/ln/ln.txt");
        fs::create_directories(top + "/state");
        setenv("XDG_STATE_HOME", (top + "/state").c_str(), 1);
        stateRoot = realPathOf(top + "/state");
        gameRoot = realPathOf(game);
        outsideRoot = realPathOf(top + "/outside");
        fileUseWatcher = watchFileUse;
        made = true;
    }
    for (int n = 1; n <= 22; ++n) writeOrRemove(game + "/levels/" + std::to_string(n) + ".lvl", parts, n % 2 ? 1 : 2);
    writeOrRemove(pack + "/fz.txt", parts, 3);
    writeOrRemove(pack + "/a.lvl", parts, 4);
    writeOrRemove(top + "/outside/x.lvl", parts, 4);  // what a pack would draw if it could reach it
    writeOrRemove(pack + "/sub/b.lvl", parts, 5);
    writeOrRemove(game + "/save.sav", parts, 6);
    writeOrRemove(game + "/checkpoint.sav", parts, 7);

    beginRun();
    uint64_t now = 10;
    for (char c : parts[0]) {
        uint8_t byte = static_cast<uint8_t>(c);
        if (byte >= 0xF0) {
            now += (byte - 0xEF) * 250u;
            continue;
        }
        if (byte >= 0xE0 && byte <= 0xE3) {
            const uint8_t arrows[] = {scan::up, scan::down, scan::left, scan::right};
            scriptKey(now, {arrows[byte - 0xE0], true});
        } else {
            scriptKey(now, {byte == '/' || byte == '\\' ? uint8_t('_') : byte, false});
        }
        now += 40;
    }
    // Without keys only rooms that end by themselves go on, and the ending
    // waits for a key within 30 s: later time would show nothing new.
    setStopTime(now + 30000);

    const fs::path caller = fs::current_path();  // the replay's inputs may be named relative to it
    fs::current_path(game);
    watching = true;
    try {
        runProgram();
    } catch (const ScriptEnded&) {
    }
    watching = false;
    checkNoDescriptorInto(outsideRoot);
    checkWholePicture();
    fs::current_path(caller);
    return 0;
}
