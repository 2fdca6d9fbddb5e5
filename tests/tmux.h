// Runs build/quorvex in a real terminal: a private tmux server, 80 x 25 unless a test sets another size.
// The server's socket lives in a temporary folder of its own, removed with it, and the
// program plays on SDL's dummy audio driver unless the test names another (PulseAudio
// would leave its folders in /tmp and ~/.config), its runs in a state folder of its own.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "harness.h"

inline std::string commandOutput(const std::string& shellCommand) {
    std::string text;
    if (FILE* pipe = popen(shellCommand.c_str(), "r")) {
        char chunk[4096];
        for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, got);
        pclose(pipe);
    }
    return text;
}

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct TmuxGame {
    std::filesystem::path folder;  // the game's folder (its current directory)
    std::filesystem::path socketFolder;
    std::string command = QUORVEX_BINARY;  // the program and its arguments (the editor's tests change it)
    int width = 80, height = 25;           // the window's size at start
    TmuxGame() = default;
    explicit TmuxGame(const std::string& program, int rows = 25) : command(program), height(rows) {}

    // environment: extra "NAME=value ..." words (and redirections) put before the binary.
    void start(const std::filesystem::path& gameFolder, const std::string& environment = "") {
        folder = gameFolder;
        std::filesystem::remove(folder / ".status");  // from an earlier run in the same folder
        stop();
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-tmux-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        socketFolder = pattern;
        // The outer shell records the terminal modes after the game, then its status.
        // A UTF-8 locale unless the test names another: the glyph set follows it.
        // Runs and bests go to a state folder of the test's own, unless the test names one.
        std::string game = "echo $$ > .pid && unset LC_ALL LC_CTYPE && export LANG=C.UTF-8 SDL_AUDIODRIVER=dummy " +
                           shellQuoted("XDG_STATE_HOME=" + (socketFolder / "state").string()) + " && exec env " +
                           environment + " " + command;
        std::string wrapper = "sh -c " + shellQuoted(game) + "; s=$?; stty -a > .stty; echo $s > .status; sleep 60";
        tmux("-f /dev/null start \\; set -g status off \\; set -g escape-time 10 \\; new -d -x " +
             std::to_string(width) + " -y " + std::to_string(height) + " -c " + shellQuoted(folder.string()) + " " +
             shellQuoted("sh -c " + shellQuoted(wrapper)));
    }
    std::string tmux(const std::string& arguments) {
        return commandOutput("tmux -S " + shellQuoted((socketFolder / "socket").string()) + " " + arguments);
    }
    void keys(const std::string& tmuxKeys) { tmux("send-keys -t 0 " + tmuxKeys); }  // "Down", "Escape", "y"
    std::string screen() { return tmux("capture-pane -p -t 0"); }                   // the window's rows, '\n' between
    bool blank() { return screen().find_first_not_of(" \n") == std::string::npos; }
    bool waitFor(const std::string& text, int timeoutMs = 5000) {
        for (int waited = 0; waited < timeoutMs; waited += 50, nap())
            if (screen().find(text) != std::string::npos) return true;
        return false;
    }
    int waitExit(int timeoutMs = 5000) {  // the exit status, or -1 on time-out
        for (int waited = 0; waited < timeoutMs; waited += 50, nap())
            if (std::string status = fileContents(folder / ".status"); !status.empty()) return std::stoi(status);
        return -1;
    }
    // Line mode back after the program: `stty -a` in the same terminal shows icanon, echo, isig and ixon.
    bool lineModeBack() {
        waitExit();
        std::string modes = " " + fileContents(folder / ".stty");
        std::replace(modes.begin(), modes.end(), '\n', ' ');
        for (const char* mode : {" icanon ", " echo ", " isig ", " ixon "})
            if (modes.find(mode) == std::string::npos) return false;
        return true;
    }
    // "alternate-screen cursor-shown keypad", each 0 or 1: "0 1 0\n" is the user's screen back.
    std::string screenModes() { return tmux("display -p -t 0 '#{alternate_on} #{cursor_flag} #{keypad_flag}'"); }
    int pid() { return std::stoi("0" + fileContents(folder / ".pid")); }  // the game's process id, or 0
    static void nap() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }
    void stop() {
        if (socketFolder.empty()) return;
        tmux("kill-server 2>/dev/null");
        std::error_code ignored;
        std::filesystem::remove_all(socketFolder, ignored);
        socketFolder.clear();
    }
    ~TmuxGame() { stop(); }
};
