#include "shell/sound.h"

#include "harness.h"
#include "levels/world.h"

TEST_F(GameRun, CuesNeedTheSwitchAndAFileUnderTheBaseDirectory) {
    run.soundOn = true;
    run.baseDirectory = folder.string() + "/";
    writeFile("Sound/intro.wav", "");
    writeFile("Sound/next.wav/inside", "");  // a folder passes the existence test
    playCue("Sound/intro.wav", true);
    playCue("Sound/lava.wav", false);  // missing: the loop goes on, nothing is asked
    playCue("Sound/next.wav", false);
    run.soundOn = false;
    playCue("Sound/intro.wav", true);
    requestSoundDirect("Sound\\eq_end");  // whatever the switch says
    stopSound();
    run.soundOn = true;
    run.baseDirectory = folder.string() + "/Sound/";  // not looked for in the current directory
    playCue("Sound/intro.wav", true);
    EXPECT_EQ(soundLog(), (std::vector<std::string>{"loop Sound/intro.wav", "once Sound/next.wav",
                                                    "direct Sound\\eq_end", "stop"}));
}
