#include "console/glyphs.h"

#include <linux/kd.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/cp437.h"
#include "system/output.h"

namespace {

struct Chain {
    uint8_t byte;
    char32_t members[4];  // before the ASCII character; 0 ends the list
};

// The game's own glyphs (see glyphs.h); the first member is code page 437's.
const Chain chains[] = {
    {0x02, {0x263B, 0x263A, 0x25CF}},
    {0x03, {0x2665, 0x2661}},
    {0x04, {0x2666, 0x25C6}},
    {0x05, {0x2663, 0x2667}},
    {0x06, {0x2660, 0x2664}},
    {0x0E, {0x266B, 0x266A}},
    {0x0F, {0x263C, 0x00A4}},
    {0x10, {0x25BA, 0x25B6, 0x25B8}},
    {0x11, {0x25C4, 0x25C0, 0x25C2}},
    {0x1E, {0x25B2, 0x25B4}},
    {0x1F, {0x25BC, 0x25BE}},
    {0x7F, {0x2302, 0x2261}},
    {0x9D, {0x00A5}},
    {0xB0, {0x2591}},
    {0xB1, {0x2592}},
    {0xB2, {0x2593, 0x2588}},
    {0xCE, {0x256C, 0x253C}},
};

// The ASCII set: each byte's plain look-alike, 0x20-0x7E themselves.
// clang-format off
const char asciiLook[257] =
    " o@*$&%.ooomfddO"    // 00-0F  ☺☻♥♦♣♠•◘○◙♂♀♪♫☼
    "><|!PS-|^v><L-^v"    // 10-1F ►◄↕‼¶§▬↨↑↓→←∟↔▲▼
    " !\"#$%&'()*+,-./"   // 20-2F
    "0123456789:;<=>?"    // 30-3F
    "@ABCDEFGHIJKLMNO"    // 40-4F
    "PQRSTUVWXYZ[\\]^_"   // 50-5F
    "`abcdefghijklmno"    // 60-6F
    "pqrstuvwxyz{|}~Z"    // 70-7F             ⌂
    "CueaaaaceeeiiiAA"    // 80-8F ÇüéâäàåçêëèïîìÄÅ
    "EaAooouuyOUcLYPf"    // 90-9F ÉæÆôöòûùÿÖÜ¢£¥₧ƒ
    "aiounNao?--//!<>"    // A0-AF áíóúñÑªº¿⌐¬½¼¡«»
    ":~#|++++++|+++++"    // B0-BF ░▒▓│┤╡╢╖╕╣║╗╝╜╛┐
    "+++++-++++++-+X+"    // C0-CF └┴┬├─┼╞╟╚╔╩╦╠═╬╧
    "+++++++++++#_||-"    // D0-DF ╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀
    "aBGpSsutF0Wd8fen"    // E0-EF αßΓπΣσµτΦΘΩδ∞φε∩
    "=+><()/~o..vn2# ";   // F0-FF ≡±≥≤⌠⌡÷≈°∙·√ⁿ²■

// clang-format on

// Lat15-Fixed16 (Debian's console-setup-linux), read from its PSF Unicode
// table: the characters above 0x7F among the code page 437 glyphs and the chains.
const std::vector<char32_t> lat15Fixed16 = {
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A7, 0x00AA, 0x00AB, 0x00AC, 0x00B0, 0x00B1, 0x00B2, 0x00B5,
    0x00B6, 0x00B7, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BF, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C9, 0x00D1, 0x00D6,
    0x00DC, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC,
    0x00ED, 0x00EE, 0x00EF, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F6, 0x00F7, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FF,
    0x0192, 0x03C0, 0x2022, 0x203C, 0x207F, 0x20A7, 0x2190, 0x2191, 0x2192, 0x2193, 0x221E, 0x2229, 0x2248, 0x2261,
    0x2264, 0x2265, 0x2500, 0x2502, 0x250C, 0x2510, 0x2514, 0x2518, 0x251C, 0x2524, 0x252C, 0x2534, 0x253C, 0x2550,
    0x2551, 0x2552, 0x2553, 0x2554, 0x2555, 0x2556, 0x2557, 0x2558, 0x2559, 0x255A, 0x255B, 0x255C, 0x255D, 0x255E,
    0x255F, 0x2560, 0x2561, 0x2562, 0x2563, 0x2564, 0x2565, 0x2566, 0x2567, 0x2568, 0x2569, 0x256A, 0x256B, 0x256C,
    0x2588, 0x2591, 0x2592, 0x25A0, 0x25B2, 0x25B4, 0x25B6, 0x25B8, 0x25BC, 0x25BE, 0x25C0, 0x25C2, 0x25CF, 0x2666,
};

bool holds(const std::vector<char32_t>& font, char32_t character) {
    return character < 0x80 || std::binary_search(font.begin(), font.end(), character);
}

// The console's Unicode map: which characters its loaded font can show.
bool readConsoleFont(int fd, std::vector<char32_t>& font) {
    std::vector<unipair> pairs(512);
    for (int attempt = 0; attempt < 4; ++attempt) {
        unimapdesc map{static_cast<unsigned short>(pairs.size()), pairs.data()};
        if (ioctl(fd, GIO_UNIMAP, &map) == 0) {
            font.clear();
            for (unsigned i = 0; i < map.entry_ct && i < pairs.size(); ++i) font.push_back(pairs[i].unicode);
            std::sort(font.begin(), font.end());
            font.erase(std::unique(font.begin(), font.end()), font.end());
            return !font.empty();
        }
        if (errno != ENOMEM || map.entry_ct <= pairs.size()) return false;
        pairs.resize(map.entry_ct);  // the kernel says how many it holds
    }
    return false;
}

}  // namespace

GlyphSet chooseGlyphSet(const std::string& terminalType, int fd, std::vector<char32_t>& font) {
    if (const char* forced = std::getenv("QUORVEX_GLYPHS")) {
        if (std::strcmp(forced, "unicode") == 0) return GlyphSet::Unicode;
        if (std::strcmp(forced, "console") == 0) return GlyphSet::Console;
        if (std::strcmp(forced, "ascii") == 0) return GlyphSet::Ascii;
    }
    if (!localeIsUtf8()) return GlyphSet::Ascii;
    if (terminalType == "linux" || terminalType.rfind("linux-", 0) == 0)
        return readConsoleFont(fd, font) ? GlyphSet::Font : GlyphSet::Console;
    return GlyphSet::Unicode;
}

GlyphTable makeGlyphTable(GlyphSet set, const std::vector<char32_t>& font) {
    GlyphTable table;
    table.set = set;
    const std::vector<char32_t>& holding = set == GlyphSet::Console ? lat15Fixed16 : font;
    for (int byte = 0; byte < 256; ++byte) {
        char32_t unicode = cp437ToUnicode(static_cast<uint8_t>(byte));
        char32_t ascii = static_cast<unsigned char>(asciiLook[byte]);
        if (set == GlyphSet::Unicode || unicode < 0x80) {
            table.glyph[byte] = unicode;
        } else if (set == GlyphSet::Ascii) {
            table.glyph[byte] = ascii;
        } else {
            table.glyph[byte] = holds(holding, unicode) ? unicode : ascii;
        }
    }
    for (const Chain& chain : chains) {
        char32_t chosen = static_cast<unsigned char>(asciiLook[chain.byte]);
        if (set == GlyphSet::Unicode) chosen = chain.members[0];
        if (set == GlyphSet::Font || set == GlyphSet::Console)
            for (char32_t member : chain.members)
                if (member != 0 && holds(holding, member)) {
                    chosen = member;
                    break;
                }
        table.glyph[chain.byte] = chosen;
    }
    return table;
}

const std::vector<char32_t>& consoleSafeCharacters() { return lat15Fixed16; }

const char* glyphSetName(GlyphSet set) {
    switch (set) {
        case GlyphSet::Unicode:
            return "unicode";
        case GlyphSet::Font:
            return "font";
        case GlyphSet::Console:
            return "console";
        case GlyphSet::Ascii:
            return "ascii";
    }
    return "";
}
