// The room as level-file text, read and written through the game's own
// loader, so the editor can never show a room the game would load otherwise.
#include <algorithm>

#include "edit/edit.h"
#include "game/tick.h"
#include "levels/levels.h"
#include "system/files.h"

namespace {

constexpr size_t maxMessageLength = 255;
constexpr char endOfText = 0x1A;

int highestMessageNumber(const RoomText& text) {
    int highest = 0;
    for (const std::string& row : text.rows)
        for (char c : row)
            if (c >= 'm' && c <= 't') highest = std::max(highest, c - 'm' + 1);
    return highest;
}

std::string paddedRow(const std::string& row, int y, const Inheritance& inherited) {
    std::string padded = row;
    for (int x = static_cast<int>(row.size()) + 1; x <= mapWidth; ++x)
        padded.push_back(static_cast<char>(characterForCode(cellAt(inherited.map, x, y))));
    return padded;
}

}  // namespace

RoomText parseRoomText(std::string_view fileText) {
    RoomText text;
    std::vector<std::string_view> lines = splitLines(fileText);
    for (size_t y = 0; y < mapHeight && y < lines.size(); ++y) text.rows[y] = std::string(lines[y].substr(0, mapWidth));
    if (lines.size() > mapHeight) text.goodsLine = std::string(lines[mapHeight]);
    for (size_t i = 0; i < messageCount; ++i) {
        size_t line = mapHeight + 1 + i;
        if (line >= lines.size()) break;
        if (!lines[line].empty() && lines[line][0] == endOfText) break;
        text.messages.push_back(std::string(lines[line].substr(0, maxMessageLength)));
    }
    return text;
}

std::string roomFileText(const RoomText& text, const Inheritance& inherited, bool padded) {
    std::string file;
    RoomText out = text;
    for (int y = 1; y <= mapHeight; ++y) {
        if (padded) out.rows[y - 1] = paddedRow(text.rows[y - 1], y, inherited);
        file += out.rows[y - 1] + "\r\n";
    }
    file += (padded && out.goodsLine.empty() ? std::string("0") : out.goodsLine) + "\r\n";
    std::vector<std::string> messages = out.messages;
    if (padded) {
        // Every message cell gets its line, even an empty one: a missing line
        // would show the text of the room played before.
        size_t used = static_cast<size_t>(highestMessageNumber(out));
        while (!messages.empty() && messages.back().empty() && messages.size() > used) messages.pop_back();
        if (messages.size() < used) messages.resize(used);
    }
    for (const std::string& message : messages) file += message + "\r\n";
    return file;
}

RoomText freshRoomText() {
    RoomText text;
    for (int y = 1; y <= mapHeight; ++y)
        text.rows[y - 1] =
            (y == 1 || y == mapHeight) ? std::string(mapWidth, '1') : "1" + std::string(mapWidth - 2, ' ') + "1";
    text.rows[20][2] = 'i';
    text.rows[20][77] = '9';
    text.goodsLine = "0";
    return text;
}

uint8_t characterForCode(int code) {
    if (code >= Wall && code <= Ice) return static_cast<uint8_t>('0' + code);
    if (code == Exit) return '9';
    if (code >= GoodsDiamond && code <= GoodsSpade) return static_cast<uint8_t>('j' + (code - GoodsDiamond));
    if (code >= Message || code <= -97) return static_cast<uint8_t>(code + 96);
    return ' ';  // Empty; the codes only play makes (enemies, crumbled) are not in a loaded map
}

bool isPaintCharacter(uint8_t c) { return c == ' ' || c == 'i' || (c >= '1' && c <= '9') || (c >= 'j' && c <= 't'); }

void loadRoomText(const RoomText& text, const Inheritance& inherited) {
    room.levelMap = inherited.map;
    room.startX = inherited.startX;
    room.startY = inherited.startY;
    room.roomMessages = inherited.messages;
    readLevelText(roomFileText(text, inherited, false));
}

int goodsOnMap() {
    int count = 0;
    for (int x = 1; x <= mapWidth; ++x)
        for (int y = 1; y <= mapHeight; ++y) {
            int code = cellAt(x, y);
            if (code >= GoodsDiamond && code <= GoodsSpade) ++count;
        }
    return count;
}

RoomState inheritedRoom(const Inheritance& inherited) {
    RoomState fresh{};
    fresh.levelMap = inherited.map;
    fresh.startX = inherited.startX;
    fresh.startY = inherited.startY;
    fresh.roomMessages = inherited.messages;
    return fresh;
}

void applyEarlierRoom(Inheritance& inherited, std::string_view fileText) {
    room = inheritedRoom(inherited);
    readLevelText(fileText);
    inherited.map = room.levelMap;
    inherited.startX = room.startX;
    inherited.startY = room.startY;
    inherited.messages = room.roomMessages;
    inherited.firstRoom = false;
}

std::string describeCell(int x, int y) {
    const std::string& row = edit.text.rows[y - 1];
    CellCode code = cellAt(x, y);
    std::string inheritedNote = "";
    if (x > static_cast<int>(row.size())) {
        inheritedNote = "after a short row: ";
    } else {
        uint8_t c = static_cast<uint8_t>(row[x - 1]);
        if (c == '7') return "start of the vertical enemy";
        if (c == '8') return "start of the horizontal enemy";
        if (c == 'i') return "the player's start";
        if (!isPaintCharacter(c) && c < 'm')
            inheritedNote = "'" + std::string(1, static_cast<char>(c)) + "' writes nothing: ";
    }
    std::string words;
    switch (code) {
        case Empty:
            words = "empty";
            break;
        case Wall:
            words = "wall";
            break;
        case Lava:
            words = "lava";
            break;
        case Spikes:
            words = spikeGlyph(x, y) == 0 ? "spikes, invisible (no wall to grow on)" : "spikes";
            break;
        case Crumbling:
            words = "crumbling floor";
            break;
        case Spring:
            words = "spring";
            break;
        case Ice:
            words = "ice";
            break;
        case Exit:
            words = "exit";
            break;
        case GoodsDiamond:
        case GoodsClub:
        case GoodsSpade:
            words = "goods";
            break;
        default:
            if (isMessageCode(code)) {
                int number = code - Message + 1;
                std::string message = roomMessage(code);
                words = "message " + std::to_string(number) + (message.empty() ? " (no text)" : ": " + message);
            } else {
                words = "code " + std::to_string(code) + ", no meaning";
            }
    }
    return inheritedNote + words;
}
