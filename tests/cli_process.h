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
    double seconds = 0;
};

class Process {
public:
    // Starts program with args; input is written to its stdin, which is then
    // closed. On a terminal (a pseudo-terminal as stdin, stdout, stderr and
    // controlling terminal) input is typed with Type() instead.
    Process(const std::string& program, const std::vector<std::string>& args, const std::string& input = "",
            bool onTerminal = false);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Collects output until text shows up; false when the output ends or
    // the time runs out first.
    bool WaitFor(const std::string& text, bool onStderr = false,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Type(const std::string& text);
    void Signal(int signal);
    // Collects the rest and waits for the end; kills the process after
    // timeout.
    ProcessResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    bool Pump(std::chrono::milliseconds wait);  // false once all output has ended

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::chrono::steady_clock::time_point start_;
    ProcessResult result_;
    bool finished_ = false;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "");

// A fresh directory under the system's temporary directory, removed with
// everything in it when this goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    // Writes name with these contents and returns its path.
    std::string Write(const std::string& name, const std::string& contents) const;

private:
    std::string path_;
};
