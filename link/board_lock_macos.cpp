// macOS names HID devices by IOService paths, not files: the lock is a file
// in the shared temporary folder named after the path, which every user may
// open. The system's HID manager also opens devices exclusively, so this lock
// mostly turns its refusal into a clear word.
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

#include "link/board_lock_posix.h"

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
    const int fd = open(LockFilePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0)
        fchmod(fd, 0666);  // past the umask, so the next user can open it too
    return LockDescriptor(fd, token);
}
