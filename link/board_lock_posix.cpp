#include "link/board_lock_posix.h"

#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

BoardLockResult LockDescriptor(int fd, BoardLockToken& token)
{
    token.value = -1;
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
