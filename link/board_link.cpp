#include "link/board_link.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "link/board_lock.h"
#include "link/board_path.h"
#include "link/hid.h"

namespace {

using Clock = std::chrono::steady_clock;

void RealSleep(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BoardSleepFn g_sleep = RealSleep;
ReportObserverFn g_observer = nullptr;
std::atomic<int> g_deadlineMs{kHidReadTimeoutMs};

// The chosen board, and the lock each open handle holds.
std::mutex g_boardMutex;
std::map<int32_t, BoardLockToken> g_locks;

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

Clock::time_point Deadline()
{
    return Clock::now() + std::chrono::milliseconds(g_deadlineMs.load());
}

// A read that waits only for what is left until the exchange's deadline; past
// it, the exchange ends as a failed read without asking the backend, however
// many reports stand in its queue.
int32_t ReadReply(int32_t handle, uint8_t* buf, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int32_t r = left > 0 ? HidRead(handle, buf, kShortReportSize, static_cast<int32_t>(left)) : -1;
    Observe(false, buf, kShortReportSize, r >= 0);
    return r;
}

// Reads into buf until byte 1 is the awaited code. The count a read returns is
// not examined: the board's reports are always whole.
int32_t ReadUntil(int32_t handle, uint8_t* buf, uint8_t awaitedCode)
{
    const Clock::time_point deadline = Deadline();
    for (;;) {
        const int32_t r = ReadReply(handle, buf, deadline);
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

namespace {

// Another program's detection holds the lock for one short exchange a
// second; waiting a little keeps that from reading as a busy board.
constexpr auto kBusyGrace = std::chrono::milliseconds(kBoardLockGraceMs);
constexpr auto kBusyRetry = std::chrono::milliseconds(25);

// 0 once locked (or not lockable), or what OpenBoard returns instead.
int32_t LockWithGrace(const std::string& path, BoardLockToken& token)
{
    const Clock::time_point giveUp = Clock::now() + kBusyGrace;
    for (;;) {
        const BoardLockResult result = TryLockBoard(path, token);
        if (result == BoardLockResult::kUnsafe)
            return kOpenLockUnsafe;
        if (result != BoardLockResult::kBusy)
            return 0;
        if (Clock::now() >= giveUp)
            return kOpenBoardBusy;
        std::this_thread::sleep_for(kBusyRetry);
    }
}

// Between the listing and the open, the board may have gone and its node
// been given to another device; that one never gets the board's reports.
bool IsTheBoard(int32_t handle)
{
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    if (!HidIds(handle, vendorId, productId))
        return true;  // the backend cannot tell; the listing is all there is
    return vendorId == kBoardVendorId && productId == kBoardProductId;
}

}  // namespace

std::vector<std::string> ListBoards()
{
    return HidList(kBoardVendorId, kBoardProductId);
}

int32_t OpenBoard(const std::string& chosen)
{
    std::string path = chosen;
    const std::vector<std::string> boards = ListBoards();
    if (path.empty()) {
        if (boards.empty())
            return kOpenNoBoard;
        // Never a guess: the user could not tell which one was programmed.
        if (boards.size() > 1)
            return kOpenSeveralBoards;
        path = boards.front();
    } else if (std::find(boards.begin(), boards.end(), path) == boards.end()) {
        // A path typed by the user may name any other device; only a board
        // listed as one gets our reports. Resolved at each open, so a
        // symlink made when the board is plugged in serves --wait too.
        path = ResolveBoardPath(path);
        if (std::find(boards.begin(), boards.end(), path) == boards.end())
            return kOpenNoBoard;
    }
    BoardLockToken token;
    if (const int32_t refused = LockWithGrace(path, token))
        return refused;
    const int32_t handle = HidOpen(path.c_str());
    if (handle < 0 || !IsTheBoard(handle)) {
        if (handle >= 0)
            HidClose(handle);
        UnlockBoard(token);
        return kOpenNoBoard;
    }
    std::lock_guard<std::mutex> lock(g_boardMutex);
    g_locks[handle] = token;
    return handle;
}

void CloseBoard(int32_t handle)
{
    HidClose(handle);
    // Let go only once the handle is closed, so the next program's open
    // never overlaps ours.
    BoardLockToken token;
    {
        std::lock_guard<std::mutex> lock(g_boardMutex);
        const auto held = g_locks.find(handle);
        if (held == g_locks.end())
            return;
        token = held->second;
        g_locks.erase(held);
    }
    UnlockBoard(token);
}

void SetExchangeDeadlineMs(int milliseconds)
{
    g_deadlineMs = milliseconds > 0 ? milliseconds : kHidReadTimeoutMs;
}

int ExchangeDeadlineMs()
{
    return g_deadlineMs.load();
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
    const Clock::time_point deadline = Deadline();
    for (;;) {
        if (ReadReply(handle, report, deadline) < 0)
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

BoardSleepFn CurrentBoardSleep()
{
    return g_sleep;
}

void BoardSleep(uint32_t milliseconds)
{
    g_sleep(milliseconds);
}

void SetReportObserver(ReportObserverFn fn)
{
    g_observer = fn;
}

ReportObserverFn CurrentReportObserver()
{
    return g_observer;
}
