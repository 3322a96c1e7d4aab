// The HID operations the board link is built on. Each backend lives in a file
// of its own (sim/hid_sim.cpp, hid_hidapi.cpp, hid_win32.cpp); CMake links the
// ones a program may use and the program picks one at start, so nothing above
// this header knows which it talks to. The browser build has hid_webhid.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How long an exchange waits for its reply, counted from the request's write
// (board_link.h). A backend's read waits at most the time it is given.
constexpr int kHidReadTimeoutMs = 5000;

constexpr int kHidShortReportSize = 9;
constexpr int kHidLongReportSize = 73;

struct HidBackend {
    // The paths of the attached devices with these ids that can be the board,
    // in the system's order. A path names one device for as long as it stays
    // plugged in.
    std::vector<std::string> (*list)(uint16_t vendorId, uint16_t productId);
    // Returns a handle of 0 or more, or a negative value when the device
    // could not be opened.
    int32_t (*open)(const char* path);
    // Writes a 9-byte report, report id in byte 0. Negative: not sent.
    int32_t (*writeShort)(int32_t handle, const uint8_t* report, int32_t length);
    // Reads the next 9-byte input report, waiting at most timeoutMs for one.
    // Negative: failure (including the time-out); 0 or more: buf holds the
    // report. The count is not examined.
    int32_t (*read)(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs);
    // Writes a 73-byte report, report id in byte 0. Negative: not sent.
    int32_t (*writeLong)(int32_t handle, const uint8_t* report, int32_t length);
    // Releases the handle. The result carries no meaning.
    int32_t (*close)(int32_t handle);
    // The vendor and product ids of the device the handle has open, asked of
    // the device itself rather than of the listing: a node freed by the board
    // may have been given to another device since. False when the backend
    // cannot tell; nullptr for a backend that never can.
    bool (*ids)(int32_t handle, uint16_t& vendorId, uint16_t& productId);
};

// Defined only in the programs that link the backend's file.
extern const HidBackend kSimHidBackend;
extern const HidBackend kHidapiBackend;
extern const HidBackend kWin32HidBackend;
extern const HidBackend kWebHidBackend;

// The backend the operations below go to; nullptr (the start) lists nothing.
void SetHidBackend(const HidBackend* backend);
const HidBackend* CurrentHidBackend();

std::vector<std::string> HidList(uint16_t vendorId, uint16_t productId);
int32_t HidOpen(const char* path);
int32_t HidWriteShort(int32_t handle, const uint8_t* report, int32_t length);
int32_t HidRead(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs);
int32_t HidWriteLong(int32_t handle, const uint8_t* report, int32_t length);
int32_t HidClose(int32_t handle);
bool HidIds(int32_t handle, uint16_t& vendorId, uint16_t& productId);
