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

const HidBackend* CurrentHidBackend()
{
    return g_backend.load();
}

std::vector<std::string> HidList(uint16_t vendorId, uint16_t productId)
{
    const HidBackend* b = g_backend;
    return b ? b->list(vendorId, productId) : std::vector<std::string>();
}

int32_t HidOpen(const char* path)
{
    const HidBackend* b = g_backend;
    return b ? b->open(path) : -1;
}

int32_t HidWriteShort(int32_t handle, const uint8_t* report, int32_t length)
{
    const HidBackend* b = g_backend;
    return b ? b->writeShort(handle, report, length) : -1;
}

int32_t HidRead(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs)
{
    const HidBackend* b = g_backend;
    return b ? b->read(handle, buf, length, timeoutMs) : -1;
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

bool HidIds(int32_t handle, uint16_t& vendorId, uint16_t& productId)
{
    const HidBackend* b = g_backend;
    return b && b->ids && b->ids(handle, vendorId, productId);
}
