#include "shell/replay.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include "console/console.h"
#include "game/par.h"
#include "game/play.h"
#include "game/runstore.h"
#include "game/tick.h"
#include "levels/levelformat.h"
#include "levels/levels.h"
#include "levels/world.h"
#include "system/files.h"
#include "system/folders.h"
#include "system/sound.h"

namespace {

// Speeds in quarters: 1/4 x to 16 x.
constexpr int speeds[] = {1, 2, 4, 8, 16, 32, 64};
constexpr int normalSpeed = 2;
constexpr const char* speedNames[] = {"1/4x", "1/2x", "1x", "2x", "4x", "8x", "16x"};
constexpr int ticksPerSecond = 1000 / tickMs;
constexpr int barRow = 23;  // the status row the replay's own line takes, at its right end

std::string stopLine;

// A moment of a room to go back to: the world, the player and the picture.
struct Keyframe {
    WorldSnapshot world;
    PlayerState player;
    std::unique_ptr<ConsolePicture> picture;
};

struct Replay {
    const RecordedRun* recorded = nullptr;
    size_t roomIndex = 0;
    const RoomRecord* record = nullptr;
    PlayerState player;
    size_t tick = 0;                  // ticks of the room stepped
    std::vector<Keyframe> keyframes;  // at ticks 0, checkInterval, 2 checkInterval, ... as far as played
    bool doneShown = false;           // the blank screen after the room's exit is up
    bool paused = false;
    bool stepAsked = false;  // Right while paused
    int speed = normalSpeed;
    // The replay's own line and what it covers.
    bool barShown = false;
    int barColumn = 0;
    std::vector<ConsoleCell> underBar;
};
Replay replay;

struct ReplayStop {};   // a room or tick that is not as recorded: stopLine says which
struct ReplayLeave {};  // Esc

// --- the line at the right end of row 23 ---

void setAttribute(uint8_t attribute) {
    setTextColor(attribute & 0x8F);
    setTextBackground((attribute >> 4) & 7);
}

void hideBar() {
    if (!replay.barShown) return;
    replay.barShown = false;
    int column = cursorColumn(), row = cursorRow();
    uint8_t attribute = textAttribute();
    int bufferRow = viewTop() + barRow - 1;
    for (size_t i = 0; i < replay.underBar.size(); ++i) {
        setAttribute(replay.underBar[i].attribute);
        moveCursor(replay.barColumn + static_cast<int>(i), bufferRow);
        writeChar(replay.underBar[i].character);
    }
    setAttribute(attribute);
    moveCursor(column, row);
}

void showBar(const std::string& text) {
    hideBar();
    int column = cursorColumn(), row = cursorRow();
    uint8_t attribute = textAttribute();
    int bufferRow = viewTop() + barRow - 1;
    replay.barColumn = screenWidth - static_cast<int>(text.size());
    replay.underBar.clear();
    for (int x = replay.barColumn; x < screenWidth; ++x) replay.underBar.push_back(bufferCell(x, bufferRow));
    setTextColor(0);
    setTextBackground(7);
    moveCursor(replay.barColumn, bufferRow);
    writeText(text);
    replay.barShown = true;
    setAttribute(attribute);
    moveCursor(column, row);
}

std::string tickText() {
    return "tick " + std::to_string(replay.tick) + " of " + std::to_string(replay.record->ticks.size());
}

bool atRunEnd() {
    return replay.roomIndex + 1 == replay.recorded->rooms.size() && replay.tick == replay.record->ticks.size();
}

// Up while paused, at another speed than 1 x, and at the run's end.
void updateBar() {
    std::string speed = std::string(" \xFA ") + speedNames[replay.speed] + " ";
    if (atRunEnd())
        showBar(" end of the run \xFA " + tickText() + " ");
    else if (replay.paused)
        showBar(" paused \xFA " + tickText() + speed);
    else if (replay.speed != normalSpeed)
        showBar(" " + tickText() + speed);
    else
        hideBar();
}

[[noreturn]] void stop(const std::string& line) {
    stopLine = line;
    throw ReplayStop{};
}

std::string roomName(const RoomRecord& record) { return "room " + std::to_string(record.number); }

// --- a room's start ---

std::string roomText(const RoomRecord& record);

// A best's par: its room's par file's line, played on the room as the best
// run recorded its start.
std::optional<int> parOfBest(const RoomBest& best, const std::vector<KeptRun>& kept) {
    for (const KeptRun& run : kept) {
        if (!run.best || run.run.series != best.series) continue;
        for (const RoomRecord& record : run.run.rooms)
            if (record.number == best.number && record.roomHash == best.roomHash) {
                std::string savedPack = ::run.packName;
                ::run.packName = best.series;  // where a pack's room is found
                std::optional<int> par;
                try {
                    par = roomPar(best.series, record, roomText(record));
                } catch (const ReplayStop&) {
                }  // the room is not there as it was: no par
                ::run.packName = savedPack;
                return par;
            }
    }
    return std::nullopt;
}

// The room's file as the run names it, or the stop that says it is not there.
std::string roomText(const RoomRecord& record) {
    std::string text, shown;
    FileLook look;
    bool found = false;
    try {
        switch (record.kind) {
            case RoomSourceKind::Series: {
                bool number = !record.name.empty() && record.name.size() <= 2 &&
                              record.name.find_first_not_of("0123456789") == std::string::npos;
                shown = "levels/" + record.name + ".lvl";
                found = number && readFileIfThere(gameFolder(run.baseDirectory), shown, text, look, levelFileLimit);
                break;
            }
            case RoomSourceKind::Pack: {
                shown = "levels/custom levels/" + run.packName + "/" + record.name + ".lvl";
                Folder pack = openPlayedPack();
                OpenFile file;
                if (isOpen(pack)) file = openPackFile(pack, record.name + ".lvl");
                found = file.fd >= 0;
                if (found) text = readOpenFile(file, shown, levelFileLimit);
                break;
            }
            case RoomSourceKind::File: {
                shown = record.name;
                auto [above, base] = splitName(record.name);
                Folder folder = openFolder(above, Reach::Anywhere);
                found = isOpen(folder) && readFileIfThere(folder, base, text, look, levelFileLimit);
                break;
            }
            case RoomSourceKind::Held:
                text = record.text;
                found = true;
                break;
        }
    } catch (const FileFailure& failure) {
        stop(roomName(record) + " is not the room this run was recorded in: " + failure.path + ": " + failure.reason);
    }
    if (!found) stop(roomName(record) + " is not the room this run was recorded in: there is no " + shown);
    if (roomFileHash(text) != record.roomHash) stop(roomName(record) + " is not the room this run was recorded in");
    return text;
}

void takeKeyframe() {
    Keyframe frame{saveWorld(), replay.player, std::make_unique<ConsolePicture>()};
    savePicture(*frame.picture);
    replay.keyframes.push_back(std::move(frame));
}

void startRoomReplay(size_t index) {
    hideBar();
    replay.roomIndex = index;
    replay.record = &replay.recorded->rooms[index];
    replay.tick = 0;
    replay.doneShown = false;
    replay.keyframes.clear();
    const RoomRecord& record = *replay.record;
    std::string text = roomText(record);
    loadRoomStart(record, text);
    setAttribute(record.screenColour);
    clearScreen();
    drawRoom();
    replay.player = startRoom();
    if (worldCheck(replay.player) != record.startCheck)
        stop(roomName(record) + " went out of step with this run at tick 0");
    takeKeyframe();
}

// --- ticks ---

// One tick as the room loop played it: its room command, then the rules
// stepped with its key; its check value compared where the run has one.
TickOutcome stepTick() {
    const RoomRecord& record = *replay.record;
    RunTick value = record.ticks[replay.tick];
    if (value == RunTick::SoundSwitched) toggleSound();
    if (value == RunTick::QuitRefused) showRefusedQuitPrompt();
    TickOutcome outcome = stepTickWith(replay.player, keyOf(value));
    ++replay.tick;
    bool due = replay.tick % checkInterval == 0;
    if (due && worldCheck(replay.player) != record.checks[replay.tick / checkInterval - 1])
        stop(roomName(record) + " went out of step with this run at tick " + std::to_string(replay.tick));
    if (replay.tick == record.ticks.size() && worldCheck(replay.player) != record.checks.back())
        stop(roomName(record) + " went out of step with this run at tick " + std::to_string(replay.tick));
    if (due && replay.tick / checkInterval == replay.keyframes.size()) takeKeyframe();
    return outcome;
}

// To a tick of the room, back or on: the keyframe at or before it, then the
// ticks after that stepped at once and silently, so the picture is the one
// that tick showed.
void seekTo(size_t tick) {
    hideBar();
    tick = std::min(tick, replay.record->ticks.size());
    const Keyframe& frame = replay.keyframes[std::min(tick / checkInterval, replay.keyframes.size() - 1)];
    restoreWorld(frame.world);
    replay.player = frame.player;
    restorePicture(*frame.picture);
    replay.tick = (&frame - replay.keyframes.data()) * checkInterval;
    replay.doneShown = false;
    setPauseScale(0);
    setSoundSilent(true);
    while (replay.tick < tick) stepTick();
    setSoundSilent(false);
    setPauseScale(4.0 / speeds[replay.speed]);
}

// --- keys ---

void handleKey() {
    uint8_t pressed = readKey();
    uint8_t code = pressed == key::extended ? readKey() : 0;
    if (pressed == key::escape) throw ReplayLeave{};
    if (pressed == key::space) replay.paused = !replay.paused;
    if (pressed == '+' || pressed == '=') replay.speed = std::min(replay.speed + 1, int(std::size(speeds)) - 1);
    if (pressed == '-' || pressed == '_') replay.speed = std::max(replay.speed - 1, 0);
    setPauseScale(4.0 / speeds[replay.speed]);
    if (pressed != key::extended) return;
    if (code == scan::right && replay.paused) replay.stepAsked = true;
    if (code == scan::left) seekTo(replay.tick > size_t(ticksPerSecond) ? replay.tick - ticksPerSecond : 0);
    if (code == scan::home) seekTo(0);
}

void handleKeys() {
    while (keyPressed()) handleKey();
}

// The room's end: the blank screen after an exit, then the next room.
void finishRoom() {
    if (replay.record->end == RoomEnd::Exit && !replay.doneShown) {
        scoreRoom();
        showRoomDone();
        replay.doneShown = true;
    }
    if (replay.roomIndex + 1 < replay.recorded->rooms.size()) startRoomReplay(replay.roomIndex + 1);
}

void play() {
    startRoomReplay(0);
    for (;;) {
        handleKeys();
        bool roomDone = replay.tick == replay.record->ticks.size();
        if (atRunEnd() || (replay.paused && !replay.stepAsked)) {
            if (atRunEnd() && replay.record->end == RoomEnd::Exit && !replay.doneShown) finishRoom();
            updateBar();
            waitForKey();
            continue;
        }
        replay.stepAsked = false;
        hideBar();
        if (roomDone) {
            finishRoom();
            updateBar();
            continue;
        }
        TickOutcome outcome = stepTick();
        bool lastTick = replay.tick == replay.record->ticks.size();
        if (!atRunEnd()) updateBar();  // the run's end is shown after the last tick's pause
        // The room loop's pause after each tick, but not after the last life's.
        if (!replay.paused && !(lastTick && outcome == TickOutcome::GameOver)) delayMs(tickMs);
    }
}

// --- the command line's lists ---

std::string dateOf(int64_t when, const char* format) {
    time_t seconds = static_cast<time_t>(when);
    struct tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

std::string seriesName(const std::string& series) { return series.empty() ? "main series" : "pack " + series; }

const char* endName(RoomEnd end) {
    switch (end) {
        case RoomEnd::Exit:
            return "exit";
        case RoomEnd::GameOver:
            return "game over";
        case RoomEnd::Quit:
            return "quit";
        case RoomEnd::Leave:
            return "left";
    }
    return "";
}

std::string describeRun(const RecordedRun& recorded) {
    static const char* origins[] = {"New Game", "Continue", "", "play-test", "checker's way"};
    std::string what =
        recorded.origin == RunOrigin::Pack ? seriesName(recorded.series) : origins[static_cast<int>(recorded.origin)];
    if (recorded.origin != RunOrigin::Pack && !recorded.series.empty()) what += ", " + seriesName(recorded.series);
    if (recorded.rooms.empty()) return what + ", no room";
    size_t ticks = 0;
    for (const RoomRecord& room : recorded.rooms) ticks += room.ticks.size();
    int first = recorded.rooms.front().number, last = recorded.rooms.back().number;
    what += first == last ? ", room " + std::to_string(first)
                          : ", rooms " + std::to_string(first) + " to " + std::to_string(last);
    return what + ", " + std::to_string(ticks) + " ticks, " + endName(recorded.rooms.back().end);
}

std::string padLeft(const std::string& text, size_t width) {
    return std::string(width - std::min(width, text.size()), ' ') + text;
}

}  // namespace

void openReplay(const RecordedRun& recorded) {
    stopLine.clear();
    replay = Replay{};
    replay.recorded = &recorded;
    run.soundOn = true;
    run.baseDirectory = currentDirectory() + "/";
    run.packName = recorded.series;
    holdGameFolder(run.baseDirectory);
}

bool replaySeek(size_t tick) {
    try {
        if (replay.record == nullptr) startRoomReplay(0);
        seekTo(tick);
        return true;
    } catch (const ReplayStop&) {
        setSoundSilent(false);
        setPauseScale(1);
        return false;
    }
}

int replayRun(const RecordedRun& recorded) {
    openReplay(recorded);
    hideCursor();
    if (recorded.rooms.empty()) {
        stopLine = "the run holds no room";
        return 1;
    }
    int status = 0;
    try {
        play();
    } catch (const ReplayLeave&) {
        status = 0;
    } catch (const NoticeEscape&) {
        status = 0;
    } catch (const ConsoleInterrupt&) {
        status = 130;
    } catch (const FileFailure& failure) {
        stopLine = "cannot " + failure.operation + " " + failure.path + ": " + failure.reason;
        status = 2;
    } catch (const ReplayStop&) {
        hideBar();
        setTextColor(15);
        setTextBackground(4);
        moveCursor(1, viewTop() + barRow - 1);
        writeText(std::string(" ") + stopLine.substr(0, screenWidth - 3) + " ");
        setTextBackground(0);
        setSoundSilent(false);
        waitForKey();
        status = 1;
    }
    setPauseScale(1);
    return status;
}

const std::string& replayStopLine() { return stopLine; }

int listRuns(std::string& out, std::string& err) {
    std::string why;
    std::vector<KeptRun> kept = keptRuns(why);
    if (!why.empty()) {
        err = "quorvex: no runs to list: " + why + "\n";
        return 1;
    }
    if (kept.empty()) {
        out = "No runs kept yet in " + stateFolder() + "/runs: every game you play is recorded there.\n";
        return 0;
    }
    bool bestsSaid = false;
    for (const KeptRun& run : kept) {
        if (run.best && !bestsSaid) {
            out += "\nThe best runs, each room's fewest ticks:\n";
            bestsSaid = true;
        }
        if (!run.problem.empty())
            out += "(not a run)       " + run.path + "\n";
        else
            out += dateOf(run.run.started, "%Y-%m-%d %H:%M") + "  " + run.path + "\n    " + describeRun(run.run) + "\n";
    }
    return 0;
}

int printScores(std::string& out, std::string& err) {
    std::vector<RoomBest> bests = readBests();
    std::string why;
    std::vector<KeptRun> kept = keptRuns(why);
    for (const std::string& line : takeStoreNotices()) err += "quorvex: " + line + "\n";
    if (bests.empty()) {
        out = "No bests yet: reach a room's exit to set one.\n";
        return 0;
    }
    for (size_t i = 0; i < bests.size(); ++i) {
        const RoomBest& best = bests[i];
        if (i == 0 || best.series != bests[i - 1].series) {
            std::string title = best.series.empty() ? "The main series" : "Pack " + best.series;
            out += (i == 0 ? "" : "\n") + title + "\n" + " room  best ticks    seconds    par   goods  date\n";
        }
        std::optional<int> par = parOfBest(best, kept);
        out += padLeft(std::to_string(best.number), 5) + padLeft(std::to_string(best.ticks), 12) +
               padLeft(secondsOfTicks(best.ticks) + " s", 11) + padLeft(par ? std::to_string(*par) : "", 7) +
               padLeft(std::to_string(best.goods) + "/" + std::to_string(best.goodsInRoom), 8) + "  " +
               dateOf(best.when, "%Y-%m-%d") + "\n";
    }
    return 0;
}
