// What the Linux and macOS board locks share: flock on a descriptor they
// opened, which goes with the descriptor, so a program that dies lets go.
#pragma once

#include "link/board_lock.h"

// Takes fd (closing it unless the lock is taken) and locks it, never waiting.
BoardLockResult LockDescriptor(int fd, BoardLockToken& token);
