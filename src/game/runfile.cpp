#include "game/runfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console/console.h"
#include "levels/world.h"
#include "system/files.h"
#include "system/folders.h"
#include "system/sound.h"

namespace {

constexpr char magic[] = {'Q', 'R', 'U', 'N'};
constexpr uint8_t formatVersion = 1;

struct Fnv {
    uint64_t hash = 0xcbf29ce484222325ull;
    void add(const void* bytes, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            hash ^= static_cast<const uint8_t*>(bytes)[i];
            hash *= 0x100000001b3ull;
        }
    }
    void add(int64_t value) {
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
        add(bytes, sizeof bytes);
    }
};

// --- writing ---

void putVarint(std::string& out, uint64_t value) {
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(static_cast<char>(byte | (value != 0 ? 0x80 : 0)));
    } while (value != 0);
}
void putSigned(std::string& out, int64_t value) {
    putVarint(out, (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63));
}
void putText(std::string& out, std::string_view text) {
    putVarint(out, text.size());
    out.append(text);
}
void putFixed(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string packTicks(const std::vector<RunTick>& ticks) {
    std::string packed;
    for (size_t at = 0; at < ticks.size();) {
        size_t length = 1;
        while (at + length < ticks.size() && ticks[at + length] == ticks[at]) ++length;
        uint8_t top = static_cast<uint8_t>(static_cast<uint8_t>(ticks[at]) << 5);
        if (length <= 31) {
            packed.push_back(static_cast<char>(top | (length - 1)));
        } else {
            packed.push_back(static_cast<char>(top | 31));
            putVarint(packed, length - 32);
        }
        at += length;
    }
    return packed;
}

void putRoom(std::string& out, const RoomRecord& room) {
    out.push_back(static_cast<char>(room.kind));
    putText(out, room.name);
    if (room.kind == RoomSourceKind::Held) putText(out, room.text);
    putVarint(out, static_cast<uint64_t>(room.number));
    putFixed(out, room.roomHash, 8);
    out.push_back(static_cast<char>(room.startX));
    out.push_back(static_cast<char>(room.startY));
    putVarint(out, room.keptCells.size());
    for (auto [index, code] : room.keptCells) {
        putVarint(out, index);
        out.push_back(static_cast<char>(code));
    }
    putVarint(out, room.keptMessages.size());
    for (const auto& [index, text] : room.keptMessages) {
        out.push_back(static_cast<char>(index));
        putText(out, text);
    }
    out.push_back(static_cast<char>((room.soundOn ? 1 : 0) | (room.inPack ? 2 : 0)));
    out.push_back(static_cast<char>(room.screenColour));
    putSigned(out, room.score);
    putSigned(out, room.totalGoods);
    putFixed(out, room.startCheck, 4);
    out.push_back(static_cast<char>(room.end));
    putVarint(out, static_cast<uint64_t>(room.goodsTaken));
    putVarint(out, room.ticks.size());
    putText(out, packTicks(room.ticks));
    for (uint32_t check : room.checks) putFixed(out, check, 4);
}

// --- reading: every read says whether the bytes were there ---

struct Reader {
    std::string_view bytes;
    size_t at = 0;
    bool shortOfBytes = false;  // the file ended inside a field: cut short
    bool wrong = false;         // a field holds what no run holds

    bool byte(uint8_t& value) {
        if (at >= bytes.size()) return !(shortOfBytes = true);
        value = static_cast<uint8_t>(bytes[at++]);
        return true;
    }
    bool varint(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            uint8_t b;
            if (!byte(b)) return false;
            value |= uint64_t(b & 0x7F) << shift;
            if ((b & 0x80) == 0) return true;
        }
        return !(wrong = true);
    }
    bool number(uint64_t& value, uint64_t most) {
        if (!varint(value)) return false;
        return value <= most || !(wrong = true);
    }
    bool signedNumber(int64_t& value) {
        uint64_t raw;
        if (!varint(raw)) return false;
        value = static_cast<int64_t>(raw >> 1) ^ -static_cast<int64_t>(raw & 1);
        return true;
    }
    bool fixed(uint64_t& value, int count) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            uint8_t b;
            if (!byte(b)) return false;
            value |= uint64_t(b) << (8 * i);
        }
        return true;
    }
    bool text(std::string& value) {
        uint64_t length;
        if (!varint(length)) return false;
        if (length > bytes.size() - at) {
            at = bytes.size();
            return !(shortOfBytes = true);
        }
        value.assign(bytes.substr(at, length));
        at += length;
        return true;
    }
};

bool unpackTicks(std::string_view packed, uint64_t count, std::vector<RunTick>& ticks) {
    Reader in{packed};
    ticks.clear();
    ticks.reserve(count);
    while (in.at < packed.size()) {
        uint8_t b;
        in.byte(b);
        uint64_t length = (b & 31u) + 1;
        if ((b & 31u) == 31) {
            uint64_t more;
            if (!in.varint(more) || more > count) return false;
            length = 32 + more;
        }
        if (length > count - ticks.size()) return false;
        ticks.insert(ticks.end(), length, static_cast<RunTick>(b >> 5));
    }
    return ticks.size() == count;
}

bool getRoom(Reader& in, RoomRecord& room) {
    uint64_t value;
    uint8_t b;
    if (!in.byte(b)) return false;
    if (b > static_cast<uint8_t>(RoomSourceKind::Held)) return !(in.wrong = true);
    room.kind = static_cast<RoomSourceKind>(b);
    if (!in.text(room.name)) return false;
    if (room.kind == RoomSourceKind::Held && !in.text(room.text)) return false;
    if (!in.number(value, 127)) return false;
    room.number = static_cast<int>(value);
    if (!in.fixed(room.roomHash, 8) || !in.byte(room.startX) || !in.byte(room.startY)) return false;
    uint64_t count;
    if (!in.number(count, mapWidth * mapHeight)) return false;
    for (uint64_t i = 0; i < count; ++i) {
        if (!in.number(value, mapWidth * mapHeight - 1) || !in.byte(b)) return false;
        room.keptCells.emplace_back(static_cast<uint16_t>(value), static_cast<int8_t>(b));
    }
    if (!in.number(count, messageCount)) return false;
    for (uint64_t i = 0; i < count; ++i) {
        std::string text;
        if (!in.byte(b) || !in.text(text)) return false;
        if (b >= messageCount) return !(in.wrong = true);
        room.keptMessages.emplace_back(b, std::move(text));
    }
    if (!in.byte(b)) return false;
    room.soundOn = b & 1;
    room.inPack = b & 2;
    int64_t score, totalGoods;
    if (!in.byte(room.screenColour) || !in.signedNumber(score) || !in.signedNumber(totalGoods)) return false;
    if (score < INT32_MIN || score > INT32_MAX || totalGoods < INT32_MIN || totalGoods > INT32_MAX)
        return !(in.wrong = true);
    room.score = static_cast<int32_t>(score);
    room.totalGoods = static_cast<int32_t>(totalGoods);
    if (!in.fixed(value, 4) || !in.byte(b)) return false;
    room.startCheck = static_cast<uint32_t>(value);
    if (b > static_cast<uint8_t>(RoomEnd::Leave)) return !(in.wrong = true);
    room.end = static_cast<RoomEnd>(b);
    uint64_t goods, ticks;
    if (!in.number(goods, mapWidth * mapHeight) || !in.number(ticks, mostRunTicks)) return false;
    room.goodsTaken = static_cast<int>(goods);
    std::string packed;
    if (!in.text(packed)) return false;
    if (!unpackTicks(packed, ticks, room.ticks)) return !(in.wrong = true);
    room.checks.resize(ticks / checkInterval + 1);
    for (uint32_t& check : room.checks) {
        if (!in.fixed(value, 4)) return false;
        check = static_cast<uint32_t>(value);
    }
    return true;
}

// The messages that cells of the map can show, a bit each: the others
// never show in the room, whatever earlier rooms left in them.
unsigned usedMessages() {
    unsigned used = 0;
    for (const auto& column : room.levelMap.cells)
        for (CellCode code : column)
            if (isMessageCode(code)) used |= 1u << (code - Message);
    return used;
}

// The room loaded from its text over an empty room, the game's own room left as it was.
RoomState loadedOnEmpty(std::string_view text) {
    RoomState saved = room;
    room = RoomState{};
    readLevelText(text);
    RoomState loaded = room;
    room = saved;
    return loaded;
}

}  // namespace

uint64_t roomFileHash(std::string_view text) {
    Fnv fnv;
    fnv.add(text.data(), text.size());
    return fnv.hash;
}

uint32_t worldCheck(const PlayerState& player) {
    Fnv fnv;
    fnv.add(room.levelMap.cells, sizeof room.levelMap.cells);
    unsigned used = usedMessages();
    for (size_t i = 0; i < room.roomMessages.size(); ++i) {
        const std::string& message = used & (1u << i) ? room.roomMessages[i] : std::string();
        fnv.add(static_cast<int64_t>(message.size()));
        fnv.add(message.data(), message.size());
    }
    fnv.add(int64_t(room.startX) << 16 | int64_t(room.startY) << 8 | uint8_t(room.goodsInRoom));
    for (const EnemySlot* enemy : {&room.verticalEnemy, &room.horizontalEnemy})
        fnv.add(enemy->active ? int64_t(enemy->x) << 16 | int64_t(enemy->y) << 8 | uint8_t(enemy->step) : -1);
    for (const CrumbleSlot& slot : room.crumbleSlots)
        fnv.add(slot.active ? int64_t(slot.x) << 16 | int64_t(slot.y) << 8 | uint8_t(slot.age) : -1);
    fnv.add(int64_t(game.lives) << 32 | uint32_t(game.goodsCollected));
    // Not the checkpoint label's timer: whether the label shows rests on a
    // checkpoint written when the room was played, which a replay does not write.
    for (int value : {player.playerX, player.playerY, player.previousX, player.previousY, int(player.direction),
                      int(player.savedDirection), int(player.slide), int(player.jumping), player.jumpStep,
                      player.jumpHeight, int(player.messageShown), player.messageTimer})
        fnv.add(int64_t(value));
    return static_cast<uint32_t>(fnv.hash ^ (fnv.hash >> 32));
}

RoomRecord roomAtStart(const RoomSource& source, const PlayerState& player) {
    RoomRecord record;
    record.kind = source.kind;
    record.name = source.name;
    record.text = source.text;
    record.roomHash = roomFileHash(source.text);
    record.number = std::max(0, int(game.levelNumber));
    RoomState clean = loadedOnEmpty(source.text);
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y)
            if (cellAt(x, y) != cellAt(clean.levelMap, x, y))
                record.keptCells.emplace_back(static_cast<uint16_t>((x - 1) * mapHeight + y - 1), cellAt(x, y));
    unsigned used = usedMessages();
    for (size_t i = 0; i < room.roomMessages.size(); ++i)
        if ((used & (1u << i)) != 0 && room.roomMessages[i] != clean.roomMessages[i])
            record.keptMessages.emplace_back(static_cast<uint8_t>(i), room.roomMessages[i]);
    record.startX = room.startX;
    record.startY = room.startY;
    record.soundOn = run.soundOn;
    record.inPack = run.playingCustomPack;
    // Row 23's first cell is left blank by the room and its status lines.
    record.screenColour = consoleSilent() ? 0x07 : bufferCell(1, viewTop() + 22).attribute;
    record.score = game.score;
    record.totalGoods = game.totalGoods;
    record.startCheck = worldCheck(player);
    return record;
}

void loadRoomStart(const RoomRecord& record, std::string_view text) {
    room = loadedOnEmpty(text);
    for (auto [index, code] : record.keptCells) setCell(index / mapHeight + 1, index % mapHeight + 1, CellCode(code));
    for (const auto& [index, message] : record.keptMessages) room.roomMessages[index] = message;
    room.startX = record.startX;
    room.startY = record.startY;
    game.levelNumber = static_cast<int8_t>(record.number);
    game.score = record.score;
    game.totalGoods = record.totalGoods;
    run.soundOn = record.soundOn;
    run.playingCustomPack = record.inPack;
}

RoomRecord roomRecordFromKeys(const RoomSource& source, const RoomState& loaded, int number, bool inPack,
                              const std::vector<TickKey>& keys) {
    WorldSnapshot saved = saveWorld();
    bool wasSilent = consoleSilent();
    setConsoleSilent(true);
    setSoundSilent(true);
    room = loaded;
    game = GameCounters{};
    game.levelNumber = static_cast<int8_t>(std::clamp(number, 0, 127));
    run.soundOn = true;
    run.playingCustomPack = inPack;
    PlayerState player = startRoom();
    RoomRecord record = roomAtStart(source, player);
    for (TickKey key : keys) {
        TickOutcome outcome = stepTickWith(player, key);
        record.ticks.push_back(static_cast<RunTick>(key));
        if (record.ticks.size() % checkInterval == 0) record.checks.push_back(worldCheck(player));
        if (outcome == TickOutcome::GameOver || outcome == TickOutcome::ExitReached) {
            record.end = outcome == TickOutcome::GameOver ? RoomEnd::GameOver : RoomEnd::Exit;
            break;
        }
    }
    record.checks.push_back(worldCheck(player));
    record.goodsTaken = game.goodsCollected;
    restoreWorld(saved);
    setConsoleSilent(wasSilent);
    setSoundSilent(false);
    return record;
}

std::string encodeRun(const RecordedRun& run) {
    std::string out(magic, sizeof magic);
    out.push_back(static_cast<char>(formatVersion));
    out.push_back(static_cast<char>(run.origin));
    putSigned(out, run.started);
    putText(out, run.series);
    putVarint(out, run.rooms.size());
    for (const RoomRecord& room : run.rooms) putRoom(out, room);
    return out;
}

RunProblem decodeRun(std::string_view bytes, RecordedRun& run) {
    run = RecordedRun{};
    if (bytes.size() > runFileLimit) return RunProblem::TooLarge;
    if (bytes.size() < sizeof magic + 1)
        return bytes == std::string_view(magic, bytes.size()) && !bytes.empty() ? RunProblem::CutShort
                                                                                : RunProblem::NotARun;
    if (bytes.substr(0, sizeof magic) != std::string_view(magic, sizeof magic)) return RunProblem::NotARun;
    if (static_cast<uint8_t>(bytes[sizeof magic]) > formatVersion) return RunProblem::LaterVersion;
    if (static_cast<uint8_t>(bytes[sizeof magic]) != formatVersion) return RunProblem::NotARun;
    Reader in{bytes, sizeof magic + 1};
    uint8_t origin = 0;
    uint64_t count = 0;
    bool whole = in.byte(origin) && in.signedNumber(run.started) && in.text(run.series) && in.varint(count);
    if (whole && origin > static_cast<uint8_t>(RunOrigin::Checker)) in.wrong = true;
    run.origin = static_cast<RunOrigin>(origin);
    for (uint64_t i = 0; whole && !in.wrong && i < count; ++i) {
        RoomRecord room;
        whole = getRoom(in, room);
        run.rooms.push_back(std::move(room));
    }
    if (in.wrong || (whole && in.at != bytes.size())) return RunProblem::NotARun;
    return whole ? RunProblem::None : RunProblem::CutShort;
}

std::string readRunFile(const std::string& path, RecordedRun& run) {
    auto [above, base] = splitName(path);
    Folder folder = openFolder(above, Reach::Anywhere);
    OpenFile file;
    if (isOpen(folder)) file = openFileIn(folder, base);
    if (file.fd < 0) {
        int error = isOpen(folder) ? file.look.error : errno;
        if (isOpen(folder) && (file.look.kind == FileKind::Folder || file.look.kind == FileKind::Other))
            return path + " is not a run of The Quorvex (not a regular file)";
        return "cannot read " + path + ": " + reasonFor(error != 0 ? error : ENOENT);
    }
    std::string bytes;
    try {
        bytes = readOpenFile(file, path, runFileLimit + 1);
    } catch (const FileFailure& failure) {
        return "cannot read " + path + ": " + failure.reason;
    }
    switch (decodeRun(bytes, run)) {
        case RunProblem::None:
            return "";
        case RunProblem::NotARun:
            return path + " is not a run of The Quorvex";
        case RunProblem::CutShort:
            return path + " is cut short: its end is missing";
        case RunProblem::TooLarge:
            return path + " is too large for a run (more than 1 MiB)";
        case RunProblem::LaterVersion:
            return path + " is a run of a later version of The Quorvex";
    }
    return "";
}

void writeRunFile(const std::string& path, const RecordedRun& run) { writeFileAtomically(path, encodeRun(run)); }
