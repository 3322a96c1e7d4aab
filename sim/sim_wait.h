// How the simulated board waits for a reply or for the link's time: on the
// host's clock in a program, which has threads to spare; in the page, handing
// each wait to the browser's event loop, since the page's one thread also
// draws it and takes its clicks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// Until ready() holds or ms have passed; lock is held on entry and on return.
void SimWaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& queued, int ms,
                const std::function<bool()>& ready);

// Until wake, with no lock held.
void SimSleepUntil(std::chrono::steady_clock::time_point wake);
