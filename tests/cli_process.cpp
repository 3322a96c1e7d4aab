#include "cli_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Appends what fd has now; false at its end. A pseudo-terminal ends with EIO
// once the program has closed it.
bool Drain(int fd, std::string& into)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            into.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return n < 0 && errno == EAGAIN;
    }
}

void NonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                 bool onTerminal)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    start_ = Clock::now();

    if (onTerminal) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 100;
        pid_ = forkpty(&out_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        if (pid_ < 0)
            throw std::runtime_error("forkpty failed");
        NonBlocking(out_);
        return;
    }

    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        // No controlling terminal, as under a scheduler or in CI.
        setsid();
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Inputs are a line or two: they fit in the pipe without blocking.
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
        throw std::runtime_error("cannot write the program's input");
    close(in[1]);
    out_ = out[0];
    err_ = err[0];
    NonBlocking(out_);
    NonBlocking(err_);
}

Process::~Process()
{
    if (!finished_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_})
        if (fd >= 0)
            close(fd);
}

bool Process::Pump(std::chrono::milliseconds wait)
{
    pollfd fds[2];
    nfds_t n = 0;
    for (int fd : {out_, err_})
        if (fd >= 0)
            fds[n++] = {fd, POLLIN, 0};
    if (n == 0)
        return false;
    poll(fds, n, static_cast<int>(wait.count()));
    for (auto [fd, text] : {std::pair{&out_, &result_.out}, std::pair{&err_, &result_.err}}) {
        if (*fd >= 0 && !Drain(*fd, *text)) {
            close(*fd);
            *fd = -1;
        }
    }
    return out_ >= 0 || err_ >= 0;
}

bool Process::WaitFor(const std::string& text, bool onStderr, std::chrono::milliseconds timeout)
{
    const Clock::time_point end = Clock::now() + timeout;
    const std::string& seen = onStderr ? result_.err : result_.out;
    while (seen.find(text) == std::string::npos)
        if (Clock::now() >= end || !Pump(std::chrono::milliseconds(20)))
            return seen.find(text) != std::string::npos;
    return true;
}

void Process::Type(const std::string& text)
{
    if (write(out_, text.data(), text.size()) < 0)
        throw std::runtime_error("cannot type on the terminal");
}

void Process::Signal(int signal)
{
    kill(pid_, signal);
}

ProcessResult Process::Finish(std::chrono::milliseconds timeout)
{
    const Clock::time_point end = Clock::now() + timeout;
    while (Clock::now() < end && Pump(std::chrono::milliseconds(20))) {
    }
    int raw = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &raw, WNOHANG)) == 0 && Clock::now() < end)
        usleep(5000);
    if (done != pid_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    } else if (WIFEXITED(raw)) {
        result_.status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        result_.status = 128 + WTERMSIG(raw);
    }
    finished_ = true;
    result_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    return result_;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input)
{
    return Process(program, args, input).Finish();
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velkor-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& contents) const
{
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}
