// Recorded runs: every room played, as the tick values the room loop read,
// so that a run plays again exactly. One format for the game, its replay,
// the editor's play-tests and the level checker's ways.
//
// A run file, all numbers little-endian, "varint" an unsigned LEB128
// number, "signed" a zigzag varint, "text" a varint length and its bytes:
//
//   "QRUN", version byte 1
//   origin byte (RunOrigin), start time (signed, seconds since 1970, UTC),
//   series (text: "" the main series, else the pack's name), room count (varint)
//   then each room:
//     source byte (RoomSourceKind), name (text), the room's text when the
//       source is Held (text)
//     room number (varint, 0 to 127), the room file's hash (8 bytes, FNV-1a)
//     what the rooms before left in it: the start (2 bytes: column, row),
//       kept cells (varint count, then each: cell index (x-1)*22+(y-1) as a
//       varint, its code as a byte), kept messages (varint count, then each:
//       message index 0 to 7 as a byte, text)
//     flags byte (1: sound on, 2: played as a pack's room), the screen's
//       colour byte before the room was drawn, score and total goods (signed)
//     the world's check value at the start (4 bytes)
//     how the room ended (RoomEnd byte), goods taken (varint), ticks stepped (varint)
//     the ticks, run-length packed (varint length, then the bytes): each
//       byte holds a RunTick value in its top three bits and in its low five
//       bits the run's length less one (1 to 31); 31 there means 32 plus a
//       varint that follows
//     check values (4 bytes each) after tick 64, 128, ... and after the last
//
// A room's start is its file loaded over an empty room, then the kept cells,
// messages and start put over it: every room replays on its own, whatever
// was played before it. Only messages that a cell of the map can show are
// kept (and checked): the others never show in that room. The check value
// covers the map, those messages, the enemies, the crumbling floor, the
// lives, the goods and the player, so a replay that comes out differently
// stops where it does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "game/play.h"
#include "game/tick.h"
#include "levels/levels.h"

// What a tick of a run holds: the key the rules took (TickKey's values), or
// a room command taken on a tick that had no key.
enum class RunTick : uint8_t { None, Left, Right, Up, Down, Space, SoundSwitched, QuitRefused };
constexpr int runTickKinds = 8;
inline TickKey keyOf(RunTick tick) { return tick <= RunTick::Space ? static_cast<TickKey>(tick) : TickKey::None; }

constexpr int checkInterval = 64;            // ticks between check values
constexpr size_t runFileLimit = 1u << 20;    // the largest run file read
constexpr uint32_t mostRunTicks = 1u << 24;  // ticks of one room (more than 14 days of play)

// How the game was begun that a run records.
enum class RunOrigin : uint8_t { NewGame, Continue, Pack, PlayTest, Checker };

struct RoomRecord {
    RoomSourceKind kind = RoomSourceKind::Held;
    std::string name;  // as RoomSource names it
    std::string text;  // the room's file (in a file only for Held; the others read it again)
    int number = 1;
    uint64_t roomHash = 0;
    uint8_t startX = 1, startY = 1;
    std::vector<std::pair<uint16_t, int8_t>> keptCells;         // (x-1)*mapHeight+(y-1), code
    std::vector<std::pair<uint8_t, std::string>> keptMessages;  // 0..7, text
    bool soundOn = true, inPack = false;
    uint8_t screenColour = 0x07;
    int32_t score = 0, totalGoods = 0;
    uint32_t startCheck = 0;
    RoomEnd end = RoomEnd::Leave;
    int goodsTaken = 0;
    std::vector<RunTick> ticks;    // one for each tick stepped
    std::vector<uint32_t> checks;  // after every checkInterval ticks and after the last
};

struct RecordedRun {
    RunOrigin origin = RunOrigin::NewGame;
    int64_t started = 0;
    std::string series;  // "" the main series, else the pack's name
    std::vector<RoomRecord> rooms;
};

// The hash a run names a room file by.
uint64_t roomFileHash(std::string_view text);
// The check value of the world in play: the room, the lives and goods of
// the game, and the player.
uint32_t worldCheck(const PlayerState& player);

// The room in play as it starts (startRoom done), loaded from source: what
// the rooms before it left, the counters, the check value.
RoomRecord roomAtStart(const RoomSource& source, const PlayerState& player);
// The world as the room started, from its file's text: the room, the game's
// counters and the run's settings. Nothing is drawn; startRoom is next.
void loadRoomStart(const RoomRecord& record, std::string_view text);

// The record of keys played from the loaded room on the game's own tick,
// silently (the game's world, screen and sound as they were): for a way
// found by the level checker. number: the room's number; inPack: played as
// a pack's room (no level number shown). It ends at the exit or at the
// last life lost, else where the keys end (as left).
RoomRecord roomRecordFromKeys(const RoomSource& source, const RoomState& loaded, int number, bool inPack,
                              const std::vector<TickKey>& keys);

std::string encodeRun(const RecordedRun& run);
enum class RunProblem : uint8_t { None, NotARun, CutShort, TooLarge, LaterVersion };
RunProblem decodeRun(std::string_view bytes, RecordedRun& run);
// Reads the run file at path: "" when it is one, else the line that says
// why not ("FILE is not a run of The Quorvex", "FILE is cut short", ...).
std::string readRunFile(const std::string& path, RecordedRun& run);
// Writes the run file at path whole (replacing it). Throws FileFailure.
void writeRunFile(const std::string& path, const RecordedRun& run);

// --- the run being recorded ---
// From beginRecording to endRecording every room that playRoom plays is recorded, and
// the run is kept (runstore.h) each time a room ends: a game killed in a
// room keeps its run up to the room before. Without a run open nothing is
// recorded (tools and tests that play a room alone).
void beginRecording(RunOrigin origin, const std::string& series);
void endRecording();
const RecordedRun& recordedRun();
// The room played last, as the run holds it; nullptr when it was not recorded.
const RoomRecord* lastRoomRecorded();
// The room loop's part.
void recordRoomStart(const PlayerState& player);
void recordTick(RunTick tick, const PlayerState& player);
void recordRoomEnd(RoomEnd end, const PlayerState& player);
