// Drives a program's update from outside, as a user would: waits for the
// board in the status line, enters the firmware file, presses "Program",
// answers the "Done" box and ends the program. Used by the rigs on a real HID
// stack, where no test can reach inside the process.
//   drive_update PROGRAM.exe FIRMWARE SCREENSHOT.bmp [STATUS]
// The screenshot is the main window with the "Done" box over it. Exit 0 when
// every step happened; otherwise 1 and a line saying which did not.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

constexpr DWORD kStepTimeoutMs = 60000;  // a slow emulated machine, a cold Wine
const char kTitle[] = "Velkor Update Utility";

PROCESS_INFORMATION g_process = {};

[[noreturn]] void Fail(const std::string& what)
{
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
    if (g_process.hProcess)
        TerminateProcess(g_process.hProcess, 99);
    ExitProcess(1);
}

void Say(const std::string& what)
{
    std::printf("%s\n", what.c_str());
    std::fflush(stdout);
}

std::string Title(HWND window)
{
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The program's visible top-level dialog with this title.
HWND FindOwn(const std::string& title)
{
    struct Args {
        const std::string* title;
        HWND found;
    } args = {&title, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* a = reinterpret_cast<Args*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            char cls[16] = "";
            GetClassNameA(window, cls, sizeof cls);
            if (pid == g_process.dwProcessId && IsWindowVisible(window) && std::string(cls) == "#32770" &&
                Title(window) == *a->title) {
                a->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&args));
    return args.found;
}

// Another process's control text; its message loop answers.
std::string RemoteText(HWND control)
{
    char text[256] = "";
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             5000, &result))
        return "";
    return text;
}

void FailWithBox(HWND box)
{
    Fail("box \"" + Title(box) + "\": " + RemoteText(GetDlgItem(box, 0xFFFF)));
}

// Polls until done() holds; an error box or the program's end fails at once.
template <typename Done>
void WaitFor(const std::string& what, Done done)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (HWND box = FindOwn("Error"))
            FailWithBox(box);
        if (WaitForSingleObject(g_process.hProcess, 0) == WAIT_OBJECT_0)
            Fail("the program ended while waiting for " + what);
        if (GetTickCount() - start > kStepTimeoutMs)
            Fail("timed out waiting for " + what);
        Sleep(100);
    }
}

// What the screen shows of this rectangle, as a 24-bit BMP.
bool SaveScreen(const RECT& rect, const char* path)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap =
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(height);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof file);
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * height);
        ok = ok && out.good();
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        std::printf("usage: drive_update PROGRAM.exe FIRMWARE SCREENSHOT.bmp [STATUS]\n");
        return 2;
    }
    const std::string program = argv[1];
    char firmware[MAX_PATH];
    if (!GetFullPathNameA(argv[2], sizeof firmware, firmware, nullptr))
        Fail(std::string("no such firmware path: ") + argv[2]);
    const std::string connected = argc == 5 ? argv[4] : "Connected: Ferrit XR, version 3.02b";

    std::string command = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &g_process))
        Fail("cannot start " + program + ", error " + std::to_string(GetLastError()));

    HWND window = nullptr;
    WaitFor("the main window", [&] { return (window = FindOwn(kTitle)) != nullptr; });
    HWND status = GetDlgItem(window, IDC_STATUS);
    HWND program_button = GetDlgItem(window, IDC_PROGRAM);

    std::string last;
    WaitFor("\"" + connected + "\"", [&] {
        const std::string now = RemoteText(status);
        if (now != last)
            Say("status: " + (last = now));
        return now == connected;
    });

    // WM_SETTEXT on an edit notifies its parent as typing does.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(window, IDC_FIRMWARE_FILE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(firmware),
                        SMTO_ABORTIFHUNG, 5000, &result);
    WaitFor("\"Program\" to be enabled", [&] { return IsWindowEnabled(program_button) != FALSE; });
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_PROGRAM, BN_CLICKED), reinterpret_cast<LPARAM>(program_button));
    Say("pressed Program with " + std::string(firmware));

    HWND done = nullptr;
    WaitFor("the \"Done\" box", [&] {
        const std::string now = RemoteText(status);
        if (!now.empty() && now != last)
            Say("status: " + (last = now));
        return (done = FindOwn("Done")) != nullptr;
    });
    const std::string text = RemoteText(GetDlgItem(done, 0xFFFF));
    Say("box \"Done\": " + text);
    if (text != "Update complete!")
        Fail("the \"Done\" box says \"" + text + "\"");
    Sleep(300);  // painted
    RECT rect = {};
    GetWindowRect(window, &rect);
    if (!SaveScreen(rect, argv[3]))
        Fail(std::string("cannot save the screen to ") + argv[3]);
    PostMessageA(done, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(done, IDOK)));

    // Back to the board as it now is, ready for another update.
    WaitFor("the board again after the update", [&] {
        const std::string now = RemoteText(status);
        if (now != last)
            Say("status: " + (last = now));
        return now == connected && IsWindowEnabled(program_button);
    });

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
