#include "cli_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

Process::Process(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                 bool onTerminal)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (onTerminal) {
        winsize size{24, 100, 0, 0};
        pid_ = forkpty(&fds_[0], nullptr, nullptr, &size);
    } else {
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
                close(fd);
            setsid();  // no controlling terminal, as under a scheduler or in CI
        }
    }
    if (pid_ == 0) {
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid_ < 0)
        throw std::runtime_error("cannot start " + program);
    if (!onTerminal) {
        close(in[0]);
        close(out[1]);
        close(err[1]);
        // Inputs are a line or two: they fit in the pipe without blocking.
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
            throw std::runtime_error("cannot write the program's input");
        close(in[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    for (int fd : fds_)
        if (fd >= 0)
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

Process::~Process()
{
    if (!finished_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_)
        if (fd >= 0)
            close(fd);
}

bool Process::Pump()
{
    pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    poll(p, 2, 20);
    std::string* into[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
        char buf[4096];
        ssize_t n = 0;
        while (fds_[i] >= 0 && ((n = read(fds_[i], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
            into[i]->append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        // A pseudo-terminal ends with EIO once the program has closed it.
        if (fds_[i] >= 0 && !(n < 0 && errno == EAGAIN)) {
            close(fds_[i]);
            fds_[i] = -1;
        }
    }
    return fds_[0] >= 0 || fds_[1] >= 0;
}

bool Process::WaitFor(const std::string& text, bool onStderr)
{
    const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
    const std::string& seen = onStderr ? result_.err : result_.out;
    while (seen.find(text) == std::string::npos && Clock::now() < end && Pump()) {
    }
    return seen.find(text) != std::string::npos;
}

void Process::Type(const std::string& text)
{
    if (write(fds_[0], text.data(), text.size()) < 0)
        throw std::runtime_error("cannot type on the terminal");
}

void Process::Signal(int signal) { kill(pid_, signal); }

ProcessResult Process::Finish(std::chrono::milliseconds timeout)
{
    const Clock::time_point end = Clock::now() + timeout;
    while (Clock::now() < end && Pump()) {
    }
    int raw = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &raw, WNOHANG)) == 0 && Clock::now() < end)
        usleep(5000);
    if (done != pid_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    } else {
        result_.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    finished_ = true;
    return result_;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input)
{
    return Process(program, args, input).Finish();
}

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "velkor-cli-XXXXXX").string())
{
    if (mkdtemp(path_.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& contents) const
{
    std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << contents;
    return Path(name);
}
