// What velkor does once its command line is read.
#include "cli/run.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "cli/each.h"
#include "cli/interrupts.h"
#include "cli/job_log.h"
#include "cli/password.h"
#include "cli/program_steps.h"
#include "cli/record_listing.h"
#include "cli/terminal.h"
#include "cli/usb_board.h"
#include "job/messages.h"
#include "job/service_password.h"
#include "job/window_texts.h"
#include "link/board_link.h"
#include "link/link_setup.h"
#include "sim/scenario.h"
#include "sim/sim_setup.h"
#include "update/update_job.h"
#include "worker/detection.h"
#include "worker/service.h"

namespace {

// The window's limit on the file name, in characters; the job's buffer holds
// that many, and a longer path could be cut and name another file.
constexpr size_t kMaxFileName = kFileNameMaxChars;
// The password check pauses like the service dialog does, against guessing.
constexpr std::chrono::milliseconds kPasswordPause(kPasswordPauseMs);
// For the report observer and the signal thread, which take plain functions.
std::atomic<Console*> g_console{nullptr};

void ShowReport(bool written, const uint8_t* bytes, int length, bool ok)
{
    std::string line = written ? "write" : "read ";
    if (!ok)
        line += " failed";
    if (ok || written) {
        char hex[4];
        for (int i = 0; i < length; ++i) {
            std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
            line += hex;
        }
    }
    if (Console* console = g_console.load())
        console->Print(line, true);
}

void AbortNotice(bool ctrlC)
{
    // Between two boards of --each there is nothing to stop: the run ends.
    if (!UpdateRunning())
        return;
    if (Console* console = g_console.load())
        console->Print(ctrlC ? "Stopping after the current record (Ctrl+C again to quit at once)"
                             : "Stopping after the current record",
                       true);
}

void BeforeSignalExit()
{
    // Leave the shell prompt on a line of its own.
    Console* console = g_console.load();
    if (console != nullptr && console->LineShown())
        WriteStderrNow("\n");
    if (UpdateRunning()) {
        WriteStderrNow(kIncompleteText);
        WriteStderrNow("\n");
    }
}

bool UsingUsb(const Options& options)
{
    return options.sim.empty();
}

// Waits for a board to appear and be free. Returns OpenBoard's last result:
// a handle (already closed again) or why it opened nothing. Several boards
// end the wait at once: waiting does not make that any clearer.
int32_t WaitForBoard(const std::string& device, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        const int32_t board = OpenBoard(device);
        if (board >= 0)
            CloseBoard(board);
        const Clock::time_point now = Clock::now();
        if (board >= 0 || board == kOpenSeveralBoards || now >= deadline)
            return board;
        std::this_thread::sleep_for(std::min<Clock::duration>(kWaitPoll, deadline - now));
    }
}

// "PATH: STATUS" for each board, as detection sees it alone; whether every
// one identified itself, and whether any was there at all (opened, or held by
// another program).
std::vector<std::string> ProbeBoards(const std::vector<std::string>& paths, bool& allIdentified, bool& anyAnswered)
{
    std::vector<std::string> lines;
    allIdentified = true;
    anyAnswered = false;
    for (const std::string& path : paths) {
        ProbeWindow window(path);
        const JobEnd end = DetectionJob(window).end;
        lines.push_back(path + ": " + window.status);
        allIdentified = allIdentified && end == JobEnd::kDone;
        anyAnswered = anyAnswered || end == JobEnd::kDone || end == JobEnd::kFailed || end == JobEnd::kBoardBusy;
    }
    return lines;
}

int DetectSeveral(Console& console, const std::vector<std::string>& paths)
{
    bool allIdentified = false;
    bool anyAnswered = false;
    for (const std::string& line : ProbeBoards(paths, allIdentified, anyAnswered))
        console.Print(line, false);
    if (allIdentified)
        return kExitOk;
    return anyAnswered ? kExitFailed : kExitNoBoard;
}

// A job for one board never picks one of several itself.
int RefuseSeveral(const std::vector<std::string>& paths)
{
    bool allIdentified = false;
    bool anyAnswered = false;
    std::string text = "velkor: More than one board attached; choose one with --device:\n";
    for (const std::string& line : ProbeBoards(paths, allIdentified, anyAnswered))
        text += "  " + line + "\n";
    std::fputs(text.c_str(), stderr);
    return kExitUsage;
}

// The booted board's own word on what it now runs, asked the way detection
// asks, until it answers or the time is up.
int ConfirmBoot(Console& console, const std::string& device, JobLog& log)
{
    const std::optional<std::string> answer = BootAnswer([&device] { return device; }, kBootAnswerSeconds);
    LogBootAnswer(log, answer);
    if (answer)
        console.Print(kBootReportPrefix + *answer, false);
    else
        console.Print(kBootSilentText, true);
    return answer ? kExitOk : kExitUnconfirmed;
}

int Program(Console& console, ConsoleWindow& window, JobLog& log, const std::string& file)
{
    SetAbortable(true);
    // The record names the bytes the board is given, whatever the file
    // holds by the time the job ends.
    const auto checked = [&](const FirmwareImage& image) { log.File(file, image.bytes); };
    const JobOutcome outcome = RunUpdate(console, log, [&] { return UpdateJob(window, checked); });
    // A closing Windows console has waited for the lines above.
    SetAbortable(false);
    if (outcome.end == JobEnd::kDone)
        return ConfirmBoot(console, window.Board(), log);
    return outcome.end == JobEnd::kAborted ? kExitFailed : ExitStatusOf(outcome);
}

// A command that went through prints its result: the counter alone, or that
// it was set.
int Service(Console& console, ConsoleWindow& window, uint32_t wparam, int32_t lparam, JobLog& log)
{
    const JobOutcome outcome = ServiceJob(window, wparam, lparam);
    const uint32_t code = wparam & 0xFFFF;
    log.Outcome(outcome.end);
    std::string shown;
    if (outcome.result && code == SVC_GET_SHOT_COUNT) {
        shown = std::to_string(static_cast<uint32_t>(*outcome.result));
        log.Set("shots", static_cast<uint32_t>(*outcome.result));
    } else if (outcome.result && code == SVC_SET_SHOT_COUNT) {
        shown = kShotCounterSetText;
    } else if (outcome.result && code == SVC_PRESSURE_VALUES) {
        log.Set("pressure", window.info);
    }
    if (code == SVC_SET_SHOT_COUNT)
        log.Set("set", static_cast<uint32_t>(lparam));
    if (!shown.empty()) {
        console.Print(shown, false);
        log.Said(shown);
    }
    return ExitStatusOf(outcome);
}

// The service password, asked before anything touches the board.
int CheckPassword(bool fromStdin)
{
    std::string entry;
    std::string error;
    if (!ReadPassword(fromStdin, entry, error)) {
        Fail(error);
        return kExitUsage;
    }
    std::this_thread::sleep_for(kPasswordPause);
    if (!PasswordMatches(entry)) {
        std::fprintf(stderr, "%s\n", kPasswordIncorrectText);
        return kExitFailed;
    }
    return kExitOk;
}

// Puts the simulated or the real board behind the HID seam for this run.
class BoardSetup {
public:
    bool Start(const Options& options, std::string& error)
    {
        const ReportObserverFn observer = options.verbose ? ShowReport : nullptr;
        if (UsingUsb(options)) {
            usb_.emplace(LinkSettings{UsbHidBackend(), 0, nullptr, observer});
            return true;
        }
        SimConfig config;
        if (!LoadScenario(options.sim, config, error))
            return false;
        sim_ = std::make_unique<SimBoard>(config);
        // The scenario's read time-out is how long this host waits for a
        // reply, so a test need not sit out the real link's 5 s.
        simLink_.emplace(sim_.get(), nullptr, config.readTimeoutMs, &kSimHidBackend, observer);
        return true;
    }

private:
    // Declared before the set-ups, so it outlives them.
    std::unique_ptr<SimBoard> sim_;
    std::optional<LinkSetup> usb_;
    std::optional<SimLinkSetup> simLink_;
};

// Lets the report observer and the signal thread reach the console while it
// exists.
class ConsoleHooks {
public:
    explicit ConsoleHooks(Console& console)
    {
        g_console = &console;
        SetInterruptHooks(AbortNotice, BeforeSignalExit);
    }
    ~ConsoleHooks()
    {
        SetInterruptHooks(nullptr, nullptr);
        g_console = nullptr;
    }
    ConsoleHooks(const ConsoleHooks&) = delete;
    ConsoleHooks& operator=(const ConsoleHooks&) = delete;
};

// The path of the board a job for `device` reaches: that one, or the only
// one attached.
std::string BoardPath(const std::string& device)
{
    const std::vector<std::string> boards = device.empty() ? ListBoards() : std::vector<std::string>{device};
    return boards.size() == 1 ? boards[0] : device;
}

// The board's path and its word before the job, for the log.
void LogBoard(JobLog& log, const std::string& device)
{
    if (log.Enabled())
        log.Board(BoardPath(device), IdentityOf(device));
}

int Detect(ConsoleWindow& window, JobLog& log)
{
    const JobOutcome outcome = DetectionJob(window);
    log.Outcome(outcome.end);
    if (log.Enabled() && (outcome.end == JobEnd::kDone || outcome.end == JobEnd::kFailed)) {
        log.Board(BoardPath(window.Board()), window.status);
        log.Said(window.status);
    }
    return ExitStatusOf(outcome);
}

// Waits as asked, refuses or lists several boards, and runs the job.
int RunJob(const Options& options, Console& console, ConsoleWindow& window, JobLog& log)
{
    const bool detect = options.command == Command::kDetect;
    // detect reports a missing or busy board itself, in its usual words.
    const int32_t waited = options.wait > 0 ? WaitForBoard(options.device, options.wait) : 0;
    if (waited < 0 && waited != kOpenSeveralBoards && !detect) {
        if (waited == kOpenBoardBusy || waited == kOpenLockUnsafe)
            console.Print(OpenFailureText(waited, ""), true);
        else if (window.boardInaccessible && window.boardInaccessible())
            console.Print(BoardAccessHint(), true);
        else
            console.Print("No board detected within " + Seconds(options.wait), true);
        log.Outcome(waited == kOpenBoardBusy || waited == kOpenLockUnsafe ? JobEnd::kBoardBusy : JobEnd::kNoBoard);
        return kExitNoBoard;
    }
    if (options.device.empty()) {
        const std::vector<std::string> boards = ListBoards();
        if (boards.size() > 1)
            return detect ? DetectSeveral(console, boards) : RefuseSeveral(boards);
    }

    if (detect)
        return Detect(window, log);
    LogBoard(log, options.device);
    if (options.command == Command::kProgram)
        return Program(console, window, log, options.file);
    if (options.command == Command::kPressure)
        return Service(console, window, SVC_PRESSURE_VALUES, 0, log);
    if (options.setCount)
        return Service(console, window, SVC_SET_SHOT_COUNT, static_cast<int32_t>(options.newCount), log);
    // The query flag rides in the high half, as the window sends it.
    return Service(console, window, SVC_GET_SHOT_COUNT | (1u << 16), 0, log);
}

const char* JobName(Command command)
{
    switch (command) {
    case Command::kProgram: return "program";
    case Command::kShots: return "shots";
    case Command::kPressure: return "pressure";
    default: return "detect";
    }
}

// Everything after the log is open: the set-up, the password and the job.
int RunLogged(const Options& options, JobLog& log)
{
    BoardSetup setup;
    std::string error;
    if (!setup.Start(options, error)) {
        Fail(error);
        return kExitUsage;
    }

    if (options.each) {
        // The board lines and the summary alone on stdout; the progress line
        // on a terminal's stderr.
        Console console(StderrIsTerminal(), false);
        ConsoleHooks hooks(console);
        return ProgramEach(options, console, UsingUsb(options) ? UsbBoardInaccessible : std::function<bool()>());
    }
    if (options.device.empty() && options.command != Command::kDetect) {
        const std::vector<std::string> boards = ListBoards();
        if (boards.size() > 1)
            return RefuseSeveral(boards);
    }
    if (options.command == Command::kShots || options.command == Command::kPressure) {
        const int status = CheckPassword(options.passwordStdin);
        if (status == kExitFailed)
            log.Said(kPasswordIncorrectText);
        if (status != kExitOk)
            return status;
    }

    // A terminal on stderr gets the redrawn progress line; stdout keeps one
    // status per line whenever it is not a terminal, so scripts see the
    // same lines either way.
    const bool progressLine = options.command == Command::kProgram && StderrIsTerminal();
    Console console(progressLine, !progressLine || !StdoutIsTerminal());
    ConsoleHooks hooks(console);

    ConsoleWindow window(console, options.file, options.device);
    if (UsingUsb(options))
        window.boardInaccessible = UsbBoardInaccessible;
    window.said = [&log](const std::string& text) { log.Said(text); };
    return RunJob(options, console, window, log);
}

}  // namespace

int Run(const Options& options)
{
    if (options.command == Command::kInspect)
        return InspectFirmware(options.file, stdout, stderr);
    if (options.command == Command::kProgram && Utf8Characters(options.file) > kMaxFileName) {
        Fail("the firmware file's path is longer than " + std::to_string(kMaxFileName) + " characters");
        return kExitUsage;
    }
    // Opened before any board is touched: a job that cannot be recorded
    // does not run.
    JobLog log;
    std::string error;
    if (!log.Open(options.log, error)) {
        Fail("cannot append to the log " + options.log + ": " + error);
        return kExitUsage;
    }
    // --each writes a record per board instead.
    if (options.each)
        return RunLogged(options, log);
    log.Begin(JobName(options.command));
    if (options.command == Command::kProgram)
        log.File(options.file);
    const int status = RunLogged(options, log);
    log.End(status);
    return status;
}
