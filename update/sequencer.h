// Moves the board between its application and its loader and remembers the
// mode it last established, so a run of records of one kind costs no exchange.
#pragma once

#include <cstdint>

class JobWindow;

// -1 not yet known, 0 application, 1 loader. Worker thread only.
extern int32_t ProgrammingState;
// 1 once InitProgramming has succeeded since the board last entered its loader.
extern int32_t ProgrammingInitialised;

constexpr int32_t kRequestReset = -1;
constexpr int32_t kRequestApplication = 0;
constexpr int32_t kRequestLoader = 1;

// request < 0 resets the state without an exchange; 0 asks for application
// mode; > 0 for loader mode with programming initialised. Returns -1 after
// showing its own error box, otherwise the mode now held.
int32_t LoaderSequencer(JobWindow& window, int32_t handle, int32_t request);
