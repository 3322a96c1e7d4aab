#include "link/hid.h"

#include <atomic>

namespace {

// Set once at start (tests switch it between cases); read by the worker.
std::atomic<const HidBackend*> g_backend{nullptr};

}  // namespace

void SetHidBackend(const HidBackend* backend)
{
    g_backend = backend;
}

int32_t HidOpen(uint16_t vendorId, uint16_t productId, int32_t reserved)
{
    const HidBackend* b = g_backend;
    return b ? b->open(vendorId, productId, reserved) : -1;
}

int32_t HidWriteShort(int32_t handle, const uint8_t* report, int32_t length)
{
    const HidBackend* b = g_backend;
    return b ? b->writeShort(handle, report, length) : -1;
}

int32_t HidRead(int32_t handle, uint8_t* buf, int32_t length)
{
    const HidBackend* b = g_backend;
    return b ? b->read(handle, buf, length) : -1;
}

int32_t HidWriteLong(int32_t handle, const uint8_t* report, int32_t length)
{
    const HidBackend* b = g_backend;
    return b ? b->writeLong(handle, report, length) : -1;
}

int32_t HidClose(int32_t handle)
{
    const HidBackend* b = g_backend;
    return b ? b->close(handle) : -1;
}
