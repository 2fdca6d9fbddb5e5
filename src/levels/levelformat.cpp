#include "levels/levelformat.h"

#include <algorithm>

#include "system/files.h"

LevelLines splitLevelText(std::string_view text) {
    LevelLines level;
    level.lines = splitLines(text);
    level.mapRows = std::min<size_t>(level.lines.size(), mapHeight);
    size_t goodsIndex = goodsLineNumber - 1;
    level.hasGoodsLine = level.lines.size() > goodsIndex;
    if (level.hasGoodsLine) level.goodsLine = level.lines[goodsIndex];
    for (size_t i = goodsIndex + 1; i < level.lines.size() && level.messages.size() < messageCount; ++i) {
        if (!level.lines[i].empty() && level.lines[i][0] == levelEndMark) break;
        level.messages.push_back(level.lines[i]);
    }
    return level;
}

MapCharacter mapCharacter(uint8_t c) {
    if (c == ' ') return {MapCharacterKind::Cell, Empty};
    if (c == 'i') return {MapCharacterKind::Start, Empty};
    if (c >= '1' && c <= '6') return {MapCharacterKind::Cell, static_cast<CellCode>(c - '0')};
    if (c == '7') return {MapCharacterKind::VerticalEnemyStart, Empty};
    if (c == '8') return {MapCharacterKind::HorizontalEnemyStart, Empty};
    if (c == '9') return {MapCharacterKind::Cell, Exit};
    if (c >= 'j' && c <= 'l') return {MapCharacterKind::Cell, static_cast<CellCode>(GoodsDiamond + (c - 'j'))};
    // 'm' to 't' are the message cells; later bytes give codes without a meaning.
    if (c >= 'm') return {MapCharacterKind::Cell, static_cast<CellCode>(static_cast<int8_t>(c - 96))};
    return {MapCharacterKind::Keeps, Empty};
}

uint8_t characterForCode(int code) {
    if (code >= Wall && code <= Ice) return static_cast<uint8_t>('0' + code);
    if (code == Exit) return '9';
    if (code >= GoodsDiamond && code <= GoodsSpade) return static_cast<uint8_t>('j' + (code - GoodsDiamond));
    if (code >= Message || code <= -97) return static_cast<uint8_t>(code + 96);
    return ' ';  // Empty; the codes only play makes (enemies, crumbled) are not in a loaded map
}

int8_t goodsLineCount(std::string_view goodsLine) {
    // A missing or empty goods line announces no goods rather than a stray line-end code.
    if (goodsLine.empty()) return 0;
    return static_cast<int8_t>(static_cast<unsigned char>(goodsLine[0]) - 48);
}

std::string goodsLineFor(int count) { return std::string(1, static_cast<char>(48 + std::clamp(count, 0, 127))); }

std::string levelFileText(const std::vector<std::string_view>& rows, std::string_view goodsLine,
                          const std::vector<std::string_view>& messages) {
    std::string file;
    for (std::string_view row : rows) file.append(row).append("\r\n");
    file.append(goodsLine).append("\r\n");
    for (std::string_view message : messages) file.append(message).append("\r\n");
    return file;
}

int seriesRoomNumber(std::string_view fileName) {
    size_t digits = fileName.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string_view::npos || digits > 2 || fileName.substr(digits) != ".lvl" ||
        fileName[0] == '0')
        return 0;
    int number = fileName[0] - '0';
    if (digits == 2) number = number * 10 + (fileName[1] - '0');
    return number >= 2 && number <= backdropRoom ? number : 0;
}
