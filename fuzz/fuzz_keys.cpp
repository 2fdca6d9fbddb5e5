// libFuzzer target for the key decoder and the picture it leads to: bytes
// from the keyboard become keys, and only keys of the console's table; the
// decoder's state stays the same small record whatever comes. The typed
// keys and the raw bytes are then written on the console as a screen would
// (readLine echoes what is typed, a room message shows author text), and
// what the terminal form sends for them is checked: no byte of data ever
// reaches the terminal as a control character or a control sequence.
#include <stdio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/keys.h"
#include "console/terminal.h"

namespace {

FILE* sent = nullptr;

void fail(const char* why) {
    fprintf(stderr, "fuzz_keys: %s\n", why);
    abort();
}

void openOnce() {
    if (sent != nullptr) return;
    sent = tmpfile();
    FILE* keyboard = fopen("/dev/null", "r");
    std::string failure;
    if (sent == nullptr || keyboard == nullptr || !openTerminalOn(keyboard, sent, "xterm-256color", failure))
        fail("no terminal form to draw on");
}

// What the terminal form itself sends: CSI sequences with numeric
// parameters (REP "b" and ECH "X" among them), the character set reset
// "Esc ( B", keypad "Esc =", backspace
// for a step left, line feed to scroll, and UTF-8 text without C1 controls.
void checkTerminalBytes(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0x1b) {
            if (i + 1 >= bytes.size()) fail("a cut-off escape");
            char kind = bytes[i + 1];
            if (kind == '(' && i + 2 < bytes.size() && bytes[i + 2] == 'B') {
                i += 3;
                continue;
            }
            if (kind == '=' || kind == '>') {
                i += 2;
                continue;
            }
            if (kind != '[') fail("an escape that is not the terminal form's own");
            size_t j = i + 2;
            while (j < bytes.size() &&
                   (isdigit(static_cast<unsigned char>(bytes[j])) || bytes[j] == ';' || bytes[j] == '?'))
                ++j;
            if (j >= bytes.size()) fail("a cut-off control sequence");
            if (std::string("HmGCDJKhlrtbX").find(bytes[j]) == std::string::npos) fail("an unknown control sequence");
            i = j + 1;
        } else if (c < 0x20 || c == 0x7f) {
            if (c != 0x08 && c != 0x0a) fail("a control character reached the terminal");
            ++i;
        } else if (c < 0x80) {
            ++i;
        } else {
            int length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
            if (length == 0 || i + length > bytes.size()) fail("broken UTF-8");
            char32_t point = c & (0x7f >> length);
            for (int k = 1; k < length; ++k) {
                unsigned char next = static_cast<unsigned char>(bytes[i + k]);
                if ((next & 0xc0) != 0x80) fail("broken UTF-8");
                point = (point << 6) | (next & 0x3f);
            }
            if (point >= 0x80 && point <= 0x9f) fail("a C1 control reached the terminal");
            i += static_cast<size_t>(length);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    openOnce();
    KeyDecoder decoder;
    std::string typed;
    auto take = [&](const DecodedKeys& found) {
        if (found.count < 0 || found.count > 2) fail("more than two keys from one input");
        for (int k = 0; k < found.count; ++k) {
            if (!isTableKey(found.keys[k])) fail("a key that is not in the table");
            if (!found.keys[k].extended) typed.push_back(static_cast<char>(found.keys[k].code));
        }
    };
    for (size_t i = 0; i < size; ++i) {
        take(decodeKeyByte(decoder, data[i]));
        if (data[i] == 0xff) take(decodeKeyTimeout(decoder));  // now and then the Esc delay passes
    }
    take(decodeKeyTimeout(decoder));
    if (decoderWaiting(decoder)) fail("a key still half-read after the Esc delay");

    clearScreen();
    setTextColor(size > 0 ? data[0] & 0x0f : 7);
    moveCursor(1, size > 1 ? 1 + data[1] % 30 : 1);
    for (char c : typed) writeChar(static_cast<uint8_t>(c));
    writeText(std::string(reinterpret_cast<const char*>(data), size < 255 ? size : 255));
    terminalShowView();
    fflush(sent);
    std::string bytes;
    rewind(sent);
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, sent)) > 0;) bytes.append(chunk, got);
    checkTerminalBytes(bytes);
    if (ftruncate(fileno(sent), 0) != 0) fail("cannot empty the output");
    rewind(sent);
    return 0;
}
