// Times an update run from the real window and worker under the full-speed
// timing model: from the press of "Program" to the status "Done.". The file
// comes from VELKOR_BENCH_FILE so scripts/bench-window.sh can time velkor on
// the same one. Prints the figures; asserts only that the update completed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/app_win32.h"
#include "gui_fixture.h"
#include "resources/resource.h"

namespace {

class WindowBench : public GuiTest {};

TEST_F(WindowBench, UpdateUnderFullSpeedTiming)
{
    const char* path = std::getenv("VELKOR_BENCH_FILE");
    ASSERT_NE(path, nullptr) << "set VELKOR_BENCH_FILE";
    SimConfig config;
    config.usbFullSpeedTiming = true;
    Start(config);
    SetFileName(path);
    ASSERT_EQ(WaitHint("Ready"), "Ready");

    using Clock = std::chrono::steady_clock;
    Clock::time_point done{};
    onStatus = [&](const std::string& status) {
        if (status == "Done.")
            done = Clock::now();
    };
    std::string boxText;
    OnDialog("Done", [&](HWND box) {
        boxText = BoxText(box);
        Press(box, IDOK);
    });
    const std::chrono::microseconds linkBefore = board->LinkTime();
    const Clock::time_point start = Clock::now();
    SendDlgItemMessageA(main, IDC_PROGRAM, BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([] { return !UpdateRunning; }, 600000));
    ASSERT_EQ(boxText, "Update complete!");
    const double seconds = std::chrono::duration<double>(done - start).count();
    const double link = std::chrono::duration<double>(board->LinkTime() - linkBefore).count();
    std::printf("window_update_seconds %.4f\nwindow_link_seconds %.4f\n", seconds, link);
}

}  // namespace
