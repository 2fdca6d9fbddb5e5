#include "system/sound.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <thread>
#include <type_traits>
#include <utility>

#include "system/files.h"
#include "system/folders.h"

// SDL2_mixer is loaded when the device opens, not linked: building the game
// then needs no SDL development files (whose dependencies bring in those of
// X11, Wayland and Mesa), and a machine without the library plays silently,
// as one without an audio device does. These are the few calls used, as
// SDL 2 and SDL2_mixer 2 declare them; their ABI is stable across 2.x.
namespace {

struct Mix_Chunk;
struct SDL_RWops;
using MixEffect = void (*)(int channel, void* stream, int bytes, void* data);
using MixEffectDone = void (*)(int channel, void* data);

constexpr uint32_t sdlInitAudio = 0x10;
constexpr uint16_t audioS16System = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 0x9010 : 0x8010;

struct Mixer {
    int (*SDL_SetHint)(const char*, const char*);
    int (*SDL_InitSubSystem)(uint32_t);
    void (*SDL_QuitSubSystem)(uint32_t);
    SDL_RWops* (*SDL_RWFromConstMem)(const void*, int);
    int (*Mix_OpenAudio)(int, uint16_t, int, int);
    int (*Mix_QuerySpec)(int*, uint16_t*, int*);
    int (*Mix_AllocateChannels)(int);
    Mix_Chunk* (*Mix_LoadWAV_RW)(SDL_RWops*, int);
    void (*Mix_FreeChunk)(Mix_Chunk*);
    int (*Mix_PlayChannelTimed)(int, Mix_Chunk*, int, int);
    int (*Mix_HaltChannel)(int);
    int (*Mix_ExpireChannel)(int, int);
    int (*Mix_Playing)(int);
    int (*Mix_RegisterEffect)(int, MixEffect, MixEffectDone, void*);
    int (*Mix_UnregisterAllEffects)(int);
    void (*Mix_CloseAudio)();
};
Mixer mix;

// Loaded once and kept (SDL's threads live in it); false when the library or
// one of its calls is missing.
bool loadMixer() {
    static int state = 0;  // 0 not tried, 1 loaded, -1 missing
    if (state != 0) return state > 0;
    state = -1;
    void* library = dlopen("libSDL2_mixer-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    // SDL's own calls are found through SDL2_mixer, which depends on it.
    bool all = true;
    auto find = [&](auto& call, const char* name) {
        void* address = dlsym(library, name);
        all = all && address != nullptr;
        call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(address);
    };
    find(mix.SDL_SetHint, "SDL_SetHint");
    find(mix.SDL_InitSubSystem, "SDL_InitSubSystem");
    find(mix.SDL_QuitSubSystem, "SDL_QuitSubSystem");
    find(mix.SDL_RWFromConstMem, "SDL_RWFromConstMem");
    find(mix.Mix_OpenAudio, "Mix_OpenAudio");
    find(mix.Mix_QuerySpec, "Mix_QuerySpec");
    find(mix.Mix_AllocateChannels, "Mix_AllocateChannels");
    find(mix.Mix_LoadWAV_RW, "Mix_LoadWAV_RW");
    find(mix.Mix_FreeChunk, "Mix_FreeChunk");
    find(mix.Mix_PlayChannelTimed, "Mix_PlayChannelTimed");
    find(mix.Mix_HaltChannel, "Mix_HaltChannel");
    find(mix.Mix_ExpireChannel, "Mix_ExpireChannel");
    find(mix.Mix_Playing, "Mix_Playing");
    find(mix.Mix_RegisterEffect, "Mix_RegisterEffect");
    find(mix.Mix_UnregisterAllEffects, "Mix_UnregisterAllEffects");
    find(mix.Mix_CloseAudio, "Mix_CloseAudio");
    if (all) state = 1;
    return all;
}

bool deviceOpen = false;
std::map<std::string, Mix_Chunk*> loaded;  // each sound is loaded once and kept
std::vector<std::string> requests;
// Only the recording form (tests, tools) logs requests: in the game the log
// would grow for the whole run.
bool recording = false;
bool silent = false;  // tools stepping a copied room: no cue, no file look-up

int outputRate = 22050;
int outputChannels = 2;

// A cue is loaded whole and converted for the device, so its memory is
// bounded twice: the file's size, and what the conversion would make of it
// (a short file that declares a rate of 1 Hz grows a thousandfold).
constexpr off_t maxCueFileBytes = 16 << 20;
constexpr double maxConvertedBytes = 64 << 20;

uint32_t littleEndian(const std::string& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The header's word on the converted size; a file that says too little to
// tell is left to the loader, which refuses what it cannot read.
bool convertedSizeFits(const std::string& wave) {
    uint32_t rate = 0, channels = 0, bits = 0;
    size_t at = 12;
    for (int chunks = 0; chunks < 64 && at + 8 <= wave.size(); ++chunks) {
        uint32_t size = littleEndian(wave, at + 4, 4);
        size_t body = at + 8;
        if (wave.compare(at, 4, "fmt ") == 0) {
            if (body + 16 > wave.size()) return true;
            channels = littleEndian(wave, body + 2, 2);
            rate = littleEndian(wave, body + 4, 4);
            bits = littleEndian(wave, body + 14, 2);
        } else if (wave.compare(at, 4, "data") == 0) {
            if (rate == 0 || channels == 0 || bits == 0) return true;
            double dataBytes = static_cast<double>(std::min<size_t>(size, wave.size() - body));
            double frames = dataBytes * 8 / (channels * bits);
            return frames * outputRate / rate * outputChannels * 2 <= maxConvertedBytes;
        }
        at = body + size + (size & 1);
    }
    return true;
}

Mix_Chunk* chunkFor(const std::string& name) {
    auto known = loaded.find(name);
    if (known != loaded.end()) return known->second;
    // Only a regular file is opened: a FIFO named like a cue would hold the
    // game in open() for good.
    OpenFile file = openFileIn(gameFolder(), hostPath(name));
    if (file.fd < 0) return nullptr;
    int fd = file.fd;
    file.fd = -1;
    struct stat about;
    std::string wave;
    if (fstat(fd, &about) == 0 && about.st_size <= maxCueFileBytes) {
        wave.resize(static_cast<size_t>(about.st_size));
        size_t got = 0;
        for (ssize_t now; got < wave.size() && (now = read(fd, wave.data() + got, wave.size() - got)) > 0;)
            got += static_cast<size_t>(now);
        wave.resize(got);
    }
    close(fd);
    // Only wave files are cues. Anything else would go to SDL_mixer's music
    // decoders, which complain about a damaged file on standard error, right
    // over the game's screen.
    if (wave.size() < 12 || wave.compare(0, 4, "RIFF") != 0 || wave.compare(8, 4, "WAVE") != 0) return nullptr;
    if (!convertedSizeFits(wave)) return nullptr;
    // The chunk keeps converted samples of its own, so the bytes may go.
    SDL_RWops* memory = mix.SDL_RWFromConstMem(wave.data(), static_cast<int>(wave.size()));
    if (memory == nullptr) return nullptr;
    Mix_Chunk* chunk = mix.Mix_LoadWAV_RW(memory, 1);
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
        mix.Mix_HaltChannel(playing);
    } else if (mix.Mix_Playing(playing)) {
        fadeLeft[playing].store(fadeFrames);
        mix.Mix_RegisterEffect(playing, rampDown, nullptr, nullptr);
        // Halted once it is surely silent: well after the ramp, whatever the
        // device's buffer size (halting before the ramp ran would cut it).
        mix.Mix_ExpireChannel(playing, 500);
    }
    playing = -1;
}

// A channel for the next sound: a free one, else one that has faded to
// silence, else (requests faster than any fade) the next in turn.
int channelForNext(int after) {
    int choice = -1;
    for (int step = 1; step <= channelCount && choice < 0; ++step) {
        int c = (after + step + channelCount) % channelCount;
        if (!mix.Mix_Playing(c)) choice = c;
    }
    for (int step = 1; step <= channelCount && choice < 0; ++step) {
        int c = (after + step + channelCount) % channelCount;
        if (fadeLeft[c].load() == 0) choice = c;
    }
    if (choice < 0) choice = (after + 1 + channelCount) % channelCount;
    mix.Mix_HaltChannel(choice);
    mix.Mix_UnregisterAllEffects(choice);
    return choice;
}

// Closing the device mid-wave would click as well: the ramp runs first, and
// the buffer that holds it gets the time to reach the speaker.
void fadeBeforeClosing() {
    int channel = playing;
    fadeOutPlaying();
    if (channel < 0 || !rampable) return;
    for (int waited = 0; waited < 250 && mix.Mix_Playing(channel) && fadeLeft[channel].load() > 0; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void logRequest(std::string request) {
    if (recording) requests.push_back(std::move(request));
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
    if (mix.Mix_PlayChannelTimed(channel, chunk, looping ? -1 : 0, -1) == channel) playing = channel;
}

}  // namespace

void setSoundSilent(bool on) { silent = on; }

void playCueFrom(const std::string& baseDirectory, bool soundOn, const std::string& name, bool looping) {
    if (silent) return;
    if (!soundOn) return;
    // Through the game folder held since the start: never a path built from its name.
    FileKind kind = lookAt(gameFolder(baseDirectory), hostPath(name)).kind;
    if (kind != FileKind::File && kind != FileKind::Folder && kind != FileKind::Other) return;
    logRequest((looping ? "loop " : "once ") + name);
    play(name, looping);
}

void stopSound() {
    logRequest("stop");
    if (deviceOpen) fadeOutPlaying();
}

void requestSoundDirect(const std::string& name) {
    logRequest("direct " + name);
    play(name, false);
}

void openSoundDevice() {
    recording = false;
    requests.clear();
    if (deviceOpen) return;
    // ALSA and PulseAudio complain on standard error when there is no device;
    // the terminal belongs to the game, so their words go nowhere.
    int savedError = dup(STDERR_FILENO);
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0) dup2(quiet, STDERR_FILENO);
    bool started = false;
    if (loadMixer()) {
        mix.SDL_SetHint("SDL_NO_SIGNAL_HANDLERS", "1");
        started = mix.SDL_InitSubSystem(sdlInitAudio) == 0;
    }
    if (started) {
        if (mix.Mix_OpenAudio(22050, audioS16System, 2, 1024) == 0) {
            mix.Mix_AllocateChannels(channelCount);
            uint16_t format = audioS16System;
            mix.Mix_QuerySpec(&outputRate, &format, &outputChannels);
            rampable = format == audioS16System && outputChannels > 0;
            fadeFrames = std::max(1, outputRate * fadeMs / 1000);
            playing = -1;
            deviceOpen = true;
        } else {
            mix.SDL_QuitSubSystem(sdlInitAudio);
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
    mix.Mix_HaltChannel(-1);
    playing = -1;
    for (auto& [name, chunk] : loaded) mix.Mix_FreeChunk(chunk);
    loaded.clear();
    mix.Mix_CloseAudio();
    mix.SDL_QuitSubSystem(sdlInitAudio);
    deviceOpen = false;
}

void useRecordingSound() {
    closeSoundDevice();
    requests.clear();
    recording = true;
}

const std::vector<std::string>& soundLog() { return requests; }
void clearSoundLog() { requests.clear(); }
