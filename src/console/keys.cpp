#include "console/keys.h"

#include <cstring>

#include "console/cp437.h"

namespace {

enum State : uint8_t { ground, escape, csi, csiLinux, ss3, utf8, mouse };

constexpr uint8_t esc = key::escape;
constexpr int longestSequence = 32;  // longer is no key: the rest reads as typed bytes

// Alt+letter: the letter key's PC scan code, or 0 for anything but a letter.
uint8_t altScanCode(uint8_t key) {
    static const char* const keyRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const uint8_t firstCodes[] = {16, 30, 44};
    if (key >= 'A' && key <= 'Z') key += 'a' - 'A';
    if (key < 'a' || key > 'z') return 0;
    for (int row = 0; row < 3; ++row) {
        const char* found = std::strchr(keyRows[row], key);
        if (found != nullptr) return static_cast<uint8_t>(firstCodes[row] + (found - keyRows[row]));
    }
    return 0;
}

void add(DecodedKeys& out, uint8_t code, bool extended) {
    if (code != 0 && out.count < 2) out.keys[out.count++] = {code, extended};
}

// The extended key of a CSI sequence ending in `final`, or 0.
uint8_t csiKey(uint8_t final, uint16_t number) {
    if (final == '~') {
        switch (number) {
            case 1:
            case 7:
                return scan::home;
            case 2:
                return scan::insert;
            case 3:
                return scan::del;
            case 4:
            case 8:
                return scan::end;
            case 5:
                return scan::pageUp;
            case 6:
                return scan::pageDown;
            case 11:
            case 12:
            case 13:
            case 14:
            case 15:
                return static_cast<uint8_t>(scan::f1 + number - 11);
            case 17:
            case 18:
            case 19:
            case 20:
            case 21:
                return static_cast<uint8_t>(scan::f6 + number - 17);
            case 23:
                return scan::f11;
            case 24:
                return scan::f12;
            default:
                return 0;
        }
    }
    if (number > 1) return 0;  // "1" alone is the plain key too
    switch (final) {
        case 'A':
            return scan::up;
        case 'B':
            return scan::down;
        case 'C':
            return scan::right;
        case 'D':
            return scan::left;
        case 'H':
            return scan::home;
        case 'F':
            return scan::end;
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            return static_cast<uint8_t>(scan::f1 + final - 'P');
        default:
            return 0;
    }
}

// SS3 (Esc O): cursor keys and F1-F4 in application mode, and the keypad.
void ss3Key(DecodedKeys& out, uint8_t final) {
    if (final == 'M') return add(out, key::enter, false);                           // keypad Enter
    if (final >= 'p' && final <= 'y') return add(out, '0' + (final - 'p'), false);  // keypad digits
    const char* keypad = std::strchr("j*k+l,m-n.o/X=", final);
    if (keypad != nullptr && (keypad - "j*k+l,m-n.o/X=") % 2 == 0) return add(out, keypad[1], false);
    if (uint8_t code = csiKey(final, 0); code != 0) add(out, code, true);
}

void startSequence(KeyDecoder& d, State state) {
    d.state = state;
    d.unknown = false;
    d.length = 0;
    d.number = 0;
}

// A byte outside any sequence.
void groundByte(KeyDecoder& d, uint8_t byte, DecodedKeys& out) {
    d.afterEsc = false;
    d.unknown = false;
    d.state = ground;
    if (byte == esc) return startSequence(d, escape);
    if (byte == 10 || byte == 13) return add(out, key::enter, false);
    if (byte == 8 || byte == 127) return add(out, key::backspace, false);
    if (byte < 0x80) return add(out, byte, false);
    // UTF-8: a lead byte, then its continuation bytes. Stray ones are dropped.
    uint8_t left = byte >= 0xC2 && byte <= 0xDF   ? 1
                   : byte >= 0xE0 && byte <= 0xEF ? 2
                   : byte >= 0xF0 && byte <= 0xF4 ? 3
                                                  : 0;
    if (left == 0) return;
    d.state = utf8;
    d.utf8Left = left;
    d.codePoint = byte & (0x3F >> left);
}

// The sequence is over: its key counts unless an Esc came right before it.
void finish(KeyDecoder& d, DecodedKeys& found, DecodedKeys& out) {
    bool dropped = d.afterEsc || d.unknown;
    d.state = ground;
    d.afterEsc = false;
    if (!dropped)
        for (int i = 0; i < found.count; ++i) add(out, found.keys[i].code, found.keys[i].extended);
}

}  // namespace

DecodedKeys decodeKeyByte(KeyDecoder& d, uint8_t byte) {
    DecodedKeys out, found;
    switch (d.state) {
        case ground:
            groundByte(d, byte, out);
            break;
        case escape:
            if (byte == esc) {  // Alt+Esc, or Alt with a key that starts with Esc: nothing
                startSequence(d, escape);
                d.afterEsc = true;
            } else if (byte == '[') {
                startSequence(d, csi);
            } else if (byte == 'O') {
                startSequence(d, ss3);
            } else if (byte >= 0x80) {  // Alt with a non-ASCII character: read it whole, give nothing
                groundByte(d, byte, out);
                d.afterEsc = true;
                if (d.state == ground) d.afterEsc = false;
            } else {
                add(found, altScanCode(byte), true);  // Alt+letter; Alt+Enter, Alt+Tab, Alt+digit...: nothing
                finish(d, found, out);
            }
            break;
        case csi:
        case ss3:
            if (byte == esc) {
                startSequence(d, escape);
                d.afterEsc = false;
            } else if (byte < 0x20 || byte > 0x7E) {  // not part of a sequence: it was cut off
                d.afterEsc = false;
                groundByte(d, byte, out);
            } else if (byte >= 0x40) {
                if (d.state == csi && d.length == 0 && byte == '[') {
                    d.state = csiLinux;  // the Linux console's F1-F5: Esc [ [ A-E
                } else if (d.state == csi && d.length == 0 && byte == 'M') {
                    d.state = mouse;  // an old-style mouse report: three bytes follow
                    d.length = 3;
                } else {
                    if (d.state == csi)
                        add(found, csiKey(byte, d.number), true);
                    else
                        ss3Key(found, byte);
                    finish(d, found, out);
                }
            } else if (++d.length > longestSequence) {
                d.state = ground;
                d.afterEsc = false;
            } else if (byte >= '0' && byte <= '9' && !d.unknown) {
                d.number = static_cast<uint16_t>(d.number * 10 + (byte - '0'));
                if (d.number > 1000) d.unknown = true;
            } else {
                d.unknown = true;  // modifiers, private markers, intermediates: no key of the table
            }
            break;
        case csiLinux:
            if (byte >= 'A' && byte <= 'E') add(found, static_cast<uint8_t>(scan::f1 + byte - 'A'), true);
            finish(d, found, out);
            break;
        case mouse:
            if (--d.length == 0) {
                d.state = ground;
                d.afterEsc = false;
            }
            break;
        case utf8:
            if ((byte & 0xC0) != 0x80) {  // broken off: the new byte starts afresh
                groundByte(d, byte, out);
                break;
            }
            d.codePoint = (d.codePoint << 6) | (byte & 0x3F);
            if (--d.utf8Left == 0) {
                // A character typed in UTF-8 counts when code page 437 has it. The
                // glyphs of the control bytes do not: a typed ← must not act as Esc.
                int cp437 = unicodeToCp437(d.codePoint);
                if (cp437 >= 0x7F) add(found, static_cast<uint8_t>(cp437), false);
                finish(d, found, out);
            }
            break;
    }
    return out;
}

DecodedKeys decodeKeyTimeout(KeyDecoder& d) {
    DecodedKeys out, found;
    if (d.state == escape) add(found, esc, false);
    if (d.state == ss3 && d.length == 0) add(found, altScanCode('O'), true);  // Alt+O
    if (d.state != ground) finish(d, found, out);
    return out;
}

bool decoderWaiting(const KeyDecoder& d) { return d.state != ground; }

bool isTableKey(KeyEvent key) {
    if (key.code == 0) return false;
    if (!key.extended) return true;
    static const uint8_t extended[] = {scan::up,     scan::down,     scan::left,   scan::right, scan::home, scan::end,
                                       scan::pageUp, scan::pageDown, scan::insert, scan::del,   scan::f11,  scan::f12};
    for (uint8_t code : extended)
        if (key.code == code) return true;
    if (key.code >= scan::f1 && key.code <= scan::f10) return true;
    for (uint8_t letter = 'a'; letter <= 'z'; ++letter)
        if (key.code == altScanCode(letter)) return true;
    return false;
}
