// Runs played back, and the lists of runs and bests the command line prints.
#pragma once

#include <string>

#include "game/runfile.h"

// Plays the run back in the game's own screens and sounds, a tick each
// 75 ms, on the console already open: Space pauses, Right steps a tick
// while paused, + and - set the speed (1/4 x to 16 x), Left goes back a
// second and Home to the room's start (from keyframes of the world, never
// by playing from the start), Esc leaves. A room file that is not the one
// recorded, or a tick that comes out otherwise than recorded, stops it with
// a line on the screen (replayStopLine) and status 1. The exit status.
int replayRun(const RecordedRun& recorded);
const std::string& replayStopLine();
// For tools that time it: the run made ready to replay, and its first room
// moved to a tick, back or on, as Left, Home and Right move it (false, and
// the stop line, when the room is not as recorded).
void openReplay(const RecordedRun& recorded);
bool replaySeek(size_t tick);

// `quorvex --replay` without a file: the runs kept, newest first, then the
// best runs. `quorvex --scores`: the bests of every room played, the main
// series first, then each pack. The exit status; out and err the texts.
int listRuns(std::string& out, std::string& err);
int printScores(std::string& out, std::string& err);
