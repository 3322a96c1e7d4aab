#include "cli/password.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "cli/interrupts.h"

namespace {

const char kServicePassword[] = "zephyr";

// One line from fd, read a byte at a time so nothing after it is consumed.
// The line end ("\n" or "\r\n") is not part of the entry.
std::string ReadLine(int fd)
{
    std::string line;
    for (;;) {
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        // One more than kept, for the '\r' of a "\r\n" line end.
        if (line.size() <= kPasswordMaxChars)
            line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kPasswordMaxChars)
        line.resize(kPasswordMaxChars);
    return line;
}

}  // namespace

bool ReadPassword(bool fromStdin, std::string& entry, std::string& error)
{
    if (fromStdin) {
        entry = ReadLine(STDIN_FILENO);
        return true;
    }
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) {
        error = "no terminal to ask for the password on; pass it with --password-stdin";
        return false;
    }
    termios saved{};
    const bool isTerminal = tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK));
        // A Ctrl+C at the prompt must not leave the terminal without echo.
        SetTerminalToRestore(tty, &saved);
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    entry = ReadLine(tty);
    if (isTerminal) {
        tcsetattr(tty, TCSAFLUSH, &saved);
        SetTerminalToRestore(-1, nullptr);
    }
    // The Enter that ended the entry was not echoed.
    std::fputs("\n", stderr);
    close(tty);
    return true;
}

bool PasswordMatches(const std::string& entry)
{
    return entry == kServicePassword;
}
