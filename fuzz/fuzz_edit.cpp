// The room editor driven by keys from the input on the in-memory console,
// over a room or a pack from the input, in a scratch folder. After every
// save the file, read back as the game reads it over the same earlier rooms,
// is the room the editor shows. Searches are held to a few hundred states
// and play-tests to a minute of game time, so an input stays fast.
// The input: one part is a level file, edited alone; several parts, each
// after a line "%%", are a pack: its index, then level files that its
// entries get in turn. Then "KEYS" and the keys: a byte each, or 0xE0 and
// a scan code (arrows, F keys). '/' is left out, so a typed name cannot
// lead out of the scratch folder.
//
// Beside the scratch folder lies a folder "outside"; the pack holds links to
// it (up.lvl to outside/x.lvl, dir to outside). Checked at every file the
// file layer touches, as the kernel opened it (read back from
// /proc/self/fd): nothing in "outside" is ever read or written, and no
// descriptor of the process leads there.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "edit/edit.h"
#include "fuzzkit.h"
#include "levels/levels.h"
#include "system/files.h"

namespace {

constexpr uint8_t ctrlS = 19;

// The file as the game reads it over the editor's earlier rooms, against the
// room the editor shows.
void checkSavedFile() {
    if (!edit.writable || edit.modified || lookAtRoomFile(edit.file).kind != FileKind::File) return;
    RoomState previous = inheritedRoom(edit.inherited);
    RoomState saved = roomFromText(readRoomFile(edit.file, 4u << 20), previous);
    loadRoomText(edit.text, edit.inherited);
    FUZZ_CHECK(std::memcmp(&saved.levelMap, &room.levelMap, sizeof room.levelMap) == 0);
    FUZZ_CHECK(saved.startX == room.startX && saved.startY == room.startY);
    FUZZ_CHECK(saved.goodsInRoom == room.goodsInRoom);
    FUZZ_CHECK(saved.roomMessages == room.roomMessages);
}

// (Absolute paths: libFuzzer's own folders are relative to where it started.)
std::string scratch(const std::string& name) { return fuzzFolder() + "/ed/" + name; }

std::string outsideRoot;  // the real path of "outside"

void watchFileUse(const char*, int fd, std::string_view) {
    FUZZ_CHECK(!within(descriptorPath(fd), outsideRoot));
    checkNoDescriptorInto(outsideRoot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        setSearchCeiling({300, 64u << 20, 0.005});
        std::filesystem::create_directories(fuzzFolder() + "/outside");
        writeWhole(fuzzFolder() + "/outside/x.lvl", "1111111111\r\n");
        char real[4096];
        outsideRoot = realpath((fuzzFolder() + "/outside").c_str(), real) != nullptr ? real : "";
        // Rescue copies and their log stay in the scratch folder.
        setenv("XDG_STATE_HOME", (fuzzFolder() + "/ed/state").c_str(), 1);
        setenv("TMPDIR", (fuzzFolder() + "/ed").c_str(), 1);
        fileUseWatcher = watchFileUse;
        return true;
    }();
    (void)ready;
    auto [files, keyBytes] = splitLevelAndKeys(data, size);
    std::vector<std::string_view> parts = splitParts(files, 9);

    beginRun();
    std::filesystem::remove_all(scratch(""));
    std::filesystem::create_directories(scratch("pk"));
    std::filesystem::create_symlink(fuzzFolder() + "/outside/x.lvl", scratch("pk/up.lvl"));
    std::filesystem::create_directory_symlink(fuzzFolder() + "/outside", scratch("pk/dir"));
    const bool onePack = parts.size() > 1;
    const std::string path = scratch(onePack ? "pk" : "room.lvl");
    if (!onePack) {
        writeWhole(path, parts[0]);
    } else {
        writeWhole(scratch("pk/pk.txt"), parts[0]);
        std::vector<std::string_view> entries = splitLines(parts[0]);
        Folder pack = openPackFolder(scratch("pk"));
        for (size_t i = 0; i < entries.size() && i < 8; ++i) {
            std::string entry = hostPath(entries[i].substr(0, 255));
            if (lookAtPackFile(pack, entry + ".lvl").kind == FileKind::Outside || entry.size() > 128 ||
                entry.starts_with("*"))
                continue;
            std::filesystem::path file = scratch("pk/" + entry + ".lvl");
            std::error_code ignored;
            std::filesystem::create_directories(file.parent_path(), ignored);
            writeWhole(file.string(), parts[1 + i % (parts.size() - 1)]);
        }
    }

    // The keys in runs, each ending at a Ctrl+S, so that the file can be
    // compared once the save is done; the editor goes on in the same room.
    std::vector<std::vector<KeyEvent>> runs(1);
    for (size_t i = 0; i < keyBytes.size() && i < 200 && runs.size() <= 4; ++i) {
        uint8_t byte = static_cast<uint8_t>(keyBytes[i]);
        if (byte == '/') continue;
        if (byte == 0xE0 && i + 1 < keyBytes.size()) {
            runs.back().push_back({static_cast<uint8_t>(keyBytes[++i]), true});
            continue;
        }
        runs.back().push_back({byte, false});
        if (byte == ctrlS) runs.emplace_back();
    }

    bool inRoom = false;  // a run ended in the room editor, just after a save
    for (const std::vector<KeyEvent>& keys : runs) {
        for (const KeyEvent& key : keys) scriptKey(virtualNow(), key);
        setStopTime(virtualNow() + 60'000);  // a minute of game time for a play-test
        try {
            if (inRoom) {
                runRoomEditor();
                if (onePack) runPackEditor(path);
            } else {
                runEditor(path);
            }
            break;  // the editor was left
        } catch (const ScriptEnded&) {
        } catch (const ConsoleInterrupt&) {
            break;
        } catch (const FileFailure&) {
            break;
        }
        checkConsole();
        inRoom =
            !keys.empty() && keys.back().code == ctrlS && !keys.back().extended && edit.note.rfind("Saved ", 0) == 0;
        if (inRoom) checkSavedFile();
    }
    disarmRescue();
    edit = RoomEdit{};  // what the input left behind goes with it
    return 0;
}
