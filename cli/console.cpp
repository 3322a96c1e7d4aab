#include "cli/console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/interrupts.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "job/access_texts.h"

namespace {

const char kRuleInstalledHint[] =
    "A board is attached but this user may not open it, although 70-velkor.rules is installed: "
    "the rule lets in only the user logged in at the machine itself, not an ssh login or a second "
    "session; give the board to a group instead (see linux-access.md, in /usr/share/doc/velkor or docs/)";

// A redraw per record would be hundreds a second; the eye needs far fewer.
constexpr std::chrono::milliseconds kRedrawInterval(100);
// The rate is measured over this much of the recent past, and shown once
// the samples span at least the shorter time.
constexpr std::chrono::milliseconds kRateWindow(1000);
constexpr std::chrono::milliseconds kRateMinimumSpan(250);
// A longer wait between two records is the board switching modes, not the
// link's speed: the measurement starts afresh after it.
constexpr std::chrono::milliseconds kRatePause(300);

// Why stdout last refused a write: the stream keeps only that one did.
std::atomic<int> g_stdoutErrno{0};

void WriteAll(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    if (std::fflush(stream) != 0 && stream == stdout)
        g_stdoutErrno = errno;
}

}  // namespace

int CheckedOutput(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0)
        g_stdoutErrno = errno;
    if (!std::ferror(stdout))
        return status;
    const int error = g_stdoutErrno.load();
    std::fprintf(stderr, "velkor: could not write the output: %s\n", std::strerror(error != 0 ? error : EIO));
    return kExitFailed;
}

const char* BoardAccessHint()
{
    std::error_code ignored;
    for (const char* rule : {"/usr/lib/udev/rules.d/70-velkor.rules", "/etc/udev/rules.d/70-velkor.rules"})
        if (std::filesystem::exists(rule, ignored))
            return kRuleInstalledHint;
    return kBoardAccessHint;
}

Console::Console(bool progressLine, bool statusesToStdout)
    : progressLine_(progressLine), progressWanted_(progressLine), statusesToStdout_(statusesToStdout)
{
    if (progressLine_)
        eraseCode_ = PrepareProgressLine();
}

void Console::Status(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (statusesToStdout_) {
        Clear();
        WriteAll(stdout, text + "\n");
    }
    const bool changed = text != status_;
    status_ = text;
    Draw(changed);
}

void Console::ProgressRange(uint64_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_ = size;
    recent_.clear();
    rate_ = -1;
    Draw(false);
}

void Console::ProgressPosition(uint64_t position)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    position_ = position;
    if (!recent_.empty() && now - recent_.back().first > kRatePause)
        recent_.clear();
    recent_.emplace_back(now, position);
    while (now - recent_.front().first > kRateWindow)
        recent_.pop_front();
    Draw(false);
}

void Console::Print(const std::string& text, bool toStderr)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Clear();
    std::string line = text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    WriteAll(toStderr ? stderr : stdout, line);
    Draw(true);
}

void Console::EndProgress()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Clear();
    progressLine_ = false;
}

void Console::RestartProgress()
{
    std::lock_guard<std::mutex> lock(mutex_);
    progressLine_ = progressWanted_;
    status_.clear();
}

void Console::Draw(bool force)
{
    if (!progressLine_ || status_.empty())
        return;
    const Clock::time_point now = Clock::now();
    if (!force && lineShown_ && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;

    ProgressSnapshot snapshot;
    snapshot.status = status_;
    snapshot.position = position_;
    snapshot.size = size_;
    if (!recent_.empty()) {
        const auto span = recent_.back().first - recent_.front().first;
        const uint64_t first = recent_.front().second;
        if (span >= kRateMinimumSpan && recent_.back().second > first) {
            const double seconds = std::chrono::duration<double>(span).count();
            rate_ = static_cast<double>(recent_.back().second - first) / seconds;
        }
    }
    snapshot.bytesPerSecond = rate_;
    const std::string line = FormatProgressLine(snapshot, TerminalWidth());
    if (eraseCode_) {
        WriteAll(stderr, "\r" + line + "\x1b[K");
    } else {
        // Spaces over what is left of a longer line before.
        WriteAll(stderr, "\r" + line + std::string(drawnLength_ - std::min(drawnLength_, line.size()), ' '));
        drawnLength_ = line.size();
    }
    lineShown_ = true;
}

void Console::Clear()
{
    if (!lineShown_)
        return;
    if (eraseCode_) {
        WriteAll(stderr, "\r\x1b[K");
    } else {
        WriteAll(stderr, "\r" + std::string(drawnLength_, ' ') + "\r");
        drawnLength_ = 0;
    }
    lineShown_ = false;
}

ConsoleWindow::ConsoleWindow(Console& console, std::string fileName, std::string board)
    : console_(console), fileName_(std::move(fileName)), board_(std::move(board))
{
}

void ConsoleWindow::ShowOpenFailure(JobEnd why, const char* text, OpenFailurePlace place)
{
    const bool hint = why == JobEnd::kNoBoard && boardInaccessible && boardInaccessible();
    if (said)
        said(hint ? BoardAccessHint() : text);
    if (hint)
        console_.Print(BoardAccessHint(), true);
    else if (why == JobEnd::kNoBoard && place == OpenFailurePlace::kStatusLine)
        console_.Status(text);
    else  // detection's word for a board it could not take is an error like a box
        console_.Print(text, true);
}

void ConsoleWindow::SetStatus(const char* text)
{
    status = text;
    console_.Status(text);
}

void ConsoleWindow::SetProgressRange(uint32_t upper)
{
    console_.ProgressRange(upper);
}

void ConsoleWindow::SetProgressPos(uint32_t pos)
{
    console_.ProgressPosition(pos);
}

int ConsoleWindow::ShowMessage(const char* text, const char* /*caption*/, MessageIcon icon)
{
    console_.Print(text, icon == kIconError);
    if (icon != kIconError)
        info = text;
    if (said)
        said(text);
    return kButtonOk;
}

// The job's outcome says how it went.
void ConsoleWindow::SendResult(uint32_t /*message*/, uint32_t /*wparam*/, int32_t /*lparam*/) {}

void ConsoleWindow::ReadFileName(char* buf, size_t size)
{
    if (size == 0)
        return;
    const size_t n = std::min(fileName_.size(), size - 1);
    std::memcpy(buf, fileName_.data(), n);
    buf[n] = '\0';
}

bool ConsoleWindow::TakeAbort()
{
    return TakeAbortRequest();
}
