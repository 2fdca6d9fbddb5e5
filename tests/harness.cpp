#include "harness.h"

#include <fstream>
#include <sstream>

#include "levels/world.h"
#include "shell/flow.h"
#include "shell/sound.h"

namespace fs = std::filesystem;

void GameRun::SetUp() {
    previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "quorvex-test-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    fs::current_path(folder);
    startMemoryConsole();
    useRecordingSound();
    resetWorld();
}

void GameRun::TearDown() {
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

void GameRun::writeFile(const std::string& relative, const std::string& contents) {
    fs::path path = folder / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

std::string GameRun::readFile(const std::string& relative) {
    std::ifstream in(folder / relative, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool GameRun::exists(const std::string& relative) { return fs::exists(folder / relative); }

void GameRun::installShippedData() {
    fs::copy(fs::path(QUORVEX_SOURCE_DIR) / "data", folder,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::error_code ignored;
    fs::remove(folder / "save.sav", ignored);
    fs::remove(folder / "checkpoint.sav", ignored);
}

void GameRun::installCueFiles() {
    for (const char* name : {"intro", "begin", "spike", "lava", "enemy", "key", "next", "death", "eq", "eq_loop",
                             "eq_end", "credits"})
        writeFile(std::string("Sound/") + name + ".wav", "");
}

int GameRun::runGame() {
    try {
        return runProgram();
    } catch (const ScriptEnded&) {
        return -1;
    }
}

std::string trimRight(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string GameRun::screenRow(int row) {
    std::string text;
    for (int x = 1; x <= screenWidth; ++x) text.push_back(static_cast<char>(viewCell(x, row).character));
    return trimRight(text);
}

std::string GameRun::bufferRow(int row) { return trimRight(bufferRowText(row)); }
