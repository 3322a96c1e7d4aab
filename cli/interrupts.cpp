#include "cli/interrupts.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "cli/terminal.h"

namespace {

std::atomic<bool> g_abortable{false};
std::atomic<bool> g_abortPending{false};
std::atomic<bool> g_stopAsked{false};
std::atomic<bool> g_noticeGiven{false};
std::atomic<int> g_ctrlCs{0};

// For WaitWhileAbortable and StopAsked.
std::mutex g_abortableMutex;
std::condition_variable g_abortableChanged;

std::atomic<void (*)(bool)> g_notice{nullptr};
std::atomic<void (*)()> g_beforeExit{nullptr};

void AskToStop(bool ctrlC)
{
    // One notice for the requests to end, however many come; a Ctrl+C
    // always says what a second one does. It comes before the request is
    // made, so it is never printed after what the stopped job says.
    const bool first = !g_noticeGiven.exchange(true);
    if (void (*hook)(bool) = g_notice.load(); hook != nullptr && (ctrlC || first))
        hook(ctrlC);
    g_abortPending = true;
    {
        std::lock_guard<std::mutex> lock(g_abortableMutex);
        g_stopAsked = true;
    }
    g_abortableChanged.notify_all();
}

}  // namespace

void StartInterruptWatch()
{
    StartPlatformInterruptWatch();
}

void SetAbortable(bool on)
{
    {
        std::lock_guard<std::mutex> lock(g_abortableMutex);
        if (on) {
            g_abortPending = false;
            g_stopAsked = false;
            g_noticeGiven = false;
            g_ctrlCs = 0;
        }
        g_abortable = on;
    }
    g_abortableChanged.notify_all();
}

InterruptAction OnInterrupt(Interrupt what)
{
    // Logging off is not this program's end: a session that closes its
    // console sends the close as well.
    if (what == Interrupt::kLogoff)
        return InterruptAction::kGoOn;
    if (!g_abortable.load())
        return InterruptAction::kEndNow;
    // Only the user's own second Ctrl+C ends an update in mid-record: the
    // system's requests to end come in pairs and repeats.
    if (what == Interrupt::kCtrlC && g_ctrlCs++ != 0)
        return InterruptAction::kEndNow;
    AskToStop(what == Interrupt::kCtrlC);
    return what == Interrupt::kClose ? InterruptAction::kHold : InterruptAction::kGoOn;
}

void WaitWhileAbortable()
{
    std::unique_lock<std::mutex> lock(g_abortableMutex);
    g_abortableChanged.wait(lock, [] { return !g_abortable.load(); });
}

bool StopAsked(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(g_abortableMutex);
    return g_abortableChanged.wait_for(lock, wait, [] { return g_stopAsked.load(); });
}

bool TakeAbortRequest()
{
    return g_abortPending.exchange(false);
}

void SetInterruptHooks(void (*notice)(bool), void (*beforeExit)())
{
    g_notice = notice;
    g_beforeExit = beforeExit;
}

void BeforeInterruptExit()
{
    if (void (*hook)() = g_beforeExit.load())
        hook();
}
