#include "system/sound.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>

#include "system/files.h"

namespace {

bool deviceOpen = false;
std::map<std::string, Mix_Chunk*> loaded;  // each sound is loaded once and kept
std::vector<std::string> requests;
bool silent = false;  // tools stepping a copied room: no cue, no file look-up

int outputRate = 22050;
int outputChannels = 2;

// A cue is loaded whole and converted for the device, so its memory is
// bounded twice: the file's size, and what the conversion would make of it
// (a short file that declares a rate of 1 Hz grows a thousandfold).
constexpr Sint64 maxCueFileBytes = 16 << 20;
constexpr double maxConvertedBytes = 64 << 20;

// The header's word on the converted size; a file that says too little to
// tell is left to the loader, which refuses what it cannot read.
bool convertedSizeFits(SDL_RWops* file, Sint64 fileBytes) {
    Uint32 rate = 0, channels = 0, bits = 0;
    if (SDL_RWseek(file, 12, RW_SEEK_SET) != 12) return true;
    for (int chunks = 0; chunks < 64; ++chunks) {
        unsigned char head[8];
        if (SDL_RWread(file, head, 1, sizeof head) != sizeof head) return true;
        Uint32 size = head[4] | head[5] << 8 | head[6] << 16 | Uint32(head[7]) << 24;
        Sint64 at = SDL_RWtell(file);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            unsigned char format[16];
            if (SDL_RWread(file, format, 1, sizeof format) != sizeof format) return true;
            channels = format[2] | format[3] << 8;
            rate = format[4] | format[5] << 8 | format[6] << 16 | Uint32(format[7]) << 24;
            bits = format[14] | format[15] << 8;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (rate == 0 || channels == 0 || bits == 0) return true;
            double dataBytes = static_cast<double>(std::min<Sint64>(size, fileBytes - at));
            double frames = dataBytes * 8 / (channels * bits);
            return frames * outputRate / rate * outputChannels * 2 <= maxConvertedBytes;
        }
        if (SDL_RWseek(file, at + size + (size & 1), RW_SEEK_SET) < 0) return true;
    }
    return true;
}

Mix_Chunk* chunkFor(const std::string& name) {
    auto known = loaded.find(name);
    if (known != loaded.end()) return known->second;
    // Only a regular file is opened: a FIFO named like a cue would hold the
    // game in open() for good.
    std::string reason;
    int fd = openDataFile(hostPath(name), reason);
    struct stat about;
    if (fd >= 0 && (fstat(fd, &about) != 0 || about.st_size > maxCueFileBytes)) {
        close(fd);
        return nullptr;
    }
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) {
        close(fd);
        return nullptr;
    }
    SDL_RWops* file = SDL_RWFromFP(stream, SDL_TRUE);
    if (file == nullptr) {
        fclose(stream);
        return nullptr;
    }
    // Only wave files are cues. Anything else would go to SDL_mixer's music
    // decoders, which complain about a damaged file on standard error, right
    // over the game's screen.
    char head[12] = {};
    bool wave = SDL_RWread(file, head, 1, sizeof head) == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
                std::memcmp(head + 8, "WAVE", 4) == 0;
    if (!wave || !convertedSizeFits(file, about.st_size) || SDL_RWseek(file, 0, RW_SEEK_SET) != 0) {
        SDL_RWclose(file);
        return nullptr;
    }
    Mix_Chunk* chunk = Mix_LoadWAV_RW(file, 1);
    if (chunk != nullptr) loaded[name] = chunk;
    return chunk;
}

// A sound that is replaced or stopped is not cut off mid-wave, which clicks:
// it fades out over a few milliseconds on its own channel while the next one
// starts at once on another. SDL_mixer's own fade sets the volume once per
// audio buffer (tens of milliseconds, in steps), so the ramp is applied here
// sample by sample.
constexpr int channelCount = 4;  // the playing sound and those still fading out
constexpr int fadeMs = 15;
int playing = -1;      // the channel of the sound that plays, if any
bool rampable = true;  // the ramp knows 16-bit samples, the format asked for
int fadeFrames = 330;
std::atomic<int> fadeLeft[channelCount];  // frames of ramp still to go; the audio thread counts them down

void rampDown(int channel, void* stream, int bytes, void*) {
    auto* samples = static_cast<int16_t*>(stream);
    int frames = bytes / static_cast<int>(sizeof(int16_t)) / outputChannels;
    int left = fadeLeft[channel].load();
    for (int i = 0; i < frames; ++i) {
        double gain = left > 0 ? static_cast<double>(left--) / fadeFrames : 0.0;
        for (int c = 0; c < outputChannels; ++c) {
            int16_t& sample = samples[i * outputChannels + c];
            sample = static_cast<int16_t>(sample * gain);
        }
    }
    fadeLeft[channel].store(left);
}

void fadeOutPlaying() {
    if (playing < 0) return;
    if (!rampable) {
        Mix_HaltChannel(playing);
    } else if (Mix_Playing(playing)) {
        fadeLeft[playing].store(fadeFrames);
        Mix_RegisterEffect(playing, rampDown, nullptr, nullptr);
        // Halted once it is surely silent: well after the ramp, whatever the
        // device's buffer size (halting before the ramp ran would cut it).
        Mix_ExpireChannel(playing, 500);
    }
    playing = -1;
}

// A channel for the next sound: a free one, else one that has faded to
// silence, else (requests faster than any fade) the next in turn.
int channelForNext(int after) {
    int choice = -1;
    for (int step = 1; step <= channelCount && choice < 0; ++step) {
        int c = (after + step + channelCount) % channelCount;
        if (!Mix_Playing(c)) choice = c;
    }
    for (int step = 1; step <= channelCount && choice < 0; ++step) {
        int c = (after + step + channelCount) % channelCount;
        if (fadeLeft[c].load() == 0) choice = c;
    }
    if (choice < 0) choice = (after + 1 + channelCount) % channelCount;
    Mix_HaltChannel(choice);
    Mix_UnregisterAllEffects(choice);
    return choice;
}

// Closing the device mid-wave would click as well: the ramp runs first, and
// the buffer that holds it gets the time to reach the speaker.
void fadeBeforeClosing() {
    int channel = playing;
    fadeOutPlaying();
    if (channel < 0 || !rampable) return;
    for (int waited = 0; waited < 250 && Mix_Playing(channel) && fadeLeft[channel].load() > 0; waited += 5)
        SDL_Delay(5);
    SDL_Delay(50);
}

// A new request always ends the sound that plays, even when it finds nothing.
void play(const std::string& name, bool looping) {
    if (!deviceOpen) return;
    int last = playing;
    fadeOutPlaying();
    Mix_Chunk* chunk = chunkFor(name);
    if (chunk == nullptr) chunk = chunkFor(name + ".wav");  // opened once: nothing there plays nothing
    if (chunk == nullptr) return;
    int channel = channelForNext(last);
    if (Mix_PlayChannel(channel, chunk, looping ? -1 : 0) == channel) playing = channel;
}

}  // namespace

void setSoundSilent(bool on) { silent = on; }

void playCueFrom(const std::string& baseDirectory, bool soundOn, const std::string& name, bool looping) {
    if (silent) return;
    if (!soundOn) return;
    if (!fileExists(baseDirectory + name)) return;
    requests.push_back((looping ? "loop " : "once ") + name);
    play(name, looping);
}

void stopSound() {
    requests.push_back("stop");
    if (deviceOpen) fadeOutPlaying();
}

void requestSoundDirect(const std::string& name) {
    requests.push_back("direct " + name);
    play(name, false);
}

void openSoundDevice() {
    if (deviceOpen) return;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // ALSA and PulseAudio complain on standard error when there is no device;
    // the terminal belongs to the game, so their words go nowhere.
    int savedError = dup(STDERR_FILENO);
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0) dup2(quiet, STDERR_FILENO);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        if (Mix_OpenAudio(22050, AUDIO_S16SYS, 2, 1024) == 0) {
            Mix_AllocateChannels(channelCount);
            Uint16 format = AUDIO_S16SYS;
            Mix_QuerySpec(&outputRate, &format, &outputChannels);
            rampable = format == AUDIO_S16SYS && outputChannels > 0;
            fadeFrames = std::max(1, outputRate * fadeMs / 1000);
            playing = -1;
            deviceOpen = true;
        } else {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
    }
    if (savedError >= 0) {
        dup2(savedError, STDERR_FILENO);
        close(savedError);
    }
    if (quiet >= 0) close(quiet);
}

void closeSoundDevice() {
    if (!deviceOpen) return;
    fadeBeforeClosing();
    Mix_HaltChannel(-1);
    playing = -1;
    for (auto& [name, chunk] : loaded) Mix_FreeChunk(chunk);
    loaded.clear();
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    deviceOpen = false;
}

void useRecordingSound() {
    closeSoundDevice();
    requests.clear();
}

const std::vector<std::string>& soundLog() { return requests; }
void clearSoundLog() { requests.clear(); }
