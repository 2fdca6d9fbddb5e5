// The glyph set the terminal draws the game's bytes with, chosen once at
// start and shared by the game, the editor and the checker's --show:
//   Unicode  the code page 437 table (cp437.h), where the terminal shows it all;
//   Font     a Linux virtual console: each glyph its loaded font lacks is
//            replaced by the first of its fallback chain that the font holds;
//   Console  TERM=linux elsewhere (over SSH, in a multiplexer): the same
//            chains against the characters of Debian's default console font,
//            Lat15-Fixed16, so whatever font the far console has loaded;
//   Ascii    a locale whose character set is not UTF-8: no byte of 0x80 or
//            above ever reaches the terminal.
// QUORVEX_GLYPHS=unicode|console|ascii forces a set.
//
// The chains (the last member is the ASCII set's character):
//   player ☻ ☺ ● @     heart ♥ ♡ *      diamond ♦ ◆ $    club ♣ ♧ &
//   spade ♠ ♤ %        sound ♫ ♪ d      exit ☼ ¤ O       spring ⌂ ≡ Z
//   spikes ► ▶ ▸ >, ◄ ◀ ◂ <, ▲ ▴ ^, ▼ ▾ v                  enemy ¥ Y
//   crumbling ░ :      lava ▒ ~         wall ▓ █ #       death mark ╬ ┼ X
// Every other byte: its glyph, else a plain ASCII look-alike (é e, ║ |, ╔ +).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class GlyphSet { Unicode, Font, Console, Ascii };

struct GlyphTable {
    GlyphSet set = GlyphSet::Unicode;
    char32_t glyph[256] = {};
};

// The set for a terminal of type `terminalType` on `fd`; for Font, `font`
// gets the characters the console's font holds (sorted).
GlyphSet chooseGlyphSet(const std::string& terminalType, int fd, std::vector<char32_t>& font);

// The table of a set; `font` (sorted) is read only for GlyphSet::Font.
GlyphTable makeGlyphTable(GlyphSet set, const std::vector<char32_t>& font = {});

// The characters of Lat15-Fixed16 among those the chains and the code page
// 437 table name, sorted: what the console-safe set may use.
const std::vector<char32_t>& consoleSafeCharacters();

const char* glyphSetName(GlyphSet set);
