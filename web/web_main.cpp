// What the page calls: the board set-up (WebHID or the simulated board), the
// jobs, and the window's own texts. velkor.js runs one job at a time; the
// jobs are the ones every front end runs, unchanged.
#include <emscripten.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/boot_texts.h"
#include "job/job_record.h"
#include "job/messages.h"
#include "job/service_password.h"
#include "job/window_texts.h"
#include "link/board_link.h"
#include "link/commands.h"
#include "link/link_setup.h"
#include "sim/scenario.h"
#include "sim/sim_setup.h"
#include "update/update_job.h"
#include "worker/service.h"
#include "velkor_version.h"
#include "web/web_window.h"
#include "worker/detection.h"

namespace {

// Where the build puts examples/scenarios in the module's file system.
constexpr char kScenarioFolder[] = "/scenarios/";
// A scenario comes from the address, which any link can set: its times stay
// within what a demo needs.
constexpr int kScenarioMaxMs = 10000;

// The texts the page puts up itself, numbered for velkor.js.
constexpr const char* kWindowTexts[] = {
    kProgramText,
    kProgramBusyText,
    kHintUpdating,
    kHintAborting,
    ("Velkor Update Utility v" VELKOR_VERSION_TEXT),
    kPasswordCheckingText,
    kPasswordIncorrectText,
    kAccessDeniedCaption,
    kShotCounterSetText,
    kShotCounterCaption,
    kDisableServiceText,
    kDisableServiceCaption,
};

std::unique_ptr<SimBoard> g_sim;
std::optional<SimLinkSetup> g_simLink;
std::optional<LinkSetup> g_link;
std::string g_text;
// The last service job's outcome: the page takes the count from it.
JobOutcome g_service;
// The session's job records, a line each, for "Save log"; they never leave the page.
std::string g_log;
int g_records = 0;
// The board's word at the last detection: what a record says it was before its job.
std::string g_identity;
// After an update: the booted board's word, or that it gave none.
std::string g_bootReport;

// The records name the page, so a reader can tell them from velkor's.
constexpr char kProgramName[] = "velkor-web";
constexpr double kBootPollMs = 250;

// Passes everything on to the page and keeps what a record needs: the status
// line detection wrote, and the boxes' texts.
class RecordingWindow : public JobWindow {
public:
    explicit RecordingWindow(JobRecord* record) : record_(record) {}

    std::string status;
    // The last box that was no error: a service job's readout.
    std::string info;

    void SetStatus(const char* text) override
    {
        status = text;
        page_.SetStatus(text);
    }
    void SetProgressRange(uint32_t upper) override { page_.SetProgressRange(upper); }
    void SetProgressPos(uint32_t pos) override { page_.SetProgressPos(pos); }
    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override
    {
        if (icon != kIconError)
            info = text;
        Say(text);
        return page_.ShowMessage(text, caption, icon);
    }
    void ShowOpenFailure(JobEnd why, const char* text, OpenFailurePlace place) override
    {
        if (place == OpenFailurePlace::kErrorBox)
            Say(text);
        page_.ShowOpenFailure(why, text, place);
    }
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override
    {
        page_.SendResult(message, wparam, lparam);
    }
    void ReadFileName(char* buf, size_t size) override { page_.ReadFileName(buf, size); }
    bool TakeAbort() override { return page_.TakeAbort(); }

    void Say(const std::string& text)
    {
        if (record_ != nullptr)
            record_->Said(text);
    }

private:
    JobWindow& page_ = PageWindow();
    JobRecord* record_;
};

// The board a job is for, as the page last detected it.
void RecordBoard(JobRecord& record)
{
    const std::vector<std::string> boards = ListBoards();
    record.Board(boards.size() == 1 ? boards.front() : std::string(), g_identity);
}

void KeepRecord(JobRecord& record)
{
    g_log += record.Line(std::nullopt);
    ++g_records;
}

// The booted board's word: detection, until it answers or the time is up.
// Its status line goes into the record as velkor's does, null for none.
void ConfirmBoot(JobRecord& record, RecordingWindow& window)
{
    const double deadline = emscripten_get_now() + kBootAnswerSeconds * 1000;
    for (;;) {
        RecordingWindow probe(nullptr);
        if (DetectionJob(probe).end == JobEnd::kDone) {
            g_identity = probe.status;
            g_bootReport = kBootReportPrefix + probe.status;
            record.Set("identity_after", probe.status);
            window.Say(g_bootReport);
            return;
        }
        const double left = deadline - emscripten_get_now();
        if (left <= 0)
            break;
        emscripten_sleep(static_cast<unsigned>(std::min(left, kBootPollMs)));
    }
    g_bootReport = kBootSilentText;
    record.Set("identity_after", nullptr);
    window.Say(g_bootReport);
}

// A service command as one service job, and its record.
int RunService(const char* job, uint32_t wparam, int32_t lparam)
{
    JobRecord record;
    record.Begin(kProgramName, job);
    RecordBoard(record);
    RecordingWindow window(&record);
    g_service = ServiceJob(window, wparam, lparam);
    record.Outcome(g_service.end);
    const std::optional<int32_t> result = g_service.result;
    switch (wparam & 0xFFFF) {
    case SVC_GET_SHOT_COUNT:
        if (result) {
            record.Set("shots", static_cast<uint32_t>(*result));
            window.Say(std::to_string(static_cast<uint32_t>(*result)));
        }
        break;
    case SVC_SET_SHOT_COUNT:
        record.Set("set", static_cast<uint32_t>(lparam));
        if (result)
            window.Say(kShotCounterSetText);
        break;
    default:
        if (result)
            record.Set("pressure", window.info);
    }
    KeepRecord(record);
    return result ? 1 : 0;
}

// The board's pauses yield to the page instead of blocking it.
void PageSleep(uint32_t milliseconds)
{
    emscripten_sleep(milliseconds);
}

// "demo", a bundled scenario's name, or a scenario document itself.
bool ReadScenario(const std::string& scenario, SimConfig& config, std::string& error)
{
    if (!scenario.empty() && scenario[0] == '{')
        return ParseScenario(scenario, config, error);
    if (scenario.empty() || scenario == "demo")
        return LoadScenario("demo", config, error);
    if (scenario.find_first_of("/\\") != std::string::npos || scenario[0] == '.') {
        error = "no such scenario: " + scenario;
        return false;
    }
    return LoadScenario(kScenarioFolder + scenario + ".json", config, error);
}

}  // namespace

extern "C" {

// Puts the simulated board (demo set) or WebHID behind the HID seam. Returns
// "" or why the scenario could not be used.
EMSCRIPTEN_KEEPALIVE const char* web_start(int demo, const char* scenario)
{
    g_text.clear();
    if (!demo) {
        g_link.emplace(LinkSettings{&kWebHidBackend, 0, PageSleep});
        return g_text.c_str();
    }
    SimConfig config;
    if (!ReadScenario(scenario != nullptr ? scenario : "", config, g_text))
        return g_text.c_str();
    // A dump path would only fill the module's memory; a device path could
    // name a real board's and take its lock from the other tabs.
    config.dumpPath.clear();
    config.devicePath.clear();
    for (int* ms : {&config.readTimeoutMs, &config.chatterMs, &config.replugAfterMs})
        *ms = std::min(*ms, kScenarioMaxMs);
    g_sim = std::make_unique<SimBoard>(config);
    // As with velkor --sim, the scenario's read time-out is how long the
    // page waits for a reply.
    g_simLink.emplace(g_sim.get(), PageSleep, config.readTimeoutMs);
    return g_text.c_str();
}

// Detection is not recorded: the page runs it every second, and each job's
// record names the board it found.
EMSCRIPTEN_KEEPALIVE void web_detect()
{
    RecordingWindow window(nullptr);
    const JobEnd end = DetectionJob(window).end;
    g_identity = end == JobEnd::kDone || end == JobEnd::kFailed ? window.status : std::string();
}

// The update, then the booted board's word (web_boot_report), all in one
// record. The file is named as chosen; its checksum is of the copy the job reads.
EMSCRIPTEN_KEEPALIVE void web_update()
{
    JobRecord record;
    record.Begin(kProgramName, "program");
    char path[kFileNameBufferSize];
    PageWindow().ReadFileName(path, sizeof path);
    const std::string chosen = path;
    record.File(chosen.substr(chosen.find_last_of('/') + 1), chosen);
    RecordBoard(record);
    RecordingWindow window(&record);
    const JobEnd end = UpdateJob(window).end;
    record.Outcome(end);
    g_bootReport.clear();
    if (end == JobEnd::kDone)
        ConfirmBoot(record, window);
    KeepRecord(record);
}

// "" until an update has ended.
EMSCRIPTEN_KEEPALIVE const char* web_boot_report()
{
    return g_bootReport.c_str();
}

// The session's records, JSON Lines; and how many.
EMSCRIPTEN_KEEPALIVE const char* web_log()
{
    return g_log.c_str();
}

EMSCRIPTEN_KEEPALIVE int web_log_records()
{
    return g_records;
}

// The hint line, from the last board report and whether a file is chosen.
EMSCRIPTEN_KEEPALIVE const char* web_hint(uint32_t boardStatus, int haveFile)
{
    if (boardStatus & 0xFFFF)
        return haveFile ? kHintReady : kHintChooseFile;
    if (boardStatus >> 16)
        return kHintCheckBoard;
    return kHintNoBoard;
}

EMSCRIPTEN_KEEPALIVE const char* web_text(int which)
{
    const int count = static_cast<int>(sizeof kWindowTexts / sizeof kWindowTexts[0]);
    return which >= 0 && which < count ? kWindowTexts[which] : "";
}

// The simulated board's state as its dump file would hold it; "" without one.
EMSCRIPTEN_KEEPALIVE const char* web_dump()
{
    g_text = g_sim ? g_sim->DumpJson() : "";
    return g_text.c_str();
}

EMSCRIPTEN_KEEPALIVE int web_password_max_chars()
{
    return static_cast<int>(kPasswordMaxChars);
}

// One attempt, as the service dialog makes it: only the first
// kPasswordMaxChars characters count, the pause comes whatever the entry, and
// only the exact word passes. 1 when it does.
EMSCRIPTEN_KEEPALIVE int web_check_password(const char* entry)
{
    const std::string kept = std::string(entry != nullptr ? entry : "").substr(0, kPasswordMaxChars);
    emscripten_sleep(kPasswordPauseMs);
    return kept == kServicePassword ? 1 : 0;
}

// The service commands, each one service job; the job shows its own boxes.
// 1 when the command went through (the job's outcome has a result).
EMSCRIPTEN_KEEPALIVE int web_read_shot_counter()
{
    return RunService("shots", (1u << 16) | SVC_GET_SHOT_COUNT, 0);
}

EMSCRIPTEN_KEEPALIVE int web_set_shot_counter(uint32_t count)
{
    return RunService("shots", SVC_SET_SHOT_COUNT, static_cast<int32_t>(count));
}

EMSCRIPTEN_KEEPALIVE int web_pressure_values()
{
    return RunService("pressure", SVC_PRESSURE_VALUES, 0);
}

// The last service command's result: the counter, unsigned as the dialog
// shows it.
EMSCRIPTEN_KEEPALIVE uint32_t web_service_result()
{
    return static_cast<uint32_t>(g_service.result.value_or(0));
}

// COUNT identify exchanges with the board through the link code, timed in
// milliseconds (-1 when one fails): what the page adds to the browser's own
// cost is this against a bare WebHID loop (docs/performance.md).
EMSCRIPTEN_KEEPALIVE double web_time_exchanges(int count)
{
    const int32_t handle = OpenBoard("");
    if (handle < 0)
        return -1;
    uint8_t reply[kShortReportSize];
    int32_t rc = 0;
    const double start = emscripten_get_now();
    for (int i = 0; i < count && rc >= 0; ++i)
        rc = IdentifyBoard(handle, reply);
    const double elapsed = emscripten_get_now() - start;
    CloseBoard(handle);
    return rc < 0 ? -1 : elapsed;
}

EMSCRIPTEN_KEEPALIVE uint32_t web_update_message()
{
    return UM_UPDATE;
}

EMSCRIPTEN_KEEPALIVE uint32_t web_check_message()
{
    return UM_CHECK_BOARD;
}

}  // extern "C"

int main()
{
    return 0;
}
