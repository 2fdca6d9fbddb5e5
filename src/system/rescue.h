// A copy of unsaved work that a signal handler can write. Everything it
// needs is prepared while arming; writing it touches only fixed buffers and
// makes only async-signal-safe calls (and mkdtemp, which on this system
// makes only getrandom and mkdir calls).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct RescuePlan {
    // The work's own folder, as a descriptor (duplicated while armed), and
    // the copy's name there; -1: no place beside the work.
    int besideFolder = -1;
    std::string besideName;
    std::string besideShown;  // how the report names that place
    std::string stateFolder;  // the user's own folder for copies, made (700) when missing; "" none
    // The state folder as it is reached: the nearest folder of its path that
    // is there (a descriptor, duplicated while armed, reached without
    // following another user's link) and the parts below it still to make.
    // -1 with stateRefused set: why the state folder is not used.
    int stateBase = -1;
    std::string stateRest;
    std::string stateRefused;
    std::string temporaryFolder;  // where a private folder is made with mkdtemp; "" none
    std::string secondName;       // the copy's name in those two
    std::string program;          // the report's first word ("quorvex-edit")
    std::string what;             // what is kept ("the unsaved room")
};
constexpr size_t rescueTextLimit = 16384;

// False, and nothing armed (so no older state is ever written), when the
// plan or the text does not fit its buffers.
bool armRescueCopy(const RescuePlan& plan, std::string_view text);
void disarmRescueCopy();
// Writes the armed copy once: beside the work, else in the state folder,
// else in a private folder made in the temporary folder. A copy never
// replaces another file: where its name is taken (another editor with the
// same process number, in another PID namespace or after the numbers
// wrapped), it is NAME-1, NAME-2, ... before ".rescue". The state folder is
// used only when it is the user's own and no one else may write in it.
// Appends the report to rescue.log there when that is a regular file of
// the user's own (opened without waiting, so a FIFO planted there cannot
// hold the editor), so a run whose standard error went nowhere loses
// nothing. Returns the report lines (every place tried, each ending in a
// newline); empty when nothing was armed.
std::string_view writeArmedRescueCopy();
// Removes copies' temporary files that killed runs left in the folder
// ("NAME.PID.rescue.tmp" or "NAME.PID-N.rescue.tmp" of a PID that is gone).
void removeRescueLeftovers(int folder);
// The temporary name a copy is written under before it is renamed.
std::string rescueTemporaryName(std::string_view name);
