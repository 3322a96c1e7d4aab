// velkor-virtual-board: the simulated board as a USB HID device on this
// machine's kernel, through /dev/uhid, so the real programs with their real
// HID backends can be run without a board.
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/scenario.h"
#include "sim/sim_board.h"

namespace {

constexpr const char* kName = "velkor-virtual-board";
constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kProductId = 0xFC31;
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

// The kernel keeps this many unread input reports per reader.
constexpr int kKernelQueue = 64;

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

// What a scenario asks of the link that a real link cannot give; empty when
// nothing.
std::string Unrealisable(const SimConfig& config)
{
    for (const SimFault& fault : config.faults) {
        if (fault.kind == SimFaultKind::kWriteFail)
            return "key \"link_fail\": \"write\" fails a write the host never sees on a real link";
        if (fault.kind == SimFaultKind::kReadFail)
            return "key \"link_fail\": \"read\" cannot fail at once on a real link, a lost reply only "
                   "times out (use \"silent\")";
    }
    if (config.usbFullSpeedTiming)
        return "key \"latency\": the real link sets its own pace";
    if (config.readTimeoutMs != SimConfig().readTimeoutMs)
        return "key \"read_timeout_ms\": on a real link the host decides how long it waits";
    if (!config.devicePath.empty())
        return "key \"device_path\": the kernel names a real device's node";
    if (config.noise >= kKernelQueue)
        return "key \"noise\": at most " + std::to_string(kKernelQueue - 1) +
               " on a real link (the kernel keeps " + std::to_string(kKernelQueue) +
               " unread reports and drops the rest)";
    return {};
}

class VirtualBoard {
public:
    using Clock = std::chrono::steady_clock;

    VirtualBoard(int fd, SimBoard& board, int chatterMs) : fd_(fd), board_(board), chatter_(chatterMs) {}

    bool Plugged() const { return plugged_; }

    // Milliseconds until the next chatter report is due; -1 when none will be.
    // Replies go out while their request is handled, so between events the
    // board never owes one (a silent command's never comes): it chatters
    // whenever a program has it open.
    int ChatterWaitMs() const
    {
        if (chatter_.count() <= 0 || !plugged_ || handle_ < 0)
            return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(chatterAt_ - Clock::now());
        return static_cast<int>(std::max<int64_t>(0, left.count()));
    }

    void ChatterIfDue()
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

    bool Plug()
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

    void Unplug()
    {
        uhid_event ev{};
        ev.type = UHID_DESTROY;
        Send(ev);
        plugged_ = false;
        CloseHandle();
        std::printf("%s: device unplugged\n", kName);
        std::fflush(stdout);
    }

    // One event from the kernel; false when /dev/uhid fails.
    bool Handle()
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
        case UHID_GET_REPORT: {
            // The board has no feature reports.
            const uint32_t id = ev.u.get_report.id;
            ev = {};
            ev.type = UHID_GET_REPORT_REPLY;
            ev.u.get_report_reply.id = id;
            ev.u.get_report_reply.err = EIO;
            Send(ev);
            break;
        }
        case UHID_SET_REPORT: {
            const uint32_t id = ev.u.set_report.id;
            ev = {};
            ev.type = UHID_SET_REPORT_REPLY;
            ev.u.set_report_reply.id = id;
            ev.u.set_report_reply.err = EIO;
            Send(ev);
            break;
        }
        default:
            break;
        }
        // A scenario's unplug_after pulls the real cable.
        if (plugged_ && !board_.Present())
            Unplug();
        return true;
    }

    void CloseHandle()
    {
        if (handle_ >= 0)
            board_.Close(handle_);  // writes the dump, as the simulated link does
        handle_ = -1;
    }

private:
    void Output(const uint8_t* data, size_t size)
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

    bool Send(const uhid_event& ev)
    {
        if (write(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev))
            return true;
        std::fprintf(stderr, "%s: /dev/uhid refused an event: %s\n", kName, std::strerror(errno));
        return false;
    }

    int fd_;
    SimBoard& board_;
    const std::chrono::milliseconds chatter_;
    Clock::time_point chatterAt_{};
    bool plugged_ = false;
    int32_t handle_ = -1;
};

// The dump a scenario asks for, written once more when we stop (with no
// handle open it would otherwise not reflect the end state).
void FinalDump(SimBoard& board, VirtualBoard& device)
{
    device.CloseHandle();
    if (!board.Present())
        board.SetPresent(true);
    const int32_t handle = board.Open(kVendorId, kProductId, 0);
    if (handle >= 0)
        board.Close(handle);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))) {
        std::fprintf(argc > 2 ? stderr : stdout,
                     "usage: %s [SCENARIO]\n"
                     "Makes the simulated board a USB HID device (%04x:%04x) through /dev/uhid until\n"
                     "SIGINT or SIGTERM. SCENARIO is a scenario file or \"demo\" (the default).\n",
                     kName, kVendorId, kProductId);
        return argc > 2 ? 2 : 0;
    }
    SimConfig config;
    std::string error;
    if (!LoadScenario(argc == 2 ? argv[1] : "demo", config, error)) {
        std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
        return 2;
    }
    const std::string unrealisable = Unrealisable(config);
    if (!unrealisable.empty()) {
        std::fprintf(stderr, "%s: scenario \"%s\": %s\n", kName, argv[1], unrealisable.c_str());
        return 2;
    }

    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        std::fprintf(stderr, "%s: cannot open /dev/uhid: %s; %s\n", kName, std::strerror(e),
                     e == ENOENT || e == ENODEV
                         ? "load the uhid module (sudo modprobe uhid)"
                         : "run as root, or give your user access to /dev/uhid with a udev rule "
                           "(see docs/virtual-board.md)");
        return 1;
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    const int sfd = signalfd(-1, &stop, SFD_CLOEXEC);

    SimBoard board(config);
    board.SetReadTimeoutMs(0);
    VirtualBoard device(fd, board, config.chatterMs);

    using Clock = VirtualBoard::Clock;
    const auto replugDelay = std::chrono::milliseconds(config.replugAfterMs);
    Clock::time_point replugAt = Clock::now() + replugDelay;
    bool replugPending = config.replugAfterMs >= 0;
    int rc = 0;
    if (board.Present()) {
        if (!device.Plug())
            rc = 1;
    } else if (!replugPending) {
        std::printf("%s: the scenario's board is not plugged in\n", kName);
        std::fflush(stdout);
    }

    while (rc == 0) {
        int timeout = -1;
        if (!device.Plugged() && replugPending) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(replugAt - Clock::now());
            timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        const int chatterWait = device.ChatterWaitMs();
        if (chatterWait >= 0 && (timeout < 0 || chatterWait < timeout))
            timeout = chatterWait;
        pollfd fds[2] = {{fd, POLLIN, 0}, {sfd, POLLIN, 0}};
        const int n = poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) {
            rc = 1;
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        const bool wasPlugged = device.Plugged();
        if ((fds[0].revents & POLLIN) && !device.Handle()) {
            std::fprintf(stderr, "%s: reading /dev/uhid failed: %s\n", kName, std::strerror(errno));
            rc = 1;
        }
        device.ChatterIfDue();
        if (wasPlugged && !device.Plugged()) {
            replugAt = Clock::now() + replugDelay;  // each unplug has its own replug
        } else if (!device.Plugged() && replugPending && Clock::now() >= replugAt) {
            board.SetPresent(true);
            if (!device.Plug())
                rc = 1;
        }
    }

    FinalDump(board, device);
    if (!board.DumpError().empty())
        rc = 1;
    close(fd);  // destroys the device if it is still there
    return rc;
}
