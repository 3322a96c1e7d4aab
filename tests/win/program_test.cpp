// The two executables as processes, started as a user starts them, and the
// Win32 HID backend with no board on the bus.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "link/hid.h"
#include "resources/resource.h"

namespace {

class Program : public ::testing::Test {
protected:
    void TearDown() override
    {
        End();
        SetEnvironmentVariableA("VELKOR_SIM", nullptr);
    }

    void End()
    {
        if (process_.hProcess) {
            TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        process_ = {};
    }

    // Starts the executable beside this one and returns its main window.
    HWND Launch(const std::string& exe)
    {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string command = "\"" + std::filesystem::path(self).replace_filename(exe).string() + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process_))
            return nullptr;
        for (int i = 0; i < 200; ++i, Sleep(50))
            for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", "Velkor Update Utility")) != nullptr;) {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid == process_.dwProcessId && IsWindowVisible(w))
                    return w;
            }
        return nullptr;
    }

    // Another process's control text, once it reads want (or after 10 s).
    static std::string WaitText(HWND window, int id, const std::string& want)
    {
        char text[256] = "";
        for (int i = 0; i < 200 && want != text; ++i, Sleep(50)) {
            DWORD_PTR result = 0;
            SendMessageTimeoutA(GetDlgItem(window, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, 2000, &result);
        }
        return text;
    }

    DWORD ExitCode()
    {
        DWORD code = 0xDEAD;
        if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION process_ = {};
};

// Every way out ends the process with 0, and the board it used is closed.
TEST_F(Program, EscapeExitAndTheCloseBoxEndItWithZero)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::string scenario = (dir / ("velkor-scenario-" + tag + ".json")).string();
    const std::string dump = (dir / ("velkor-dump-" + tag + ".json")).generic_string();
    std::ofstream(scenario) << "{\"type\": 4, \"firmware\": false, \"dump\": \"" << dump << "\"}";
    SetEnvironmentVariableA("VELKOR_SIM", scenario.c_str());
    const struct {
        const char* name;
        UINT message;
        WPARAM wparam;
    } ways[] = {
        {"Escape", WM_KEYDOWN, VK_ESCAPE},
        {"E&xit", WM_COMMAND, IDM_EXIT},
        {"close box", WM_SYSCOMMAND, SC_CLOSE},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        std::filesystem::remove(dump);
        HWND window = Launch("VelkorUpdateSim.exe");
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(WaitText(window, IDC_STATUS, "Connected: Vantor 5, no software"),
                  "Connected: Vantor 5, no software");
        // Escape as typed in the edit, which has the focus.
        const bool key = way.message == WM_KEYDOWN;
        PostMessageA(key ? GetDlgItem(window, IDC_FIRMWARE_FILE) : window, way.message, way.wparam, key);
        EXPECT_EQ(ExitCode(), 0u);
        std::stringstream written;
        written << std::ifstream(dump).rdbuf();
        EXPECT_NE(written.str().find("\"open_handles\": 0"), std::string::npos) << written.str();
        End();
    }
    std::filesystem::remove(scenario);
    std::filesystem::remove(dump);
}

TEST_F(Program, UsbBuildWithoutBoardSaysSo)
{
    HWND window = Launch("VelkorUpdate.exe");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WaitText(window, IDC_HINT, "Attach board to USB and power on"), "Attach board to USB and power on");
    EXPECT_EQ(WaitText(window, IDC_STATUS, "No board detected"), "No board detected");
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(ExitCode(), 0u);
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
