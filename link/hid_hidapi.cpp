// HID backend over hidapi (hidraw on Linux). The board's reports are
// unnumbered: report id 0 travels in byte 0 of what we write, and the reports
// we read come without it.
#include "link/hid_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "link/board_link.h"
#include "link/hid.h"

namespace {

// The board has one output report of 72 data bytes. hidraw sends exactly
// what it is given, so every request is padded to that full report.
constexpr size_t kOutputReportSize = 1 + 72;
// Room for the largest input report the device could send; only the first
// eight bytes of a reply mean anything.
constexpr size_t kInputBufferSize = 65;

// Few handles are ever open at once (one per job); the slot index is the
// handle the core sees.
constexpr size_t kMaxHandles = 8;

std::mutex g_mutex;
std::array<hid_device*, kMaxHandles> g_devices{};
bool g_initialised = false;

// hidapi initialises itself on first use, but not thread-safely.
bool Initialise()
{
    if (!g_initialised)
        g_initialised = hid_init() == 0;
    return g_initialised;
}

hid_device* Device(int32_t handle)
{
    if (handle < 0 || static_cast<size_t>(handle) >= kMaxHandles)
        return nullptr;
    return g_devices[static_cast<size_t>(handle)];
}

std::vector<std::string> List(uint16_t vendorId, uint16_t productId)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> paths;
    if (!Initialise())
        return paths;
    hid_device_info* devices = hid_enumerate(vendorId, productId);
    for (hid_device_info* d = devices; d != nullptr; d = d->next)
        if (d->path != nullptr)
            paths.emplace_back(d->path);
    hid_free_enumeration(devices);
    return paths;
}

int32_t Open(const char* path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (path == nullptr || !Initialise())
        return -1;
    const auto free = std::find(g_devices.begin(), g_devices.end(), nullptr);
    if (free == g_devices.end())
        return -1;
    hid_device* device = hid_open_path(path);
    if (device == nullptr)
        return -1;
    *free = device;
    return static_cast<int32_t>(free - g_devices.begin());
}

int32_t Write(int32_t handle, const uint8_t* report, int32_t length)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    hid_device* device = Device(handle);
    if (device == nullptr || report == nullptr || length < 1 ||
        static_cast<size_t>(length) > kOutputReportSize)
        return -1;
    // hid_write takes the report id from byte 0, which is already 0 here.
    uint8_t padded[kOutputReportSize] = {};
    std::memcpy(padded, report, static_cast<size_t>(length));
    const int r = hid_write(device, padded, sizeof padded);
    return r < 0 ? -1 : length;
}

int32_t Read(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs)
{
    // Not held across the read, which may wait for seconds; handles are
    // only ever closed by the thread that reads from them.
    hid_device* device;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        device = Device(handle);
    }
    if (device == nullptr || buf == nullptr || length < 1)
        return -1;
    uint8_t input[kInputBufferSize];
    // hidapi takes 0 as "do not wait" and a negative value as "for ever".
    const int got = hid_read_timeout(device, input, sizeof input, std::max(1, timeoutMs));
    // 0 is hidapi's time-out; to the core a silent board is a failed read.
    if (got <= 0)
        return -1;
    // Callers index the reply from byte 1, as if the report id were there.
    std::memset(buf, 0, static_cast<size_t>(length));
    const size_t copied = std::min(static_cast<size_t>(got), static_cast<size_t>(length - 1));
    std::memcpy(buf + 1, input, copied);
    return static_cast<int32_t>(copied + 1);
}

int32_t Close(int32_t handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    hid_device* device = Device(handle);
    if (device == nullptr)
        return -1;
    hid_close(device);
    g_devices[static_cast<size_t>(handle)] = nullptr;
    return 0;
}

// The ids the open device reports of itself (hidraw asks the kernel about the
// node's device as it is now).
bool Ids(int32_t handle, uint16_t& vendorId, uint16_t& productId)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    hid_device* device = Device(handle);
    const hid_device_info* info = device != nullptr ? hid_get_device_info(device) : nullptr;
    if (info == nullptr)
        return false;
    vendorId = info->vendor_id;
    productId = info->product_id;
    return true;
}

}  // namespace

extern const HidBackend kHidapiBackend = {List, Open, Write, Read, Write, Close, Ids};

bool HidapiBoardPresentButInaccessible()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!Initialise())
        return false;
    hid_device_info* devices = hid_enumerate(kBoardVendorId, kBoardProductId);
    bool listed = false;
    bool opened = false;
    for (hid_device_info* d = devices; d != nullptr && !opened; d = d->next) {
        listed = true;
        if (hid_device* device = hid_open_path(d->path)) {
            hid_close(device);
            opened = true;
        }
    }
    hid_free_enumeration(devices);
    return listed && !opened;
}
