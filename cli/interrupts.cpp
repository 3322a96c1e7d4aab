#include "cli/interrupts.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> g_abortable{false};
std::atomic<bool> g_abortPending{false};
std::atomic<int> g_abortRequests{0};

std::atomic<bool> g_restoreTerminal{false};
int g_terminalFd = -1;
termios g_terminalState{};

std::atomic<void (*)()> g_notice{nullptr};
std::atomic<void (*)()> g_beforeExit{nullptr};

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

[[noreturn]] void EndOnSignal(int signal)
{
    if (g_restoreTerminal.load()) {
        tcsetattr(g_terminalFd, TCSAFLUSH, &g_terminalState);
        // Off the prompt's line, as the Enter would have done.
        (void)!write(STDERR_FILENO, "\n", 1);
    }
    if (void (*hook)() = g_beforeExit.load())
        hook();
    _exit(128 + signal);
}

void Watch(sigset_t set)
{
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (signal == SIGINT && g_abortable.load() && g_abortRequests++ == 0) {
            g_abortPending = true;
            if (void (*hook)() = g_notice.load())
                hook();
            continue;
        }
        EndOnSignal(signal);
    }
}

}  // namespace

void StartInterruptWatch()
{
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch, set).detach();
}

void SetAbortable(bool on)
{
    g_abortable = on;
}

bool TakeAbortRequest()
{
    return g_abortPending.exchange(false);
}

void SetTerminalToRestore(int fd, const termios* saved)
{
    if (saved == nullptr) {
        g_restoreTerminal = false;
        return;
    }
    g_terminalFd = fd;
    g_terminalState = *saved;
    g_restoreTerminal = true;
}

void SetInterruptHooks(void (*notice)(), void (*beforeExit)())
{
    g_notice = notice;
    g_beforeExit = beforeExit;
}
