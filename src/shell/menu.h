// The brick-wall main menu and its pack prompt. Never returns: it stays,
// hands over to a game, or ends the program.
#pragma once

[[noreturn]] void runMainMenu();
