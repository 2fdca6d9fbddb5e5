// The glyph sets: chosen by locale, terminal type and the forcing variable;
// each keeps every kind of cell apart; the console's fallback chains.
#include "console/glyphs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <set>

namespace {

// The bytes of each kind of cell: wall, lava, four spikes, crumbling,
// spring, enemy, three goods, exit, player, heart, death mark.
const uint8_t kindBytes[] = {0xB2, 0xB1, 0x10, 0x11, 0x1E, 0x1F, 0xB0, 0x7F,
                             0x9D, 0x04, 0x05, 0x06, 0x0F, 0x02, 0x03, 0xCE};

struct Environment {  // sets variables for one test, puts them back after
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~Environment() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
            it->second ? setenv(it->first.c_str(), it->second->c_str(), 1) : unsetenv(it->first.c_str());
    }
};

}  // namespace

TEST(GlyphSets, EachSetKeepsTheKindsApartAndUsesOnlyWhatItMay) {
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
    EXPECT_EQ(poor.glyph[0xB2], U'█');
    EXPECT_EQ(poor.glyph[0x11], U'<');
    EXPECT_EQ(poor.glyph[0x02], U'@');
    GlyphTable console = makeGlyphTable(GlyphSet::Console);
    EXPECT_EQ(console.glyph[0xB2], U'█');  // Lat15-Fixed16 has no ▓
    EXPECT_EQ(console.glyph[0x02], U'●');
    EXPECT_EQ(console.glyph[0x9D], U'¥');
    EXPECT_EQ(makeGlyphTable(GlyphSet::Unicode).glyph[0x02], U'☻');
}

TEST(GlyphSets, ChosenByLocaleTerminalAndTheForcingVariable) {
    Environment environment;
    environment.set("LANGUAGE", nullptr);
    environment.set("LC_CTYPE", nullptr);
    environment.set("QUORVEX_GLYPHS", nullptr);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);  // not a virtual console: no font map to read
    std::vector<char32_t> font;
    environment.set("LC_ALL", "C.UTF-8");
    EXPECT_EQ(chooseGlyphSet("xterm-256color", pipeEnds[1], font), GlyphSet::Unicode);
    EXPECT_EQ(chooseGlyphSet("linux", pipeEnds[1], font), GlyphSet::Console);
    environment.set("LC_ALL", "C");
    EXPECT_EQ(chooseGlyphSet("xterm-256color", pipeEnds[1], font), GlyphSet::Ascii);
    EXPECT_EQ(chooseGlyphSet("linux", pipeEnds[1], font), GlyphSet::Ascii);
    for (auto [forced, set] : {std::pair{"unicode", GlyphSet::Unicode}, std::pair{"console", GlyphSet::Console},
                               std::pair{"ascii", GlyphSet::Ascii}}) {
        environment.set("QUORVEX_GLYPHS", forced);
        EXPECT_EQ(chooseGlyphSet("xterm", pipeEnds[1], font), set) << forced;
    }
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}
