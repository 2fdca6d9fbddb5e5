#include "shell/sound.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "harness.h"
#include "levels/world.h"
#include "tmux.h"

namespace fs = std::filesystem;

using Log = std::vector<std::string>;

TEST_F(GameRun, CuesNeedTheSwitchAndAFileUnderTheBaseDirectory) {
    run.soundOn = true;
    run.baseDirectory = folder.string() + "/";
    writeFile("Sound/intro.wav", "");
    fs::create_directories(folder / "Sound/next.wav");  // a folder passes the existence test

    playCue("Sound/intro.wav", true);
    playCue("Sound/lava.wav", false);  // missing: the loop goes on, nothing is asked
    playCue("Sound/next.wav", false);
    EXPECT_EQ(soundLog(), (Log{"loop Sound/intro.wav", "once Sound/next.wav"}));

    clearSoundLog();
    run.soundOn = false;
    playCue("Sound/intro.wav", true);
    requestSoundDirect("Sound\\eq_end");
    run.soundOn = true;
    requestSoundDirect("Sound\\eq_end");
    stopSound();
    EXPECT_EQ(soundLog(), (Log{"direct Sound\\eq_end", "direct Sound\\eq_end", "stop"}));

    // The file is looked for under the base directory, not the current one.
    clearSoundLog();
    fs::create_directories(folder / "elsewhere");
    run.baseDirectory = (folder / "elsewhere").string() + "/";
    playCue("Sound/intro.wav", true);
    EXPECT_TRUE(soundLog().empty());
}

namespace {

fs::path freshFolder() {
    std::string pattern = (fs::temp_directory_path() / "quorvex-sound-XXXXXX").string();
    return mkdtemp(pattern.data());
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The menu screen after a second with the given audio driver, then Esc.
// Returns the screen; status and the screen left after the exit come back
// through the arguments.
std::string menuWithDriver(const fs::path& folder, const std::string& environment, int& status,
                           std::string& afterExit) {
    fs::create_directories(folder / "Sound");
    fs::copy_file(fs::path(QUORVEX_SOURCE_DIR) / "data/Sound/intro.wav", folder / "Sound/intro.wav");
    TmuxGame game;
    game.start(folder, environment);
    game.waitFor("Quit");  // the cue starts once the menu is drawn
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::string shown = game.screen();
    game.keys("Escape");
    status = game.waitExit();
    afterExit = game.screen();
    return shown;
}

}  // namespace

TEST(SoundOnTerminal, MenuThemeReachesTheDeviceAndNoDeviceStaysQuiet) {
    fs::path heard = freshFolder(), silent = freshFolder(), alsa = freshFolder();
    fs::path audio = heard / "audio.raw";
    int status = -1;
    std::string after;
    std::string withDisk =
        menuWithDriver(heard, "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + audio.string(), status, after);
    EXPECT_EQ(status, 0);
    std::string samples = slurp(audio);
    EXPECT_GT(samples.size(), 20000u);  // about a second of sound was written out
    EXPECT_NE(samples.find_first_not_of('\0'), std::string::npos) << "the audio device heard only silence";

    // No driver at all, and ALSA asked for a card that is nowhere (it then
    // talks on standard error): the same screen, and not a word about sound,
    // neither on standard error (sent to a file here, as the menu's redraw
    // would hide it on the terminal) nor on the terminal after the exit.
    for (const auto& [where, driver] : {std::pair{silent, "SDL_AUDIODRIVER=nonexistent"},
                                        std::pair{alsa, "SDL_AUDIODRIVER=alsa AUDIODEV=nosuchcard"}}) {
        std::string errors = (where / "stderr.txt").string();
        std::string screen = menuWithDriver(where, std::string(driver) + " 2>" + errors, status, after);
        EXPECT_EQ(status, 0) << driver;
        EXPECT_EQ(screen, withDisk) << driver;
        EXPECT_EQ(slurp(errors), "") << driver;
        EXPECT_EQ(after.find_first_not_of(" \n"), std::string::npos) << driver << " left:\n" << after;
    }
    for (const fs::path& f : {heard, silent, alsa}) fs::remove_all(f);
}
