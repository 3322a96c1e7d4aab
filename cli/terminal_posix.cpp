#include "cli/terminal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "cli/interrupts.h"

namespace {

// The password prompt's terminal and its settings from before the prompt,
// put back if the program is ended while echo is off.
int g_entryFd = -1;
bool g_entryQuiet = false;
termios g_entrySaved{};
std::atomic<bool> g_restoreTerminal{false};

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
        tcsetattr(g_entryFd, TCSAFLUSH, &g_entrySaved);
        // Off the prompt's line, as the Enter would have done.
        WriteStderrNow("\n");
    }
    BeforeInterruptExit();
    _exit(128 + signal);
}

void Watch(sigset_t set)
{
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        // A closed terminal or a shutdown gets the same grace as Ctrl+C: an
        // update cut in mid-record would leave a block half written.
        const Interrupt what = signal == SIGINT ? Interrupt::kCtrlC : Interrupt::kEndRequest;
        if (OnInterrupt(what) == InterruptAction::kEndNow)
            EndOnSignal(signal);
    }
}

bool ReadByte(int fd, char& c)
{
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        return n == 1;
    }
}

}  // namespace

void UseUtf8(int& /*argc*/, char**& /*argv*/) {}

bool StdoutIsTerminal()
{
    return isatty(STDOUT_FILENO);
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO);
}

size_t TerminalWidth()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool PrepareProgressLine()
{
    return true;
}

void WriteStderrNow(const char* text)
{
    (void)!write(STDERR_FILENO, text, std::strlen(text));
}

void StartPlatformInterruptWatch()
{
    // A reader that went away (velkor ... | head) must not end an update:
    // the write fails and the job goes on.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch, set).detach();
}

bool ReadStdinByte(char& c)
{
    return ReadByte(STDIN_FILENO, c);
}

bool OpenHiddenEntry(std::string& error)
{
    g_entryFd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (g_entryFd < 0) {
        error = "no terminal to ask for the password on; pass it with --password-stdin";
        return false;
    }
    g_entryQuiet = tcgetattr(g_entryFd, &g_entrySaved) == 0;
    if (g_entryQuiet) {
        termios quiet = g_entrySaved;
        quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK));
        // A Ctrl+C at the prompt must not leave the terminal without echo.
        g_restoreTerminal = true;
        tcsetattr(g_entryFd, TCSAFLUSH, &quiet);
    }
    return true;
}

bool ReadHiddenEntryByte(char& c)
{
    return ReadByte(g_entryFd, c);
}

void CloseHiddenEntry()
{
    if (g_entryQuiet) {
        tcsetattr(g_entryFd, TCSAFLUSH, &g_entrySaved);
        g_restoreTerminal = false;
    }
    close(g_entryFd);
    g_entryFd = -1;
}
