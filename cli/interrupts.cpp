#include "cli/interrupts.h"

#include <atomic>

#include "cli/terminal.h"

namespace {

std::atomic<bool> g_abortable{false};
std::atomic<bool> g_abortPending{false};
std::atomic<int> g_abortRequests{0};

std::atomic<void (*)()> g_notice{nullptr};
std::atomic<void (*)()> g_beforeExit{nullptr};

}  // namespace

void StartInterruptWatch()
{
    StartPlatformInterruptWatch();
}

void SetAbortable(bool on)
{
    g_abortable = on;
}

bool TakeAbortRequest()
{
    return g_abortPending.exchange(false);
}

void SetInterruptHooks(void (*notice)(), void (*beforeExit)())
{
    g_notice = notice;
    g_beforeExit = beforeExit;
}

bool OnInterruptKey()
{
    // Only the first press while abortable asks; any later one ends the run.
    if (!g_abortable.load() || g_abortRequests++ != 0)
        return false;
    g_abortPending = true;
    if (void (*hook)() = g_notice.load())
        hook();
    return true;
}

void BeforeInterruptExit()
{
    if (void (*hook)() = g_beforeExit.load())
        hook();
}
