// The brick-wall main menu and its pack prompt.
#pragma once

enum class MenuEnd {
    StartGame,  // the game's counters and mode are set: room game.levelNumber is next
    Redraw,     // back to a fresh menu (Esc after a pack name that was not found)
    Quit,       // Quit or Esc: the program ends
};

MenuEnd runMainMenu();
