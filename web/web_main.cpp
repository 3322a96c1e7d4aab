// What the page calls: the board set-up (WebHID or the simulated board), the
// jobs, and the window's own texts. velkor.js runs one job at a time; the
// jobs are the ones every front end runs, unchanged.
#include <emscripten.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

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

EMSCRIPTEN_KEEPALIVE void web_detect()
{
    DetectionJob(PageWindow());
}

EMSCRIPTEN_KEEPALIVE void web_update()
{
    UpdateJob(PageWindow());
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
    g_service = ServiceJob(PageWindow(), (1u << 16) | SVC_GET_SHOT_COUNT, 0);
    return g_service.result ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int web_set_shot_counter(uint32_t count)
{
    g_service = ServiceJob(PageWindow(), SVC_SET_SHOT_COUNT, static_cast<int32_t>(count));
    return g_service.result ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int web_pressure_values()
{
    g_service = ServiceJob(PageWindow(), SVC_PRESSURE_VALUES, 0);
    return g_service.result ? 1 : 0;
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
