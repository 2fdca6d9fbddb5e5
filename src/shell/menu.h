// The brick-wall main menu and its pack prompt.
#pragma once

enum class MenuEnd {
    // The game's counters and mode are set: room game.levelNumber is next.
    NewGame,
    Continue,
    PackGame,
    Redraw,  // back to a fresh menu (Esc after a pack name that was not found)
    Quit,    // Quit or Esc: the program ends
};

MenuEnd runMainMenu();
