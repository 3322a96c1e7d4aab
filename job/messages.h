// Private window messages and service codes shared by the core and the
// Windows program. Numbered from WM_USER (1024); the same number carries a
// request to the worker and the matching result back to the window.
#pragma once

#include <cstdint>

#include "job/job_window.h"
#include "job/outcome.h"
#include "link/board_link.h"

constexpr uint32_t kWindowMessageBase = 1024;  // WM_USER, which job/ cannot include
constexpr uint32_t UM_CHECK_BOARD = kWindowMessageBase + 1;
constexpr uint32_t UM_REFRESH = kWindowMessageBase + 2;
constexpr uint32_t UM_UPDATE = kWindowMessageBase + 3;
constexpr uint32_t UM_ABORT = kWindowMessageBase + 4;
constexpr uint32_t UM_SERVICE = kWindowMessageBase + 5;

// UM_SERVICE request: code in the low 16 bits of wparam, the shot counter's
// query flag in the high 16 bits, the value in lparam.
constexpr uint32_t SVC_SET_SHOT_COUNT = 64;    // 0x40, the shot counter command
constexpr uint32_t SVC_PRESSURE_VALUES = 144;  // 0x90, the pressure command
constexpr uint32_t SVC_GET_SHOT_COUNT = 320;   // 0x140: 0x40 with bit 8 set
constexpr uint32_t SVC_FAILED = 0x10000;       // added to the code in a failed result

// BoardStatus values carried by UM_CHECK_BOARD.
constexpr uint32_t kBoardIdentified = 1;
constexpr uint32_t kBoardUnidentified = 0x10000;
constexpr uint32_t kBoardAbsent = 0;

// What a job says when OpenBoard opened nothing: the board another program
// holds and several boards have words of their own; otherwise the job's own
// text for a missing board.
constexpr const char kBoardBusyText[] = "Board in use by another program";
constexpr const char kSeveralBoardsText[] = "More than one board attached";

constexpr const char kLockUnsafeText[] =
    "Cannot lock the board safely: a /tmp/velkor-board-*.lock file is not as this program makes it";

inline const char* OpenFailureText(int32_t openResult, const char* noBoardText)
{
    if (openResult == kOpenBoardBusy)
        return kBoardBusyText;
    if (openResult == kOpenLockUnsafe)
        return kLockUnsafeText;
    if (openResult == kOpenSeveralBoards)
        return kSeveralBoardsText;
    return noBoardText;
}

// Says through the window that OpenBoard opened nothing, in the job's words
// for a missing board, and returns how the job ends.
inline JobEnd ReportOpenFailure(JobWindow& window, int32_t openResult, const char* noBoardText,
                                OpenFailurePlace place)
{
    const JobEnd why = OpenFailureEnd(openResult);
    window.ShowOpenFailure(why, OpenFailureText(openResult, noBoardText), place);
    return why;
}
