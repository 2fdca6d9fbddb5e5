#include "shell/sound.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "levels/world.h"
#include "shell/files.h"

namespace {

bool deviceOpen = false;
std::map<std::string, Mix_Chunk*> loaded;  // each sound is loaded once and kept
std::vector<std::string> requests;
bool silent = false;  // tools stepping a copied room: no cue, no file look-up

Mix_Chunk* chunkFor(const std::string& name) {
    auto known = loaded.find(name);
    if (known != loaded.end()) return known->second;
    // Only a regular file is opened: a FIFO named like a cue would hold the
    // game in open() for good.
    std::string reason;
    int fd = openDataFile(hostPath(name), reason);
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
    if (!wave || SDL_RWseek(file, 0, RW_SEEK_SET) != 0) {
        SDL_RWclose(file);
        return nullptr;
    }
    Mix_Chunk* chunk = Mix_LoadWAV_RW(file, 1);
    if (chunk != nullptr) loaded[name] = chunk;
    return chunk;
}

// A new request always ends the sound that plays, even when it finds nothing.
void play(const std::string& name, bool looping) {
    if (!deviceOpen) return;
    Mix_HaltChannel(0);
    Mix_Chunk* chunk = chunkFor(name);
    if (chunk == nullptr && fileExists(name + ".wav")) chunk = chunkFor(name + ".wav");
    if (chunk != nullptr) Mix_PlayChannel(0, chunk, looping ? -1 : 0);
}

}  // namespace

void setSoundSilent(bool on) { silent = on; }

void playCue(const std::string& name, bool looping) {
    if (silent) return;
    if (!run.soundOn) return;
    if (!fileExists(run.baseDirectory + name)) return;
    requests.push_back((looping ? "loop " : "once ") + name);
    play(name, looping);
}

void stopSound() {
    requests.push_back("stop");
    if (deviceOpen) Mix_HaltChannel(0);
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
            Mix_AllocateChannels(1);
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
    Mix_HaltChannel(0);
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
