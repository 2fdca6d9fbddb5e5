// Runs build/quorvex in a real terminal: a private tmux server at 80 x 25.
#pragma once

#include <filesystem>
#include <string>

struct TmuxGame {
    std::filesystem::path folder;  // the game's folder (its current directory)
    std::string socket;

    // environment: extra "NAME=value ..." words put before the binary.
    void start(const std::filesystem::path& gameFolder, const std::string& environment = "");
    void keys(const std::string& tmuxKeys);     // send-keys words: "Down", "Enter", "Escape", "y"
    void typeText(const std::string& literal);  // send-keys -l
    std::string screen();                        // the 25 rows, '\n' between
    bool waitFor(const std::string& text, int timeoutMs = 5000);
    int waitExit(int timeoutMs = 5000);          // the exit status, or -1 on time-out
    std::string sttyAfterExit();                 // `stty -a` run in the same terminal after the game
    int pid();                                   // the game's process id (0 when unknown)
    ~TmuxGame();
};
