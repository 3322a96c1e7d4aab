#include "cli/program_steps.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "worker/detection.h"

const char kIncompleteText[] = "Aborted: the board holds an incomplete firmware; program it again before use";

namespace {

// While an update runs, whatever ends it early leaves the board half written.
std::atomic<bool> g_updating{false};

}  // namespace

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

int ExitStatusOf(const JobOutcome& outcome)
{
    switch (outcome.end) {
    case JobEnd::kDone:
        return kExitOk;
    case JobEnd::kNoBoard:
    case JobEnd::kBoardBusy:
        return kExitNoBoard;
    case JobEnd::kSeveralBoards:
        return kExitUsage;
    case JobEnd::kFailed:
    case JobEnd::kAborted:
        break;
    }
    return kExitFailed;
}

std::string IdentityOf(const std::string& device)
{
    ProbeWindow probe(device);
    const JobEnd end = DetectionJob(probe).end;
    return end == JobEnd::kDone || end == JobEnd::kFailed ? probe.status : std::string();
}

std::optional<std::string> BootAnswer(const std::function<std::string()>& device, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        ProbeWindow probe(device());
        if (DetectionJob(probe).end == JobEnd::kDone)
            return probe.status;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::min<Clock::duration>(kWaitPoll, deadline - now));
    }
}

void LogBootAnswer(JobLog& log, const std::optional<std::string>& answer)
{
    if (answer) {
        log.Set("identity_after", *answer);
        log.Said(kBootReportPrefix + *answer);
    } else {
        log.Set("identity_after", nullptr);
        log.Said(kBootSilentText);
    }
}

JobOutcome RunUpdate(Console& console, JobLog& log, const std::function<JobOutcome()>& update)
{
    g_updating = true;
    const JobOutcome outcome = update();
    g_updating = false;
    console.EndProgress();
    log.Outcome(outcome.end);
    if (outcome.end == JobEnd::kAborted) {
        console.Print(kIncompleteText, true);
        log.Said(kIncompleteText);
    }
    return outcome;
}

bool UpdateRunning()
{
    return g_updating.load();
}
