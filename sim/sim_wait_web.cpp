// A wait that blocked here would freeze the tab for its whole length: the
// page sleeps instead (Asyncify), and its event loop runs meanwhile.
#include "sim/sim_wait.h"

#include <emscripten.h>

void SimWaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable&, int ms,
                const std::function<bool()>& ready)
{
    // Nothing queues a reply while the page's one thread sleeps here, so one
    // sleep covers the whole wait.
    if (ready() || ms <= 0)
        return;
    lock.unlock();
    emscripten_sleep(static_cast<unsigned>(ms));
    lock.lock();
}

void SimSleepUntil(std::chrono::steady_clock::time_point wake)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - std::chrono::steady_clock::now());
    if (left.count() > 0)
        emscripten_sleep(static_cast<unsigned>(left.count()));
}
