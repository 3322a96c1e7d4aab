// In the browser the page is the only program that reaches the board through
// its own grant, and the browser itself keeps other pages off an open device.
#include "link/board_lock.h"

BoardLockResult TryLockBoard(const std::string& /*path*/, BoardLockToken& token)
{
    token.value = -1;
    return BoardLockResult::kNotLockable;
}

void UnlockBoard(BoardLockToken& token)
{
    token.value = -1;
}
