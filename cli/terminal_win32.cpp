#include "cli/terminal.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <io.h>
#include <string>
#include <thread>
#include <vector>

#include "cli/interrupts.h"
#include "update/utf8_win32.h"

namespace {

constexpr wchar_t kSessionWindowClass[] = L"velkor-session";

// The console input the password is typed on and its mode from before the
// prompt, put back if the program is ended while echo is off.
HANDLE g_entry = INVALID_HANDLE_VALUE;
DWORD g_entrySaved = 0;
std::atomic<bool> g_restoreConsole{false};

// The arguments in UTF-8 for as long as the program runs, and the console's
// output code page from before it.
std::vector<std::string> g_arguments;
std::vector<char*> g_argv;
UINT g_outputCodePage = 0;

bool IsConsole(DWORD stdHandle)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stdHandle), &mode) != 0;
}

[[noreturn]] void EndOnInterrupt(int status)
{
    if (g_restoreConsole.load()) {
        SetConsoleMode(g_entry, g_entrySaved);
        // Off the prompt's line, as the Enter would have done.
        WriteStderrNow("\n");
    }
    BeforeInterruptExit();
    std::_Exit(status);
}

// Runs on a thread the system starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    const bool key = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    // Shutdown comes to a console program as the close does.
    const Interrupt what = key                          ? Interrupt::kCtrlC
                           : event == CTRL_LOGOFF_EVENT ? Interrupt::kLogoff
                                                        : Interrupt::kClose;
    switch (OnInterrupt(what)) {
    case InterruptAction::kEndNow:
        EndOnInterrupt(key ? 130 : 129);
    case InterruptAction::kHold:
        // Windows ends the program once this returns (or after about 5 s):
        // not before the update has stopped after its record.
        WaitWhileAbortable();
        break;
    case InterruptAction::kGoOn:
        break;
    }
    return TRUE;
}

// A console program that loads user32, as ours does, gets no logoff or
// shutdown event from its console: the system asks its top-level windows
// instead. This one, never shown, takes the session's end as those events.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != WM_ENDSESSION || !wparam)
        return DefWindowProcW(window, message, wparam, lparam);
    OnConsoleEvent((lparam & ENDSESSION_LOGOFF) != 0 ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT);
    return 0;
}

void WatchSession()
{
    WNDCLASSW type = {};
    type.lpfnWndProc = OnSessionMessage;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = kSessionWindowClass;
    if (!RegisterClassW(&type) ||
        !CreateWindowExW(0, kSessionWindowClass, L"velkor", 0, 0, 0, 0, 0, nullptr, nullptr, type.hInstance, nullptr))
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
}

}  // namespace

void UseUtf8(int& argc, char**& argv)
{
    // The C runtime's argv is in the ANSI code page, where every character
    // outside it has already become '?'.
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            g_arguments.push_back(Utf8FromWide(wide[i]));
        LocalFree(wide);
        for (std::string& argument : g_arguments)
            g_argv.push_back(argument.data());
        g_argv.push_back(nullptr);
        argc = count;
        argv = g_argv.data();
    }
    // The console is the user's and outlives the program: its code page is
    // put back at the end.
    g_outputCodePage = GetConsoleOutputCP();
    if (g_outputCodePage != 0 && SetConsoleOutputCP(CP_UTF8))
        std::atexit([] { SetConsoleOutputCP(g_outputCodePage); });
}

bool StdoutIsTerminal()
{
    // _isatty would also say yes for the NUL device.
    return _isatty(1) && IsConsole(STD_OUTPUT_HANDLE);
}

bool StderrIsTerminal()
{
    return _isatty(2) && IsConsole(STD_ERROR_HANDLE);
}

size_t TerminalWidth()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0)
            return static_cast<size_t>(columns);
    }
    return 80;
}

bool PrepareProgressLine()
{
    // Plain \r and spaces: consoles before Windows 10, and Wine's, do not
    // act on escape codes even with virtual terminal processing asked for.
    return false;
}

void WriteStderrNow(const char* text)
{
    (void)_write(2, text, static_cast<unsigned>(std::strlen(text)));
}

void StartPlatformInterruptWatch()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    std::thread(WatchSession).detach();
}

bool ReadStdinByte(char& c)
{
    return _read(0, &c, 1) == 1;
}

bool OpenHiddenEntry(std::string& error)
{
    // The console itself, as /dev/tty is elsewhere: stdin may be redirected.
    g_entry = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    if (g_entry != INVALID_HANDLE_VALUE && !GetConsoleMode(g_entry, &g_entrySaved)) {
        CloseHandle(g_entry);
        g_entry = INVALID_HANDLE_VALUE;
    }
    if (g_entry == INVALID_HANDLE_VALUE) {
        error = "no terminal to ask for the password on; pass it with --password-stdin";
        return false;
    }
    // Line input stays on so the entry can be edited; Ctrl+C keeps coming
    // as an event.
    const DWORD quiet = (g_entrySaved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                        ENABLE_PROCESSED_INPUT;
    // A Ctrl+C at the prompt must not leave the console without echo.
    g_restoreConsole = true;
    FlushConsoleInputBuffer(g_entry);
    SetConsoleMode(g_entry, quiet);
    return true;
}

bool ReadHiddenEntryByte(char& c)
{
    DWORD read = 0;
    return ReadFile(g_entry, &c, 1, &read, nullptr) && read == 1;
}

void CloseHiddenEntry()
{
    SetConsoleMode(g_entry, g_entrySaved);
    g_restoreConsole = false;
    CloseHandle(g_entry);
    g_entry = INVALID_HANDLE_VALUE;
}
