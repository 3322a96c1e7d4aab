#include "cli/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LogFile::~LogFile()
{
    if (IsOpen())
        close(static_cast<int>(handle_));
}

bool LogFile::Open(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, "", 0) < 0) {
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
    const ssize_t written = write(static_cast<int>(handle_), line.data(), line.size());
    if (written == static_cast<ssize_t>(line.size()))
        return true;
    error = written < 0 ? std::strerror(errno) : "the line was cut short";
    return false;
}
