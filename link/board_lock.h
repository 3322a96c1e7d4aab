// A system-wide lock on one board, held by a job from its open to its close,
// so that two programs (two windows, the window and velkor, two users) never
// talk to one board at once: every open handle sees every reply, and a
// second program's requests would land in the middle of an update.
// One file per platform: board_lock_linux.cpp, board_lock_macos.cpp (both on
// board_lock_posix.cpp), board_lock_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

enum class BoardLockResult {
    kTaken,       // ours until UnlockBoard
    kBusy,        // another program holds it
    kNotLockable,  // the path names nothing this platform can lock: go on
    kUnsafe        // the lock cannot be taken safely (macOS: board_lock_macos.cpp)
};

struct BoardLockToken {
    intptr_t value = -1;
};

// How long an open waits for a board another program holds: that program's
// detection holds it for one short exchange a second.
constexpr int kBoardLockGraceMs = 600;

// Never waits, but in the browser (board_lock_web.cpp).
BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token);
void UnlockBoard(BoardLockToken& token);
