// The two ends of a game. Both return to the screen flow, which goes on to
// the menu or ends the program.
#pragma once

// The game-over screen; returns after Enter.
void showGameOver();

enum class FinaleEnd { Menu, Leave };
// The scripted ending over room 22, with the credits: Menu at its end or
// when Enter skips the credits, Leave when Esc ends the program.
FinaleEnd playFinalSequence();
