// A program's windows seen from another process, as a user's tools see them:
// its dialogs found by title, its controls read through its message loop.
#pragma once

#include <windows.h>

#include <string>

inline bool StartProgram(const std::string& exe, PROCESS_INFORMATION& process)
{
    std::string command = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process) != 0;
}

// The process's visible dialog or message box with this title.
inline HWND FindDialog(DWORD pid, const char* title)
{
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", title)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && IsWindowVisible(w))
            return w;
    }
    return nullptr;
}

// A hung program gives "" rather than hanging the caller.
inline std::string RemoteText(HWND control)
{
    char text[256] = "";
    DWORD_PTR result = 0;
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        &result);
    return text;
}
