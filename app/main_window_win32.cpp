// The main window: file choice, start and abort of an update, the hint line
// and the worker's results; a session's end waits for an update.
#include <windows.h>
#include <commctrl.h>

#include <iterator>

#include "app/app_win32.h"
#include "job/job_window.h"
#include "job/messages.h"
#include "job/window_texts.h"
#include "resources/resource.h"
#include "worker/comms_thread_win32.h"

uint32_t BoardStatus = 0;
bool UpdateRunning = false;
DWORD CommsThreadId = 0;
OpenFileDialogFn OpenFileDialog = GetOpenFileNameW;

namespace {

constexpr DWORD kWorkerReadyTimeoutMs = 10000;

// The worker reads this for as long as it runs.
CommsThreadParams g_commsParams;

void ShowError(HWND window, const char* text)
{
    MessageBoxA(window, text, "Error", MB_OK | MB_ICONERROR);
}

void EnableControl(HWND window, int id, BOOL enable)
{
    EnableWindow(GetDlgItem(window, id), enable);
}

void SetIcons(HWND window)
{
    HICON big = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_APP));
    if (big)
        SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    HICON small = static_cast<HICON>(LoadImageA(AppInstance, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (small)
        SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

BOOL OnInitDialog(HWND window)
{
    SetIcons(window);
    BoardStatus = 0;

    HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!ready) {
        ShowError(window, "Could not set up comms thread!");
        return FALSE;
    }
    g_commsParams.window = window;
    g_commsParams.readyEvent = ready;
    HANDLE thread = CreateThread(nullptr, 0, CommsThreadProc, &g_commsParams, 0, &CommsThreadId);
    if (!thread) {
        ShowError(window, "Could not start comms thread!");
        return FALSE;
    }
    // Nothing ever waits for the worker to end.
    CloseHandle(thread);

    // A worker that is merely slow is no error: its own poll reports the
    // board later.
    if (WaitForSingleObject(ready, kWorkerReadyTimeoutMs) == WAIT_FAILED) {
        ShowError(window, "Could not synchronise with comms thread!");
        return FALSE;
    }
    PostThreadMessageA(CommsThreadId, UM_CHECK_BOARD, 0, 0);
    return TRUE;  // focus to the first tab stop, the file name
}

// Picks the hint and whether "Program" may be pressed, from the last board
// report and the file name as it stands, as much of it as the job reads. File
// names are handled wide throughout: in ANSI, one outside the system's code
// page would not be found.
void Refresh(HWND window)
{
    const char* hint = kHintNoBoard;
    BOOL ready = FALSE;
    if (BoardStatus & 0xFFFF) {
        wchar_t name[kFileNameMaxChars + 1];
        GetDlgItemTextW(window, IDC_FIRMWARE_FILE, name, static_cast<int>(std::size(name)));
        if (name[0] == L'\0') {
            hint = kHintChooseFile;
        } else {
            const DWORD attributes = GetFileAttributesW(name);
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                hint = kHintNoSuchFile;
            } else {
                hint = kHintReady;
                ready = TRUE;
            }
        }
    } else if (BoardStatus >> 16) {
        hint = kHintCheckBoard;
    }
    SetDlgItemTextA(window, IDC_HINT, hint);
    EnableControl(window, IDC_PROGRAM, ready);
}

void Browse(HWND window)
{
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = L"Firmware Files (*.enc)\0*.enc\0All Files (*.*)\0*.*\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = static_cast<DWORD>(std::size(file));
    // Left in the file's folder, the process would hold it open, and the
    // stick it is on could not be ejected while the window is open.
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    // The edit reports the change itself, and that refreshes the window.
    if (OpenFileDialog(&ofn))
        SetDlgItemTextW(window, IDC_FIRMWARE_FILE, file);
}

void StartOrAbort(HWND window)
{
    if (UpdateRunning) {
        SetDlgItemTextA(window, IDC_HINT, kHintAborting);
        EnableControl(window, IDC_PROGRAM, FALSE);
        PostThreadMessageA(CommsThreadId, UM_ABORT, 0, 0);
        return;
    }
    // The worker reads the file name when the job starts; it must not change
    // under it.
    EnableControl(window, IDC_FIRMWARE_FILE, FALSE);
    EnableControl(window, IDC_BROWSE, FALSE);
    SetDlgItemTextA(window, IDC_HINT, kHintUpdating);
    SetDlgItemTextA(window, IDC_PROGRAM, kProgramBusyText);
    EnableControl(window, IDC_PROGRAM, FALSE);
    UpdateRunning = true;
    PostThreadMessageA(CommsThreadId, UM_UPDATE, 0, 0);
}

void OnJobEnded(HWND window)
{
    if (!UpdateRunning)
        return;
    ShutdownBlockReasonDestroy(window);
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    EnableControl(window, IDC_FIRMWARE_FILE, TRUE);
    EnableControl(window, IDC_BROWSE, TRUE);
    SetDlgItemTextA(window, IDC_PROGRAM, kProgramText);
    UpdateRunning = false;
    // "Program" stays disabled until the refresh decides.
    PostMessageA(window, UM_REFRESH, 0, 0);
}

// A shutdown or logoff would end the update in mid-record: while one runs,
// the session's end is refused and Windows shows why. OnJobEnded lifts it.
BOOL OnQueryEndSession(HWND window)
{
    if (!UpdateRunning)
        return FALSE;  // the platform's default: the session may end
    ShutdownBlockReasonCreate(window, L"Updating the board's firmware");
    SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
    return TRUE;
}

BOOL OnCommand(HWND window, WPARAM wparam)
{
    switch (LOWORD(wparam)) {
    case IDCANCEL:
    case IDM_EXIT:
        // Also during an update: the worker ends with the process.
        DestroyWindow(window);
        return TRUE;
    case IDM_ABOUT:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0);
        return TRUE;
    case IDC_BROWSE:
        Browse(window);
        return TRUE;
    case IDC_PROGRAM:
        StartOrAbort(window);
        return TRUE;
    case IDC_FIRMWARE_FILE:
        if (HIWORD(wparam) == EN_CHANGE)
            PostMessageA(window, UM_REFRESH, 0, 0);
        return TRUE;
    case IDM_SERVICE_MODE:
        OnServiceModeKey(window);
        return TRUE;
    case IDM_SHOT_COUNTER:
    case IDM_PRESSURE_VALUES:
        OnServiceCommand(window, LOWORD(wparam));
        return TRUE;
    default:
        // IDOK (Enter in the edit) among them.
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        return OnCommand(window, wparam);
    case UM_CHECK_BOARD:
        BoardStatus = static_cast<uint32_t>(wparam);
        Refresh(window);
        return TRUE;
    case UM_REFRESH:
        Refresh(window);
        return TRUE;
    case UM_UPDATE:
        OnJobEnded(window);
        return TRUE;
    case UM_SERVICE:
        OnServiceResult(window, wparam, lparam);
        return TRUE;
    case WM_QUERYENDSESSION:
        return OnQueryEndSession(window);
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}
