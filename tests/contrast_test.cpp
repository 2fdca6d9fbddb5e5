// The shades on a real VTE terminal, which draws ░ ▒ ▓ as flat blends: the
// game in sakura under Xvfb, screenshots of the menu and of a room of wide
// bands of walls, crumbling floor and lava, each kind's brightest pixels
// measured against the background (contrast.py). Skipped where Xvfb, sakura,
// xdotool, ImageMagick's import or python3-pil are missing.
#include <signal.h>
#include <sys/wait.h>

#include <map>
#include <sstream>

#include "tmux.h"

namespace fs = std::filesystem;

namespace {

bool installed(const std::string& program) { return commandOutput("command -v " + program) != ""; }

pid_t spawn(const std::string& shellCommand) {
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", shellCommand.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void end(pid_t pid) {
    if (pid <= 0) return;
    kill(-pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// Bands of walls (rows 3-6), crumbling floor (9-12) and lava (15-18) in a frame of walls.
std::string bandRoom() {
    std::string text;
    for (int y = 1; y <= 22; ++y) {
        std::string row(80, ' ');
        row.front() = row.back() = '1';
        if (y == 1 || y == 22) row = std::string(80, '1');
        char band = y >= 3 && y <= 6 ? '1' : y >= 9 && y <= 12 ? '4' : y >= 15 && y <= 18 ? '2' : ' ';
        if (band != ' ') row.replace(4, 72, std::string(72, band));
        if (y == 20) row[2] = 'i';
        text += row + "\r\n";
    }
    return text + "0\r\n";
}

using Contrast = GameRun;

TEST_F(Contrast, ShadesStandOutTwoToOneWhereVteDrawsThemAsFlatBlends) {
    for (const char* program : {"Xvfb", "sakura", "xdotool", "/usr/bin/import"})
        if (!installed(program))
            GTEST_SKIP() << program << " is not installed (apt-get install xvfb sakura xdotool imagemagick)";
    if (system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "python3-pil is not installed";
    writeFile("levels/1.lvl", bandRoom());
    std::string display = ":" + std::to_string(200 + getpid() % 500);
    pid_t server = spawn("Xvfb " + display + " -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1");
    std::string x = "DISPLAY=" + display + " ";
    for (int waited = 0; waited < 5000 && !fs::exists("/tmp/.X11-unix/X" + display.substr(1)); waited += 50)
        TmuxGame::nap();
    // sakura with its own defaults (a fresh configuration folder); it names
    // itself in VTE_VERSION, which is all the game goes by.
    std::string game = "cd " + shellQuoted(folder.string()) + " && SDL_AUDIODRIVER=nonexistent " + QUORVEX_BINARY;
    pid_t terminal = spawn(x + "XDG_CONFIG_HOME=" + shellQuoted(folder.string()) + " sakura -c 80 -r 25 -x " +
                           shellQuoted("sh -c " + shellQuoted(game)) + " >/dev/null 2>&1");
    auto shot = [&](const std::string& name) {
        return system((x + "/usr/bin/import -window root " + shellQuoted((folder / name).string())).c_str()) == 0;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    bool menu = shot("menu.png");
    EXPECT_EQ(system((x + "xdotool key Return").c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    bool room = shot("room.png");
    end(terminal);
    end(server);
    ASSERT_TRUE(menu && room);
    std::string figures = commandOutput("/usr/bin/python3 " + std::string(QUORVEX_SOURCE_DIR) + "/tests/contrast.py " +
                                        shellQuoted((folder / "menu.png").string()) + " " +
                                        shellQuoted((folder / "room.png").string()) + " 2>&1");
    std::map<std::string, double> ratio;
    std::istringstream lines(figures);
    for (std::string name, colour; lines >> name;) lines >> ratio[name] >> colour;
    for (const char* kind : {"walls", "crumbling", "lava", "bricks", "mortar"})
        EXPECT_GE(ratio[kind], 2.0) << kind << "\n" << figures;
}

}  // namespace
