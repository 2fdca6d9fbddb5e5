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
    if (!edit.writable || edit.modified || pathKind(edit.path) != PathKind::File) return;
    RoomState previous = inheritedRoom(edit.inherited);
    RoomState saved = roomFromText(readTextFile(edit.path), previous);
    loadRoomText(edit.text, edit.inherited);
    FUZZ_CHECK(std::memcmp(&saved.levelMap, &room.levelMap, sizeof room.levelMap) == 0);
    FUZZ_CHECK(saved.startX == room.startX && saved.startY == room.startY);
    FUZZ_CHECK(saved.goodsInRoom == room.goodsInRoom);
    FUZZ_CHECK(saved.roomMessages == room.roomMessages);
}

// (Absolute paths: libFuzzer's own folders are relative to where it started.)
std::string scratch(const std::string& name) { return fuzzFolder() + "/ed/" + name; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        setSearchCeiling({300, 64u << 20, 0.005});
        return true;
    }();
    (void)ready;
    auto [files, keyBytes] = splitLevelAndKeys(data, size);
    std::vector<std::string_view> parts = splitParts(files, 9);

    beginRun();
    std::filesystem::remove_all(scratch(""));
    std::filesystem::create_directories(scratch("pk"));
    const bool onePack = parts.size() > 1;
    const std::string path = scratch(onePack ? "pk" : "room.lvl");
    if (!onePack) {
        writeWhole(path, parts[0]);
    } else {
        writeWhole(scratch("pk/pk.txt"), parts[0]);
        std::vector<std::string_view> entries = splitLines(parts[0]);
        for (size_t i = 0; i < entries.size() && i < 8; ++i) {
            std::string entry = hostPath(entries[i].substr(0, 255));
            if (!packEntryInsideFolder(scratch("pk"), entry) || entry.size() > 128 || entry.starts_with("*")) continue;
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
