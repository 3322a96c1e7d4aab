// The lock is flock on the hidraw node itself: every user who may open the
// board may open its node, and no writable lock folder is needed. The lock
// goes with the descriptor, so a program that dies lets go of it.
#include "link/board_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token)
{
    token.value = -1;
    // Not a node we can open (a simulated board, or one this user may not
    // open, which the open that follows reports in its own words).
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return BoardLockResult::kNotLockable;
    int r;
    do {
        r = flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? BoardLockResult::kBusy : BoardLockResult::kNotLockable;
    }
    token.value = fd;
    return BoardLockResult::kTaken;
}

void UnlockBoard(BoardLockToken& token)
{
    if (token.value >= 0)
        close(static_cast<int>(token.value));
    token.value = -1;
}
