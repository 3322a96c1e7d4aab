// The lock is flock on the hidraw node itself: every user who may open the
// board may open its node, and no writable lock folder is needed.
#include <fcntl.h>

#include "link/board_lock_posix.h"

BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token)
{
    // A path that is no node we can open (a simulated board, or one this user
    // may not open, which the open that follows reports in its own words)
    // is not lockable.
    return LockDescriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK), token);
}
