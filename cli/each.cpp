#include "cli/each.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/interrupts.h"
#include "cli/job_log.h"
#include "cli/program_steps.h"
#include "link/board_link.h"
#include "update/update_job.h"

namespace {

using Clock = std::chrono::steady_clock;

// A board that leaves and a board that shows up within this long are one
// board: a booted board may leave the bus and come back under a new path.
constexpr std::chrono::milliseconds kReturnGrace(1000);

enum class Verdict { kUpdated, kUnconfirmed, kFailed, kUnrecorded };

// One line per board says it all: the statuses draw the progress line
// only, and the completion is the board's line.
class EachWindow : public ConsoleWindow {
public:
    using ConsoleWindow::ConsoleWindow;

    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override
    {
        if (icon == kIconError)
            return ConsoleWindow::ShowMessage(text, caption, icon);
        info = text;
        if (said)
            said(text);
        return kButtonOk;
    }
};

struct Session {
    const Options& options;
    Console& console;
    const std::function<bool()>& inaccessible;
    const CheckedFirmware& firmware;
    int updated = 0;
    int unconfirmed = 0;
    int failed = 0;
};

bool Listed(const std::vector<std::string>& boards, const std::string& path)
{
    return std::find(boards.begin(), boards.end(), path) != boards.end();
}

// The path the board answers under now: its own, or once that is gone, the
// only one listed (itself, back after booting).
std::string CurrentPath(const std::string& path)
{
    const std::vector<std::string> boards = ListBoards();
    return Listed(boards, path) || boards.size() != 1 ? path : boards[0];
}

// The one board attached, once there is one; nothing when the run is to end
// (a stop asked, or no board within --wait).
std::optional<std::string> NextBoard(Session& s)
{
    s.console.Print("Waiting for a board...", false);
    const Clock::time_point start = Clock::now();
    bool toldSeveral = false;
    for (;;) {
        const std::vector<std::string> boards = ListBoards();
        if (boards.size() == 1)
            return boards[0];
        // Said once for as long as there are several, not on every look.
        if (boards.size() > 1 && !toldSeveral)
            s.console.Print("More than one board attached; unplug all but one to go on", true);
        toldSeveral = boards.size() > 1;
        if (s.options.wait > 0 && Clock::now() - start >= std::chrono::duration<double>(s.options.wait)) {
            s.console.Print("No board detected within " + Seconds(s.options.wait), true);
            return std::nullopt;
        }
        if (StopAsked(kWaitPoll))
            return std::nullopt;
    }
}

// Until the board has left for good; false when the run is to end first. A
// new board that shows up within kReturnGrace of it leaving is taken for it.
bool WaitUntilUnplugged(Session& s, std::string path)
{
    s.console.Print("Unplug the board to go on", false);
    bool gone = false;
    Clock::time_point leftAt{};
    std::vector<std::string> others;  // attached when it left
    for (;;) {
        const std::vector<std::string> boards = ListBoards();
        const auto back = std::find_if(boards.begin(), boards.end(),
                                       [&others](const std::string& b) { return !Listed(others, b); });
        if (Listed(boards, path)) {
            gone = false;
        } else if (!gone) {
            gone = true;
            leftAt = Clock::now();
            others = boards;
        } else if (back != boards.end()) {
            path = *back;
            gone = false;
        } else if (Clock::now() - leftAt >= kReturnGrace) {
            return true;
        }
        if (StopAsked(kWaitPoll))
            return false;
    }
}

const char* VerdictWord(const JobOutcome& outcome, bool confirmed)
{
    if (outcome.end == JobEnd::kAborted)
        return "stopped";
    if (outcome.end != JobEnd::kDone)
        return "failed";
    return confirmed ? "updated" : "not confirmed";
}

// PATH | BEFORE | OUTCOME | AFTER | TIME, "-" for what was not asked.
std::string BoardLine(const std::string& path, const std::string& before, const char* word,
                      const std::optional<std::string>& after, bool asked, double seconds)
{
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    const std::string shownAfter = after ? *after : asked ? "no answer" : "-";
    return path + " | " + (before.empty() ? "-" : before) + " | " + word + " | " + shownAfter + " | " + took;
}

// Programs the board at path from the checked file, says how it went in one
// line and appends its own record to the log.
Verdict ProgramBoard(Session& s, std::string& path)
{
    const Clock::time_point start = Clock::now();
    JobLog log;
    std::string error;
    // Asked again for each board: a disk that filled up since the last one
    // leaves this one untouched, as it would the first.
    if (!log.Open(s.options.log, error)) {
        std::fprintf(stderr, "velkor: cannot append to the log %s: %s\n", s.options.log.c_str(), error.c_str());
        return Verdict::kUnrecorded;
    }
    log.Begin("program");
    log.File(s.options.file, s.firmware.Image().bytes);
    const std::string before = IdentityOf(path);
    log.Board(path, before);

    EachWindow window(s.console, s.options.file, path);
    window.boardInaccessible = s.inaccessible;
    window.said = [&log](const std::string& text) { log.Said(text); };
    s.console.RestartProgress();
    const JobOutcome outcome = RunUpdate(s.console, log, [&] { return UpdateJob(window, s.firmware); });
    std::optional<std::string> after;
    const bool done = outcome.end == JobEnd::kDone;
    if (done) {
        after = BootAnswer([&path] { return path = CurrentPath(path); }, kBootAnswerSeconds);
        LogBootAnswer(log, after);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    s.console.Print(BoardLine(path, before, VerdictWord(outcome, after.has_value()), after, done, seconds), false);
    const int status = done ? (after ? kExitOk : kExitUnconfirmed) : ExitStatusOf(outcome);
    log.End(status);
    if (!done)
        return Verdict::kFailed;
    return after ? Verdict::kUpdated : Verdict::kUnconfirmed;
}

void Count(Session& s, Verdict verdict)
{
    int& count = verdict == Verdict::kUpdated ? s.updated : verdict == Verdict::kUnconfirmed ? s.unconfirmed : s.failed;
    ++count;
}

// "3 boards: 2 updated, 1 failed", the boards not confirmed counted apart
// only when there are some.
int Summary(const Session& s)
{
    const int boards = s.updated + s.unconfirmed + s.failed;
    std::string line = std::to_string(boards) + (boards == 1 ? " board: " : " boards: ") +
                       std::to_string(s.updated) + " updated, ";
    if (s.unconfirmed > 0)
        line += std::to_string(s.unconfirmed) + " not confirmed, ";
    line += std::to_string(s.failed) + " failed";
    s.console.Print(line, false);
    // No board at all is no success: a script must not take it for one.
    if (s.failed > 0 || boards == 0)
        return kExitFailed;
    return s.unconfirmed > 0 ? kExitUnconfirmed : kExitOk;
}

}  // namespace

int ProgramEach(const Options& options, Console& console, const std::function<bool()>& inaccessible)
{
    CheckedFirmware firmware;
    {
        EachWindow checker(console, options.file);
        if (!firmware.Load(checker))
            return kExitFailed;
    }
    Session s{options, console, inaccessible, firmware};
    // The whole run: a stop asked between boards ends it with the summary,
    // one asked during an update stops that update after its record first.
    SetAbortable(true);
    bool unrecorded = false;
    while (std::optional<std::string> path = NextBoard(s)) {
        const Verdict verdict = ProgramBoard(s, *path);
        unrecorded = verdict == Verdict::kUnrecorded;
        if (unrecorded)
            break;
        Count(s, verdict);
        if (StopAsked() || !WaitUntilUnplugged(s, *path))
            break;
    }
    const int summary = Summary(s);
    const int status = unrecorded ? kExitUsage : summary;
    // A closing Windows console has waited for the summary.
    SetAbortable(false);
    return status;
}
