// Service mode: the password behind Ctrl+Alt+P, the "&Service" popup, and
// the shot counter exchange with the worker.
#include <windows.h>

#include <cstring>

#include "app/app_win32.h"
#include "job/messages.h"
#include "job/service_password.h"
#include "job/window_texts.h"
#include "resources/resource.h"

bool ServiceModeOn = false;

namespace {

constexpr WPARAM kGetShotCountRequest = (1u << 16) | SVC_GET_SHOT_COUNT;  // query flag in the high half

BOOL InsertServiceMenu(HWND window)
{
    HMENU bar = GetMenu(window);
    if (!bar)
        return FALSE;
    HMENU loaded = LoadMenuA(AppInstance, MAKEINTRESOURCEA(IDR_SERVICE_MENU));
    if (!loaded)
        return FALSE;
    HMENU popup = GetSubMenu(loaded, 0);
    // Detached, the popup outlives the resource's own top level.
    RemoveMenu(loaded, 0, MF_BYPOSITION);
    DestroyMenu(loaded);

    char text[] = "&Service";
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    item.fState = 0;
    item.wID = IDM_SERVICE_MENU;
    item.hSubMenu = popup;
    item.dwTypeData = text;
    item.cch = sizeof text - 1;
    // Between "&File" and "&Help".
    if (!InsertMenuItemA(bar, 1, TRUE, &item)) {
        DestroyMenu(popup);
        return FALSE;
    }
    ServiceModeOn = true;
    DrawMenuBar(window);
    return TRUE;
}

BOOL RemoveServiceMenu(HWND window)
{
    HMENU bar = GetMenu(window);
    if (!bar)
        return FALSE;
    // Deleting the item destroys its popup too.
    if (!DeleteMenu(bar, IDM_SERVICE_MENU, MF_BYCOMMAND))
        return FALSE;
    ServiceModeOn = false;
    DrawMenuBar(window);
    return TRUE;
}

// One attempt per opening of the dialog. The pause makes guessing slow; the
// dialog does not respond meanwhile.
INT_PTR CheckPassword(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_PASSWORD_LABEL, kPasswordCheckingText);
    char entry[32] = "";
    GetDlgItemTextA(dialog, IDC_PASSWORD, entry, static_cast<int>(kPasswordMaxChars + 1));
    Sleep(kPasswordPauseMs);
    // Compared with its terminator, so only the exact word passes.
    if (std::memcmp(entry, kServicePassword, sizeof kServicePassword) == 0)
        return IDOK;
    MessageBoxA(dialog, kPasswordIncorrectText, kAccessDeniedCaption, MB_OK | MB_ICONERROR);
    return IDCANCEL;
}

void ShowShotCounter(HWND window, uint32_t current)
{
    uint32_t count = current;
    const INT_PTR result = DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SHOT_COUNTER), window,
                                           ShotCounterDialogProc, reinterpret_cast<LPARAM>(&count));
    // Sent even when unchanged.
    if (result == IDOK)
        PostThreadMessageA(CommsThreadId, UM_SERVICE, SVC_SET_SHOT_COUNT,
                           static_cast<LPARAM>(static_cast<int32_t>(count)));
}

}  // namespace

BOOL SetServiceMenu(HWND window, BOOL on)
{
    if (on)
        return ServiceModeOn ? TRUE : InsertServiceMenu(window);
    return ServiceModeOn ? RemoveServiceMenu(window) : TRUE;
}

void OnServiceModeKey(HWND window)
{
    if (!ServiceModeOn) {
        if (DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_SERVICE_PASSWORD), window, PasswordDialogProc,
                            0) == IDOK)
            SetServiceMenu(window, TRUE);
        return;
    }
    if (MessageBoxA(window, kDisableServiceText, kDisableServiceCaption,
                    MB_ICONQUESTION | MB_YESNO) == IDYES)
        SetServiceMenu(window, FALSE);
}

void OnServiceCommand(HWND /*window*/, UINT command)
{
    // Anything that sends these while the popup is gone is ignored.
    if (!ServiceModeOn)
        return;
    if (command == IDM_SHOT_COUNTER)
        PostThreadMessageA(CommsThreadId, UM_SERVICE, kGetShotCountRequest, 0);
    else if (command == IDM_PRESSURE_VALUES)
        PostThreadMessageA(CommsThreadId, UM_SERVICE, SVC_PRESSURE_VALUES, 0);
}

void OnServiceResult(HWND window, WPARAM wparam, LPARAM lparam)
{
    // A failed job has shown its own box.
    if (HIWORD(wparam) != 0)
        return;
    switch (LOWORD(wparam)) {
    case SVC_SET_SHOT_COUNT:
        MessageBoxA(window, kShotCounterSetText, kShotCounterCaption, MB_OK | MB_ICONINFORMATION);
        break;
    case SVC_GET_SHOT_COUNT:
        ShowShotCounter(window, static_cast<uint32_t>(lparam));
        break;
    default:
        break;
    }
}

namespace {

// The service dialogs differ only in how they open and what OK gives; Cancel
// ends either with IDCANCEL. Both put the focus themselves.
INT_PTR ServiceDialogMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam,
                             void (*open)(HWND, LPARAM), INT_PTR (*ok)(HWND))
{
    switch (message) {
    case WM_INITDIALOG:
        open(dialog, lparam);
        return FALSE;  // keep the focus where it was put
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            EndDialog(dialog, ok(dialog));
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

void OpenPassword(HWND dialog, LPARAM /*lparam*/)
{
    SetFocus(GetDlgItem(dialog, IDC_PASSWORD));
}

// lparam points at the count, which OK overwrites.
void OpenShotCounter(HWND dialog, LPARAM lparam)
{
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    const uint32_t count = *reinterpret_cast<const uint32_t*>(lparam);
    SetDlgItemInt(dialog, IDC_CURRENT_SHOT_COUNT, count, FALSE);
    SetDlgItemInt(dialog, IDC_NEW_SHOT_COUNT, count, FALSE);
    SendDlgItemMessageA(dialog, IDC_NEW_SHOT_COUNT, EM_SETSEL, 0, -1);
    SetFocus(GetDlgItem(dialog, IDC_NEW_SHOT_COUNT));
}

INT_PTR KeepShotCount(HWND dialog)
{
    auto* count = reinterpret_cast<uint32_t*>(GetWindowLongPtrA(dialog, DWLP_USER));
    // Taken as it stands: an empty field gives 0.
    *count = GetDlgItemInt(dialog, IDC_NEW_SHOT_COUNT, nullptr, FALSE);
    return IDOK;
}

}  // namespace

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    return ServiceDialogMessage(dialog, message, wparam, lparam, OpenPassword, CheckPassword);
}

INT_PTR CALLBACK ShotCounterDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    return ServiceDialogMessage(dialog, message, wparam, lparam, OpenShotCounter, KeepShotCount);
}
