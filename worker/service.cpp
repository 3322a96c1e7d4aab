#include "worker/service.h"

#include <cstdio>

#include "job/job_window.h"
#include "job/messages.h"
#include "link/commands.h"
#include "update/sequencer.h"

namespace {

// The result goes back negated. A counter of 2^31 or more arrives as INT32_MIN,
// whose negation does not exist; it wraps to itself, as on the wire.
int32_t Negated(int32_t r)
{
    return static_cast<int32_t>(0u - static_cast<uint32_t>(r));
}

void Fail(JobWindow& window, int32_t board, uint32_t code, int32_t result)
{
    if (board >= 0)
        CloseBoard(board);
    window.SendResult(UM_SERVICE, code + SVC_FAILED, result);
}

JobOutcome ShotCounter(JobWindow& window, int32_t board, uint32_t code, uint32_t wparam, int32_t lparam)
{
    const int32_t r = AccessShotCounter(board, lparam, static_cast<int>(wparam >> 16));
    if (r < 0) {
        char text[256];
        std::snprintf(text, sizeof text, "Error %d getting shot count", static_cast<int>(r));
        window.ShowMessage(text, "Error", kIconError);
        Fail(window, board, code, Negated(r));
        return Failed(JobFailure::kBoard);
    }
    CloseBoard(board);
    window.SendResult(UM_SERVICE, code, r);
    return {JobEnd::kDone, JobFailure::kNone, r};
}

JobOutcome PressureValues(JobWindow& window, int32_t board, uint32_t code)
{
    PressureSample first;
    PressureSample second;
    int32_t r = ReadPressure(board, first, 0);
    if (r >= 0)
        r = ReadPressure(board, second, 1);
    if (r < 0) {
        window.ShowMessage("Not available with this build", "Error", kIconError);
        Fail(window, board, code, Negated(r));
        return Failed(JobFailure::kBoard);
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "1D = %02X%02X%02X  1B = %02X%02X%02X\n2D = %02X%02X%02X  2B = %02X%02X%02X\n",
                  first[0], first[1], first[2], first[3], first[4], first[5], second[0], second[1],
                  second[2], second[3], second[4], second[5]);
    // The board stays open while the readout is on screen.
    window.ShowMessage(text, "Raw Pressure Values", kIconInformation);
    CloseBoard(board);
    window.SendResult(UM_SERVICE, code, 0);
    return {JobEnd::kDone, JobFailure::kNone, 0};
}

}  // namespace

JobOutcome ServiceJob(JobWindow& window, uint32_t wparam, int32_t lparam)
{
    const uint32_t code = wparam & 0xFFFF;
    const int32_t board = OpenBoard(window.Board());
    if (board < 0) {
        const JobEnd why = ReportOpenFailure(window, board, "Could not connect to device", OpenFailurePlace::kErrorBox);
        Fail(window, board, code, 0);
        return {why};
    }
    // A sequencer failure has shown its own box; the command is tried anyway,
    // but the job has failed whatever the command does.
    const bool booted = LoaderSequencer(window, board, kRequestApplication) >= 0;

    JobOutcome outcome;
    switch (code) {
    case SVC_SET_SHOT_COUNT:
    case SVC_GET_SHOT_COUNT:
        outcome = ShotCounter(window, board, code, wparam, lparam);
        break;
    case SVC_PRESSURE_VALUES:
        outcome = PressureValues(window, board, code);
        break;
    default:
        window.ShowMessage("Unknown command issued", "Internal Error", kIconError);
        Fail(window, board, code, 0);
        outcome = Failed(JobFailure::kUnknownRequest);
        break;
    }
    if (!booted && outcome.end == JobEnd::kDone) {
        outcome.end = JobEnd::kFailed;
        outcome.failure = JobFailure::kBoard;
    }
    return outcome;
}
