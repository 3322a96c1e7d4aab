// The five HID operations the board link is built on. Each backend lives in
// a file of its own (hid_sim.cpp, hid_hidapi.cpp, hid_win32.cpp); CMake links
// the ones a program may use and the program picks one at start, so nothing
// above this header knows which it talks to.
#pragma once

#include <cstdint>

// Every backend's read gives up after this long without an input report and
// returns a negative result. Without it a silent board would keep the worker
// reading for ever, in the middle of an update.
constexpr int kHidReadTimeoutMs = 5000;

constexpr int kHidShortReportSize = 9;
constexpr int kHidLongReportSize = 73;

struct HidBackend {
    // Returns a handle of 0 or more, or a negative value when no board could
    // be opened. The third argument is always 0.
    int32_t (*open)(uint16_t vendorId, uint16_t productId, int32_t reserved);
    // Writes a 9-byte report, report id in byte 0. Negative: not sent.
    int32_t (*writeShort)(int32_t handle, const uint8_t* report, int32_t length);
    // Reads the next 9-byte input report. Negative: failure (including the
    // time-out above); 0 or more: buf holds the report. The count is not
    // examined.
    int32_t (*read)(int32_t handle, uint8_t* buf, int32_t length);
    // Writes a 73-byte report, report id in byte 0. Negative: not sent.
    int32_t (*writeLong)(int32_t handle, const uint8_t* report, int32_t length);
    // Releases the handle. The result carries no meaning.
    int32_t (*close)(int32_t handle);
};

// Defined only in the programs that link the backend's file.
extern const HidBackend kSimHidBackend;
extern const HidBackend kHidapiBackend;
extern const HidBackend kWin32HidBackend;

// The backend the operations below go to; nullptr (the start) opens nothing.
void SetHidBackend(const HidBackend* backend);

int32_t HidOpen(uint16_t vendorId, uint16_t productId, int32_t reserved);
int32_t HidWriteShort(int32_t handle, const uint8_t* report, int32_t length);
int32_t HidRead(int32_t handle, uint8_t* buf, int32_t length);
int32_t HidWriteLong(int32_t handle, const uint8_t* report, int32_t length);
int32_t HidClose(int32_t handle);
