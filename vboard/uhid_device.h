// The simulated board behind a device made through /dev/uhid: creates and
// destroys it, answers the kernel's events, and passes output reports to the
// board and its replies back.
#pragma once

#include <linux/uhid.h>

#include <chrono>
#include <cstdint>

class SimBoard;

namespace vboard {
constexpr const char* kName = "velkor-virtual-board";
constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kProductId = 0xFC31;
}  // namespace vboard

class UhidDevice {
public:
    using Clock = std::chrono::steady_clock;

    UhidDevice(int fd, SimBoard& board, int chatterMs) : fd_(fd), board_(board), chatter_(chatterMs) {}

    bool Plugged() const { return plugged_; }
    // Milliseconds until the next chatter report is due; -1 when none will be.
    int ChatterWaitMs() const;
    void ChatterIfDue();
    bool Plug();
    void Unplug();
    // One event from the kernel; false when /dev/uhid fails.
    bool Handle();
    void CloseHandle();

private:
    void Output(const uint8_t* data, size_t size);
    void RefuseReport(uhid_event& ev);
    bool Send(const uhid_event& ev);

    int fd_;
    SimBoard& board_;
    const std::chrono::milliseconds chatter_;
    Clock::time_point chatterAt_{};
    bool plugged_ = false;
    int32_t handle_ = -1;
};
