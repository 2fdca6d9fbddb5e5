// The layers of src/: each folder includes only from its own layer and the
// layers below it, so the game never depends on what is built on it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace {

const std::string layers[] = {"system", "console", "levels", "game", "endings", "shell", "check", "edit"};

int layerOf(const std::string& folder) {
    for (int i = 0; i < static_cast<int>(std::size(layers)); ++i)
        if (layers[i] == folder) return i;
    return -1;
}

}  // namespace

TEST(Layers, EveryIncludePointsDown) {
    namespace fs = std::filesystem;
    const std::regex include(R"re(^\s*#\s*include\s*"([a-z]+)/[^"]+")re");
    int files = 0;
    std::string upward;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(fs::path(QUORVEX_SOURCE_DIR) / "src")) {
        std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
        std::string folder = entry.path().parent_path().filename().string();
        int own = layerOf(folder);
        ASSERT_GE(own, 0) << "a folder outside the layers: " << folder;
        ++files;
        std::ifstream in(entry.path());
        std::smatch found;
        for (std::string line; std::getline(in, line);)
            if (std::regex_search(line, found, include) && layerOf(found[1]) > own)
                upward += folder + "/" + entry.path().filename().string() + ": " + line + "\n";
    }
    EXPECT_GT(files, 40);
    EXPECT_EQ(upward, "");
}
