// The firmware file as the platform gives it: unbuffered reads straight into
// the caller's buffer, so the file position after each record is exactly the
// end of that record (it drives the progress bar). One implementation per
// platform: file_posix.cpp, file_win32.cpp.
#pragma once

#include <cstdint>

using FirmwareFile = intptr_t;
constexpr FirmwareFile kNoFile = -1;

// Opens an existing file for reading, other readers allowed. A directory is
// not a firmware file and does not open. On Windows the path is UTF-8.
FirmwareFile OpenFirmwareFile(const char* path);

// Reads up to count bytes. Returns the number read (less than count only at
// the end of the file) or -1 on an I/O error.
int32_t ReadFirmwareFile(FirmwareFile file, uint8_t* buf, uint32_t count);

bool FirmwareFileSize(FirmwareFile file, uint64_t* size);
bool FirmwareFilePosition(FirmwareFile file, uint64_t* position);
void CloseFirmwareFile(FirmwareFile file);
