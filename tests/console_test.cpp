// The console layer in its in-memory form.
#include "console/console.h"

#include <gtest/gtest.h>

static std::pair<int, int> cursor() { return {cursorColumn(), cursorRow()}; }

TEST(MemoryConsole, DrawingWrapsScrollsAndMovesTheView) {
    startMemoryConsole();
    moveCursor(80, 5);
    writeText("A\x07");
    EXPECT_EQ(bufferCell(80, 5).character, 'A');
    EXPECT_EQ(cursor(), std::make_pair(1, 6));
    for (auto [column, row] : {std::pair{81, 5}, {0, 5}, {5, 0}, {5, bufferRows + 1}}) moveCursor(column, row);
    EXPECT_EQ(cursor(), std::make_pair(1, 6));  // moves outside the buffer are ignored
    writeText("\bab\ac\b\bX\ny\rz\t");          // control bytes only move the cursor
    EXPECT_EQ(bufferRowText(6).substr(0, 4), "aXc ");
    EXPECT_EQ(bufferRowText(7).substr(0, 4), "z\ty ");

    for (auto [row, top] : {std::pair{26, 2}, {60, 36}, {40, 36}, {30, 30}}) {  // below, inside, above
        moveCursor(1, row);
        EXPECT_EQ(viewTop(), top) << row;
    }
    moveCursor(1, 54);
    writeText("low");
    EXPECT_EQ(viewCell(1, 25).character, 'l');
    moveCursor(80, bufferRows);
    writeText("AB");  // the buffer scrolls up one row
    EXPECT_EQ(bufferRowText(53).substr(0, 3), "low");
    EXPECT_EQ(bufferCell(80, bufferRows - 1).character, 'A');
    EXPECT_EQ(bufferRowText(bufferRows).substr(0, 2), "B ");
    EXPECT_EQ(cursor(), std::make_pair(2, bufferRows));
    EXPECT_EQ(viewTop(), bufferRows - viewRows + 1);
    clearScreen();
    EXPECT_EQ(viewTop(), 1);
    EXPECT_EQ(cursor(), std::make_pair(1, 1));
    EXPECT_EQ(bufferCell(1, 53).character, ' ');
}

TEST(MemoryConsole, LineEditing) {
    startMemoryConsole();
    auto script = [](std::string_view keys) {  // '<' stands for Left, '>' for End
        for (char c : keys)
            scriptKey(virtualNow(), c == '<'   ? KeyEvent{scan::left, true}
                                    : c == '>' ? KeyEvent{scan::end, true}
                                               : KeyEvent{static_cast<uint8_t>(c), false});
    };
    script("abc<<X\r");
    EXPECT_EQ(readLine(), "aXc");
    EXPECT_EQ(cursor(), std::make_pair(1, 2));
    script("abc<\b>\b\r");  // Backspace counts only at the end of the line
    EXPECT_EQ(readLine(), "ab");
    EXPECT_EQ(bufferRowText(1).substr(0, 3) + bufferRowText(2).substr(0, 3), "aXcab ");
    script(std::string(300, 'w') + "\r");  // Esc wiping the line: the missing-file test
    EXPECT_EQ(readLine(), std::string(254, 'w'));
    EXPECT_EQ(bufferRowText(5) + bufferRowText(6).substr(0, 15), std::string(94, 'w') + " ");
}
