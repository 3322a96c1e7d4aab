// HID backend for the browser: the boards this page was granted through
// WebHID. Each operation awaits the browser's promise; the module is linked
// with Asyncify, so the synchronous link code above simply waits.
//
// A path is "webhid:N", N the device's place in a list that only grows, so a
// path keeps naming one device while the page is open. The handle is N too.
#include "link/hid.h"

#include <emscripten.h>

#include <string>

namespace {

constexpr int kMaxDevices = 16;
constexpr char kPathPrefix[] = "webhid:";
// Unread input reports kept per open device, as a hidraw handle keeps them;
// beyond that the oldest go, so a board that chatters cannot fill the memory.
constexpr int kQueueMax = 64;

// Fills out[] with the places of the attached, granted devices with these ids.
EM_ASYNC_JS(int, WebHidList, (int vendorId, int productId, int* out, int max), {
    // Each open starts with a list: a refusal is news only until then.
    Module.webhidRefused = false;
    if (!navigator.hid)
        return 0;
    const known = Module.webhidDevices || (Module.webhidDevices = []);
    if (!Module.webhidWatching) {
        // An unplugged board's waits end at once, not at their deadline.
        Module.webhidWatching = true;
        navigator.hid.addEventListener('disconnect', (event) => {
            const index = known.indexOf(event.device);
            const queue = index >= 0 && Module.webhidQueues && Module.webhidQueues[index];
            if (queue)
                queue.gone = true;
            if (Module.webhidWake)
                Module.webhidWake();
        });
    }
    const granted = await navigator.hid.getDevices();
    let count = 0;
    for (const device of granted) {
        if (device.vendorId !== vendorId || device.productId !== productId || count >= max)
            continue;
        let index = known.indexOf(device);
        if (index < 0)
            index = known.push(device) - 1;
        HEAP32[(out >> 2) + count++] = index;
    }
    return count;
});

// Opens the device (once) and starts a fresh queue of its input reports, as
// a new hidraw handle would.
EM_ASYNC_JS(int, WebHidOpen, (int index, int queueMax), {
    const device = (Module.webhidDevices || [])[index];
    if (!device)
        return -1;
    // Listed but refused (on Linux, a hidraw node this user may not open):
    // the page names the fix instead of a missing board.
    try {
        if (!device.opened)
            await device.open();
    } catch (e) {
        Module.webhidRefused = e.name === 'NotAllowedError' || e.name === 'NetworkError';
        return -1;
    }
    const queues = Module.webhidQueues || (Module.webhidQueues = []);
    queues[index] = [];
    device.oninputreport = (event) => {
        const data = new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength);
        const report = new Uint8Array(1 + data.length);
        report[0] = event.reportId;
        report.set(data, 1);
        const queue = queues[index];
        if (!queue)
            return;
        if (queue.length >= queueMax)
            queue.shift();
        queue.push(report);
        if (Module.webhidWake)
            Module.webhidWake();
    };
    return index;
});

// Chromium sends exactly the bytes it is given; the board takes only whole
// 73-byte reports, so every request is padded to 72 data bytes.
EM_ASYNC_JS(int, WebHidWrite, (int index, const uint8_t* report, int length), {
    const device = (Module.webhidDevices || [])[index];
    if (!device || !device.opened || length < 1)
        return -1;
    const data = new Uint8Array(72);
    data.set(HEAPU8.subarray(report + 1, report + Math.min(length, 73)));
    try {
        await device.sendReport(HEAPU8[report], data);
    } catch (e) {
        return -1;
    }
    return length;
});

EM_ASYNC_JS(int, WebHidRead, (int index, uint8_t* buf, int length, int timeoutMs), {
    const queue = (Module.webhidQueues || [])[index];
    if (!queue)
        return -1;
    // Any device's report wakes the wait; another device's waits on.
    const deadline = performance.now() + timeoutMs;
    while (queue.length === 0 && !queue.gone && performance.now() < deadline) {
        await new Promise((resolve) => {
            const timer = setTimeout(resolve, deadline - performance.now());
            Module.webhidWake = () => { clearTimeout(timer); resolve(); };
        });
        Module.webhidWake = null;
    }
    const report = queue.shift();
    if (!report)
        return -1;
    HEAPU8.fill(0, buf, buf + length);
    HEAPU8.set(report.subarray(0, length), buf);
    return length;
});

EM_ASYNC_JS(int, WebHidClose, (int index), {
    const device = (Module.webhidDevices || [])[index];
    if (Module.webhidQueues)
        Module.webhidQueues[index] = null;
    if (!device)
        return -1;
    device.oninputreport = null;
    try {
        await device.close();
    } catch (e) {
        return -1;
    }
    return 0;
});

std::vector<std::string> List(uint16_t vendorId, uint16_t productId)
{
    int places[kMaxDevices];
    const int count = WebHidList(vendorId, productId, places, kMaxDevices);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back(kPathPrefix + std::to_string(places[i]));
    return paths;
}

int32_t Open(const char* path)
{
    const std::string text = path != nullptr ? path : "";
    if (text.rfind(kPathPrefix, 0) != 0 || text.size() == sizeof kPathPrefix - 1)
        return -1;
    const std::string digits = text.substr(sizeof kPathPrefix - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 4)
        return -1;
    return WebHidOpen(std::stoi(digits), kQueueMax);
}

int32_t Write(int32_t handle, const uint8_t* report, int32_t length)
{
    return report != nullptr ? WebHidWrite(handle, report, length) : -1;
}

int32_t Read(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs)
{
    return buf != nullptr && length > 0 ? WebHidRead(handle, buf, length, timeoutMs) : -1;
}

int32_t Close(int32_t handle)
{
    return WebHidClose(handle);
}

}  // namespace

// No ids check: a WebHID device object stays the one device the user granted,
// whose ids the listing already matched; it is never reused for another.
extern const HidBackend kWebHidBackend = {List, Open, Write, Read, Write, Close, nullptr};
