#include "tmux.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, got);
        pclose(pipe);
    }
    return text;
}

std::string shellQuoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace

void TmuxGame::start(const std::filesystem::path& gameFolder, const std::string& environment) {
    folder = gameFolder;
    socket = "quorvex-test-" + std::to_string(getpid()) + "-" + std::to_string(rand());
    std::filesystem::path config = folder / ".tmux.conf";
    std::ofstream(config) << "set -g status off\nset -g escape-time 10\n";
    std::string script = "cd " + shellQuoted(folder.string()) + " && echo $$ > .pid && exec env " + environment + " " +
                         QUORVEX_BINARY;
    // The outer shell reports the status and the terminal modes after the game.
    std::string wrapper = "sh -c " + shellQuoted("sh -c " + shellQuoted(script) + "; echo $? > " +
                                            shellQuoted((folder / ".status").string()) + "; stty -a > " +
                                            shellQuoted((folder / ".stty").string()) + "; sleep 60");
    std::system(("tmux -L " + socket + " -f " + shellQuoted(config.string()) + " new-session -d -x 80 -y 25 " +
                 shellQuoted(wrapper))
                    .c_str());
}

void TmuxGame::keys(const std::string& tmuxKeys) {
    std::system(("tmux -L " + socket + " send-keys -t 0 " + tmuxKeys).c_str());
}

void TmuxGame::typeText(const std::string& literal) {
    std::system(("tmux -L " + socket + " send-keys -t 0 -l " + shellQuoted(literal)).c_str());
}

std::string TmuxGame::screen() { return output("tmux -L " + socket + " capture-pane -p -t 0"); }

bool TmuxGame::waitFor(const std::string& text, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (screen().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int TmuxGame::waitExit(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        std::string status = slurp(folder / ".status");
        if (!status.empty() && std::filesystem::exists(folder / ".stty")) return std::stoi(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

std::string TmuxGame::sttyAfterExit() {
    waitExit();
    for (int waited = 0; waited < 2000 && slurp(folder / ".stty").empty(); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return slurp(folder / ".stty");
}

int TmuxGame::pid() {
    std::string text = slurp(folder / ".pid");
    return text.empty() ? 0 : std::stoi(text);
}

TmuxGame::~TmuxGame() {
    if (!socket.empty()) std::system(("tmux -L " + socket + " kill-server 2>/dev/null").c_str());
}
