// Terminal output of the front end and the job window it gives the worker's
// jobs: status texts and message boxes become lines, the progress bar becomes
// a self-redrawing line on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "job/job_window.h"

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,    // the job showed an error, was aborted, or a check failed
    kExitUsage = 2,
    kExitNoBoard = 3,
    kExitUnconfirmed = 4,  // updated, but the booted board did not identify itself
};

class Console {
public:
    // progressLine: statuses and progress go to one line on stderr that is
    // redrawn in place (stderr must be a terminal). statusesToStdout: every
    // status is also printed on stdout, one line each.
    Console(bool progressLine, bool statusesToStdout);

    void Status(const std::string& text);
    void ProgressRange(uint64_t size);
    void ProgressPosition(uint64_t position);

    // Prints text as its own line(s), above the progress line if one shows.
    void Print(const std::string& text, bool toStderr);

    // Removes the progress line for good; later statuses are not drawn.
    void EndProgress();
    // Draws the progress line again, as at the start, for the next job.
    void RestartProgress();

    // Whether a progress line is on screen right now; safe from any thread.
    bool LineShown() const { return lineShown_.load(); }

private:
    using Clock = std::chrono::steady_clock;

    void Draw(bool force);  // mutex_ held
    void Clear();           // mutex_ held

    mutable std::mutex mutex_;
    bool progressLine_;
    bool progressWanted_;
    bool statusesToStdout_;
    // Whether the terminal erases the rest of a line on "\x1b[K"; without it
    // the line is overwritten with spaces as far as it reached.
    bool eraseCode_ = true;
    size_t drawnLength_ = 0;
    std::atomic<bool> lineShown_{false};
    std::string status_;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    // Recent positions and when they were reached. The rate is taken over
    // these only, so the board's pauses at a mode switch fade out of it
    // instead of dragging it down for the rest of the run.
    std::deque<std::pair<Clock::time_point, uint64_t>> recent_;
    double rate_ = -1;  // the last estimate, bytes per second
    Clock::time_point lastDraw_{};
};

class ConsoleWindow : public JobWindow {
public:
    ConsoleWindow(Console& console, std::string fileName = std::string(), std::string board = std::string());

    // Asked when a job finds no board: true puts the permission hint below in
    // place of the job's words.
    std::function<bool()> boardInaccessible;
    // Told every message and open failure the user is shown.
    std::function<void(const std::string&)> said;
    // The last status line, and the last message that was no error.
    std::string status;
    std::string info;

    void ShowOpenFailure(JobEnd why, const char* text, OpenFailurePlace place) override;
    void SetStatus(const char* text) override;
    void SetProgressRange(uint32_t upper) override;
    void SetProgressPos(uint32_t pos) override;
    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override;
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override;
    void ReadFileName(char* buf, size_t size) override;
    bool TakeAbort() override;
    std::string Board() const override { return board_; }

private:
    Console& console_;
    std::string fileName_;
    std::string board_;
};

// Ends a command whose result is its output: stdout is flushed, and a write
// to it that failed, then or before, makes the status kExitFailed with a line
// on stderr.
int CheckedOutput(int status);

// One line naming the udev rules that give the user access to the board, or,
// when one of them is installed, what then usually keeps the user out.
const char* BoardAccessHint();
