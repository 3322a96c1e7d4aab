// Everything a worker job does to the main window. The Windows program
// implements it with the window's own controls and synchronous sends; the
// command line and the tests implement it in their own way. Every call returns
// only once the window side has handled it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "job/outcome.h"

// Message box icons and buttons, with the Win32 values so the Windows side
// passes them straight through.
enum MessageIcon : uint32_t {
    kIconError = 0x10,        // MB_ICONERROR
    kIconQuestion = 0x20,     // MB_ICONQUESTION
    kIconInformation = 0x40,  // MB_ICONINFORMATION
};
constexpr int kButtonOk = 1;  // IDOK

// Where a job says it opened no board: detection on the status line, the
// other jobs in an error box.
enum class OpenFailurePlace { kStatusLine, kErrorBox };

// A job reads at most this many characters of the file name, as the window's
// edit counts them (UTF-16 units on Windows). In UTF-8 each takes up to 4
// bytes; the buffer holds them and a terminator.
constexpr size_t kFileNameMaxChars = 258;
constexpr size_t kFileNameBufferSize = kFileNameMaxChars * 4 + 1;

class JobWindow {
public:
    virtual ~JobWindow() = default;

    // The upper status line, IDC_STATUS.
    virtual void SetStatus(const char* text) = 0;

    // The progress bar: PBM_SETRANGE32 (0 .. upper) and PBM_SETPOS.
    virtual void SetProgressRange(uint32_t upper) = 0;
    virtual void SetProgressPos(uint32_t pos) = 0;

    // A modal OK box owned by the window; returns the button pressed.
    virtual int ShowMessage(const char* text, const char* caption, MessageIcon icon) = 0;

    // How a job says it opened no board: why (kNoBoard, kBoardBusy or
    // kSeveralBoards) and its words for it. Shown where the job asks; a front
    // end with words of its own for a case overrides this.
    virtual void ShowOpenFailure(JobEnd /*why*/, const char* text, OpenFailurePlace place)
    {
        if (place == OpenFailurePlace::kStatusLine)
            SetStatus(text);
        else
            ShowMessage(text, "Error", kIconError);
    }

    // UM_CHECK_BOARD, UM_UPDATE or UM_SERVICE, sent to the window.
    virtual void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) = 0;

    // The text of IDC_FIRMWARE_FILE in UTF-8: its first kFileNameMaxChars
    // characters at most, no more than size - 1 bytes, and a terminator.
    virtual void ReadFileName(char* buf, size_t size) = 0;

    // The board the job opens (OpenBoard's path): empty for the only one
    // attached. Asked by each job for itself, so no choice outlives its job.
    virtual std::string Board() const { return {}; }

    // Removes one pending UM_ABORT from the worker's queue, if there is one,
    // and says whether it did. No other message is touched.
    virtual bool TakeAbort() = 0;
};
