// Runs the command-line programs the way a user or a script does: arguments
// and stdin in; stdout, stderr and the exit status out.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    int status = -1;  // exit status; 128 + n when ended by signal n; -1 when killed on time-out
    std::string out;  // on a terminal: everything written to it
    std::string err;
};

class Process {
public:
    // Starts program with args and input on its stdin, without a controlling
    // terminal; or on a pseudo-terminal, where input is typed with Type().
    Process(const std::string& program, const std::vector<std::string>& args, const std::string& input = "",
            bool onTerminal = false);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Collects output until text shows up; false when it ends or 10 s pass first.
    bool WaitFor(const std::string& text, bool onStderr = false);
    void Type(const std::string& text);
    void Signal(int signal);
    // Collects the rest and waits for the end; kills the process after timeout.
    ProcessResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    bool Pump();  // false once all output has ended

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};  // stdout (or the terminal), stderr
    ProcessResult result_;
    bool finished_ = false;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "");

// A fresh temporary directory, removed with everything in it when this goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    // Writes name with these contents and returns its path.
    std::string Write(const std::string& name, const std::string& contents) const;

private:
    std::string path_;
};
