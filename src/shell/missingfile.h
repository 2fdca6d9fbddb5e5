#pragma once

#include <string>

// The screen for a level file that is not there; returns after Enter, and
// the menu comes next.
void showMissingFile(const std::string& path);
