#include "cli/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// A full disk takes an empty write; it is found here, before the job, and
// not when the record has nowhere to go. A pipe or a terminal has no disk.
bool RoomForRecords(int fd)
{
    constexpr unsigned long long kRoom = 64 * 1024;
    struct stat st;
    struct statvfs fs;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fstatvfs(fd, &fs) != 0 ||
        static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize >= kRoom)
        return true;
    errno = ENOSPC;
    return false;
}

}  // namespace

LogFile::~LogFile()
{
    if (IsOpen())
        close(static_cast<int>(handle_));
}

bool LogFile::Open(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, "", 0) < 0 || !RoomForRecords(fd)) {
        error = std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool LogFile::Append(const std::string& line, std::string& error)
{
    const int fd = static_cast<int>(handle_);
    const ssize_t written = write(fd, line.data(), line.size());
    if (written == static_cast<ssize_t>(line.size()))
        return true;
    if (written < 0) {
        error = std::strerror(errno);
        return false;
    }
    // A disk that filled up mid-line: take the part back, unless someone
    // else has appended since.
    struct stat st;
    const off_t end = lseek(fd, 0, SEEK_CUR);
    const bool last = end >= written && fstat(fd, &st) == 0 && st.st_size == end;
    error = last && ftruncate(fd, end - written) == 0 ? "no room for the whole line"
                                                  : "no room for the whole line, and the part written could not be taken back";
    return false;
}
