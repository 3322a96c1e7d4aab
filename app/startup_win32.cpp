// Start-up, the UI thread's message loop and the About box.
#include <windows.h>
#include <commctrl.h>

#include "app/app_win32.h"
#include "resources/resource.h"

HINSTANCE AppInstance = nullptr;

HWND CreateMainWindow(HINSTANCE instance)
{
    // Stored first: the window's initialisation loads its icons with it.
    AppInstance = instance;
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS;
    if (!InitCommonControlsEx(&controls))
        return nullptr;
    // A Unicode window, so the file name edit holds names in any script.
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
}

// Wide all the way: a character typed in ANSI outside the system's code page
// would arrive as '?'.
void ProcessUiMessage(HWND mainWindow, HACCEL accelerators, MSG& msg)
{
    if (TranslateAcceleratorW(mainWindow, accelerators, &msg))
        return;
    if (IsDialogMessageW(mainWindow, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

int RunVelkorUpdate(HINSTANCE instance)
{
    HWND window = CreateMainWindow(instance);
    if (!window)
        return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    if (!accelerators)
        return 0;
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0)
        ProcessUiMessage(window, accelerators, msg);
    // The main window's quit message carries 0.
    return got == 0 ? static_cast<int>(msg.wParam) : 0;
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM /*lparam*/)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // focus to "OK"
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
