#include "sim/sim_wait.h"

#include <thread>

void SimWaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& queued, int ms,
                const std::function<bool()>& ready)
{
    queued.wait_for(lock, std::chrono::milliseconds(ms), ready);
}

void SimSleepUntil(std::chrono::steady_clock::time_point wake)
{
    std::this_thread::sleep_until(wake);
}
