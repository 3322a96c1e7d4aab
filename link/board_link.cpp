#include "link/board_link.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "link/hid.h"

namespace {

void RealSleep(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BoardSleepFn g_sleep = RealSleep;
ReportObserverFn g_observer = nullptr;

void Observe(bool written, const uint8_t* bytes, int length, bool ok)
{
    if (g_observer)
        g_observer(written, bytes, length, ok);
}

int32_t WriteShort(int32_t handle, const uint8_t* report)
{
    const int32_t r = HidWriteShort(handle, report, kShortReportSize);
    Observe(true, report, kShortReportSize, r >= 0);
    return r;
}

int32_t WriteLong(int32_t handle, const uint8_t* report)
{
    const int32_t r = HidWriteLong(handle, report, kLongReportSize);
    Observe(true, report, kLongReportSize, r >= 0);
    return r;
}

int32_t ReadReply(int32_t handle, uint8_t* buf)
{
    const int32_t r = HidRead(handle, buf, kShortReportSize);
    Observe(false, buf, kShortReportSize, r >= 0);
    return r;
}

// Reads into buf until byte 1 is the awaited code. The count a read returns is
// not examined: the board's reports are always whole.
int32_t ReadUntil(int32_t handle, uint8_t* buf, uint8_t awaitedCode)
{
    for (;;) {
        const int32_t r = ReadReply(handle, buf);
        if (r < 0)
            return r;
        if (buf[1] == awaitedCode)
            return 0;
    }
}

bool Accepted(uint8_t code, const uint8_t* codes, int count)
{
    for (int i = 0; i < count; ++i)
        if (codes[i] == code)
            return true;
    return false;
}

}  // namespace

int32_t OpenBoard()
{
    return HidOpen(kBoardVendorId, kBoardProductId, 0);
}

void CloseBoard(int32_t handle)
{
    HidClose(handle);
}

int32_t ShortExchange(int32_t handle, uint8_t report[kShortReportSize], uint8_t awaitedCode)
{
    report[0] = 0;
    const int32_t r = WriteShort(handle, report);
    if (r < 0)
        return r;
    // The reply lands in the request's own buffer.
    return ReadUntil(handle, report, awaitedCode);
}

int32_t ShortExchangeInto(int32_t handle, const uint8_t request[kShortReportSize],
                          uint8_t reply[kShortReportSize], uint8_t awaitedCode)
{
    const int32_t r = WriteShort(handle, request);
    if (r < 0)
        return r;
    std::memset(reply, 0, kShortReportSize);
    return ReadUntil(handle, reply, awaitedCode);
}

int32_t LongExchange(int32_t handle, const uint8_t* payload, int length,
                     const uint8_t* acceptedCodes, int acceptedCount)
{
    if (length < 0 || length > kLongPayloadMax)
        return kLongTooLong;
    uint8_t report[kLongReportSize] = {};
    if (length > 0)
        std::memcpy(report + 1, payload, static_cast<size_t>(length));
    if (WriteLong(handle, report) < 0)
        return kLongWriteFailed;
    for (;;) {
        if (ReadReply(handle, report) < 0)
            return kLongReadFailed;
        if (Accepted(report[1], acceptedCodes, acceptedCount))
            return report[2];
    }
}

int32_t SendSimpleCommand(int32_t handle, uint8_t code)
{
    uint8_t report[kShortReportSize] = {0, code};
    const int32_t r = ShortExchange(handle, report, code);
    return r < 0 ? r : report[2];
}

int32_t SendLongReport(int32_t handle, const uint8_t* payload, int length, uint8_t replyCode)
{
    return LongExchange(handle, payload, length, &replyCode, 1);
}

void SetBoardSleep(BoardSleepFn fn)
{
    g_sleep = fn ? fn : RealSleep;
}

void BoardSleep(uint32_t milliseconds)
{
    g_sleep(milliseconds);
}

void SetReportObserver(ReportObserverFn fn)
{
    g_observer = fn;
}
