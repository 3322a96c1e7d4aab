// The --log file: opened for appending, and each line handed to the system in
// one write, so a process killed mid-run leaves whole lines only.
#pragma once

#include <cstdint>
#include <string>

class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens or creates the file for appending, and makes sure it takes
    // writes at all (a full device refuses even an empty one).
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return handle_ != kClosed; }
    bool Append(const std::string& line, std::string& error);

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle_ = kClosed;
};
