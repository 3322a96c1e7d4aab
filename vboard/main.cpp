// velkor-virtual-board: the simulated board as a USB HID device on this
// machine's kernel, through /dev/uhid, so the real programs with their real
// HID backends can be run without a board.
#include <fcntl.h>
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
#include "vboard/uhid_device.h"

using namespace vboard;

namespace {

using Clock = UhidDevice::Clock;

// The kernel keeps this many unread input reports per reader.
constexpr int kKernelQueue = 64;

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
    if (!config.next.empty() || config.gapMs > 0 || config.attachedMs >= 0)
        return "key \"boards\": this is one device; start one virtual board per board, one after another";
    if (config.openedVendorId != SimConfig().openedVendorId || config.openedProductId != SimConfig().openedProductId)
        return "key \"opened_ids\": a real device lists and opens with the same ids";
    if (config.noise >= kKernelQueue)
        return "key \"noise\": at most " + std::to_string(kKernelQueue - 1) +
               " on a real link (the kernel keeps " + std::to_string(kKernelQueue) +
               " unread reports and drops the rest)";
    return {};
}

// -1 to go on; otherwise the exit code after the usage text.
int Usage(int argc, char** argv)
{
    if (argc <= 2 && !(argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)))
        return -1;
    std::fprintf(argc > 2 ? stderr : stdout,
                 "usage: %s [SCENARIO]\n"
                 "Makes the simulated board a USB HID device (%04x:%04x) through /dev/uhid until\n"
                 "SIGINT or SIGTERM. SCENARIO is a scenario file or \"demo\" (the default).\n",
                 kName, kVendorId, kProductId);
    return argc > 2 ? 2 : 0;
}

bool LoadConfig(int argc, char** argv, SimConfig& config)
{
    std::string error;
    if (!LoadScenario(argc == 2 ? argv[1] : "demo", config, error)) {
        std::fprintf(stderr, "%s: %s\n", kName, error.c_str());
        return false;
    }
    const std::string unrealisable = Unrealisable(config);
    if (!unrealisable.empty()) {
        std::fprintf(stderr, "%s: scenario \"%s\": %s\n", kName, argv[1], unrealisable.c_str());
        return false;
    }
    return true;
}

int OpenUhid()
{
    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        std::fprintf(stderr, "%s: cannot open /dev/uhid: %s; %s\n", kName, std::strerror(e),
                     e == ENOENT || e == ENODEV
                         ? "load the uhid module (sudo modprobe uhid)"
                         : "run as root, or give your user access to /dev/uhid with a udev rule "
                           "(see docs/virtual-board.md)");
    }
    return fd;
}

// SIGINT and SIGTERM arrive on the returned descriptor, for the poll loop.
int StopSignals()
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    return signalfd(-1, &stop, SFD_CLOEXEC);
}

struct Replug {
    std::chrono::milliseconds delay;
    Clock::time_point at;
    bool pending;
};

// Until the replug or the next chatter report, whichever is due first.
int PollTimeout(const UhidDevice& device, const Replug& replug)
{
    int timeout = -1;
    if (!device.Plugged() && replug.pending) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(replug.at - Clock::now());
        timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
    }
    const int chatterWait = device.ChatterWaitMs();
    if (chatterWait >= 0 && (timeout < 0 || chatterWait < timeout))
        timeout = chatterWait;
    return timeout;
}

// After an event: false when a due replug cannot create the device again.
bool FollowCable(SimBoard& board, UhidDevice& device, Replug& replug, bool wasPlugged)
{
    if (wasPlugged && !device.Plugged()) {
        replug.at = Clock::now() + replug.delay;  // each unplug has its own replug
    } else if (!device.Plugged() && replug.pending && Clock::now() >= replug.at) {
        board.SetPresent(true);
        return device.Plug();
    }
    return true;
}

// The poll loop, until a stop signal (0) or a failure (1).
int Serve(int fd, int sfd, SimBoard& board, UhidDevice& device, int replugAfterMs)
{
    const auto delay = std::chrono::milliseconds(replugAfterMs);
    Replug replug{delay, Clock::now() + delay, replugAfterMs >= 0};
    if (board.Present()) {
        if (!device.Plug())
            return 1;
    } else if (!replug.pending) {
        std::printf("%s: the scenario's board is not plugged in\n", kName);
        std::fflush(stdout);
    }
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {sfd, POLLIN, 0}};
        if (poll(fds, 2, PollTimeout(device, replug)) < 0 && errno != EINTR)
            return 1;
        if (fds[1].revents & POLLIN)
            return 0;
        const bool wasPlugged = device.Plugged();
        bool failed = false;
        if ((fds[0].revents & POLLIN) && !device.Handle()) {
            std::fprintf(stderr, "%s: reading /dev/uhid failed: %s\n", kName, std::strerror(errno));
            failed = true;
        }
        device.ChatterIfDue();
        if (!FollowCable(board, device, replug, wasPlugged) || failed)
            return 1;
    }
}

// The dump a scenario asks for, written once more when we stop (with no
// handle open it would otherwise not reflect the end state).
void FinalDump(SimBoard& board, UhidDevice& device)
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
    const int usage = Usage(argc, argv);
    if (usage >= 0)
        return usage;
    SimConfig config;
    if (!LoadConfig(argc, argv, config))
        return 2;
    const int fd = OpenUhid();
    if (fd < 0)
        return 1;
    const int sfd = StopSignals();

    SimBoard board(config);
    board.SetReadTimeoutMs(0);
    UhidDevice device(fd, board, config.chatterMs);
    int rc = Serve(fd, sfd, board, device, config.replugAfterMs);
    FinalDump(board, device);
    if (!board.DumpError().empty())
        rc = 1;
    close(fd);  // destroys the device if it is still there
    return rc;
}
