// The room as level-file text, read and written through the game's own
// loader, so the editor can never show a room the game would load otherwise.
#include <algorithm>

#include "edit/edit.h"
#include "levels/levelformat.h"
#include "levels/levels.h"

namespace {

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
    LevelLines level = splitLevelText(fileText);
    for (size_t y = 0; y < level.mapRows; ++y) text.rows[y] = std::string(level.lines[y].substr(0, mapWidth));
    if (level.hasGoodsLine) text.goodsLine = std::string(level.goodsLine);
    for (std::string_view message : level.messages)
        text.messages.push_back(std::string(message.substr(0, messageKeptLimit)));
    return text;
}

std::string roomFileText(const RoomText& text, const Inheritance& inherited, bool padded) {
    std::vector<std::string> rows(text.rows.begin(), text.rows.end());
    if (padded)
        for (int y = 1; y <= mapHeight; ++y) rows[y - 1] = paddedRow(text.rows[y - 1], y, inherited);
    std::vector<std::string> messages = text.messages;
    if (padded) {
        // Every message cell gets its line, even an empty one: a missing line
        // would show the text of the room played before.
        size_t used = static_cast<size_t>(highestMessageNumber(text));
        while (!messages.empty() && messages.back().empty() && messages.size() > used) messages.pop_back();
        if (messages.size() < used) messages.resize(used);
    }
    return levelFileText(std::vector<std::string_view>(rows.begin(), rows.end()),
                         padded && text.goodsLine.empty() ? std::string_view("0") : std::string_view(text.goodsLine),
                         std::vector<std::string_view>(messages.begin(), messages.end()));
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

const char* startingRoomName(StartingRoom kind) {
    static const char* const names[] = {"empty", "corridor", "shaft", "tower"};
    return names[static_cast<int>(kind)];
}

RoomText startingRoomText(StartingRoom kind) {
    RoomText text = freshRoomText();
    auto put = [&](int x, int y, std::string_view cells) { text.rows[y - 1].replace(x - 1, cells.size(), cells); };
    switch (kind) {
        case StartingRoom::Empty:
            break;
        case StartingRoom::Corridor:  // five rows high, a lava pit to jump, goods on the way
            put(1, 16, std::string(mapWidth, '1'));
            put(38, 22, "222");
            put(20, 21, "j");
            text.goodsLine = "1";
            break;
        case StartingRoom::Shaft:  // from a ledge at the top down a shaft to the floor
            put(3, 21, " ");
            put(3, 4, "i");
            put(2, 5, std::string(33, '1'));
            for (int y = 5; y <= 16; ++y) put(35, y, "1"), put(45, y, "1");
            break;
        case StartingRoom::Tower:  // ledges three rows apart, up to the exit
            put(78, 21, " ");
            for (int k = 0; k < 6; ++k) put(8 + 8 * k, 19 - 3 * k, "1111111");
            put(52, 3, "9");
            break;
    }
    return text;
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
