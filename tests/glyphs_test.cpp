// The glyph sets: each keeps every kind of cell apart; the console's fallback
// chains; the variable that forces a set.
#include "console/glyphs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

// The bytes of each kind of cell: wall, lava, four spikes, crumbling,
// spring, enemy, three goods, exit, player, heart, death mark.
const uint8_t kindBytes[] = {0xB2, 0xB1, 0x10, 0x11, 0x1E, 0x1F, 0xB0, 0x7F,
                             0x9D, 0x04, 0x05, 0x06, 0x0F, 0x02, 0x03, 0xCE};

TEST(GlyphSets, EachSetKeepsTheKindsApartAndUsesOnlyWhatItMayAndTheVariableForcesOne) {
    std::vector<char32_t> poorFont = {0x2588, 0x25B6};  // █ and ▶ only
    const std::pair<GlyphSet, std::vector<char32_t>> sets[] = {{GlyphSet::Unicode, {}},
                                                               {GlyphSet::Console, {}},
                                                               {GlyphSet::Ascii, {}},
                                                               {GlyphSet::Font, poorFont},
                                                               {GlyphSet::Font, {}}};
    for (const auto& [set, font] : sets) {
        SCOPED_TRACE(std::string(glyphSetName(set)) + " " + std::to_string(font.size()));
        GlyphTable table = makeGlyphTable(set, font);
        std::set<char32_t> kinds;
        for (uint8_t byte : kindBytes) {
            EXPECT_TRUE(kinds.insert(table.glyph[byte]).second) << "byte " << int(byte);
            EXPECT_NE(table.glyph[byte], U' ');
        }
        for (int byte = 0; byte < 256; ++byte) {
            char32_t g = table.glyph[byte];
            EXPECT_GE(g, 0x20u) << byte;  // never a control character
            EXPECT_NE(g, 0x7Fu) << byte;
            if (set == GlyphSet::Ascii || (set == GlyphSet::Font && font.empty())) {
                EXPECT_LT(g, 0x7Fu) << byte;
            }
            if (set == GlyphSet::Console && g >= 0x80) {
                const auto& safe = consoleSafeCharacters();
                EXPECT_TRUE(std::binary_search(safe.begin(), safe.end(), g)) << byte;
            }
        }
    }
    // The chains: the first member the font holds, else the ASCII one.
    GlyphTable poor = makeGlyphTable(GlyphSet::Font, poorFont);
    EXPECT_EQ(poor.glyph[0x10], U'▶');
    EXPECT_EQ(poor.glyph[0x11], U'<');
    EXPECT_EQ(makeGlyphTable(GlyphSet::Console).glyph[0xB2], U'█');  // Lat15-Fixed16 has no ▓

    // The variable forces a set, on a console in any locale (the locale and the terminal type
    // choose too: the terminal matrix runs each TERM in C and C.UTF-8).
    setenv("QUORVEX_GLYPHS", "unicode", 1);
    EXPECT_EQ(chooseGlyphSet("linux", -1, poorFont), GlyphSet::Unicode);
    unsetenv("QUORVEX_GLYPHS");
}
