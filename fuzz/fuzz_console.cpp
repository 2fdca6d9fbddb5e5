// The console layer's operations in any order with any arguments, and
// readLine over any typed bytes. The input is a program: an operation byte,
// then its arguments.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzzkit.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool more() const { return pos < size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    int64_t number() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = value << 8 | byte();
        int64_t signedValue;
        std::memcpy(&signedValue, &value, sizeof value);
        return signedValue;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    beginRun();
    Reader in{data, size};
    try {
        while (in.more()) {
            switch (in.byte() % 16) {
                case 0:
                    clearScreen();
                    break;
                case 1:
                    clearToLineEnd();
                    break;
                case 2:
                    setTextColor(in.byte());
                    break;
                case 3:
                    setTextBackground(in.byte());
                    break;
                case 4: {
                    int column = int8_t(in.byte()), row = int8_t(in.byte());
                    moveCursor(column, row < 0 ? row : row * 2);
                    break;
                }
                case 5:
                    writeChar(in.byte());
                    break;
                case 6: {
                    size_t length = in.byte() * 2u;
                    std::string text;
                    while (text.size() < length && in.more()) text += char(in.byte());
                    writeText(text);
                    break;
                }
                case 7:
                    writeNumber(in.number());
                    break;
                case 8:
                    writeLineEnd();
                    break;
                case 9:
                    delayMs(in.byte());
                    break;
                case 10:
                    keyPressed();
                    break;
                case 11: {
                    // Keys typed a little later, then one line read: the script ends
                    // in Enter, so readLine returns with what it kept.
                    size_t length = in.byte() * 2u;
                    for (size_t typed = 0; typed < length && in.more(); ++typed) {
                        uint8_t b = in.byte();
                        if (b == 0)
                            scriptKey(virtualNow() + 1, {in.byte(), true});  // 0: an extended key follows
                        else if (b != 13)
                            scriptKey(virtualNow() + 1, {b, false});
                    }
                    scriptKey(virtualNow() + 2, {13, false});
                    std::string line = readLine();
                    FUZZ_CHECK(line.size() <= 255);
                    break;
                }
                case 12: {
                    scriptKey(virtualNow(), {in.byte(), (in.byte() & 1) != 0});
                    if (keyPressed()) readKey();
                    break;
                }
                case 13:
                    bufferCell(int8_t(in.byte()), int8_t(in.byte()));
                    break;
                case 14:
                    viewCell(int8_t(in.byte()), int8_t(in.byte()));
                    break;
                default:
                    hideCursor();
                    break;
            }
            checkConsole();
        }
    } catch (const ScriptEnded&) {
    }
    return 0;
}
