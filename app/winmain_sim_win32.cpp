// VelkorUpdateSim.exe: the same program with a simulated board, for demos,
// screenshots and trying things without hardware. VELKOR_SIM names the
// scenario file; unset, the demo board is used.
#include <windows.h>

#include <string>

#include "app/app_win32.h"
#include "sim/scenario.h"
#include "sim/sim_setup.h"
#include "update/utf8_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/)
{
    std::string scenario = "demo";
    // Wide, like every file name here: the scenario may sit under any folder.
    const DWORD needed = GetEnvironmentVariableW(L"VELKOR_SIM", nullptr, 0);
    if (needed > 1) {
        std::wstring value(needed, L'\0');
        value.resize(GetEnvironmentVariableW(L"VELKOR_SIM", value.data(), needed));
        scenario = Utf8FromWide(value.c_str());
    }

    SimConfig config;
    std::string error;
    if (!LoadScenario(scenario, config, error)) {
        MessageBoxA(nullptr, error.c_str(), "Velkor Update Utility (simulated board)", MB_OK | MB_ICONERROR);
        return 1;
    }
    // The board is never freed: the worker may still be using it when the
    // process ends. As with velkor --sim, the scenario's read time-out is how
    // long this host waits for a reply.
    const SimLinkSetup setup(new SimBoard(config), nullptr, config.readTimeoutMs);
    return RunVelkorUpdate(instance);
}
