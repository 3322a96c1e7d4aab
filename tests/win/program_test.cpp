// The two executables as processes: how they end, the scenario and dump of
// the simulated one, and the USB one with no board. Also the Win32 HID
// backend on its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "link/hid.h"
#include "resources/resource.h"

namespace {

std::string ExeBeside(const char* name)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string dir(self);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

struct FindArgs {
    DWORD pid;
    const char* title;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param)
{
    auto* args = reinterpret_cast<FindArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char title[128] = "";
    GetWindowTextA(window, title, sizeof title);
    if (pid == args->pid && IsWindowVisible(window) && std::string(title) == args->title) {
        args->found = window;
        return FALSE;
    }
    return TRUE;
}

class Program : public ::testing::Test {
protected:
    void TearDown() override
    {
        Forget();
        SetEnvironmentVariableA("VELKOR_SIM", nullptr);
    }

    // Ends the process if it is still there.
    void Forget()
    {
        if (process_.hProcess) {
            TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        process_ = {};
    }

    void Launch(const char* exe)
    {
        std::string command = "\"" + ExeBeside(exe) + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process_))
            << command;
    }

    HWND WaitWindow(const char* title)
    {
        FindArgs args = {process_.dwProcessId, title, nullptr};
        for (int i = 0; i < 200 && !args.found; ++i) {
            EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&args));
            if (!args.found)
                Sleep(50);
        }
        return args.found;
    }

    // Another process's control text; the send is answered by its loop.
    static std::string RemoteText(HWND window, int id)
    {
        char text[256] = "";
        DWORD_PTR result = 0;
        SendMessageTimeoutA(GetDlgItem(window, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &result);
        return text;
    }

    static std::string WaitText(HWND window, int id, const std::string& want)
    {
        std::string text;
        for (int i = 0; i < 200 && (text = RemoteText(window, id)) != want; ++i)
            Sleep(50);
        return text;
    }

    DWORD ExitCode(DWORD timeoutMs = 10000)
    {
        if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return 0xDEAD;
        DWORD code = 0xDEAD;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION process_ = {};
};

TEST_F(Program, EscapeExitAndTheCloseBoxEndItWithZero)
{
    struct Way {
        const char* name;
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
        bool toEdit;
    };
    const Way ways[] = {
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 1, true},
        {"E&xit", WM_COMMAND, IDM_EXIT, 0, false},
        {"close box", WM_SYSCOMMAND, SC_CLOSE, 0, false},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        Launch("VelkorUpdateSim.exe");
        HWND window = WaitWindow("Velkor Update Utility");
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WaitText(window, IDC_HINT, "Select a firmware file to upload"), "Select a firmware file to upload");
        PostMessageA(way.toEdit ? GetDlgItem(window, IDC_FIRMWARE_FILE) : window, way.message, way.wparam,
                     way.lparam);
        EXPECT_EQ(ExitCode(), 0u);
        Forget();
    }
}

TEST_F(Program, UsbBuildWithoutBoardSaysSo)
{
    Launch("VelkorUpdate.exe");
    HWND window = WaitWindow("Velkor Update Utility");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WaitText(window, IDC_HINT, "Attach board to USB and power on"), "Attach board to USB and power on");
    EXPECT_EQ(RemoteText(window, IDC_STATUS), "No board detected");
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(ExitCode(), 0u);
}

std::string Slashes(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

TEST_F(Program, SimBuildTakesItsScenarioAndWritesTheDump)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string scenario = (dir / ("velkor-scenario-" + std::to_string(GetCurrentProcessId()) + ".json")).string();
    const std::string dump = (dir / ("velkor-dump-" + std::to_string(GetCurrentProcessId()) + ".json")).string();
    std::filesystem::remove(dump);
    std::ofstream(scenario) << "{\"type\": 4, \"firmware\": false, \"dump\": \"" << Slashes(dump) << "\"}";
    SetEnvironmentVariableA("VELKOR_SIM", scenario.c_str());

    Launch("VelkorUpdateSim.exe");
    HWND window = WaitWindow("Velkor Update Utility");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WaitText(window, IDC_STATUS, "Connected: Vantor 5, no software"), "Connected: Vantor 5, no software");
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(ExitCode(), 0u);
    std::stringstream written;
    written << std::ifstream(dump).rdbuf();
    EXPECT_NE(written.str().find("\"open_handles\": 0"), std::string::npos) << written.str();
    std::filesystem::remove(scenario);
    std::filesystem::remove(dump);
}

TEST(Win32Hid, NoBoardMeansNothingOpens)
{
    EXPECT_LT(kWin32HidBackend.open(0x04D8, 0xFC31, 0), 0);
    uint8_t report[73] = {};
    EXPECT_LT(kWin32HidBackend.writeShort(0, report, 9), 0);
    EXPECT_LT(kWin32HidBackend.writeLong(0, report, 73), 0);
    EXPECT_LT(kWin32HidBackend.read(0, report, 9), 0);
    EXPECT_LT(kWin32HidBackend.close(0), 0);
}

}  // namespace
