#include "update/sequencer.h"

#include <cstdio>

#include "job/job_window.h"
#include "link/commands.h"

int32_t ProgrammingState = -1;
int32_t ProgrammingInitialised = 0;

namespace {

int32_t Fail(JobWindow& window, const char* text)
{
    window.ShowMessage(text, "Error", kIconError);
    return -1;
}

int32_t FailWith(JobWindow& window, const char* format, int32_t result)
{
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(result));
    return Fail(window, text);
}

int32_t InitialiseProgramming(JobWindow& window, int32_t handle, int32_t request)
{
    const int32_t r = InitProgramming(handle);
    if (r != 0)
        return FailWith(window, "Error %d initialising programming process", r);
    ProgrammingInitialised = 1;
    ProgrammingState = request;
    return request;
}

int32_t ToLoader(JobWindow& window, int32_t handle, int32_t request)
{
    window.SetStatus("Starting update process...");
    const int32_t r = EnterLoader(handle);
    if (r != 0)
        return FailWith(window, "Error %d communicating with marker", r);
    ProgrammingInitialised = 0;
    return InitialiseProgramming(window, handle, request);
}

int32_t ToApplication(JobWindow& window, int32_t handle)
{
    window.SetStatus("Booting firmware...");
    int32_t r = CompleteProgramming(handle);
    if (r != 0)
        return FailWith(window, "Error %d completing programming process", r);
    ProgrammingInitialised = 0;
    r = BootFirmware(handle);
    if (r != 0)
        return FailWith(window, "Error %d communicating with marker", r);
    // Any value the board carries back here counts as a failure, not only a
    // negated status.
    r = StartDataUpload(handle, 0, 0);
    if (r != 0)
        return FailWith(window, "Error %d starting data upload", r);
    ProgrammingState = 0;
    return 0;
}

}  // namespace

int32_t LoaderSequencer(JobWindow& window, int32_t handle, int32_t request)
{
    if (request < 0) {
        ProgrammingState = -1;
        ProgrammingInitialised = 0;
        return 0;
    }
    if (ProgrammingState < 0) {
        uint8_t reply[kShortReportSize];
        if (IdentifyBoard(handle, reply) != 0)
            return Fail(window, "Could not query version information");
        ProgrammingState = DecodeIdentity(reply).inLoader ? 1 : 0;
    }

    if (ProgrammingState == 0)
        return request == 0 ? 0 : ToLoader(window, handle, request);
    if (request == 0)
        return ToApplication(window, handle);
    if (ProgrammingInitialised) {
        ProgrammingState = request;
        return request;
    }
    return InitialiseProgramming(window, handle, request);
}
