// Code page 437, the character set the game's bytes are drawn in, as Unicode,
// so that every byte shows as its glyph on a UTF-8 terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The bytes the game draws, named by what they show.
namespace glyph {
constexpr uint8_t player = 0x02, heart = 0x03, diamond = 0x04, club = 0x05, spade = 0x06;
constexpr uint8_t sound = 0x0E, exit = 0x0F, spring = 0x7F, enemy = 0x9D, dead = 0xCE;
constexpr uint8_t spikesRight = 0x10, spikesLeft = 0x11, spikesUp = 0x1E, spikesDown = 0x1F;
constexpr uint8_t wall = 0xB2, lava = 0xB1, crumbling = 0xB0, cracked = 0xB1;
constexpr uint8_t brick = 0xB0, marker = 0x10;  // the menu's wall and its marker
}  // namespace glyph

// The character that shows the byte. Byte 0 shows as a blank; the control
// bytes show as their glyphs (0x1B is an arrow, never an escape).
char32_t cp437ToUnicode(uint8_t byte);

// The byte whose glyph is the character, or -1 when code page 437 has none.
int unicodeToCp437(char32_t character);

// One character as UTF-8.
std::string utf8Of(char32_t character);
// The bytes as UTF-8 text, each shown as its glyph.
std::string cp437ToUtf8(std::string_view bytes);
// Typed bytes as a name in UTF-8: ASCII as it is, every other byte as the
// character its glyph shows (so é typed, 0x82 here, is é in the name).
std::string typedToUtf8(std::string_view typed);
