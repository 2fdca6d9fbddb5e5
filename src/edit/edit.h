// The room editor: one room as the level file's characters, painted in the
// game's own look, played on the spot and checked as it grows; and the pack
// screen that lists a pack's rooms. Plain procedures over one editor-wide
// state, like the game's.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "levels/levelformat.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/folders.h"

// Where a room's file is: a name beneath the open pack folder (held beneath
// it by the kernel, as the game holds it), or a path of the author's own.
struct RoomFile {
    bool inPack = false;
    std::string name;   // beneath the pack folder ('/' separated), or the path
    std::string shown;  // how notes and reports name it
};

// One room as its file holds it. Rows keep their length as read: a short row
// leaves the rest of its cells to whatever the room before left there.
struct RoomText {
    std::array<std::string, mapHeight> rows;  // at most 80 characters each
    std::string goodsLine;                    // only its first character counts
    std::vector<std::string> messages;        // lines 24 on, message 13 first; at most 8
    bool goodsFollowMap = true;               // the goods line is rewritten from the map's goods
};

// What the cells of short rows (and cells whose character writes nothing)
// inherit: the map as the rooms before this one in its pack leave it.
struct Inheritance {
    LevelMap map{};
    uint8_t startX = 0, startY = 0;
    std::array<std::string, messageCount> messages;
    bool firstRoom = true;  // nothing before it: a room without a start is an error
    bool backdrop = false;  // a pack's 22nd room, the ending's backdrop: drawn, never played
};

struct RoomEdit {
    RoomFile file;      // the level file
    std::string path;   // how it is shown ('/' separated)
    std::string title;  // shown in the status lines
    bool writable = true;
    std::string readOnlyWhy;  // when not writable: why, for the note
    RoomText text;
    Inheritance inherited;
    std::vector<RoomText> undo, redo;
    bool modified = false;
    RoomFile rescueTaken;         // the rescue copy the text came from: it goes once saved
    std::string savedFile;        // what saving the room as opened or last saved writes
    bool savedTextKnown = false;  // false for a room not written yet
    // The file's bytes as this editor last read or wrote them (diskRead false:
    // there was no file): a save first looks whether another writer changed it.
    std::string diskText;
    bool diskRead = false;
    int cursorX = 2, cursorY = 2;
    uint8_t brush = '1';
    bool drawing = false;  // moving paints the brush
    bool markSet = false;
    int markX = 1, markY = 1;
    bool showPaths = false;
    bool showWay = false;  // the checker's way drawn over the room
    std::string note;      // one line for the status rows, cleared by the next key
    // Messages whose line in the file was longer than the game keeps (cut on
    // opening): their number and length, said when that cut is saved.
    std::vector<std::pair<int, size_t>> cutMessages;
    // Findings of the last full check, walked with F7.
    std::vector<std::pair<int, int>> findingCells;
    std::vector<std::string> findingTexts;
    int findingIndex = -1;
    int packEntry = -1;  // the pack screen's entry it was opened from, from 0; -1: none
};

extern RoomEdit edit;

// --- the room text (roomtext.cpp) ---
RoomText parseRoomText(std::string_view fileText);
// The file's bytes: rows as they stand (padded: 80 characters each, the
// missing cells filled with the characters of what they inherit), the goods
// line, the message lines, CR LF after each.
std::string roomFileText(const RoomText& text, const Inheritance& inherited, bool padded);
RoomText freshRoomText();  // a wall border, a start and an exit
// The rooms a new room can start from, each finishable (a test has the
// checker prove it): the fresh room, a low corridor over a lava pit, a
// shaft to drop down, a tower of ledges to climb.
enum class StartingRoom : uint8_t { Empty, Corridor, Shaft, Tower };
constexpr int startingRoomCount = 4;
const char* startingRoomName(StartingRoom kind);
RoomText startingRoomText(StartingRoom kind);
bool isPaintCharacter(uint8_t c);  // space, i, 1-9, j-t
// Loads the text into the game's world model, over the inherited map.
void loadRoomText(const RoomText& text, const Inheritance& inherited);
int goodsOnMap();  // in the loaded map
// A fresh room over the inherited map, start and messages: what a room's file is read over.
RoomState inheritedRoom(const Inheritance& inherited);
// The inheritance of a pack's room: the rooms before it applied one after
// the other, as the game loads them (its map is never cleared).
void applyEarlierRoom(Inheritance& inherited, std::string_view fileText);
std::string describeCell(int x, int y);  // the cell under the cursor, in words

// --- editing (roomedit.cpp) ---
// A missing file shows the starting room given until it is saved.
void openRoom(const RoomFile& file, const std::string& title, const Inheritance& inherited, bool writable,
              StartingRoom fresh = StartingRoom::Empty);
// The room's key loop; returns when the author leaves the room.
void runRoomEditor();
void paintCell(int x, int y, uint8_t c);  // one cell, without an undo step of its own
void beginChange();                       // an undo step before a change
void undoChange();
void redoChange();
bool saveRoom();    // false (and a note) when it could not be written
bool saveRoomAs();  // asks for another name or folder; the room is that file from then on
void afterChange();

// --- the screen (editscreen.cpp) ---
void drawEditor();
void drawStatusRows();
void drawVerdictRow();
void showHelp();
// Text at column x, row y in a console colour.
void writeAt(int x, int y, uint8_t colour, std::string_view text);
// Text broken at spaces into lines of at most width characters (a word
// longer than that is broken where it must be).
std::vector<std::string> wrapText(std::string_view text, size_t width);
// A note in full at the foot of the screen: its last line on bottomRow (25,
// or 24 above a question), the lines before it over the rows above (at most
// maxRows). The rows it took.
int drawNote(std::string_view note, uint8_t colour, int maxRows, int bottomRow = 25);
// A line editor over the screen from (column, row), wrapping at column 80.
// markColumn (1-based character index, 0: none) is shown highlighted. Ctrl+U
// clears the line, Ctrl+K cuts it from the cursor to its end. watcher, when
// given, sees the text after every key that changed it. Returns false on Esc.
using LineWatcher = void (*)(const std::string& text);
bool editLine(std::string& line, size_t maxLength, int column, int row, size_t markColumn,
              LineWatcher watcher = nullptr);
// The keys of every prompt, for the row beside it.
extern const char* const lineKeys;
// A question on row 25; the key that answered (upper case for letters).
uint8_t askKey(std::string_view question, std::string_view answers);
bool askText(std::string_view question, std::string& answer, size_t maxLength);
// A file's name: typed and shown as the screen shows it (code page 437
// glyphs), given back as the file system is to hold it: UTF-8 in a UTF-8
// locale. False on Esc, or with why set when the file system cannot hold
// the name (a character other than ASCII where the locale is not UTF-8, a
// part longer than 255 bytes).
bool askName(std::string_view question, std::string& name, size_t maxLength, std::string& why);
// A name from the file system as the screen shows it: its UTF-8 characters
// as their code page 437 glyphs ('?' for one the screen has not).
std::string shownName(std::string_view name);

// --- play-tests (playtest.cpp) ---
enum class PlayEnd { Exit, GameOver, Left };
// How a play-test went.
struct PlayReport {
    PlayEnd end = PlayEnd::Left;
    int ticks = 0;
    int goodsTaken = 0, goodsOnMap = 0;
    int livesLost = 0;
};
// Plays the room as it stands in the game's room loop, from its start or from
// the cursor; the room is as before afterwards.
PlayReport playTest(bool fromCursor);
// Plays the given keys, one per tick, on the game's rules.
PlayReport playSolution(const std::vector<uint8_t>& keys);
// The report in words, for the note: "<what>: exit reached in 77 ticks, goods 1/2, no life lost."
std::string playReportText(const PlayReport& report, std::string_view what);
// Plays a pack as the game does from room firstNumber on: each room loaded
// over what the rooms before left (before: the rooms ahead of the first),
// drawn and played in the game's room loop, the next one after each exit,
// until the end line (past the last path), a file the game would not find
// (an empty name for an entry it never opens), room 22 (the ending, not played here),
// the last life lost, Esc or the quit prompt. No save file is written.
// report: how it ended, in words.
PlayEnd playPack(const std::vector<RoomFile>& rooms, int firstNumber, const Inheritance& before, std::string& report);

// --- the checker's verdict (verdict.cpp) ---
void restartCheck();                             // the room changed: check it again in the background
void checkHarder();                              // F9: the full check again, four times its time and memory
bool checkBusy();                                // work left for advanceCheck
void advanceCheck(int budgetMs);                 // a slice of work, between key polls
std::string verdictLine();                       // for row 24: quorvex-check's verdict on the room
bool verdictHasErrors();                         // quorvex-check would exit 1 on the room
uint8_t verdictColour();                         // for row 24: red an error, yellow not fully checked
bool runFullCheck();                             // findings into edit.findingCells/Texts; false when a key stopped it
bool checkSolution(std::vector<uint8_t>& keys);  // the solution's keys (TickKey values), when known
// The cells the checker's way passes, a tick at a time, once the check has ended (none before).
std::vector<std::pair<int, int>> checkWayCells();

// --- verdicts of a pack's rooms, for the pack screen (verdict.cpp) ---
// Worked out in the background with quorvex-check's own limits and kept per
// room: its text as the game reads it and what the rooms before it leave,
// so a room that has not changed is never searched again.
enum class RoomMark : uint8_t { Waiting, Finishable, Error, NotFullyChecked };
struct RoomVerdict {
    RoomMark mark = RoomMark::Waiting;
    std::string error;    // the first error, in the checker's words
    std::string parLine;  // its par as a par file's line, when the checker proved one
};
void beginPackVerdicts();  // the rooms asked for from now on are the ones still wanted
// Known, or Waiting and queued for advancePackChecks.
RoomVerdict packRoomVerdict(const std::string& text, const Inheritance& inherited);
bool packChecksBusy();
bool advancePackChecks(int budgetMs);  // a slice of work; true when a verdict came
void pausePackChecks();                // the running search and its tables go; it starts again later

// --- the pack screen (packedit.cpp) ---
// How one list of index entries became another: base[from, to) replaced by lines.
struct IndexHunk {
    size_t from = 0, to = 0;
    std::vector<std::string> lines;
};
IndexHunk indexHunk(const std::vector<std::string>& base, const std::vector<std::string>& changed);
// Two changes of the index made from base, merged: false when they collide
// (the same rooms or the end line changed both ways).
bool mergePackIndexes(const PackIndex& base, const PackIndex& mine, const PackIndex& theirs, PackIndex& merged);
void runPackEditor(const std::string& folder);
// After a save as of a pack's room under a new name in the pack: offers to
// put the new file in the index, in place of the room's entry or after it.
// What was done, for the note ("" when nothing was asked).
std::string offerIndexPlace(const RoomFile& saved);

// --- files and the rescue copy (editfiles.cpp: the editor's file rules over system/folders) ---
RoomFile authorsFile(const std::string& path);
RoomFile packRoomFile(std::string_view entry);  // the entry's .lvl in the open pack
// Opens the pack folder (its own path followed as given); throws FileFailure.
void holdPackFolder(const std::string& path);
const Folder& packFolder();
Folder folderFor(const RoomFile& file);  // the folder its name is reached from
FileLook lookAtRoomFile(const RoomFile& file);
bool sameFile(const RoomFile& a, const RoomFile& b);
// True when the pack entry may be opened and written: its .lvl is the
// pack's by the game's own rule, and it names no Windows drive.
bool staysInside(std::string_view entry);
// A look at a path the author named (links followed), to tell a room from a pack.
enum class PathKind { Missing, File, Folder, Other };
PathKind pathKind(const std::string& path);
// The file opened for reading when it is a regular file (of the pack, for a pack's room).
OpenFile openRoomFile(const RoomFile& file);
std::string readRoomFile(const RoomFile& file, size_t maxBytes);
// Saves text as the file: through a link its target is written and the
// link kept (a link that leads out of the pack, or that another user put
// in a shared sticky folder, is refused); the previous file's whole bytes
// go to TARGET~ first; both keep the replaced file's mode, and its owner
// and group where allowed; missing folders are made. Returns the file
// written, as shown. Throws FileFailure.
std::string saveRoomFile(const RoomFile& file, std::string_view text);
// Why saving the file would be refused before anything is written ("" when it would not).
std::string whyNotWritable(const RoomFile& file);
// A new file, made only where nothing is (false then); folders made. Throws FileFailure.
bool createRoomFile(const RoomFile& file, std::string_view text);
// Renames the entry (a link as a link), folders made; false when to is taken. Throws FileFailure.
bool renameRoomFile(const RoomFile& from, const RoomFile& to);
bool removeRoomFile(const RoomFile& file);
std::string fullPath(const std::string& path);  // absolute, without links; "" when it does not exist
// The installed game's per-user folder (as the quorvex launcher finds it); "" without HOME.
std::string userGameFolder();
std::string homeShort(const std::string& path);  // ~/ for the home folder
// Keeps the current unsaved text ready for a signal handler to write beside
// the room as NAME.PID.rescue (one per editor; a name too long for the
// folder shortened); disarmed when the room is saved or left. The copy is
// written whole under a temporary name and renamed; when that fails it goes
// to the second places (rescueFolders). The report also goes to rescue.log
// in the state folder.
void armRescue(const RoomFile& file, std::string_view text);
void disarmRescue();
// From ordinary code, on an abnormal end: writes the armed copy; the report
// lines of every try ("" when there was nothing to keep).
std::string writeRescueNow();
// SIGINT, SIGQUIT, SIGTERM and SIGHUP write it first, report and end as before.
void installRescueHandlers();
std::string rescueFolders();  // the second places, as the help names them
// The unsaved work a run that ended badly left beside the room: the newest
// rescue copy that is the user's own regular file (never a link), newer
// than the room's file and different from it. Copies that hold just what
// the room holds are removed.
struct RescueOffer {
    bool found = false;
    RoomFile file;     // the copy
    std::string name;  // its name in the room's folder
    std::string when;  // when it was written, as the offer says it
    timespec written{};
    int count = 0;  // copies newer than the room
    std::string text;
};
// tidy false: only a look, for the pack screen's mark; nothing is removed.
// names: the room folder's names, sorted, when they were read already.
RescueOffer findRescue(const RoomFile& room, bool tidy = true, const std::vector<std::string>* names = nullptr);
// A declined copy goes to the state folder (never shipped with a pack); where it went. Throws FileFailure.
std::string moveRescueAway(const RescueOffer& offer);
// Any file of the pack the same way, never over a file there (NAME.1,
// NAME.2, ... where NAME is taken): where it went. Throws FileFailure.
std::string moveToStateFolder(const RoomFile& file);
// What moveToStateFolder moved (moved: where it went) back as file, only
// where nothing is there (false then). Throws FileFailure.
bool moveBackFromStateFolder(const std::string& moved, const RoomFile& file);
bool removeRescue(const RoomFile& rescue);
// What the game's loader reads of a level file: its first maxLines lines,
// each cut at maxLineLength, within its first maxBytes; the lines end in LF.
// A huge room costs one chunk of memory, not its size.
std::string readLevelLines(const RoomFile& file, size_t maxLines = lastLevelLineNumber,
                           size_t maxLineLength = messageKeptLimit, size_t maxBytes = levelFileLimit);
// The same from a file already opened (shown: how failures name it).
std::string readLevelLines(OpenFile& opened, const std::string& shown, size_t maxLines = lastLevelLineNumber,
                           size_t maxLineLength = messageKeptLimit, size_t maxBytes = levelFileLimit);

// The whole program after the terminal is open: a level file or a pack folder.
// Returns the exit status; a failure's report line is in editorReport().
int runEditor(const std::string& path);
// quorvex-edit --export PACK DIR: a clean copy of the pack as DIR/NAME (its
// index and the rooms it lists), made only when the checker finds no error
// in it, or evenWithErrors. The checker's lines and the outcome go to out,
// refusals to err; the exit status (0 exported, 1 errors found, 2 a pack or
// place that will not do). A failed file operation throws FileFailure.
int exportPack(const std::string& pack, const std::string& into, bool evenWithErrors, std::string& out,
               std::string& err);
// A failed file operation in the editor's words ("quorvex-edit: cannot ...").
std::string editorFailureText(const FileFailure& failure);
const std::string& editorReport();
