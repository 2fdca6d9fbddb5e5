// The key decoder: the bytes a terminal sends for the keys, turned into the
// console's key events. A small state machine fed one byte at a time, with
// no curses and no input of its own, so tests and the fuzzer can drive it.
// It keeps a few counters whatever arrives: constant stack, constant memory.
#pragma once

#include <cstdint>

#include "console/console.h"

struct KeyDecoder {
    uint8_t state = 0;      // where in a sequence the last byte left it
    bool afterEsc = false;  // an Esc came right before this sequence: what it gives is dropped
    bool unknown = false;   // the sequence has parts no key of the table has
    uint8_t length = 0;     // bytes of the sequence so far
    uint8_t utf8Left = 0;   // continuation bytes still to come
    uint16_t number = 0;    // the sequence's first parameter
    uint32_t codePoint = 0;
};

// The keys one input completes: never more than two.
struct DecodedKeys {
    KeyEvent keys[2];
    int count = 0;
};

constexpr int escDelayMs = 25;  // an Esc with nothing behind it for this long is the Esc key

DecodedKeys decodeKeyByte(KeyDecoder& decoder, uint8_t byte);
// Nothing came for escDelayMs: a lone Esc is the Esc key, a cut-off sequence nothing.
DecodedKeys decodeKeyTimeout(KeyDecoder& decoder);
// True while the decoder holds part of a key, so a time-out would decide it.
bool decoderWaiting(const KeyDecoder& decoder);

// True for the keys of the console's table: what the decoder may give.
bool isTableKey(KeyEvent key);
