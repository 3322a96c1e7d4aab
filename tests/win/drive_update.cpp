// Drives a program's update from outside, as a user would: waits for the
// board in the status line, enters the firmware file, presses "Program",
// answers the "Done" box and ends the program. Used by the rigs on a real HID
// stack, where no test can reach inside the process.
//   drive_update PROGRAM.exe FIRMWARE [SHOT | --busy]
// With SHOT it holds the "Done" box up until that file exists: the rig takes
// its screenshot then. With --busy it presses nothing: once "Program" is
// ready it says "ready", then waits for another program to take the board
// (the status line says so and "Program" goes off, and stays off while it
// does) and to let it go again. Exit 0 when every step happened; otherwise 1
// and a line saying which did not.
#include <cstdio>

#include "remote_window.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kStepTimeoutMs = 60000;  // a slow emulated machine, a cold Wine
const char kConnected[] = "Connected: Ferrit XR, version 3.02b";
const char kBusy[] = "Board in use by another program";

PROCESS_INFORMATION g_process = {};
HWND g_status = nullptr;
std::string g_lastStatus;

void Say(const std::string& what)
{
    std::printf("%s\n", what.c_str());
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& what)
{
    Say("FAIL: " + what);
    if (g_process.hProcess)
        TerminateProcess(g_process.hProcess, 99);
    ExitProcess(1);
}

// Polls until done() holds, saying each new status line; an error box or the
// program's end fails at once.
template <typename Done>
void WaitFor(const std::string& what, Done done)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const std::string status = g_status ? RemoteText(g_status) : "";
        if (!status.empty() && status != g_lastStatus)
            Say("status: " + (g_lastStatus = status));
        if (done())
            return;
        if (HWND box = FindDialog(g_process.dwProcessId, "Error"))
            Fail("box \"Error\": " + RemoteText(GetDlgItem(box, 0xFFFF)));
        if (WaitForSingleObject(g_process.hProcess, 0) == WAIT_OBJECT_0)
            Fail("the program ended while waiting for " + what);
        if (GetTickCount() - start > kStepTimeoutMs)
            Fail("timed out waiting for " + what);
        Sleep(100);
    }
}

// Under a loaded emulated machine Wine's desktop can come up too late for the
// program's first window, and the program, left without one, ends at once. A
// second start tells that apart from a program that cannot start.
HWND StartWithMainWindow(const char* exe)
{
    for (int attempt = 1;; ++attempt) {
        if (!StartProgram(exe, g_process))
            Fail(std::string("cannot start ") + exe + ", error " + std::to_string(GetLastError()));
        const DWORD start = GetTickCount();
        while (WaitForSingleObject(g_process.hProcess, 0) != WAIT_OBJECT_0) {
            if (HWND window = FindDialog(g_process.dwProcessId, "Velkor Update Utility"))
                return window;
            if (GetTickCount() - start > kStepTimeoutMs)
                Fail("timed out waiting for the main window");
            Sleep(100);
        }
        DWORD code = 0;
        GetExitCodeProcess(g_process.hProcess, &code);
        CloseHandle(g_process.hProcess);
        CloseHandle(g_process.hThread);
        g_process = {};
        const std::string what = "the program ended with " + std::to_string(code) + " before its main window";
        if (attempt == 2)
            Fail(what);
        Say("again: " + what);
    }
}

// Ends the program as File > Exit does.
int Exit(HWND window)
{
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    if (WaitForSingleObject(g_process.hProcess, kStepTimeoutMs) != WAIT_OBJECT_0)
        Fail("the program did not end");
    DWORD code = 0;
    GetExitCodeProcess(g_process.hProcess, &code);
    if (code != 0)
        Fail("the program ended with " + std::to_string(code));
    Say("OK");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        Say("usage: drive_update PROGRAM.exe FIRMWARE [SHOT | --busy]");
        return 2;
    }
    char firmware[MAX_PATH];
    if (!GetFullPathNameA(argv[2], sizeof firmware, firmware, nullptr))
        Fail(std::string("no such firmware path: ") + argv[2]);
    HWND window = StartWithMainWindow(argv[1]);
    g_status = GetDlgItem(window, IDC_STATUS);
    HWND program = GetDlgItem(window, IDC_PROGRAM);
    WaitFor(kConnected, [&] { return g_lastStatus == kConnected; });

    // WM_SETTEXT on an edit notifies its parent as typing does.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(window, IDC_FIRMWARE_FILE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(firmware),
                        SMTO_ABORTIFHUNG, 5000, &result);
    WaitFor("\"Program\" to be enabled", [&] { return IsWindowEnabled(program); });
    if (argc == 4 && std::string(argv[3]) == "--busy") {
        Say("ready");
        WaitFor(kBusy, [&] { return g_lastStatus == kBusy && !IsWindowEnabled(program); });
        // Each poll sets the text before "Program", so "Program" on with the
        // busy text still there is a fault, not a moment in between.
        WaitFor("the board to be free", [&] {
            if (IsWindowEnabled(program) && RemoteText(g_status) == kBusy)
                Fail("\"Program\" enabled while the board is in use");
            return g_lastStatus == kConnected && IsWindowEnabled(program);
        });
        return Exit(window);
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_PROGRAM, BN_CLICKED), reinterpret_cast<LPARAM>(program));
    Say("pressed Program with " + std::string(firmware));

    HWND done = nullptr;
    WaitFor("the \"Done\" box", [&] { return (done = FindDialog(g_process.dwProcessId, "Done")); });
    const std::string text = RemoteText(GetDlgItem(done, 0xFFFF));
    Say("box \"Done\": " + text);
    if (text != "Update complete!")
        Fail("the \"Done\" box says \"" + text + "\"");
    if (argc == 4)
        WaitFor(std::string("the screenshot ") + argv[3],
                [&] { return GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES; });
    PostMessageA(done, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(done, IDOK)));

    // Back to the board as it now is, ready for another update.
    WaitFor("the board again after the update",
            [&] { return g_lastStatus == kConnected && IsWindowEnabled(program); });

    return Exit(window);
}
