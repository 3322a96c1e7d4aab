// POSIX firmware file: open/read/lseek/fstat, no stdio buffering.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "update/firmware_file.h"

FirmwareFile OpenFirmwareFile(const char* path)
{
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return kNoFile;
    // Windows refuses to open a directory as a file; so do we, rather than
    // fail later on the first read.
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kNoFile;
    }
    return fd;
}

int32_t ReadFirmwareFile(FirmwareFile file, uint8_t* buf, uint32_t count)
{
    // A regular file delivers everything in one read; pipes and interrupted
    // reads may need more than one.
    uint32_t total = 0;
    while (total < count) {
        const ssize_t n = ::read(static_cast<int>(file), buf + total, count - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(total);
}

bool FirmwareFileSize(FirmwareFile file, uint64_t* size)
{
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0)
        return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool FirmwareFilePosition(FirmwareFile file, uint64_t* position)
{
    const off_t pos = ::lseek(static_cast<int>(file), 0, SEEK_CUR);
    if (pos < 0)
        return false;
    *position = static_cast<uint64_t>(pos);
    return true;
}

void CloseFirmwareFile(FirmwareFile file)
{
    ::close(static_cast<int>(file));
}
