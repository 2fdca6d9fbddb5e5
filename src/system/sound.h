// Sound cues. One sound plays at a time; a new request replaces it (the old
// one fades out over a few milliseconds, so it never clicks). The
// device form plays through SDL2_mixer, loaded at run time (silent when there
// is no audio device or no library) and keeps no log; the recording form logs
// every request, for tests and tools.
#pragma once

#include <string>
#include <vector>

// Plays name (relative to the base directory, e.g. "Sound/next.wav") once or
// looping, when the sound is on and the file exists; otherwise nothing
// happens and the playing cue goes on. The game calls it as playCue
// (levels/world.h), with its own switch and folder.
void playCueFrom(const std::string& baseDirectory, bool soundOn, const std::string& name, bool looping);
// While on, cues are neither played nor logged (tools stepping a copied room).
void setSoundSilent(bool on);
// Ends whatever plays, with the same short fade (the menu's sound switch).
void stopSound();
// Asks for a sound by name whatever the sound switch says and without the
// existence test (the final sequence's "Sound\eq_end"). Tried as given and
// with ".wav"; when nothing is found the playing sound still stops.
void requestSoundDirect(const std::string& name);

// Back ends.
void openSoundDevice();  // quiet on failure: the game is then silent; ends the recording form
void closeSoundDevice();
void useRecordingSound();                    // no device; requests go to the log
const std::vector<std::string>& soundLog();  // "once NAME", "loop NAME", "stop", "direct NAME"
void clearSoundLog();
