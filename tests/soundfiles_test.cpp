// The cue files as tools/makesounds writes them: measured, since nobody can
// listen to them here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <complex>
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
    EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 8), "RIFFWAVEfmt ") << cue;
    auto word = [&](size_t at) { return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8; };
    EXPECT_EQ(word(20), 1u) << cue;  // PCM
    EXPECT_EQ(word(22), 1u) << cue;  // mono
    EXPECT_EQ(word(24) | word(26) << 16, 22050u) << cue;
    EXPECT_EQ(word(34), 16u) << cue;
    EXPECT_EQ(bytes.substr(36, 4), "data") << cue;
    std::vector<double> samples;
    for (size_t at = 44; at + 1 < bytes.size(); at += 2) samples.push_back(int16_t(word(at)) / 32768.0);
    return samples;
}

double rms(const std::vector<double>& x, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += x[i] * x[i];
    return std::sqrt(sum / double(to - from));
}

// Power per frequency bin (bin k is k * rate / size Hz), zero-padded to a power of two.
std::vector<double> powerSpectrum(const std::vector<double>& x) {
    size_t n = 1;
    while (n < x.size()) n *= 2;
    std::vector<std::complex<double>> a(x.begin(), x.end());
    a.resize(n);
    for (size_t i = 1, j = 0; i < n; ++i) {  // iterative radix-2
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        std::complex<double> step = std::polar(1.0, -2 * M_PI / double(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w = 1;
            for (size_t k = 0; k < len / 2; ++k, w *= step) {
                auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v, a[i + k + len / 2] = u - v;
            }
        }
    }
    std::vector<double> power(n / 2);
    for (size_t k = 0; k < n / 2; ++k) power[k] = std::norm(a[k]);
    return power;
}

double shareAbove(const std::vector<double>& x, double hertz) {
    auto power = powerSpectrum(x);
    double all = 0, high = 0;
    for (size_t k = 1; k < power.size(); ++k) {
        all += power[k];
        if (double(k) * rate / double(2 * power.size()) >= hertz) high += power[k];
    }
    return high / all;
}

// Likeness of two sounds' notes and timbre: the cosine of their energies in
// semitone bands from 100 Hz to 6.4 kHz (1 the same, 0 nothing in common).
double bandLikeness(const std::vector<double>& x, const std::vector<double>& y) {
    auto bands = [](const std::vector<double>& s) {
        auto power = powerSpectrum(s);
        std::vector<double> band(72);
        for (size_t k = 1; k < power.size(); ++k) {
            double hertz = double(k) * rate / double(2 * power.size());
            if (hertz >= 100 && hertz < 6400) band[size_t(12 * std::log2(hertz / 100))] += power[k];
        }
        return band;
    };
    auto a = bands(x), b = bands(y);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); ++i) ab += a[i] * b[i], aa += a[i] * a[i], bb += b[i] * b[i];
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
    double before = rms(shock, size_t(0.8 * rate), size_t(1.3 * rate)), after = rms(loop, 0, loop.size());
    EXPECT_LT(std::fabs(20 * std::log10(before / after)), 3.0) << before << " " << after;
    EXPECT_GT(shareAbove(shock, 150), 0.4);
    EXPECT_GT(shareAbove(loop, 150), 0.4);
}

TEST(SoundFiles, RoomClearedJingleIsNotTheStartFanfare) {
    EXPECT_LT(bandLikeness(samplesOf("begin"), samplesOf("next")), 0.5);
    EXPECT_GT(bandLikeness(samplesOf("begin"), samplesOf("begin")), 0.999);
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
