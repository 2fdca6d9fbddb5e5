// The level checker over any level file: its reading and static checks, a
// replay of keys from the input, the search on the room (its ways must
// replay to the exit), and the command line over the same file: options,
// a pack and a levels folder holding it, the text and JSON output. Every
// search is held to a few hundred states and milliseconds, so an input
// stays fast under the sanitizers; every other one leaves the exact search
// after a few dozen states for the proofs that decide large rooms.
// The input is the file, optionally followed by "KEYS" and one byte per
// tick, then optionally "ARGS" and words: those starting with '-' are
// options; "pk" and "lv" check the pack and the levels folder; any other
// word names the file (bytes of any kind, no '/').
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/jsonbytes.h"
#include "check/check.h"
#include "fuzzkit.h"

namespace {

// Every byte from 0x80 on is part of a UTF-8 character (surrogates and
// overlong forms included in what is refused).
bool wellFormedUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t length = c < 0x80                 ? 1
                        : c >= 0xC2 && c <= 0xDF ? 2
                        : c >= 0xE0 && c <= 0xEF ? 3
                        : c >= 0xF0 && c <= 0xF4 ? 4
                                                 : 0;
        if (length == 0 || i + length > s.size()) return false;
        unsigned code = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        static const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
        i += length;
    }
    return true;
}

void checkSearch(const RoomState& loaded) {
    SearchReport report = searchRoom(loaded);
    FUZZ_CHECK(report.done && report.verdict != Verdict::Searching);
    FUZZ_CHECK(report.decided == (report.stoppedBy == SearchLimit::None));
    std::vector<Finding> found = searchFindings(loaded, report);
    FUZZ_CHECK(report.decided || (!found.empty() && found.back().notFullyChecked));
    if (report.verdict == Verdict::Finishable) {
        int played = 0;
        FUZZ_CHECK(report.ticks == int(report.solution.size()));
        FUZZ_CHECK(replayKeys(loaded, report.solution, &played) == TickOutcome::ExitReached);
        FUZZ_CHECK(played == report.ticks);
        for (const KeyWindow& window : report.windows) {
            FUZZ_CHECK(window.tick >= 1 && window.tick <= report.ticks);
            FUZZ_CHECK(window.early >= 0 && window.early <= windowReach && window.late >= 0 &&
                       window.late <= windowReach);
        }
    } else {
        FUZZ_CHECK(report.solution.empty());
    }
    if (report.allGoodsTicks >= 0) {
        FUZZ_CHECK(report.allGoodsTicks == int(report.allGoodsSolution.size()));
        FUZZ_CHECK(replayKeys(loaded, report.allGoodsSolution) == TickOutcome::ExitReached);
    }
}

void checkCommandLine(std::string_view text, std::string_view words) {
    std::vector<std::string> options, paths, names;
    for (size_t start = 0; start < words.size();) {
        size_t end = words.find_first_of(" \n", start);
        if (end == std::string_view::npos) end = words.size();
        std::string word(words.substr(start, end - start));
        start = end + 1;
        if (word.empty() || options.size() >= 6 || paths.size() >= 3) continue;
        if (word[0] == '-') {
            if (word != "--show") options.push_back(word);  // it would take over the terminal
        } else if (word == "pk" || word == "lv") {
            paths.push_back(word);
        } else if (word.find('/') == std::string::npos && word.find('\0') == std::string::npos && word != "." &&
                   word != ".." && word.size() <= 64) {
            names.push_back(word);
            paths.push_back(word);
        }
    }
    // A scratch folder of this input's own: the file, a pack naming it, a levels folder.
    // (Absolute paths: libFuzzer's own folders are relative to where it started.)
    const std::string in = fuzzFolder() + "/in/";
    std::filesystem::remove_all(in);
    std::filesystem::create_directories(in + "pk");
    std::filesystem::create_directories(in + "lv");
    if (names.empty()) names.push_back("room.lvl");
    for (const std::string& name : names) writeWhole(in + name, text);
    const std::string& name = names.back();
    std::string entry = name.size() > 4 && name.ends_with(".lvl") ? name.substr(0, name.size() - 4) : name;
    writeWhole(in + "pk/pk.txt", entry + "\r\n" + entry + "\r\n*fuzz\r\n");
    writeWhole(in + "pk/" + entry + ".lvl", text);
    writeWhole(in + "lv/1.lvl", text);
    writeWhole(in + "lv/2.lvl", text);
    if (paths.empty()) paths.push_back(name);
    std::vector<std::string> arguments = options;
    arguments.push_back("--");
    for (const std::string& path : paths) arguments.push_back(in + path);
    std::string out, err;
    int status = runChecker(arguments, out, err);
    FUZZ_CHECK(status >= 0 && status <= 3);
    if (status == 2 && !err.empty()) return;  // bad usage
    bool json = false, early = false;
    for (const std::string& option : options) {
        json = json || option == "--json";
        early = early || option == "--help" || option == "--version" || option == "--";
    }
    if (early) return;
    if (json) {
        FUZZ_CHECK(out.ends_with("}\n"));
        for (size_t at = out.find("\"path\":\""); at != std::string::npos; at = out.find("\"path\":\"", at)) {
            std::string path = jsonBytes(out, at += 7);
            // The bytes came back: the file is there (a series names its missing rooms too).
            FUZZ_CHECK(std::filesystem::exists(path) || path.rfind(in + "lv/", 0) == 0);
        }
        for (unsigned char c : out) FUZZ_CHECK(c >= 0x20 || c == '\n');
        FUZZ_CHECK(wellFormedUtf8(out));  // whatever bytes the names held
    } else {
        bool undecided = out.ends_with(" not fully checked\n");
        FUZZ_CHECK(out.ends_with(" warning\n") || out.ends_with(" warnings\n") || undecided);
        FUZZ_CHECK(status != 3 || undecided);  // a limit stopped a search: the summary says so
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        setSearchCeiling({300, 64u << 20, 0.01});
        return true;
    }();
    (void)ready;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view words;
    if (size_t cut = input.find("ARGS"); cut != std::string_view::npos) {
        words = input.substr(cut + 4);
        input = input.substr(0, cut);
    }
    auto [text, keyBytes] = splitLevelAndKeys(reinterpret_cast<const uint8_t*>(input.data()), input.size());

    beginRun();
    RoomState previous{};
    RoomState loaded = roomFromText(text, previous);
    for (const EnemySlot* enemy : {&loaded.verticalEnemy, &loaded.horizontalEnemy})
        if (enemy->active) FUZZ_CHECK(inMap(enemy->x, enemy->y));
    for (const Finding& finding : levelFindings(text, previous, true)) {
        FUZZ_CHECK(finding.line >= 0 && finding.column >= 0 && !finding.text.empty());
        FUZZ_CHECK(finding.cellX >= 0 && finding.cellX <= mapWidth + 1 && finding.cellY >= 0 &&
                   finding.cellY <= mapHeight + 1);
    }

    std::vector<TickKey> keys;
    for (size_t i = 0; i < keyBytes.size() && i < 400; ++i) keys.push_back(tickKeyOf(keyBytes[i]));
    int played = 0;
    replayKeys(loaded, keys, &played);
    FUZZ_CHECK(played >= 0 && played <= int(keys.size()));

    // Every other input past a few dozen states in the proofs for large rooms, not the exact search.
    setExactShare(size % 2 ? 40 : 0);
    checkSearch(loaded);
    checkCommandLine(text, words);
    return 0;
}
