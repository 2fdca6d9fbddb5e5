// The key decoder on its own: bytes in, the console's keys out.
#include "console/keys.h"

#include <gtest/gtest.h>

#include <string>

// Keys as text: a plain key as its number, an extended one as "0+code".
static std::string decode(const std::string& bytes) {
    KeyDecoder decoder;
    std::string keys;
    auto take = [&](const DecodedKeys& found) {
        for (int i = 0; i < found.count; ++i)
            keys += (found.keys[i].extended ? "0+" : "") + std::to_string(found.keys[i].code) + " ";
    };
    for (char c : bytes) take(decodeKeyByte(decoder, static_cast<uint8_t>(c)));
    take(decodeKeyTimeout(decoder));
    return keys;
}

TEST(KeyDecoder, EscFollowedByEachClassOfByteAndBrokenUtf8) {
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"\x1b", "27 "}, {"\x1b" "a", "0+30 "}, {"\x1bZ", "0+44 "},  // Esc alone, Alt+letter, Alt+Shift+letter
        {"\x1b\r", ""}, {"\x1b\t", ""}, {"\x1b\x13", ""}, {"\x1b\x03", ""},  // Alt+Enter/Tab/Ctrl+S/Ctrl+C
        {"\x1b\x1b", ""}, {"\x1bOB", "0+80 "}, {"\x1bOM", "13 "},     // Esc Esc; SS3 Down, keypad Enter
        {"Yx\n\r\x7f\b\x13", "89 120 13 13 8 8 19 "},
        {"\xc2\xa5\xe2\x96\x91", "157 176 "}, {"\xe2\x86\x90\xe2\x82\xac", ""},  // ¥░; ← is no Esc, € no byte
        {"\x1b" "5", ""}, {"\x1b ", ""}, {"\x1b\x7f", ""}, {"\x1b\xc3\xa9", ""},
        {"\x1b\x1b[A", ""}, {"\x1b[1;3A", ""},         // Alt+Up, old and new
        {"\x1bO", "0+24 "}, {"\x1b[", ""},              // Alt+O; Alt+[ is a cut-off sequence
        {"\x1b[A", "0+72 "}, {"\x1b[5~x", "0+73 120 "}, {"\x1b[[C", "0+61 "},
        {"\x1b[M !!q", "113 "}, {"\x03", "3 "},        // a mouse report, then q; Ctrl+C as a key here
        {"\x1b[1\r", "13 "}, {"\x1b[2\x1b", "27 "},     // a cut-off sequence gives way to what follows
        {"\xe2\x96q\x80\xff", "113 "},                  // broken UTF-8 drops only itself
    };
    // clang-format on
    for (const auto& [bytes, keys] : cases) EXPECT_EQ(decode(bytes), keys) << ::testing::PrintToString(bytes);
}

// A paste of megabytes of escape sequences: every one decodes, nothing
// builds up, and what follows still counts.
TEST(KeyDecoder, LongRunsDecodeInConstantSpace) {
    KeyDecoder decoder;
    long keys = 0;
    for (int i = 0; i < 500000; ++i)
        for (char c : std::string("\x1b[")) keys += decodeKeyByte(decoder, static_cast<uint8_t>(c)).count;
    keys += decodeKeyByte(decoder, 'A').count;
    EXPECT_EQ(keys, 1);  // Up, the one complete sequence at the end
    std::string digits = decode("\x1b[" + std::string(100000, '1') + "~z");
    EXPECT_EQ(digits.substr(digits.size() - 4), "122 ");  // the overlong sequence is dropped
}

TEST(KeyDecoder, OnlyKeysOfTheTableComeOut) {
    EXPECT_TRUE(isTableKey({72, true}));
    EXPECT_FALSE(isTableKey({99, true}));
    uint32_t seed = 1;
    KeyDecoder decoder;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245 + 12345;
        uint8_t byte = (seed >> 16) & 3 ? static_cast<uint8_t>("\x1b[O;1~A\r"[(seed >> 8) & 7]) : (seed >> 20) & 0xFF;
        DecodedKeys found = decodeKeyByte(decoder, byte);
        for (int k = 0; k < found.count; ++k) ASSERT_TRUE(isTableKey(found.keys[k])) << int(found.keys[k].code);
    }
}
