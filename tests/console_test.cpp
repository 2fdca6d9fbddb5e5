// The console layer in its in-memory form, and the code page 437 table.
#include "console/console.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <set>

#include "console/cp437.h"

namespace {

class MemoryConsole : public ::testing::Test {
protected:
    void SetUp() override { startMemoryConsole(); }
};

std::pair<int, int> cursor() { return {cursorColumn(), cursorRow()}; }

}  // namespace

TEST_F(MemoryConsole, ColoursChangeOnlyTheirOwnHalf) {
    setTextColor(0);
    setTextBackground(15);
    EXPECT_EQ(textAttribute(), 0x70);
    setTextBackground(2);
    setTextColor(4);
    EXPECT_EQ(textAttribute(), 0x24);
}

TEST_F(MemoryConsole, WritingWrapsAndControlBytesOnlyMoveTheCursor) {
    moveCursor(80, 5);
    writeChar('A');
    EXPECT_EQ(bufferCell(80, 5).character, 'A');
    EXPECT_EQ(cursor(), std::make_pair(1, 6));

    moveCursor(5, 7);
    writeText(
        "ab\x07"
        "c\x08\x08X\ry\nz\t");
    EXPECT_EQ(bufferRowText(7).substr(0, 8), "y   aXc ");
    EXPECT_EQ(bufferCell(2, 8).character, 'z');
    EXPECT_EQ(bufferCell(3, 8).character, 9);  // a glyph, not a tabulator
    moveCursor(1, 9);
    writeChar(8);
    EXPECT_EQ(cursor(), std::make_pair(1, 9));

    setTextBackground(2);
    moveCursor(6, 7);
    clearToLineEnd();
    EXPECT_EQ(bufferRowText(7).substr(0, 6), "y   a ");
    EXPECT_EQ(bufferCell(6, 7).attribute, 0x27);
    EXPECT_EQ(bufferCell(80, 7).attribute, 0x27);
    EXPECT_EQ(bufferCell(5, 7).attribute, 0x07);
    EXPECT_EQ(cursor(), std::make_pair(6, 7));
}

TEST_F(MemoryConsole, WritingPastTheLastRowScrollsTheBuffer) {
    moveCursor(1, 2);
    writeText("second");
    setTextBackground(3);
    moveCursor(80, bufferRows);
    writeText("AB");
    EXPECT_EQ(bufferRowText(1).substr(0, 6), "second");
    EXPECT_EQ(bufferCell(80, bufferRows - 1).character, 'A');
    EXPECT_EQ(bufferCell(1, bufferRows).character, 'B');
    EXPECT_EQ(bufferCell(2, bufferRows).character, ' ');
    EXPECT_EQ(bufferCell(2, bufferRows).attribute, 0x37);
    EXPECT_EQ(cursor(), std::make_pair(2, bufferRows));
    EXPECT_EQ(viewTop(), bufferRows - viewRows + 1);
}

TEST_F(MemoryConsole, MovesOutsideTheBufferAreIgnoredAndTheViewFollows) {
    moveCursor(7, 5);
    for (auto [column, row] : {std::pair{81, 5}, {0, 5}, {5, 0}, {5, bufferRows + 1}}) moveCursor(column, row);
    EXPECT_EQ(cursor(), std::make_pair(7, 5));

    moveCursor(1, 26);
    EXPECT_EQ(viewTop(), 2);
    moveCursor(1, 60);
    EXPECT_EQ(viewTop(), 36);
    writeText("low");
    EXPECT_EQ(viewCell(1, 25).character, 'l');
    moveCursor(1, 40);  // inside the view: it stays
    EXPECT_EQ(viewTop(), 36);
    moveCursor(1, 30);
    EXPECT_EQ(viewTop(), 30);
    clearScreen();
    EXPECT_EQ(viewTop(), 1);
    EXPECT_EQ(cursor(), std::make_pair(1, 1));
    EXPECT_EQ(bufferCell(1, 60).character, ' ');
}

TEST_F(MemoryConsole, ArrowIsTwoBytesAndKeysWaitThroughAPause) {
    scriptKey(0, {scan::up, true});
    EXPECT_EQ(readKey(), 0);
    EXPECT_TRUE(keyPressed());
    EXPECT_EQ(readKey(), scan::up);  // the last scripted key: no waiting for more
    EXPECT_FALSE(keyPressed());

    uint64_t start = virtualNow();
    scriptText(start + 1000, "k");
    delayMs(5000);
    EXPECT_EQ(readKey(), 'k');
    EXPECT_EQ(virtualNow(), start + 5001);
}

TEST_F(MemoryConsole, ReadLineEditsEchoesAndLimitsTheLine) {
    auto left = [] { scriptKey(virtualNow(), {scan::left, true}); };
    moveCursor(1, 3);
    scriptText(0, "abc");
    left();
    left();
    scriptText(0, "X\r");
    EXPECT_EQ(readLine(), "aXc");
    EXPECT_EQ(bufferRowText(3).substr(0, 3), "aXc");
    EXPECT_EQ(cursor(), std::make_pair(1, 4));

    // Backspace counts only at the end of the line; Esc wipes it, on screen too.
    scriptText(virtualNow(), "abc");
    left();
    scriptText(virtualNow(), "\x08");
    scriptKey(virtualNow(), {scan::end, true});
    scriptText(virtualNow(), "\x08\r");
    EXPECT_EQ(readLine(), "ab");
    EXPECT_EQ(bufferRowText(4).substr(0, 3), "ab ");
    scriptText(virtualNow(), "xyz\x1bq\r");
    EXPECT_EQ(readLine(), "q");
    EXPECT_EQ(bufferRowText(5).substr(0, 4), "q   ");

    clearScreen();
    scriptText(virtualNow(), std::string(300, 'w') + "\r");
    EXPECT_EQ(readLine(), std::string(254, 'w'));
    int echoed = 0;
    for (int row = 1; row <= 5; ++row)
        for (char c : bufferRowText(row)) echoed += c == 'w';
    EXPECT_EQ(echoed, 254);
}

TEST(CodePage437, EveryByteHasItsOwnPrintableGlyph) {
    EXPECT_EQ(cp437ToUnicode(0x00), U' ');
    EXPECT_EQ(cp437ToUnicode(0x1B), U'←');
    EXPECT_EQ(cp437ToUnicode(0x7F), U'⌂');
    EXPECT_EQ(cp437ToUnicode(0x9D), U'¥');
    EXPECT_EQ(cp437ToUnicode(0xB2), U'▓');
    EXPECT_EQ(cp437ToUnicode('A'), U'A');
    EXPECT_EQ(cp437ToUtf8("\x02\xb0\xce"), "☻░╬");

    // No control character ever reaches the terminal, and every glyph takes
    // exactly one cell (a wide one would shift the rest of the row).
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::set<char32_t> glyphs;
    for (int byte = 1; byte < 256; ++byte) {
        char32_t glyph = cp437ToUnicode(static_cast<uint8_t>(byte));
        glyphs.insert(glyph);
        EXPECT_EQ(wcwidth(static_cast<wchar_t>(glyph)), 1) << byte;
        EXPECT_EQ(unicodeToCp437(glyph), byte);
    }
    EXPECT_EQ(glyphs.size(), 255u);
    EXPECT_EQ(unicodeToCp437(U'€'), -1);
}
