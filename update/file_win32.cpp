// Win32 firmware file: CreateFileW/ReadFile, no stdio buffering.
#include <windows.h>

#include "update/firmware_file.h"
#include "update/utf8_win32.h"

namespace {

HANDLE ToHandle(FirmwareFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

FirmwareFile OpenFirmwareFile(const char* path)
{
    // The path is UTF-8. Without FILE_FLAG_BACKUP_SEMANTICS a directory does
    // not open.
    HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return kNoFile;
    return reinterpret_cast<FirmwareFile>(h);
}

int32_t ReadFirmwareFile(FirmwareFile file, uint8_t* buf, uint32_t count)
{
    DWORD got = 0;
    if (!ReadFile(ToHandle(file), buf, count, &got, nullptr))
        return -1;
    return static_cast<int32_t>(got);
}

bool FirmwareFileSize(FirmwareFile file, uint64_t* size)
{
    LARGE_INTEGER li;
    if (!GetFileSizeEx(ToHandle(file), &li))
        return false;
    *size = static_cast<uint64_t>(li.QuadPart);
    return true;
}

bool FirmwareFilePosition(FirmwareFile file, uint64_t* position)
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER pos;
    if (!SetFilePointerEx(ToHandle(file), zero, &pos, FILE_CURRENT))
        return false;
    *position = static_cast<uint64_t>(pos.QuadPart);
    return true;
}

void CloseFirmwareFile(FirmwareFile file)
{
    CloseHandle(ToHandle(file));
}
