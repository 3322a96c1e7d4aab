#include "cli/log_file.h"

#include <windows.h>

#include "update/utf8_win32.h"

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::string LastError()
{
    return "Windows error " + std::to_string(GetLastError());
}

}  // namespace

LogFile::~LogFile()
{
    if (IsOpen())
        CloseHandle(AsHandle(handle_));
}

bool LogFile::Open(const std::string& path, std::string& error)
{
    // Append-only access: every write lands at the end, whoever else appends.
    const HANDLE h = CreateFileW(WideFromUtf8(path.c_str()).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastError();
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool LogFile::Append(const std::string& line, std::string& error)
{
    DWORD written = 0;
    if (WriteFile(AsHandle(handle_), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size())
        return true;
    error = LastError();
    return false;
}
