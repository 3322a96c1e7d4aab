// The comms worker thread of the Windows program: its own message queue, a
// one-second poll, and one job at a time in answer to thread messages.
#pragma once

#include <windows.h>

struct CommsThreadParams {
    HWND window;        // owner of the worker's boxes, target of its results
    HANDLE readyEvent;  // auto-reset; signalled once the worker's queue exists
};

// Thread entry; param points to a CommsThreadParams that outlives the thread.
// Returns 0 when the queue delivers WM_QUIT or fails.
DWORD WINAPI CommsThreadProc(LPVOID param);
