// Whole-program runs on the in-memory console: a temporary folder as the
// game's folder, scripted keys on the virtual clock, the sound log.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "console/console.h"
#include "levels/world.h"
#include "shell/flow.h"
#include "system/sound.h"

inline std::string fileContents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Text shown from a column (1-based) of a row.
inline std::string at(int column, const std::string& text) { return std::string(column - 1, ' ') + text; }

inline const char* const cueNames[] = {"intro", "begin", "spike", "lava",    "enemy",  "key",
                                       "next",  "death", "eq",    "eq_loop", "eq_end", "credits"};

inline std::string trimRight(std::string text) { return text.erase(text.find_last_not_of(' ') + 1); }

class GameRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-test-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        std::filesystem::current_path(folder);
        startMemoryConsole();
        useRecordingSound();
        resetWorld();
        // Runs, bests and rescue copies stay in the test's folder.
        if (const char* state = std::getenv("XDG_STATE_HOME")) savedState = state;
        setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    }
    void TearDown() override {
        savedState ? setenv("XDG_STATE_HOME", savedState->c_str(), 1) : unsetenv("XDG_STATE_HOME");
        std::filesystem::current_path(std::filesystem::temp_directory_path());
        std::filesystem::remove_all(folder);
    }
    std::optional<std::string> savedState;

    // Files relative to the game's folder ('/' separated); folders are made as needed.
    void writeFile(const std::string& relative, const std::string& contents) {
        std::filesystem::create_directories((folder / relative).parent_path());
        std::ofstream(folder / relative, std::ios::binary) << contents;
    }
    std::string readFile(const std::string& relative) { return fileContents(folder / relative); }
    bool exists(const std::string& relative) { return std::filesystem::exists(folder / relative); }
    void installCueFiles() {  // empty files pass playCue's existence test
        for (const char* name : cueNames) writeFile(std::string("Sound/") + name + ".wav", "");
    }

    void key(uint64_t atMs, uint8_t code) { scriptKey(atMs, {code, false}); }
    void arrow(uint64_t atMs, uint8_t scanCode) { scriptKey(atMs, {scanCode, true}); }
    void text(uint64_t atMs, const std::string& bytes) { scriptText(atMs, bytes); }

    // The program from start-up: its exit status, or -1 when the script ran
    // out (or the stop time passed) before it ended.
    int runGame() {
        try {
            return runProgram();
        } catch (const ScriptEnded&) {
            return -1;
        }
    }

    // A row of the view (1..25) or of the buffer, trimmed of trailing blanks.
    std::string screenRow(int row) { return bufferRow(viewTop() + row - 1); }
    std::string bufferRow(int row) { return trimRight(bufferRowText(row)); }

    std::filesystem::path folder;
};
