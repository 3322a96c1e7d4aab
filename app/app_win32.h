// The Windows user interface: start-up, the main window, service mode and
// the About box. Everything here runs on the UI thread.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstdint>

// Process-wide state, set up by start-up and the main window.
extern HINSTANCE AppInstance;
extern uint32_t BoardStatus;  // the worker's last report: low half identified, high half unidentified
extern bool UpdateRunning;
extern bool ServiceModeOn;
extern DWORD CommsThreadId;

// Start-up up to the main window: stores the instance, registers the common
// controls and creates the window, whose initialisation starts the worker.
// NULL when either fails.
HWND CreateMainWindow(HINSTANCE instance);

// One message of the UI thread: accelerators first, then the dialog
// manager's keys, then the window itself. msg is as GetMessageW or
// PeekMessageW gave it.
void ProcessUiMessage(HWND mainWindow, HACCEL accelerators, MSG& msg);

// The whole program: main window, message loop; returns the exit code.
int RunVelkorUpdate(HINSTANCE instance);

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK ShotCounterDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Service mode commands and results, called by MainDialogProc.
void OnServiceModeKey(HWND window);
void OnServiceCommand(HWND window, UINT command);
void OnServiceResult(HWND window, WPARAM wparam, LPARAM lparam);

// Inserts (on) or removes the "&Service" popup and keeps ServiceModeOn in
// step. True on success or when the menu bar already matches.
BOOL SetServiceMenu(HWND window, BOOL on);

// The open-file dialog behind "...". Tests put a stand-in here rather than
// drive the real one.
using OpenFileDialogFn = BOOL(WINAPI*)(LPOPENFILENAMEW);
extern OpenFileDialogFn OpenFileDialog;
