// How a job ended, returned by every job, so a front end acts on what
// happened rather than on the words the job showed for it.
#pragma once

#include <cstdint>
#include <optional>

#include "link/board_link.h"

enum class JobEnd {
    kDone,
    kFailed,         // the job showed an error, even one it went on after
    kAborted,        // stopped on request (the update only); nothing shown
    kNoBoard,        // none attached, or this user may not open it
    kBoardBusy,      // another program holds the board
    kSeveralBoards,  // more than one attached and none chosen
};

// What failed, for kFailed.
enum class JobFailure {
    kNone,
    kFile,            // the firmware file: not named, not opened, or a record the update cannot use
    kBoard,           // the board refused or did not answer a request, or did not identify itself
    kUnknownRequest,  // a service code the job does not know
};

struct JobOutcome {
    JobEnd end = JobEnd::kDone;
    JobFailure failure = JobFailure::kNone;
    // The service command's result (the shot counter; 0 for the pressure
    // readout) when the command itself succeeded. It can have although the
    // job failed: a board that could not be booted first is asked anyway.
    std::optional<int32_t> result = std::nullopt;
};

inline JobOutcome Failed(JobFailure failure)
{
    return {JobEnd::kFailed, failure};
}

// The end for OpenBoard's result when it opened nothing.
inline JobEnd OpenFailureEnd(int32_t openResult)
{
    // A lock another user may have laid keeps the board from us as if held.
    if (openResult == kOpenBoardBusy || openResult == kOpenLockUnsafe)
        return JobEnd::kBoardBusy;
    if (openResult == kOpenSeveralBoards)
        return JobEnd::kSeveralBoards;
    return JobEnd::kNoBoard;
}
