// The cue files as tools/makesounds writes them: measured, since nobody can
// listen to them here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::filesystem::path soundFolder = std::filesystem::path(QUORVEX_SOURCE_DIR) / "data/Sound";

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

}  // namespace

// No offset, no clipping, and silence at both ends: a cue neither starts
// nor stops with a click, and a loop wraps from zero to zero (the quake's
// shock into its loop too, which takes over 1.3 s in).
TEST(SoundFiles, EveryCueIsCentredUnclippedAndStartsAndEndsAtZero) {
    for (const char* cue : cueNames) {
        SCOPED_TRACE(cue);
        auto x = samplesOf(cue);
        ASSERT_GT(x.size(), 2000u);
        double sum = 0, peak = 0;
        for (double s : x) sum += s, peak = std::max(peak, std::fabs(s));
        EXPECT_TRUE(peak > 0.3 && peak < 0.95) << peak;  // sounding, unclipped
        EXPECT_LT(std::fabs(sum / double(x.size())), 0.005 * peak);
        EXPECT_LT(std::fabs(x.front()), 0.001);
        EXPECT_LT(std::fabs(x.back()), 0.001);
    }
    EXPECT_GT(samplesOf("eq").size(), 33075u);  // 1.5 s: still sounding when the loop starts
}

// The committed files are exactly what the generator writes.
TEST(SoundFiles, GeneratorRewritesTheCommittedFilesByteForByte) {
    auto folder = std::filesystem::temp_directory_path() / ("makesounds-" + std::to_string(getpid()));
    std::string command = std::string(MAKESOUNDS_BINARY) + " '" + folder.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* cue : cueNames)
        EXPECT_TRUE(fileContents(folder / "Sound" / (std::string(cue) + ".wav")) ==
                    fileContents(soundFolder / (std::string(cue) + ".wav")))
            << cue;
    std::filesystem::remove_all(folder);
}
