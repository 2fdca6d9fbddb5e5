// Level files, room drawing and custom level packs.
#pragma once

#include <string>
#include <string_view>

// Reads levels/<name>.lvl into the room and draws it. A missing file goes to
// the missing-file screen; drawing room 22 goes on into the final sequence.
void loadLevel(const std::string& name);
// The loader's reading alone: the text of a level file into the room, over
// whatever the room held (nothing drawn, no file touched).
void readLevelText(std::string_view text);
// Draws one cell as drawRoom does (nothing for cells without a glyph).
void drawRoomCell(int x, int y);
// Draws every cell of the map; then, when the level number is 22, the final sequence.
void drawRoom();
// The glyph of a spike cell (0 when it shows nothing), and drawing it in colour 7.
unsigned char spikeGlyph(int x, int y);
void drawSpikeCell(int x, int y);
// Loads the pack's room number levelNumber, or shows the pack's end screen.
void loadPackLevel();
// The one rule for the files of a pack, shared by the game, the checker and
// the editor: true when fileName, taken relative to the pack's folder with
// '\' mapped to '/' and links followed, lies inside that folder (its real
// path). For a file not there yet, the nearest part of its path that exists
// decides and the rest may not climb out with "..". A NUL byte or a broken
// link never counts as inside. Reads nothing but the folder tree's names.
bool packFileInsideFolder(const std::string& packFolder, std::string_view fileName);
// The rule for a room: the file entry + ".lvl"; for the index: packName + ".txt".
bool packEntryInsideFolder(const std::string& packFolder, std::string_view entry);
bool packIndexInsideFolder(const std::string& packFolder, const std::string& packName);
// The folder of the pack run.packName (no trailing '/').
std::string packFolderPath();
// The path of the pack index of run.packName.
std::string packIndexPath();
