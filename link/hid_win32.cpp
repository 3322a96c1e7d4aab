// HID backend over the system's own HID class driver (setupapi and hid.dll):
// no library to ship. Reports go through overlapped file I/O so a read can
// give up after kHidReadTimeoutMs.
#include <windows.h>

#include <setupapi.h>
// MinGW's HID headers declare C functions without saying so.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <mutex>
#include <vector>

#include "link/hid.h"

namespace {

constexpr int kMaxDevices = 8;

struct Device {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;  // for the overlapped transfers
    USHORT inputLength = 0;  // report lengths from the device, report id included
    USHORT outputLength = 0;
};

// Handles are indices into this table. Only the comms worker uses it in the
// program, but the table itself must not tear if two threads ever do.
std::mutex g_mutex;
Device g_devices[kMaxDevices];

Device* Find(int32_t handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (handle < 0 || handle >= kMaxDevices || g_devices[handle].file == INVALID_HANDLE_VALUE)
        return nullptr;
    return &g_devices[handle];
}

// Device paths carry the ids ("...#vid_04d8&pid_fc31#..."): no device is
// opened to read them, so the machine's keyboards and mice are left alone.
bool PathNames(const char* path, uint16_t vendorId, uint16_t productId)
{
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendorId, productId);
    std::string lower(path);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower.find(ids) != std::string::npos;
}

// A board may show more than one HID interface; ours is the one with the
// board's report lengths (report id included). Asking takes no access rights.
bool IsBoardInterface(const char* path)
{
    HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps = {};
    bool board = false;
    if (HidD_GetPreparsedData(probe, &preparsed)) {
        board = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS &&
                caps.InputReportByteLength == kHidShortReportSize && caps.OutputReportByteLength == kHidLongReportSize;
        HidD_FreePreparsedData(preparsed);
    }
    CloseHandle(probe);
    return board;
}

bool OpenDevice(const char* path, Device& device)
{
    device.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device.file == INVALID_HANDLE_VALUE)
        return false;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps = {};
    if (HidD_GetPreparsedData(device.file, &preparsed)) {
        if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
            device.inputLength = caps.InputReportByteLength;
            device.outputLength = caps.OutputReportByteLength;
        }
        HidD_FreePreparsedData(preparsed);
    }
    device.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!device.event) {
        CloseHandle(device.file);
        device.file = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

std::vector<std::string> List(uint16_t vendorId, uint16_t productId)
{
    std::vector<std::string> paths;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &iface); ++i) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            continue;
        std::vector<char> buffer(needed);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed, nullptr, nullptr))
            continue;
        if (PathNames(detail->DevicePath, vendorId, productId) && IsBoardInterface(detail->DevicePath))
            paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// Waits for an overlapped transfer; one that does not finish in time is
// cancelled, and waited for, since the buffer must outlive it.
bool Complete(Device& device, OVERLAPPED& overlapped, BOOL started, DWORD timeoutMs, DWORD& transferred)
{
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    if (WaitForSingleObject(device.event, timeoutMs) != WAIT_OBJECT_0) {
        CancelIo(device.file);
        GetOverlappedResult(device.file, &overlapped, &transferred, TRUE);
        return false;
    }
    return GetOverlappedResult(device.file, &overlapped, &transferred, FALSE) != 0;
}

int32_t Write(int32_t handle, const uint8_t* report, int32_t length)
{
    Device* device = Find(handle);
    if (!device || length <= 0)
        return -1;
    // No flush of queued input reports first: Wine does not implement one,
    // and nothing may depend on it. A handle's queue starts empty; each job
    // opens its own and stops at a failed read, except a service command
    // after a failed sequencer step, whose reply code differs and which the
    // link skips. So a reply that outlives its read never answers a request.

    // The driver takes whole reports only: a shorter one is padded with zeros.
    std::vector<uint8_t> buffer(std::max<size_t>(device->outputLength, static_cast<size_t>(length)), 0);
    std::memcpy(buffer.data(), report, static_cast<size_t>(length));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = device->event;
    ResetEvent(device->event);
    DWORD written = 0;
    const BOOL started =
        WriteFile(device->file, buffer.data(), static_cast<DWORD>(buffer.size()), &written, &overlapped);
    if (!Complete(*device, overlapped, started, kHidReadTimeoutMs, written))
        return -1;
    return static_cast<int32_t>(std::min<DWORD>(written, static_cast<DWORD>(length)));
}

int32_t Win32Open(const char* path)
{
    Device device;
    if (path == nullptr || !OpenDevice(path, device))
        return -1;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int32_t i = 0; i < kMaxDevices; ++i) {
        if (g_devices[i].file == INVALID_HANDLE_VALUE) {
            g_devices[i] = device;
            return i;
        }
    }
    CloseHandle(device.event);
    CloseHandle(device.file);
    return -1;
}

int32_t Win32WriteShort(int32_t handle, const uint8_t* report, int32_t length)
{
    return Write(handle, report, length);
}

int32_t Win32WriteLong(int32_t handle, const uint8_t* report, int32_t length)
{
    return Write(handle, report, length);
}

int32_t Win32Read(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs)
{
    Device* device = Find(handle);
    if (!device || buf == nullptr || length <= 0)
        return -1;
    // As the hidapi backend does: a short or failed read never leaves an old
    // reply standing in the caller's buffer.
    std::memset(buf, 0, static_cast<size_t>(length));
    std::vector<uint8_t> buffer(std::max<size_t>(device->inputLength, static_cast<size_t>(length)), 0);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = device->event;
    ResetEvent(device->event);
    DWORD got = 0;
    const BOOL started = ReadFile(device->file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &overlapped);
    if (!Complete(*device, overlapped, started, static_cast<DWORD>(std::max(1, timeoutMs)), got))
        return -1;
    // The report id byte comes first, as the board link expects.
    const DWORD copied = std::min<DWORD>(got, static_cast<DWORD>(length));
    std::memcpy(buf, buffer.data(), copied);
    return static_cast<int32_t>(copied);
}

int32_t Win32Close(int32_t handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (handle < 0 || handle >= kMaxDevices || g_devices[handle].file == INVALID_HANDLE_VALUE)
        return -1;
    Device& device = g_devices[handle];
    CloseHandle(device.file);
    CloseHandle(device.event);
    device = Device();
    return 0;
}

// Asked of the open handle: the listing's path only said what was there then.
bool Win32Ids(int32_t handle, uint16_t& vendorId, uint16_t& productId)
{
    Device* device = Find(handle);
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (!device || !HidD_GetAttributes(device->file, &attributes))
        return false;
    vendorId = attributes.VendorID;
    productId = attributes.ProductID;
    return true;
}

}  // namespace

extern const HidBackend kWin32HidBackend = {List,      Win32Open,      Win32WriteShort, Win32Read,
                                           Win32WriteLong, Win32Close, Win32Ids};
