// Playing a room: the room loop.
#pragma once

#include <optional>

#include "game/tick.h"

// How a room loop ended; the screen flow (shell/flow.cpp) takes it from there.
enum class RoomEnd {
    Exit,      // the exit reached, after the tick's pause: completeRoom is next
    GameOver,  // the last life lost: the game-over screen is next
    Quit,      // the quit prompt answered Y: back to the menu
    Leave,     // Esc: the program ends
};

// Runs a room command at once (tick.h): the room's end when it ends the
// room, nothing when play goes on (the quit prompt answered No included).
std::optional<RoomEnd> runRoomCommand(RoomCommand command);

// Plays the loaded and drawn room from its start until it ends. ticksPlayed:
// the ticks it ran.
RoomEnd playRoom(int* ticksPlayed = nullptr);
