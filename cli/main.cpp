// velkor: the update utility's jobs from the command line, against a board
// on USB or a simulated one.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "cli/record_listing.h"
#include "cli/interrupts.h"
#include "cli/password.h"
#include "cli/terminal.h"
#include "cli/usb_board.h"
#include "job/messages.h"
#include "job/service_password.h"
#include "link/board_link.h"
#include "link/link_setup.h"
#include "sim/scenario.h"
#include "sim/sim_setup.h"
#include "update/update_job.h"
#include "velkor_version.h"
#include "worker/detection.h"
#include "worker/service.h"

namespace {

constexpr const char* kVersion = "velkor " VELKOR_VERSION_TEXT;
// The window's limit on the file name, in characters; the job's buffer holds
// that many, and a longer path could be cut and name another file.
constexpr size_t kMaxFileName = kFileNameMaxChars;
// The password check pauses like the service dialog does, against guessing.
constexpr std::chrono::milliseconds kPasswordPause(kPasswordPauseMs);
constexpr std::chrono::milliseconds kWaitPoll(200);

const char kFooter[] = R"(Examples:
  velkor detect                      which board is attached
  velkor program firmware.enc        program a firmware file into the board
  velkor inspect firmware.enc        check a firmware file without a board
  velkor shots                       show the shot counter (asks for the service password)
  velkor shots --set 0               set the shot counter
  echo "$PW" | velkor pressure --password-stdin
                                     show the raw pressure values
  velkor --sim demo program examples/demo.enc
                                     try it on a simulated board
  velkor --wait 30 detect            wait up to 30 s for a board to be plugged in
  velkor --device /dev/hidraw3 program firmware.enc
                                     program that board of several (velkor
                                     detect lists them)

Exit status: 0 success, 1 the job reported an error (or inspect found a
problem), 2 usage error, or several boards attached and no --device, 3 no
board could be opened, or it is in use by another program.)";

struct Options {
    std::string sim;
    std::string device;
    double wait = 0;
    bool verbose = false;
    std::string file;
    std::string newCount;
    bool passwordStdin = false;
};

constexpr const char kIncompleteText[] =
    "Aborted: the board holds an incomplete firmware; program it again before use";

// For the report observer and the signal thread, which take plain functions.
std::atomic<Console*> g_console{nullptr};
// While an update runs, whatever ends it early leaves the board half written.
std::atomic<bool> g_updating{false};

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

void AbortNotice()
{
    if (Console* console = g_console.load())
        console->Print("Stopping after the current record (Ctrl+C again to quit at once)", true);
}

void BeforeSignalExit()
{
    // Leave the shell prompt on a line of its own.
    Console* console = g_console.load();
    if (console != nullptr && console->LineShown())
        WriteStderrNow("\n");
    if (g_updating.load()) {
        WriteStderrNow(kIncompleteText);
        WriteStderrNow("\n");
    }
}

void Fail(const std::string& message)
{
    std::fprintf(stderr, "velkor: %s\n", message.c_str());
}

// Digits only, 0 to 4294967295: the counter is an unsigned 32-bit number.
bool ParseCount(const std::string& text, uint32_t& count)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(text);
    if (value > 0xFFFFFFFFull)
        return false;
    count = static_cast<uint32_t>(value);
    return true;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

bool ParseSeconds(const std::string& text, double& seconds)
{
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && seconds >= 0 && seconds <= 86400;
}

bool UsingUsb(const Options& options)
{
    return options.sim.empty();
}

// Waits for a board to appear and be free. Returns OpenBoard's last result:
// a handle (already closed again) or why it opened nothing. Several boards
// end the wait at once: waiting does not make that any clearer.
int32_t WaitForBoard(double seconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        const int32_t board = OpenBoard();
        if (board >= 0)
            CloseBoard(board);
        const Clock::time_point now = Clock::now();
        if (board >= 0 || board == kOpenSeveralBoards || now >= deadline)
            return board;
        std::this_thread::sleep_for(std::min<Clock::duration>(kWaitPoll, deadline - now));
    }
}

// Takes only the status line detection writes for one board.
class ProbeWindow : public JobWindow {
public:
    std::string status;
    uint32_t result = kBoardAbsent;

    void SetStatus(const char* text) override { status = text; }
    void SetProgressRange(uint32_t) override {}
    void SetProgressPos(uint32_t) override {}
    int ShowMessage(const char*, const char*, MessageIcon) override { return kButtonOk; }
    void SendResult(uint32_t, uint32_t wparam, int32_t) override { result = wparam; }
    void ReadFileName(char* buf, size_t size) override
    {
        if (size > 0)
            buf[0] = '\0';
    }
    bool TakeAbort() override { return false; }
};

// "PATH: STATUS" for each board, as detection sees it alone; whether every
// one identified itself, and whether any was there at all (opened, or held by
// another program).
std::vector<std::string> ProbeBoards(const std::vector<std::string>& paths, bool& allIdentified, bool& anyAnswered)
{
    std::vector<std::string> lines;
    allIdentified = true;
    anyAnswered = false;
    for (const std::string& path : paths) {
        ChooseBoard(path);
        ProbeWindow window;
        DetectionJob(window);
        lines.push_back(path + ": " + window.status);
        allIdentified = allIdentified && window.result == kBoardIdentified;
        anyAnswered = anyAnswered || window.result != kBoardAbsent || window.status == kBoardBusyText;
    }
    ChooseBoard("");
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

int Detect(ConsoleWindow& window)
{
    DetectionJob(window);
    if (const int status = window.OpenFailureExit())
        return status;
    switch (window.resultWparam) {
    case kBoardIdentified:
        return kExitOk;
    case kBoardUnidentified:
        return kExitFailed;
    default:
        return kExitNoBoard;
    }
}

int Program(Console& console, ConsoleWindow& window)
{
    g_updating = true;
    SetAbortable(true);
    UpdateJob(window);
    // Done before the end of abortable: a signal in between only asks.
    g_updating = false;
    SetAbortable(false);
    console.EndProgress();
    if (window.aborted) {
        console.Print(kIncompleteText, true);
        return kExitFailed;
    }
    if (const int status = window.OpenFailureExit())
        return status;
    return window.errorShown ? kExitFailed : kExitOk;
}

int Service(Console& console, ConsoleWindow& window, uint32_t wparam, int32_t lparam)
{
    ServiceJob(window, wparam, lparam);
    if (const int status = window.OpenFailureExit())
        return status;
    if (!window.gotResult || (window.resultWparam & SVC_FAILED) != 0)
        return kExitFailed;
    const uint32_t code = window.resultWparam & 0xFFFF;
    if (code == SVC_GET_SHOT_COUNT)
        console.Print(std::to_string(static_cast<uint32_t>(window.resultLparam)), false);
    else if (code == SVC_SET_SHOT_COUNT)
        console.Print("New shot counter set", false);
    return window.errorShown ? kExitFailed : kExitOk;
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
        std::fputs("Password incorrect\n", stderr);
        return kExitFailed;
    }
    return kExitOk;
}

// Puts the simulated or the real board behind the HID seam for this run.
class BoardSetup {
public:
    bool Start(const Options& options, std::string& error)
    {
        if (UsingUsb(options)) {
            usb_.emplace(LinkSettings{UsbHidBackend()});
            return true;
        }
        SimConfig config;
        if (!LoadScenario(options.sim, config, error))
            return false;
        sim_ = std::make_unique<SimBoard>(config);
        // The scenario's read time-out is how long this host waits for a
        // reply, so a test need not sit out the real link's 5 s.
        simLink_.emplace(sim_.get(), nullptr, config.readTimeoutMs);
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
    ConsoleHooks(Console& console, bool verbose)
    {
        g_console = &console;
        SetInterruptHooks(AbortNotice, BeforeSignalExit);
        if (verbose)
            SetReportObserver(ShowReport);
    }
    ~ConsoleHooks()
    {
        SetReportObserver(nullptr);
        SetInterruptHooks(nullptr, nullptr);
        g_console = nullptr;
    }
    ConsoleHooks(const ConsoleHooks&) = delete;
    ConsoleHooks& operator=(const ConsoleHooks&) = delete;
};

// One line for a parse error, whatever CLI11 made of it.
std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    UseUtf8(argc, argv);
    StartInterruptWatch();

    CLI::App app{"Velkor Update Utility: detects, programs and services the marker's control board over USB."};
    app.name("velkor");
    // CLI11 on Windows would read a path like /data/x.enc as an option
    // "/data"; options are spelled the same on every platform. Set before the
    // subcommands, which copy it.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", kVersion);
    app.require_subcommand(1);
    app.fallthrough();

    Options options;
    app.add_option("--sim", options.sim,
                   "Use a simulated board: \"demo\" or a scenario file (JSON)")
        ->type_name("SCENARIO");
    app.add_option("--device", options.device,
                   "Use only the board at PATH, one of those velkor detect lists")
        ->type_name("PATH");
    app.add_option("--wait", options.wait,
                   "Wait up to SECONDS for a board to appear, and to be free, before starting")
        ->type_name("SECONDS")
        ->check([](const std::string& text) {
            double seconds;
            return ParseSeconds(text, seconds) ? std::string() : "expected a number of seconds from 0 to 86400";
        });
    app.add_flag("--verbose", options.verbose, "Show every report written to and read from the board on stderr");

    CLI::App* detect = app.add_subcommand("detect", "Show which board is attached (exit 0 identified, 1 unidentified, 3 none)");
    CLI::App* program = app.add_subcommand("program", "Program a firmware file (*.enc) into the board");
    program->add_option("FILE", options.file, "The firmware file")->required();
    CLI::App* inspect = app.add_subcommand("inspect", "List a firmware file's records and any problem an update would stop at; touches no board");
    inspect->add_option("FILE", options.file, "The firmware file")->required();
    CLI::App* shots = app.add_subcommand("shots", "Show or set the marker's shot counter (service password)");
    CLI::Option* set = shots->add_option("--set", options.newCount, "Set the counter to N (0 to 4294967295)")
                           ->type_name("N")
                           ->check([](const std::string& text) {
                               uint32_t count;
                               return ParseCount(text, count) ? std::string()
                                                              : "expected a whole number from 0 to 4294967295";
                           });
    CLI::App* pressure = app.add_subcommand("pressure", "Show the raw pressure values (service password)");
    for (CLI::App* sub : {shots, pressure})
        sub->add_flag("--password-stdin", options.passwordStdin, "Read the service password as one line from stdin");

    // Set last: subcommands created before it keep their own footers.
    app.footer(kFooter);
    detect->footer("Example:\n  velkor detect");
    program->footer("Examples:\n  velkor program firmware.enc\n  velkor --wait 30 program firmware.enc");
    inspect->footer("Example:\n  velkor inspect firmware.enc");
    shots->footer("Examples:\n  velkor shots\n  velkor shots --set 0\n  echo \"$PW\" | velkor shots --password-stdin");
    pressure->footer("Example:\n  velkor pressure");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        // CLI11 takes an unknown command for a stray argument and only
        // misses the command; the word is the better clue.
        const std::vector<std::string> stray = app.remaining();
        if (app.get_subcommands().empty() && !stray.empty())
            Fail("unknown command \"" + stray.front() + "\" (see velkor --help)");
        else
            Fail(OneLine(e.what()) + " (see velkor --help)");
        return kExitUsage;
    }

    if (inspect->parsed())
        return InspectFirmware(options.file, stdout, stderr);
    if (program->parsed() && Utf8Characters(options.file) > kMaxFileName) {
        Fail("the firmware file's path is longer than " + std::to_string(kMaxFileName) + " characters");
        return kExitUsage;
    }

    BoardSetup setup;
    std::string error;
    if (!setup.Start(options, error)) {
        Fail(error);
        return kExitUsage;
    }

    // Chosen before anything is opened, the waiting included.
    if (!options.device.empty())
        ChooseBoard(options.device);
    const bool choosing = options.device.empty();
    const bool service = shots->parsed() || pressure->parsed();
    if (choosing && !detect->parsed()) {
        const std::vector<std::string> boards = ListBoards();
        if (boards.size() > 1)
            return RefuseSeveral(boards);
    }
    if (service) {
        const int status = CheckPassword(options.passwordStdin);
        if (status != kExitOk)
            return status;
    }

    // A terminal on stderr gets the redrawn progress line; stdout keeps one
    // status per line whenever it is not a terminal, so scripts see the
    // same lines either way.
    const bool progressLine = program->parsed() && StderrIsTerminal();
    Console console(progressLine, !progressLine || !StdoutIsTerminal());
    ConsoleHooks hooks(console, options.verbose);

    ConsoleWindow window(console, options.file);
    if (UsingUsb(options))
        window.boardInaccessible = UsbBoardInaccessible;

    // detect reports a missing or busy board itself, in its usual words.
    const int32_t waited = options.wait > 0 ? WaitForBoard(options.wait) : 0;
    if (waited < 0 && waited != kOpenSeveralBoards && !detect->parsed()) {
        if (waited == kOpenBoardBusy)
            console.Print(kBoardBusyText, true);
        else if (window.boardInaccessible && window.boardInaccessible())
            console.Print(BoardAccessHint(), true);
        else
            console.Print("No board detected within " + Seconds(options.wait), true);
        return kExitNoBoard;
    }
    if (choosing) {
        const std::vector<std::string> boards = ListBoards();
        if (boards.size() > 1)
            return detect->parsed() ? DetectSeveral(console, boards) : RefuseSeveral(boards);
    }

    if (detect->parsed())
        return Detect(window);
    if (program->parsed())
        return Program(console, window);
    if (pressure->parsed())
        return Service(console, window, SVC_PRESSURE_VALUES, 0);
    uint32_t count = 0;
    if (set->count() > 0 && ParseCount(options.newCount, count))
        return Service(console, window, SVC_SET_SHOT_COUNT, static_cast<int32_t>(count));
    // The query flag rides in the high half, as the window sends it.
    return Service(console, window, SVC_GET_SHOT_COUNT | (1u << 16), 0);
}
