#include "system/sound.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "childrun.h"
#include "harness.h"
#include "levels/world.h"

TEST_F(GameRun, CuesNeedAFileUnderTheBaseDirectory) {
    run.soundOn = true;
    run.baseDirectory = folder.string() + "/";
    writeFile("Sound/intro.wav", "");
    writeFile("Sound/next.wav/inside", "");  // a folder passes the existence test
    playCue("Sound/intro.wav", true);
    playCue("Sound/lava.wav", false);  // missing: the loop goes on, nothing is asked
    playCue("Sound/next.wav", false);
    run.baseDirectory = folder.string() + "/Sound/";  // not looked for in the current directory
    playCue("Sound/intro.wav", true);
    // The switch off silences all but the direct requests: the endings' test.
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"loop Sound/intro.wav", "once Sound/next.wav"}));
}

// The game's own sound, with a device or without one, keeps no log of its
// cues (it grew by a line a cue for the whole run); only the recording form
// that tests ask for does.
TEST_F(GameRun, OnlyTheRecordingFormKeepsALogOfCues) {
    installCueFiles();
    run.soundOn = true;
    run.baseDirectory = folder.string() + "/";
    setenv("SDL_AUDIODRIVER", "nonexistent", 1);  // as on a machine without sound: silent
    openSoundDevice();
    unsetenv("SDL_AUDIODRIVER");
    for (int i = 0; i < 1000; ++i) playCue("Sound/key.wav", false);
    stopSound();
    requestSoundDirect("Sound\\eq_end");
    EXPECT_EQ(soundLog().size(), 0u);
    closeSoundDevice();
    useRecordingSound();
    playCue("Sound/key.wav", false);
    EXPECT_EQ(soundLog(), std::vector<std::string>{"once Sound/key.wav"});
}

namespace {

// A 16-bit mono wave at 22050 Hz from samples given as fractions of full scale.
std::string waveFile(const std::vector<double>& samples) {
    std::string data;
    auto put = [&data](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) data.push_back(char(value >> (8 * i)));
    };
    data += "RIFF";
    put(36 + 2 * samples.size(), 4);
    data += "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(22050, 4), put(44100, 4), put(2, 2), put(16, 2);  // PCM, mono, 16 bits
    data += "data";
    put(2 * samples.size(), 4);
    for (double s : samples) put(uint16_t(int16_t(s * 32767)), 2);
    return data;
}

}  // namespace

// What SDL's disk driver really plays: a loud low tone replaced, replaced by
// nothing, stopped, or cut by the device closing, never jumps by more than the
// tone itself (a cut mid-wave jumps by up to 0.6), and ends in silence.
TEST_F(GameRun, ReplacedAndStoppedSoundsFadeOutInsteadOfClicking) {
    std::vector<double> tone(4410);  // ten periods of 50 Hz: loops seamlessly
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.6 * std::sin(2 * M_PI * 50 * double(i) / 22050);
    writeFile("Sound/tone.wav", waveFile(tone));
    writeFile("Sound/quiet.wav", waveFile(std::vector<double>(4410)));
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (folder / "audio.raw").c_str(), 1);
    openSoundDevice();
    run.soundOn = true;
    run.baseDirectory = folder.string() + "/";
    void (*const ends[])() = {[] { playCue("Sound/quiet.wav", false); },
                              [] { requestSoundDirect("Sound\\nothing"); },  // finds nothing, still ends the tone
                              stopSound, closeSoundDevice};                  // the last while the tone plays
    for (auto end : ends) {
        playCue("Sound/tone.wav", true);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        end();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    std::string raw = readFile("audio.raw");  // 16-bit stereo frames
    ASSERT_GT(raw.size(), 40000u);
    std::vector<double> left;
    for (size_t at = 0; at + 3 < raw.size(); at += 4)
        left.push_back(int16_t(uint8_t(raw[at]) | raw[at + 1] << 8) / 32768.0);
    double peak = 0, jump = 0;
    for (size_t i = 1; i < left.size(); ++i)
        peak = std::max(peak, std::fabs(left[i])), jump = std::max(jump, std::fabs(left[i] - left[i - 1]));
    EXPECT_GT(peak, 0.5);
    EXPECT_LT(jump, 0.03);
    EXPECT_EQ(left.back(), 0.0);
}

// A cue that would take the machine's memory plays nothing: a small file
// declaring 1 Hz (22,050 times longer once converted) and one past the size
// bound; in a child, so the peak memory is the cue's. A good cue still sounds.
TEST_F(GameRun, OversizedCuesPlayNothingAndTakeNoMemory) {
    std::string slow = waveFile(std::vector<double>(500000, 0.5));
    slow.replace(24, 4, std::string("\x01\x00\x00\x00", 4));  // 1 Hz
    writeFile("Sound/slow.wav", slow);
    writeFile("Sound/huge.wav", waveFile(std::vector<double>(9 << 20, 0.5)));  // 18 MiB
    writeFile("Sound/fine.wav", waveFile(std::vector<double>(2205, 0.5)));
    for (const char* cue : {"slow", "huge", "fine"}) {
        SCOPED_TRACE(cue);
        std::string raw = (folder / (std::string(cue) + ".raw")).string();
        std::string taken = inChild([&] {
            setenv("SDL_AUDIODRIVER", "disk", 1);
            setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
            openSoundDevice();
            run.soundOn = true;
            run.baseDirectory = folder.string() + "/";
            rusage before{}, after{};
            getrusage(RUSAGE_SELF, &before);
            playCue(std::string("Sound/") + cue + ".wav", false);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            getrusage(RUSAGE_SELF, &after);
            closeSoundDevice();
            return std::to_string((after.ru_maxrss - before.ru_maxrss) >> 10);  // MiB
        });
        ASSERT_FALSE(taken.empty()) << "the child died";
        EXPECT_LT(std::stol(taken), 8) << "MiB taken";
        EXPECT_EQ(fileContents(raw).find_first_not_of('\0') != std::string::npos, std::string(cue) == "fine")
            << "sounded";
    }
}
