#include "vboard/uhid_device.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/sim_board.h"

using namespace vboard;

namespace {

constexpr size_t kShortSize = 9;   // report id + 8 bytes
constexpr size_t kLongSize = 73;   // report id + 72 bytes
constexpr uint8_t kUploadData = 0x10;
constexpr uint8_t kChatterCode = 0xEE;  // awaited by no exchange

// Vendor page 0xFF00, no report ids: one 8-byte input and one 72-byte
// output report.
constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x95, 0x08,        //   report count 8
    0x09, 0x01,        //   usage 1
    0x81, 0x02,        //   input (data, variable, absolute)
    0x95, 0x48,        //   report count 72
    0x09, 0x01,        //   usage 1
    0x91, 0x02,        //   output (data, variable, absolute)
    0xC0,              // end collection
};

// Every request reaches us padded to the whole output report, so a short
// command is told from a long report by content. A code block could start
// with a command's code; one whose other 64 bytes are all zero cannot be
// told from a command, and such a block is not a plausible encrypted one.
bool IsShortInLoader(const uint8_t* report)
{
    static constexpr uint8_t kKnown[] = {0x00, 0x01, 0x02, 0x06, 0x08, 0x40, 0x90, 0xC0, 0xC2};
    if (std::find(std::begin(kKnown), std::end(kKnown), report[1]) == std::end(kKnown))
        return false;
    return std::all_of(report + kShortSize, report + kLongSize, [](uint8_t b) { return b == 0; });
}

}  // namespace

// Replies go out while their request is handled, so between events the
// board never owes one (a silent command's never comes): it chatters
// whenever a program has it open.
int UhidDevice::ChatterWaitMs() const
{
    if (chatter_.count() <= 0 || !plugged_ || handle_ < 0)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(chatterAt_ - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

void UhidDevice::ChatterIfDue()
{
    if (ChatterWaitMs() != 0)
        return;
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = kShortSize - 1;
    ev.u.input2.data[0] = kChatterCode;
    Send(ev);
    // A loop that fell behind goes on from now rather than in a burst.
    chatterAt_ = std::max(chatterAt_ + chatter_, Clock::now());
}

bool UhidDevice::Plug()
{
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof ev.u.create2.name,
                  "Velkor virtual board");
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.phys), sizeof ev.u.create2.phys, "%s", kName);
    ev.u.create2.rd_size = sizeof kReportDescriptor;
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = kVendorId;
    ev.u.create2.product = kProductId;
    std::memcpy(ev.u.create2.rd_data, kReportDescriptor, sizeof kReportDescriptor);
    if (!Send(ev))
        return false;
    plugged_ = true;
    std::printf("%s: /dev/uhid device created (%04x:%04x)\n", kName, kVendorId, kProductId);
    std::fflush(stdout);
    return true;
}

void UhidDevice::Unplug()
{
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    Send(ev);
    plugged_ = false;
    CloseHandle();
    std::printf("%s: device unplugged\n", kName);
    std::fflush(stdout);
}

bool UhidDevice::Handle()
{
    uhid_event ev{};
    const ssize_t n = read(fd_, &ev, sizeof ev);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    switch (ev.type) {
    case UHID_OPEN:
        if (handle_ < 0) {
            handle_ = board_.Open(kVendorId, kProductId, 0);
            chatterAt_ = Clock::now() + chatter_;
        }
        break;
    case UHID_CLOSE:
        CloseHandle();
        break;
    case UHID_OUTPUT:
        Output(ev.u.output.data, std::min<size_t>(ev.u.output.size, UHID_DATA_MAX));
        break;
    case UHID_GET_REPORT:
    case UHID_SET_REPORT:
        RefuseReport(ev);
        break;
    default:
        break;
    }
    // A scenario's unplug_after pulls the real cable.
    if (plugged_ && !board_.Present())
        Unplug();
    return true;
}

// The board has no feature reports.
void UhidDevice::RefuseReport(uhid_event& ev)
{
    if (ev.type == UHID_GET_REPORT) {
        const uint32_t id = ev.u.get_report.id;
        ev = {};
        ev.type = UHID_GET_REPORT_REPLY;
        ev.u.get_report_reply.id = id;
        ev.u.get_report_reply.err = EIO;
    } else {
        const uint32_t id = ev.u.set_report.id;
        ev = {};
        ev.type = UHID_SET_REPORT_REPLY;
        ev.u.set_report_reply.id = id;
        ev.u.set_report_reply.err = EIO;
    }
    Send(ev);
}

void UhidDevice::CloseHandle()
{
    if (handle_ >= 0)
        board_.Close(handle_);  // writes the dump, as the simulated link does
    handle_ = -1;
}

void UhidDevice::Output(const uint8_t* data, size_t size)
{
    // The board takes whole output reports only; a host that sends less
    // would lose its request on a real board too.
    if (size != kLongSize) {
        std::fprintf(stderr, "%s: ignored an output report of %zu bytes (the board takes %zu)\n", kName,
                     size, kLongSize);
        return;
    }
    if (handle_ < 0)
        return;
    uint8_t report[kLongSize];
    std::memcpy(report, data, size);
    const bool isLong = board_.InLoader() ? !IsShortInLoader(report) : report[1] == kUploadData;
    const int32_t written = isLong ? board_.WriteLong(handle_, report, kLongSize)
                                   : board_.WriteShort(handle_, report, kShortSize);
    if (written < 0)
        return;
    // The board's read time-out is 0: this takes what is queued and stops.
    uint8_t reply[kShortSize];
    while (board_.Read(handle_, reply, sizeof reply) == static_cast<int32_t>(kShortSize)) {
        uhid_event ev{};
        ev.type = UHID_INPUT2;
        ev.u.input2.size = kShortSize - 1;
        std::memcpy(ev.u.input2.data, reply + 1, kShortSize - 1);
        Send(ev);
    }
}

bool UhidDevice::Send(const uhid_event& ev)
{
    if (write(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev))
        return true;
    std::fprintf(stderr, "%s: /dev/uhid refused an event: %s\n", kName, std::strerror(errno));
    return false;
}
