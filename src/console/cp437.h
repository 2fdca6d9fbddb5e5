// Code page 437, the character set the game's bytes are drawn in, as Unicode,
// so that every byte shows as its glyph on a UTF-8 terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The character that shows the byte. Byte 0 shows as a blank; the control
// bytes show as their glyphs (0x1B is an arrow, never an escape).
char32_t cp437ToUnicode(uint8_t byte);

// The byte whose glyph is the character, or -1 when code page 437 has none.
int unicodeToCp437(char32_t character);

// One character as UTF-8.
std::string utf8Of(char32_t character);
// The bytes as UTF-8 text, each shown as its glyph.
std::string cp437ToUtf8(std::string_view bytes);
