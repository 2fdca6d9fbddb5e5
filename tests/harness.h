// Whole-program runs on the in-memory console: a temporary folder as the
// game's folder, scripted keys on the virtual clock, the sound log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "console/console.h"

class GameRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Files relative to the game's folder ('/' separated); folders are made as needed.
    void writeFile(const std::string& relative, const std::string& contents);
    std::string readFile(const std::string& relative);
    bool exists(const std::string& relative);
    // Copies the shipped data/ folder (levels and sounds) into the game's folder.
    void installShippedData();
    // Empty cue files, so that playCue's existence test passes.
    void installCueFiles();

    void key(uint64_t atMs, uint8_t code) { scriptKey(atMs, {code, false}); }
    void arrow(uint64_t atMs, uint8_t scanCode) { scriptKey(atMs, {scanCode, true}); }
    void text(uint64_t atMs, const std::string& bytes) { scriptText(atMs, bytes); }

    // Runs the program from start-up. Returns its exit status, or -1 when the
    // script ran out (or the stop time passed) before the program ended.
    int runGame();

    // Screen row (1..25) of the view, as 80 bytes; trimmed of trailing blanks.
    std::string screenRow(int row);
    std::string bufferRow(int row);

    std::filesystem::path folder;

private:
    std::filesystem::path previous;
};

std::string trimRight(std::string text);
