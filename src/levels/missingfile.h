#pragma once

#include <string>

// The screen for a level file that is not there; ends in the main menu.
[[noreturn]] void showMissingFile(const std::string& path);
