#include "worker/detection.h"

#include <cstdio>

#include "job/job_window.h"
#include "job/messages.h"
#include "link/commands.h"

JobOutcome DetectionJob(JobWindow& window)
{
    const int32_t board = OpenBoard(window.Board());
    if (board < 0) {
        const JobEnd why = ReportOpenFailure(window, board, "No board detected", OpenFailurePlace::kStatusLine);
        window.SendResult(UM_CHECK_BOARD, kBoardAbsent, 0);
        return {why};
    }
    JobOutcome outcome;
    uint8_t reply[kShortReportSize];
    if (IdentifyBoard(board, reply) != 0) {
        window.SetStatus("Connected: unidentified device");
        window.SendResult(UM_CHECK_BOARD, kBoardUnidentified, 0);
        outcome = Failed(JobFailure::kBoard);
    } else {
        char description[200];
        FormatBoardDescription(DecodeIdentity(reply), description, sizeof description);
        char line[256];
        std::snprintf(line, sizeof line, "Connected: %s", description);
        window.SetStatus(line);
        window.SendResult(UM_CHECK_BOARD, kBoardIdentified, 0);
    }
    CloseBoard(board);
    return outcome;
}
