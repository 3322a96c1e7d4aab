// macOS names HID devices by IOService paths, not files: the lock is a file
// in the shared temporary folder named after the path, so that every user's
// programs meet at it. The system's HID manager also opens devices
// exclusively, so this lock mostly turns its refusal into a clear word.
//
// Any user may make that file first, so it is trusted only as far as it can
// be checked: the one who creates it (O_EXCL) makes it 0666; anyone else opens
// it read-only without following a symlink, never changes it, and uses it only
// when it is a regular file with one link and mode 0666, still the one the
// name leads to once locked. Anything else (a symlink, a FIFO, a hard link to
// some other file, a file its owner made private or replaced) could be a trap
// laid by another user or leave two programs on one board: the open is
// refused as kUnsafe, which the user is told, rather than going on unlocked.
// A folder of our own would not be shared with other users' programs.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/board_lock_posix.h"

namespace {

constexpr mode_t kLockMode = 0666;

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

// The file as we would have made it, and still under its name.
bool IsSoundLock(int fd, const std::string& name)
{
    struct stat opened;
    struct stat named;
    return fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 1 &&
           (opened.st_mode & 07777) == kLockMode && lstat(name.c_str(), &named) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

}  // namespace

BoardLockResult TryLockBoard(const std::string& path, BoardLockToken& token)
{
    token.value = -1;
    const std::string name = LockFilePath(path);
    int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLockMode);
    if (fd >= 0)
        fchmod(fd, kLockMode);  // ours and new: past the umask, so other users can open it too
    else if (errno == EEXIST)  // non-blocking: a FIFO in its place must not hang the open
        fd = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return BoardLockResult::kUnsafe;
    const BoardLockResult result = LockDescriptor(fd, token);
    // Checked once locked, so a file replaced meanwhile is seen.
    if (result == BoardLockResult::kTaken && !IsSoundLock(fd, name)) {
        UnlockBoard(token);
        return BoardLockResult::kUnsafe;
    }
    return result;
}
