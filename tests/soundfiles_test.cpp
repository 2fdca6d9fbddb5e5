// The cue files as tools/makesounds writes them: measured, since nobody can
// listen to them here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

constexpr double rate = 22050;
const std::filesystem::path soundFolder = std::filesystem::path(QUORVEX_SOURCE_DIR) / "data/Sound";
const char* const cues[] = {"intro", "begin", "spike", "lava",    "enemy",  "key",
                            "next",  "death", "eq",    "eq_loop", "eq_end", "credits"};

// Samples of a 16-bit mono PCM wave at 22050 Hz, as fractions of full scale.
std::vector<double> samplesOf(const std::string& cue) {
    std::string bytes = fileContents(soundFolder / (cue + ".wav"));
    const char header[] = "RIFF....WAVEfmt \x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x44\xac\0\0\x02\0\x10\0data";
    for (size_t i = 0; i < sizeof header - 1; ++i)
        EXPECT_TRUE(header[i] == '.' || bytes.at(i) == header[i]) << cue << " byte " << i;
    std::vector<double> samples;
    for (size_t at = 44; at + 1 < bytes.size(); at += 2)
        samples.push_back(int16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8) / 32768.0);
    return samples;
}

double rms(const std::vector<double>& x, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += x[i] * x[i];
    return std::sqrt(sum / double(to - from));
}

// |X(f)|², the power of the sound at one frequency (Goertzel's recurrence).
double powerAt(const std::vector<double>& x, double hertz) {
    double coefficient = 2 * std::cos(2 * M_PI * hertz / rate), last = 0, before = 0;
    for (double s : x) {
        double next = s + coefficient * last - before;
        before = last, last = next;
    }
    return last * last + before * before - coefficient * last * before;
}

// Parseval: the DFT bins below 150 Hz against the whole energy, over the
// first two seconds (the loop's later swells are alike).
double shareAbove150Hz(std::vector<double> x) {
    x.resize(std::min(x.size(), size_t(2 * rate)));
    double n = double(x.size()), all = 0, low = 0;
    for (double s : x) all += s * s;
    for (int k = 1; k * rate / n < 150; ++k) low += 2 * powerAt(x, k * rate / n) / n;
    return 1 - low / all;
}

// Likeness of two sounds' notes: the cosine of their energies at the 60
// semitones from C3 up, summed over frames of 93 ms (1 the same notes, 0 none
// in common).
double noteLikeness(const std::vector<double>& x, const std::vector<double>& y) {
    auto notes = [](const std::vector<double>& s) {
        std::vector<double> energy(60);
        for (size_t at = 0; at + 2048 <= s.size(); at += 2048)
            for (int semitone = 0; semitone < 60; ++semitone)
                energy[semitone] +=
                    powerAt({s.begin() + at, s.begin() + at + 2048}, 130.81 * std::pow(2.0, semitone / 12.0));
        return energy;
    };
    auto a = notes(x), b = notes(y);
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < 60; ++i) ab += a[i] * b[i], aa += a[i] * a[i], bb += b[i] * b[i];
    return ab / std::sqrt(aa * bb);
}

}  // namespace

// No offset, no clipping, and silence at both ends: a cue neither starts
// nor stops with a click, and a loop wraps from zero to zero.
TEST(SoundFiles, EveryCueIsCentredUnclippedAndStartsAndEndsAtZero) {
    for (const char* cue : cues) {
        SCOPED_TRACE(cue);
        auto x = samplesOf(cue);
        ASSERT_GT(x.size(), 2000u);
        double sum = 0, peak = 0;
        for (double s : x) sum += s, peak = std::max(peak, std::fabs(s));
        EXPECT_GT(peak, 0.3);
        EXPECT_LT(peak, 0.95);
        EXPECT_LT(std::fabs(sum / double(x.size())), 0.005 * peak);
        EXPECT_LT(std::fabs(x.front()), 0.001);
        EXPECT_LT(std::fabs(x.back()), 0.001);
        for (size_t i = 0; i < 10; ++i) {  // the fades reach zero gently, not in a step
            EXPECT_LT(std::fabs(x[i]), 0.15 * peak) << i;
            EXPECT_LT(std::fabs(x[x.size() - 1 - i]), 0.15 * peak) << i;
        }
    }
}

// The loop takes over from the first shock 1.3 s in, at the same strength,
// and the quake is heard on small speakers: much of it above 150 Hz.
TEST(SoundFiles, EarthquakeHandsOverToItsLoopAndIsHeardAbove150Hz) {
    auto shock = samplesOf("eq"), loop = samplesOf("eq_loop");
    ASSERT_GT(shock.size(), size_t(1.5 * rate));  // still sounding when the loop starts
    EXPECT_LT(std::fabs(loop.front() - shock.back()), 0.001);
    EXPECT_LT(std::fabs(loop.back() - loop.front()), 0.001);
    double before = rms(shock, size_t(1.1 * rate), size_t(1.3 * rate)), after = rms(loop, 0, loop.size());
    EXPECT_LT(std::fabs(20 * std::log10(before / after)), 3.0) << before << " " << after;
    EXPECT_GT(shareAbove150Hz(shock), 0.4);
    EXPECT_GT(shareAbove150Hz(loop), 0.4);
}

TEST(SoundFiles, RoomClearedJingleIsNotTheStartFanfare) {
    EXPECT_LT(noteLikeness(samplesOf("begin"), samplesOf("next")), 0.5);
    EXPECT_GT(noteLikeness(samplesOf("begin"), samplesOf("begin")), 0.999);
}

// The committed files are exactly what the generator writes.
TEST(SoundFiles, GeneratorRewritesTheCommittedFilesByteForByte) {
    auto folder = std::filesystem::temp_directory_path() / ("makesounds-" + std::to_string(getpid()));
    std::string command = std::string(MAKESOUNDS_BINARY) + " '" + folder.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* cue : cues)
        EXPECT_TRUE(fileContents(folder / "Sound" / (std::string(cue) + ".wav")) ==
                    fileContents(soundFolder / (std::string(cue) + ".wav")))
            << cue;
    std::filesystem::remove_all(folder);
}
