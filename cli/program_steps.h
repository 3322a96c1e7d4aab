// The steps of programming one board, shared by program and program --each:
// asking the board who it is before and after, and the update itself with
// what a stop in the middle of it leaves.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/job_log.h"
#include "job/boot_texts.h"
#include "job/job_window.h"
#include "job/outcome.h"

// How often a wait for a board asks again.
constexpr std::chrono::milliseconds kWaitPoll(200);
extern const char kIncompleteText[];

// "1.5 s"
std::string Seconds(double seconds);

// The exit status for how a job ended; an unidentified board is a failure.
int ExitStatusOf(const JobOutcome& outcome);

// Takes only the status line detection writes for one board.
class ProbeWindow : public JobWindow {
public:
    explicit ProbeWindow(std::string board) : board_(std::move(board)) {}

    std::string status;

    std::string Board() const override { return board_; }
    void SetStatus(const char* text) override { status = text; }
    void SetProgressRange(uint32_t) override {}
    void SetProgressPos(uint32_t) override {}
    int ShowMessage(const char*, const char*, MessageIcon) override { return kButtonOk; }
    void SendResult(uint32_t, uint32_t, int32_t) override {}
    void ReadFileName(char* buf, size_t size) override
    {
        if (size > 0)
            buf[0] = '\0';
    }
    bool TakeAbort() override { return false; }

private:
    std::string board_;
};

// Detection's status line for the board at device (empty: the only one),
// asked once; empty when there was no board to ask or it was in use.
std::string IdentityOf(const std::string& device);

// The booted board's status line, asked the way detection asks, every
// kWaitPoll until it answers or the time is up; device() names the board
// to ask each time. Nothing when it never answered.
std::optional<std::string> BootAnswer(const std::function<std::string()>& device, double seconds);

// identity_after and the text for what BootAnswer got.
void LogBootAnswer(JobLog& log, const std::optional<std::string>& answer);

// Runs update(); one stopped on request leaves the board half written,
// which is said and logged. The progress line is gone afterwards.
JobOutcome RunUpdate(Console& console, JobLog& log, const std::function<JobOutcome()>& update);

// Whether an update is running now; safe from the signal thread.
bool UpdateRunning();
