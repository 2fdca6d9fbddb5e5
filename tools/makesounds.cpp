// Synthesises the game's cue files: 16-bit mono PCM waves at 22050 Hz built
// from square, triangle and noise voices. The noise has a fixed seed, so every
// run writes the same bytes and the committed files can be rebuilt at will.
//
// Usage: makesounds <folder>   writes <folder>/Sound/*.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "system/files.h"

namespace {

constexpr int rate = 22050;

enum class Wave { Square, Triangle, Noise };

struct Voice {
    Wave wave = Wave::Square;
    double duty = 0.5;  // square: share of the period spent high
    double volume = 0.2;
    double attack = 0.004;  // seconds
    double decay = 0.06;
    double sustain = 0.7;  // level after the decay
    double release = 0.04;
    double slide = 1.0;         // frequency at the end of the note as a multiple of the start
    double vibratoDepth = 0.0;  // share of the frequency
    double vibratoRate = 5.0;   // Hz
};

// A loop wraps whatever sounds past its end into its start, so it repeats
// without a seam; a one-shot grows to hold its last release.
struct Track {
    std::vector<double> samples;
    bool loop = false;
};

uint32_t noiseState = 0x2545F491u;

double nextNoise() {
    noiseState ^= noiseState << 13;
    noiseState ^= noiseState >> 17;
    noiseState ^= noiseState << 5;
    return static_cast<double>(noiseState) / 2147483648.0 - 1.0;
}

void addSample(Track& track, long index, double value) {
    if (track.loop) {
        long size = static_cast<long>(track.samples.size());
        index %= size;
    } else if (index >= static_cast<long>(track.samples.size())) {
        track.samples.resize(static_cast<size_t>(index) + 1, 0.0);
    }
    track.samples[static_cast<size_t>(index)] += value;
}

double envelope(const Voice& v, double t, double gate) {
    double level;
    if (t < v.attack)
        level = t / v.attack;
    else if (t < v.attack + v.decay)
        level = 1.0 - (1.0 - v.sustain) * (t - v.attack) / v.decay;
    else
        level = v.sustain;
    if (t < gate) return level;
    double held = envelope(v, gate - 1e-9, gate);
    return std::max(0.0, held * (1.0 - (t - gate) / v.release));
}

// One note: gate seconds held, then the release. Noise takes a new value
// frequency times a second, which gives it its pitch.
void note(Track& track, double start, double gate, double frequency, const Voice& v) {
    double total = gate + v.release;
    long first = std::lround(start * rate);
    long count = std::lround(total * rate);
    double phase = 0.0, held = nextNoise();
    for (long i = 0; i < count; ++i) {
        double t = static_cast<double>(i) / rate;
        double f = frequency * std::pow(v.slide, t / total);
        if (v.vibratoDepth > 0) f *= 1.0 + v.vibratoDepth * std::sin(2 * M_PI * v.vibratoRate * t);
        double before = phase;
        phase += f / rate;
        double part = phase - std::floor(phase);
        double value;
        switch (v.wave) {
            case Wave::Square:
                value = part < v.duty ? 1.0 : -1.0;
                break;
            case Wave::Triangle:
                value = 4.0 * std::fabs(part - 0.5) - 1.0;
                break;
            default:
                if (std::floor(phase) != std::floor(before)) held = nextNoise();
                value = held;
        }
        addSample(track, first + i, value * v.volume * envelope(v, t, gate));
    }
}

double noteFrequency(const std::string& name) {
    static const int offsets[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G from C
    int semitone = offsets[name[0] - 'A'];
    size_t at = 1;
    if (name[at] == '#') ++semitone, ++at;
    int midi = 12 * (name[at] - '0' + 1) + semitone;
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// Plays "E5:2 A5:2 -:1 ..." from step startStep: a note name (or '-' for a
// rest) and its length in steps. Each note is held for gateShare of its length.
void melody(Track& track, int startStep, double stepSeconds, const std::string& notes, const Voice& v,
            double gateShare = 0.85) {
    std::istringstream words(notes);
    std::string word;
    int step = startStep;
    while (words >> word) {
        size_t colon = word.find(':');
        int length = std::stoi(word.substr(colon + 1));
        std::string name = word.substr(0, colon);
        if (name != "-") note(track, step * stepSeconds, length * stepSeconds * gateShare, noteFrequency(name), v);
        step += length;
    }
}

// One character a step: k kick, s snare, h hi-hat, '.' nothing.
void drums(Track& track, int startStep, double stepSeconds, const std::string& pattern, double volume) {
    Voice kick{Wave::Triangle, 0.5, 0.9 * volume, 0.001, 0.08, 0.0, 0.03, 0.3};
    Voice snareBody{Wave::Triangle, 0.5, 0.3 * volume, 0.001, 0.05, 0.0, 0.02, 0.7};
    Voice snare{Wave::Noise, 0.5, 0.45 * volume, 0.001, 0.1, 0.0, 0.03};
    Voice hat{Wave::Noise, 0.5, 0.16 * volume, 0.001, 0.025, 0.0, 0.01};
    for (size_t i = 0; i < pattern.size(); ++i) {
        double at = (startStep + static_cast<double>(i)) * stepSeconds;
        if (pattern[i] == 'k') note(track, at, 0.09, 150, kick);
        if (pattern[i] == 's') {
            note(track, at, 0.05, 220, snareBody);
            note(track, at, 0.1, 6000, snare);
        }
        if (pattern[i] == 'h') note(track, at, 0.03, 11025, hat);
    }
}

// One-pole filters; on a loop they run round twice so that their state at
// the seam is the one the loop really has.
void lowPass(Track& track, double cutoff) {
    double a = 1.0 - std::exp(-2 * M_PI * cutoff / rate);
    double y = 0.0;
    int rounds = track.loop ? 2 : 1;
    std::vector<double> out(track.samples.size());
    for (int r = 0; r < rounds; ++r)
        for (size_t i = 0; i < track.samples.size(); ++i) out[i] = y += a * (track.samples[i] - y);
    track.samples = out;
}

void highPass(Track& track, double cutoff) {
    double a = std::exp(-2 * M_PI * cutoff / rate);
    double y = 0.0, before = 0.0;
    int rounds = track.loop ? 2 : 1;
    std::vector<double> out(track.samples.size());
    for (int r = 0; r < rounds; ++r)
        for (size_t i = 0; i < track.samples.size(); ++i) {
            out[i] = y = a * (y + track.samples[i] - before);
            before = track.samples[i];
        }
    track.samples = out;
}

// A part built on its own, filtered, then laid over the whole.
Track partLike(const Track& whole) { return {std::vector<double>(whole.loop ? whole.samples.size() : 0), whole.loop}; }

void mixInto(Track& whole, const Track& part) {
    for (size_t i = 0; i < part.samples.size(); ++i) addSample(whole, static_cast<long>(i), part.samples[i]);
}

// Square voices with a duty other than a half, and pitch slides, carry a
// slow offset that a halt would turn into a thump: a gentle high-pass takes
// it out, then whatever mean is left. The ends then fade to exact zero, so a
// cue starts from silence, ends in it, and a loop wraps from zero to zero.
void settle(Track& track) {
    if (!track.loop) track.samples.resize(track.samples.size() + rate / 20, 0.0);  // room for the filter's tail
    highPass(track, 20);
    double sum = 0.0;
    for (double s : track.samples) sum += s;
    double mean = sum / static_cast<double>(std::max<size_t>(1, track.samples.size()));
    for (double& s : track.samples) s -= mean;
    // A loop dips for 3 ms each side of its seam, too short to hear as a gap.
    size_t in = track.loop ? rate / 333 : rate / 500, out = track.loop ? rate / 333 : rate / 100;
    size_t n = track.samples.size();
    auto shape = [](size_t i, size_t length) { return 0.5 - 0.5 * std::cos(M_PI * static_cast<double>(i) / length); };
    for (size_t i = 0; i < in && i < n; ++i) track.samples[i] *= shape(i, in);
    for (size_t i = 0; i < out && i < n; ++i) track.samples[n - 1 - i] *= shape(i, out);
}

// Levels by loudness (RMS), so the cues sit together, with the peak kept
// below -1 dBFS: nothing ever clips. A given gain instead sets the level
// outright (two cues that must match); the gain used is returned.
double writeWave(const std::filesystem::path& folder, const std::string& name, Track track, double loudness,
                 double givenGain = 0.0) {
    settle(track);
    double highest = 1e-9, power = 0.0;
    for (double s : track.samples) highest = std::max(highest, std::fabs(s)), power += s * s;
    double rms = std::sqrt(power / static_cast<double>(std::max<size_t>(1, track.samples.size())));
    double gain = givenGain > 0 ? givenGain : 32767.0 * std::min(0.89 / highest, loudness / std::max(rms, 1e-9));
    gain = std::min(gain, 32767.0 * 0.89 / highest);
    std::string data;
    auto put16 = [&data](uint32_t v) {
        data.push_back(static_cast<char>(v & 0xFF));
        data.push_back(static_cast<char>((v >> 8) & 0xFF));
    };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    uint32_t bytes = static_cast<uint32_t>(track.samples.size() * 2);
    data += "RIFF";
    put32(36 + bytes);
    data += "WAVEfmt ";
    put32(16);
    put16(1);  // PCM
    put16(1);  // mono
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    data += "data";
    put32(bytes);
    for (double s : track.samples) put16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(s * gain))));
    writeFileAtomically((folder / (name + ".wav")).string(), data);
    std::printf("%-12s %6.2f s %s\n", (name + ".wav").c_str(), static_cast<double>(track.samples.size()) / rate,
                track.loop ? "loop" : "once");
    return gain;
}

Track loopOf(double seconds) {
    noiseState = 0x2545F491u;
    return {std::vector<double>(static_cast<size_t>(std::lround(seconds * rate)), 0.0), true};
}

Track oneShot() {
    noiseState = 0x2545F491u;
    return {};
}

// The menu theme: A minor, eight bars of sixteen steps, looping.
Track introTheme() {
    const double step = 2000.0 / rate;  // a sixteenth note, about 165 beats a minute
    Track t = loopOf(128 * step);
    Voice lead{Wave::Square, 0.25, 0.22, 0.004, 0.08, 0.6, 0.03};
    lead.vibratoDepth = 0.004;
    melody(t, 0, step,
           "E5:2 A5:2 -:1 A5:1 B5:2 C6:3 B5:1 A5:2 E5:2 "
           "F5:2 A5:2 C6:2 A5:2 G5:4 F5:2 E5:2 "
           "E5:2 G5:2 -:1 G5:1 A5:2 G5:3 E5:1 C5:2 D5:2 "
           "D5:3 B4:1 G4:4 B4:2 D5:2 G5:4 "
           "E5:2 A5:2 -:1 A5:1 B5:2 C6:3 D6:1 E6:4 "
           "F6:2 E6:2 D6:2 C6:2 A5:4 C6:2 A5:2 "
           "B5:2 C6:2 D6:2 B5:2 G5:4 A5:2 B5:2 "
           "G#5:4 B5:4 E6:2 D6:2 B5:2 G#5:2",
           lead);
    Voice bass{Wave::Triangle, 0.5, 0.42, 0.003, 0.05, 0.8, 0.02};
    const char* roots[] = {"A2", "F2", "C3", "G2", "A2", "F2", "G2", "E2"};
    const char* uppers[] = {"A3", "F3", "C4", "G3", "A3", "F3", "G3", "E3"};
    const char* chords[][3] = {{"A4", "C5", "E5"}, {"F4", "A4", "C5"}, {"G4", "C5", "E5"}, {"G4", "B4", "D5"},
                               {"A4", "C5", "E5"}, {"F4", "A4", "C5"}, {"G4", "B4", "D5"}, {"G#4", "B4", "E5"}};
    Voice arp{Wave::Square, 0.125, 0.07, 0.002, 0.04, 0.4, 0.02};
    for (int bar = 0; bar < 8; ++bar) {
        std::string line, broken;
        for (int i = 0; i < 4; ++i) line += std::string(roots[bar]) + ":2 " + uppers[bar] + ":2 ";
        for (int i = 0; i < 4; ++i)
            broken += std::string(chords[bar][0]) + ":1 " + chords[bar][1] + ":1 " + chords[bar][2] + ":1 " +
                      chords[bar][1] + ":1 ";
        melody(t, bar * 16, step, line, bass, 0.7);
        melody(t, bar * 16, step, broken, arp, 0.6);
        drums(t, bar * 16, step, bar == 7 ? "k.h.s.h.k.s.ssss" : "k.h.s.h.k.khs.h.", 1.0);
    }
    lowPass(t, 7000);
    return t;
}

// The credits tune: C major, calm, eight bars of two seconds, looping.
Track creditsTheme() {
    const double step = 2756.0 / rate;  // a sixteenth note at 120 beats a minute
    Track t = loopOf(128 * step);
    Voice lead{Wave::Triangle, 0.5, 0.34, 0.02, 0.2, 0.75, 0.15};
    lead.vibratoDepth = 0.006;
    lead.vibratoRate = 4.5;
    melody(t, 0, step,
           "E5:4 G5:4 C6:6 B5:2 A5:8 E5:4 C5:4 F5:4 A5:4 C6:4 A5:4 G5:6 F5:2 D5:8 "
           "E5:4 G5:4 E6:6 D6:2 B5:8 G5:4 E5:4 A5:4 C6:4 F5:4 A5:4 G5:12 -:4",
           lead, 0.9);
    // Per bar: bass root, bass fifth, then the three chord tones.
    const char* chords[][5] = {{"C3", "G2", "E4", "G4", "C5"}, {"A2", "E2", "E4", "A4", "C5"},
                               {"F2", "C3", "F4", "A4", "C5"}, {"G2", "D3", "D4", "G4", "B4"},
                               {"C3", "G2", "E4", "G4", "C5"}, {"E2", "B2", "E4", "G4", "B4"},
                               {"F2", "C3", "F4", "A4", "C5"}, {"G2", "D3", "D4", "G4", "B4"}};
    Voice bass{Wave::Triangle, 0.5, 0.4, 0.01, 0.3, 0.6, 0.1};
    Voice pad{Wave::Square, 0.5, 0.025, 0.4, 0.5, 0.8, 0.4};
    Voice bell{Wave::Square, 0.25, 0.035, 0.003, 0.15, 0.2, 0.1};
    for (int bar = 0; bar < 8; ++bar) {
        const auto& c = chords[bar];
        melody(t, bar * 16, step, std::string(c[0]) + ":8 " + c[1] + ":8", bass, 0.9);
        for (int k = 2; k < 5; ++k) melody(t, bar * 16, step, std::string(c[k]) + ":16", pad, 0.85);
        std::string broken;
        for (int i = 0; i < 2; ++i) broken += std::string(c[2]) + ":2 " + c[3] + ":2 " + c[4] + ":2 " + c[3] + ":2 ";
        melody(t, bar * 16, step, broken, bell, 0.7);
    }
    lowPass(t, 5000);
    return t;
}

Track beginFanfare() {
    Track t = oneShot();
    const double step = 0.075;
    Voice lead{Wave::Square, 0.25, 0.25, 0.003, 0.05, 0.7, 0.12};
    melody(t, 0, step, "G4:1 C5:1 E5:1 G5:2 E5:1 G5:1 C6:8", lead, 0.9);
    Voice harmony{Wave::Square, 0.5, 0.1, 0.003, 0.05, 0.7, 0.12};
    melody(t, 7, step, "E5:8", harmony, 0.9);
    melody(t, 7, step, "G5:8", harmony, 0.9);
    Voice bass{Wave::Triangle, 0.5, 0.4, 0.003, 0.1, 0.7, 0.12};
    melody(t, 0, step, "C3:3 G3:2 E3:2 C3:8", bass, 0.9);
    drums(t, 7, step, "k", 0.8);
    return t;
}

Track spikeHit() {
    Track t = oneShot();
    note(t, 0, 0.2, 1400, {Wave::Square, 0.5, 0.25, 0.001, 0.15, 0.3, 0.08, 0.15});
    note(t, 0, 0.06, 8000, {Wave::Noise, 0.5, 0.3, 0.001, 0.06, 0.0, 0.04});
    return t;
}

Track lavaSizzle() {
    Track t = oneShot();
    // Bursts of hiss that crackle on and off, dying away.
    for (int i = 0; i < 40; ++i) {
        double at = i * 0.018;
        double strength = (0.5 + 0.5 * std::fabs(nextNoise())) * (1.0 - i / 44.0);
        note(t, at, 0.012, 9000 + 2000 * nextNoise(), {Wave::Noise, 0.5, 0.3 * strength, 0.002, 0.01, 0.8, 0.01});
    }
    note(t, 0, 0.25, 180, {Wave::Square, 0.5, 0.12, 0.002, 0.2, 0.3, 0.05, 0.4});
    lowPass(t, 8000);
    return t;
}

Track enemyBuzz() {
    Track t = oneShot();
    Voice buzz{Wave::Square, 0.25, 0.2, 0.002, 0.1, 0.8, 0.08, 0.3, 0.08, 28};
    note(t, 0, 0.38, 330, buzz);
    buzz.duty = 0.5;
    note(t, 0, 0.38, 336, buzz);
    return t;
}

Track keyBlip() {
    Track t = oneShot();
    Voice blip{Wave::Square, 0.5, 0.25, 0.002, 0.03, 0.8, 0.03};
    melody(t, 0, 0.045, "B5:1 E6:2", blip, 0.95);
    return t;
}

// A room cleared: a quick run up the D major scale on a soft triangle with a
// glint an octave higher, landing on a long bell-like note. The start cue is
// a brassy fanfare in C; the two should never be mistaken for each other.
Track nextJingle() {
    Track t = oneShot();
    const double step = 0.055;
    Voice lead{Wave::Triangle, 0.5, 0.4, 0.002, 0.08, 0.6, 0.3};
    melody(t, 0, step, "D5:1 E5:1 F#5:1 G5:1 A5:1 B5:1 C#6:1 D6:3 A5:2 D6:12", lead, 0.9);
    Voice glint{Wave::Square, 0.125, 0.05, 0.002, 0.05, 0.4, 0.2};
    glint.vibratoDepth = 0.005;
    melody(t, 0, step, "D6:1 E6:1 F#6:1 G6:1 A6:1 B6:1 C#7:1 D7:3 A6:2 D7:12", glint, 0.8);
    Voice bass{Wave::Triangle, 0.5, 0.35, 0.003, 0.1, 0.6, 0.25};
    melody(t, 0, step, "D3:7 A2:3 D3:14", bass, 0.9);
    drums(t, 7, step, "h..h.h", 0.6);
    return t;
}

Track deathTones() {
    Track t = oneShot();
    Voice fall{Wave::Square, 0.5, 0.22, 0.003, 0.05, 0.8, 0.05, 0.89};
    note(t, 0.0, 0.2, 493.9, fall);
    note(t, 0.25, 0.2, 466.2, fall);
    note(t, 0.5, 0.2, 440.0, fall);
    fall.slide = 0.25;
    fall.vibratoDepth = 0.03;
    fall.vibratoRate = 8;
    fall.release = 0.2;
    note(t, 0.75, 0.7, 415.3, fall);
    Voice bass{Wave::Triangle, 0.5, 0.3, 0.003, 0.1, 0.7, 0.2, 0.5};
    note(t, 0.75, 0.7, 103.8, bass);
    return t;
}

double chance() { return 0.5 + 0.5 * nextNoise(); }  // 0 to 1

// An earthquake in four layers. The deep rumble alone is felt rather than
// heard and small speakers drop it, so the grinding rock, the crackle and the
// falling debris above 150 Hz carry the quake on any speaker.

void quakeLayers(Track& t, double start, double seconds, double swell, double volume) {
    Track deep = partLike(t), grind = partLike(t), crackle = partLike(t), debris = partLike(t);
    note(deep, start, seconds, 160, {Wave::Noise, 0.5, 0.6 * volume, swell, 0.1, 1.0, swell});
    note(deep, start, seconds, 47, {Wave::Triangle, 0.5, 0.35 * volume, swell, 0.1, 1.0, swell, 1.0, 0.1, 2.5});
    lowPass(deep, 140);
    note(grind, start, seconds, 900, {Wave::Noise, 0.5, 1.5 * volume, swell, 0.1, 1.0, swell, 1.0, 0.3, 3.7});
    lowPass(grind, 500);
    highPass(grind, 160);
    // Rock cracking: short bursts at random moments, most faint, a few loud.
    for (double at = start; at < start + seconds;) {
        double loud = 0.15 + 0.85 * std::pow(chance(), 4);
        double length = 0.002 + 0.012 * chance();
        note(crackle, at, length, 7000 + 4000 * chance(),
             {Wave::Noise, 0.5, 1.6 * volume * loud, 0.0005, length, 0.0, 0.006});
        at += 0.01 + 0.05 * chance();
    }
    highPass(crackle, 900);
    // Pebbles and chunks knocking as they land.
    for (double at = start + 0.05; at < start + seconds;) {
        double loud = 0.3 + 0.7 * chance();
        note(debris, at, 0.02, 180 + 260 * chance(),
             {Wave::Triangle, 0.5, 0.9 * volume * loud, 0.001, 0.05, 0.0, 0.03, 0.6});
        note(debris, at, 0.008, 3000 + 3000 * chance(),
             {Wave::Noise, 0.5, 0.5 * volume * loud, 0.0005, 0.01, 0.0, 0.01});
        at += 0.06 + 0.18 * chance();
    }
    highPass(debris, 150);
    for (const Track* part : {&deep, &grind, &crackle, &debris}) mixInto(t, *part);
}

// The first shock: a loud crack and a boom, then the quake swells to the
// level of the loop that takes over after 1.3 s. It stays at that level a
// while longer, so the hand-over happens at full strength.
Track quakeStart() {
    Track t = oneShot();
    Track shock = partLike(t);
    note(shock, 0, 0.4, 70, {Wave::Triangle, 0.5, 0.9, 0.002, 0.4, 0.2, 0.3, 0.5});
    for (int i = 0; i < 6; ++i)
        note(shock, 0.012 * i, 0.01, 9000, {Wave::Noise, 0.5, 0.8 - 0.1 * i, 0.0005, 0.01, 0.0, 0.02});
    highPass(shock, 60);
    mixInto(t, shock);
    quakeLayers(t, 0, 1.6, 0.35, 0.58);
    return t;
}

Track quakeLoop() {
    Track t = loopOf(4.0);
    // Long overlapping swells, each wrapping past the seam, so the roar never dips.
    for (int i = 0; i < 4; ++i) quakeLayers(t, i * 1.0, 1.4, 0.35, 0.5 * (0.85 + 0.15 * (i % 2)));
    return t;
}

Track quakeEnd() {
    Track t = oneShot();
    note(t, 0, 0.35, 110, {Wave::Triangle, 0.5, 0.8, 0.001, 0.3, 0.3, 0.3, 0.25});
    note(t, 0, 0.1, 2500, {Wave::Noise, 0.5, 0.5, 0.001, 0.1, 0.5, 0.7});
    note(t, 0.02, 0.2, 600, {Wave::Noise, 0.5, 0.5, 0.002, 0.2, 0.4, 0.6});
    quakeLayers(t, 0.05, 0.3, 0.25, 0.3);  // the last of the rubble settling
    lowPass(t, 2500);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: makesounds <folder>   (writes <folder>/Sound/*.wav)\n");
        return 1;
    }
    std::filesystem::path folder = std::filesystem::path(argv[1]) / "Sound";
    std::filesystem::create_directories(folder);
    try {
        writeWave(folder, "intro", introTheme(), 0.13);
        writeWave(folder, "begin", beginFanfare(), 0.16);
        writeWave(folder, "spike", spikeHit(), 0.17);
        writeWave(folder, "lava", lavaSizzle(), 0.14);
        writeWave(folder, "enemy", enemyBuzz(), 0.19);
        writeWave(folder, "key", keyBlip(), 0.19);
        writeWave(folder, "next", nextJingle(), 0.17);
        writeWave(folder, "death", deathTones(), 0.19);
        // The first shock at the loop's level, so the hand-over is seamless.
        double quake = writeWave(folder, "eq_loop", quakeLoop(), 0.25);
        writeWave(folder, "eq", quakeStart(), 0.0, quake);
        writeWave(folder, "eq_end", quakeEnd(), 0.2);
        writeWave(folder, "credits", creditsTheme(), 0.14);
    } catch (const FileFailure& failure) {
        std::fprintf(stderr, "%s\n", describeFailure(failure).c_str());
        return 2;
    }
    return 0;
}
