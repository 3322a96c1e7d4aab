#include "worker/comms_thread_win32.h"

#include <commctrl.h>

#include <cstdint>
#include <iterator>
#include <vector>

#include "job/job_window.h"
#include "job/messages.h"
#include "resources/resource.h"
#include "update/update_job.h"
#include "worker/detection.h"
#include "worker/service.h"

namespace {

constexpr UINT kPollIntervalMs = 1000;

// Requests that arrive while one of the worker's boxes is open. The box's
// modal loop would take them from the queue and drop them (thread messages
// have no window to go to); they are held here and queued again afterwards,
// so a request made during a job still runs after it.
thread_local std::vector<MSG> g_heldRequests;

LRESULT CALLBACK HoldRequests(int code, WPARAM wparam, LPARAM lparam)
{
    const MSG* msg = reinterpret_cast<const MSG*>(lparam);
    if (code >= 0 && msg->hwnd == nullptr && msg->message >= WM_USER) {
        g_heldRequests.push_back(*msg);
        return TRUE;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Every call is synchronous: SetDlgItemText and SendMessage across threads
// return only once the window's thread has handled them.
class Win32JobWindow : public JobWindow {
public:
    explicit Win32JobWindow(HWND window) : window_(window) {}

    void SetStatus(const char* text) override { SetDlgItemTextA(window_, IDC_STATUS, text); }

    void SetProgressRange(uint32_t upper) override
    {
        SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(upper));
    }

    void SetProgressPos(uint32_t pos) override
    {
        SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    }

    int ShowMessage(const char* text, const char* caption, MessageIcon icon) override
    {
        HHOOK hook = SetWindowsHookExA(WH_MSGFILTER, HoldRequests, nullptr, GetCurrentThreadId());
        const int button = MessageBoxA(window_, text, caption, MB_OK | static_cast<UINT>(icon));
        if (hook)
            UnhookWindowsHookEx(hook);
        for (const MSG& msg : g_heldRequests)
            PostThreadMessageA(GetCurrentThreadId(), msg.message, msg.wParam, msg.lParam);
        g_heldRequests.clear();
        return button;
    }

    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override
    {
        SendMessageA(window_, message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
    }

    // Read wide: the ANSI text would turn every character outside the
    // system's code page into '?'.
    void ReadFileName(char* buf, size_t size) override
    {
        wchar_t name[kFileNameMaxChars + 1] = L"";
        GetDlgItemTextW(window_, IDC_FIRMWARE_FILE, name, static_cast<int>(std::size(name)));
        if (size > 0 && WideCharToMultiByte(CP_UTF8, 0, name, -1, buf, static_cast<int>(size), nullptr, nullptr) == 0)
            buf[0] = '\0';  // too long for buf: no name rather than part of one
    }

    // Only UM_ABORT is taken: anything else queued meanwhile waits for the
    // loop, after the job.
    bool TakeAbort() override
    {
        MSG msg;
        return PeekMessageA(&msg, nullptr, UM_ABORT, UM_ABORT, PM_REMOVE) != 0;
    }

private:
    HWND window_;
};

// The PC must not go to sleep in the middle of an update: the board would be
// left half programmed. The request is the thread's own, so it is made on
// the worker and withdrawn however the job ends.
class KeepAwake {
public:
    KeepAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }
    ~KeepAwake() { SetThreadExecutionState(ES_CONTINUOUS); }
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;
};

}  // namespace

DWORD WINAPI CommsThreadProc(LPVOID param)
{
    const auto* params = static_cast<const CommsThreadParams*>(param);
    Win32JobWindow window(params->window);

    // A thread has no queue until it first asks for one; posts made before
    // that are lost.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(params->readyEvent);

    for (;;) {
        // Re-armed before every wait, so the poll comes a second after the
        // last job, never during one.
        const UINT_PTR timer = SetTimer(nullptr, 0, kPollIntervalMs, nullptr);
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        KillTimer(nullptr, timer);
        if (got == 0 || got == -1)
            return 0;

        switch (msg.message) {
        case WM_TIMER:
        case UM_CHECK_BOARD:
            DetectionJob(window);
            break;
        case UM_UPDATE: {
            KeepAwake awake;
            UpdateJob(window);
            break;
        }
        case UM_SERVICE:
            ServiceJob(window, static_cast<uint32_t>(msg.wParam), static_cast<int32_t>(msg.lParam));
            break;
        default:
            // Includes a UM_ABORT that found no job to stop.
            break;
        }
    }
}
