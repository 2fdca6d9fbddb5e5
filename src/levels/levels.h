// Level files, room drawing and custom level packs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "levels/world.h"
#include "system/folders.h"

// What loading a room leads to; the screen flow (shell/flow.cpp) decides
// what comes next from it.
enum class LoadOutcome : uint8_t {
    Play,      // the room is loaded and drawn: play it
    Backdrop,  // room 22, loaded and drawn: the final sequence plays over it
    Missing,   // no level file: the missing-file screen names `detail`
    PackEnd,   // the pack's end line `detail` ('*' and the author): its end screen
};
struct RoomLoad {
    LoadOutcome outcome = LoadOutcome::Play;
    std::string detail;
};

// Reads levels/<name>.lvl into the room and draws it.
RoomLoad loadLevel(const std::string& name);

// Where a room that is played came from, as a recorded run names it: a room
// of the main series (levels/NAME.lvl of the game folder), an entry of the
// pack being played, a file by its path, or a text that the run holds itself
// (a room played in the editor, saved or not).
enum class RoomSourceKind : uint8_t { Series, Pack, File, Held };
struct RoomSource {
    RoomSourceKind kind = RoomSourceKind::Held;
    std::string name;  // the room number, the pack entry, or the path ("" for Held)
    std::string text;  // the file's bytes as read
};
// The room loaded last by loadLevel or loadPackLevel; the editor sets it
// for the room it plays.
extern RoomSource loadedRoom;
// The loader's reading alone: the text of a level file into the room, over
// whatever the room held (nothing drawn, no file touched).
void readLevelText(std::string_view text);
// Draws one cell as drawRoom does (nothing for cells without a glyph).
void drawRoomCell(int x, int y);
// The look of a cell code at a screen position, as drawRoomCell draws it
// (spikes as if they grew on a wall to their left): for legends.
void drawCodeLook(int x, int y, CellCode code);
// Draws every cell of the map.
void drawRoom();
// The glyph of a spike cell (0 when it shows nothing), and drawing it in colour 7.
unsigned char spikeGlyph(int x, int y);
void drawSpikeCell(int x, int y);
// A pack index: the rooms' file names, one a line, until the end line that
// starts with '*' and names the author. Of a line only its first 255
// characters count.
constexpr size_t packEntryLimit = 255;
struct PackIndex {
    std::vector<std::string> entries;
    bool longEntry = false;  // some entry line was longer and is cut here
    bool hasEndLine = false;
    std::string endLine;                // whole, with its '*'
    std::vector<std::string> afterEnd;  // lines past the end line, as they are
};
PackIndex parsePackIndex(std::string_view text);
std::string packIndexText(const PackIndex& index);  // CR LF after each line

// The number of rooms the index of the pack run.packName lists (0 when it cannot be read).
size_t packRoomCount();
// Loads the pack's room number levelNumber; at its end line, or past the
// index's last line, the pack ends instead.
RoomLoad loadPackLevel();
// Room levelNumber of what is being played: the pack's, else the main series'.
RoomLoad loadCurrentLevel();
// Whether the room after levelNumber is the end of what is played: the
// backdrop of the ending, or the end of the pack's index.
bool lastPlayedRoom();
// The end screen of a pack, for its end line; returns after Enter.
void showPackEnd(const std::string& endLine);
// The one rule for the files of a pack, shared by the game, the checker and
// the editor: a file is the pack's when the kernel resolves its name,
// '\' mapped to '/', beneath the pack folder; links that stay inside are
// fine. A NUL byte, an absolute name, a ".." that climbs out (even through
// folders not made yet) or a link that leads out gives Outside, and nothing
// of that file is read.
// The pack folder, its own path followed as given, its names held beneath it.
Folder openPackFolder(const std::string& path);
// The name of a pack file as the file system takes it ('\' mapped to '/').
std::string packFileName(std::string_view name);
// What the pack's file is, nothing read.
FileLook lookAtPackFile(const Folder& pack, std::string_view fileName);
// The pack's file opened for reading when it is a regular file of the pack.
OpenFile openPackFile(const Folder& pack, std::string_view fileName);
// The pack run.packName, reached through the game folder, its names held beneath it.
Folder openPlayedPack();
// The folder of the pack run.packName (no trailing '/'), as reports name it.
std::string packFolderPath();
// The path of the pack index of run.packName.
std::string packIndexPath();
