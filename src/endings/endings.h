#pragma once

// The game-over screen; ends in the main menu.
[[noreturn]] void showGameOver();
// The scripted ending after room 22 with the credits.
[[noreturn]] void playFinalSequence();
