// macOS names HID devices by IOService paths, not files: the lock is a file
// in the shared temporary folder named after the path, which every user may
// open. The system's HID manager also opens devices exclusively, so this lock
// mostly turns its refusal into a clear word.
#include "link/board_lock.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string LockFilePath(const std::string& path)
{
    // FNV-1a: a stable short name for a long path.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : path) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/velkor-board-%016llx.lock", static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token)
{
    token.value = -1;
    const int fd = open(LockFilePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return BoardLockResult::kNotLockable;
    fchmod(fd, 0666);  // past the umask, so the next user can open it too
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
