// Playing a room: the room loop, one tick of the rules, the room's end.
#pragma once

// Plays the loaded and drawn room, then every room after it. Never returns.
[[noreturn]] void playRoom();
