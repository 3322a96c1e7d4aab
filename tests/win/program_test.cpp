// The two executables as processes, started as a user starts them; the USB
// build with no board on the bus.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "remote_window.h"
#include "resources/resource.h"
#include "support/firmware_builder.h"

namespace {

// Starts the executable beside this one; its main window once it shows.
HWND Launch(const char* exe, PROCESS_INFORMATION& process)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    if (!StartProgram(std::filesystem::path(self).replace_filename(exe).string(), process))
        return nullptr;
    HWND window = nullptr;
    for (int i = 0; i < 200 && !(window = FindDialog(process.dwProcessId, "Velkor Update Utility")); ++i)
        Sleep(50);
    return window;
}

// Another process's control text, once it reads want (or after 10 s).
std::string WaitText(HWND control, const std::string& want)
{
    std::string text;
    for (int i = 0; i < 200 && (text = RemoteText(control)) != want; ++i)
        Sleep(50);
    return text;
}

// Every way out ends the process with 0. The simulated build shows the board
// its scenario describes; the USB build finds none here.
TEST(Program, EveryWayOutEndsItWithZero)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::string scenario = (dir / ("velkor-scenario-" + tag + ".json")).string();
    std::ofstream(scenario) << "{\"type\": 4, \"firmware\": false}";
    SetEnvironmentVariableA("VELKOR_SIM", scenario.c_str());
    const struct {
        const char* exe;
        UINT message;
        WPARAM wparam;
        const char* status;
    } ways[] = {
        {"VelkorUpdateSim.exe", WM_KEYDOWN, VK_ESCAPE, "Connected: Vantor 5, no software"},
        {"VelkorUpdateSim.exe", WM_COMMAND, IDM_EXIT, "Connected: Vantor 5, no software"},
        {"VelkorUpdateSim.exe", WM_SYSCOMMAND, SC_CLOSE, "Connected: Vantor 5, no software"},
        {"VelkorUpdate.exe", WM_COMMAND, IDM_EXIT, "No board detected"},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(std::string(way.exe) + " " + std::to_string(way.message));
        PROCESS_INFORMATION process = {};
        HWND window = Launch(way.exe, process);
        EXPECT_EQ(WaitText(GetDlgItem(window, IDC_STATUS), way.status), way.status);
        // Typed through the program's own loop, a character in any script stays as it is.
        PostMessageW(GetDlgItem(window, IDC_FIRMWARE_FILE), WM_CHAR, L'固', 1);
        wchar_t typed[4] = L"";
        for (int i = 0; i < 100 && !typed[0]; ++i, Sleep(20))
            SendMessageTimeoutW(GetDlgItem(window, IDC_FIRMWARE_FILE), WM_GETTEXT, 4, reinterpret_cast<LPARAM>(typed),
                                SMTO_ABORTIFHUNG, 5000, nullptr);
        EXPECT_STREQ(typed, L"固");
        // Escape as typed in the edit, which has the focus.
        const bool key = way.message == WM_KEYDOWN;
        PostMessageA(key ? GetDlgItem(window, IDC_FIRMWARE_FILE) : window, way.message, way.wparam, key);
        DWORD code = 0xDEAD;
        if (WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        EXPECT_EQ(code, 0u);
        TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    SetEnvironmentVariableA("VELKOR_SIM", nullptr);
    std::filesystem::remove(scenario);
}

// velkor.exe loads user32, so a shutdown comes to it as WM_ENDSESSION to a
// top-level window rather than as a console event: the answer waits until
// the update has stopped after its record, and velkor ends as aborted.
TEST(Program, VelkorHoldsTheSessionsEndUntilTheRecordIsDone)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const auto exe = std::filesystem::path(self).parent_path().parent_path() / "cli" / "velkor.exe";
    const std::string scenario = (std::filesystem::temp_directory_path() / "velkor-usb-fs.json").string();
    std::ofstream(scenario) << R"({"latency": "usb-fs"})";
    FirmwareBuilder fw;  // about 16 s at the link's pace
    for (uint32_t a = 0; a < 4000 * 64; a += 64)
        fw.Data(a, Pattern(64));
    const TempFile file(fw.bytes());

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = nullptr, childOutput = nullptr;
    ASSERT_TRUE(CreatePipe(&output, &childOutput, &inherit, 0));
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = childOutput;
    std::string command = "\"" + exe.string() + "\" --sim \"" + scenario + "\" program \"" + file.path() + "\"";
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(childOutput);
    std::string said;
    const auto readSome = [&] {
        char buf[512];
        DWORD got = 0;
        return ReadFile(output, buf, sizeof buf, &got, nullptr) && (said.append(buf, got), true);
    };
    while (said.find("Uploading data") == std::string::npos && readSome()) {
    }
    HWND hidden = nullptr;
    for (int i = 0; i < 100 && !hidden; ++i, Sleep(50))
        for (DWORD owner = 0; (hidden = FindWindowExW(nullptr, hidden, L"velkor-session", nullptr)) != nullptr;)
            if (GetWindowThreadProcessId(hidden, &owner) && owner == process.dwProcessId)
                break;
    ASSERT_NE(hidden, nullptr) << said;
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(hidden, WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, 10000, &answer)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 5000), WAIT_OBJECT_0) << "not stopped when the answer came";
    while (readSome()) {
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 1u) << said;
    EXPECT_NE(said.find("Aborted: the board holds an incomplete firmware"), std::string::npos) << said;
    TerminateProcess(process.hProcess, 99);
    for (HANDLE h : {process.hProcess, process.hThread, output})
        CloseHandle(h);
    std::filesystem::remove(scenario);
}

}  // namespace
