#include "update/update_job.h"

#include <algorithm>
#include <cstdio>

#include "job/job_window.h"
#include "job/messages.h"
#include "link/commands.h"
#include "update/firmware.h"
#include "update/sequencer.h"

namespace {

struct Job {
    JobWindow& window;
    FirmwareFile file = kNoFile;
    int32_t board = -1;
    int32_t recordIndex = 0;
    uint8_t buffer[kRecordBufferSize];
    FirmwareRecord record;
    char message[256];
    bool aborted = false;

    explicit Job(JobWindow& w) : window(w) {}

    void Error(const char* text) { window.ShowMessage(text, "Error", kIconError); }

    template <typename... Args>
    void ErrorF(const char* format, Args... args)
    {
        std::snprintf(message, sizeof message, format, args...);
        Error(message);
    }

    // The progress bar follows the file position, which after ReadRecord is
    // just past the current record.
    void ShowPosition()
    {
        uint64_t position = 0;
        if (FirmwareFilePosition(file, &position))
            window.SetProgressPos(static_cast<uint32_t>(position));
    }
};

// Erases the block when the data starts on a 4096-byte boundary, then writes
// the data. Returns false after showing the error.
bool WriteDataBlock(Job& job)
{
    DataBlock block;
    switch (DecodeDataBlock(job.record.payload, job.record.length, block)) {
    case DataBlockOutcome::kCrcError:
        job.ErrorF("CRC error in block %d", static_cast<int>(job.recordIndex));
        return false;
    case DataBlockOutcome::kLengthError:
        job.ErrorF("Length error in block %d", static_cast<int>(job.recordIndex));
        return false;
    case DataBlockOutcome::kOk:
        break;
    }
    if ((block.address & (kFlashBlockSize - 1)) == 0) {
        job.window.SetStatus("Erasing flash block");
        const int32_t r = EraseBlock(job.board, block.address);
        if (r != 0) {
            job.ErrorF("Error %d erasing 0x%06x", static_cast<int>(r), static_cast<unsigned>(block.address));
            return false;
        }
    }
    job.window.SetStatus("Uploading data");
    job.ShowPosition();
    const int32_t r = UploadData(job.board, block.data, block.dataLength, block.address);
    if (r != 0) {
        job.ErrorF("Error %d uploading data", static_cast<int>(r));
        return false;
    }
    return true;
}

bool WriteCodeBlock(Job& job)
{
    if (LoaderSequencer(job.window, job.board, kRequestLoader) < 0)
        return false;
    job.window.SetStatus("Programming Code");
    job.ShowPosition();
    const int32_t r = ProgramCodeBlock(job.board, job.record.payload, job.record.length);
    if (r != 0) {
        job.ErrorF("Error %d programming code", static_cast<int>(r));
        return false;
    }
    return true;
}

// Streams the records to the open board. Returns true when the end of the
// file was reached; false after an error (shown) or an abort (silent).
bool ProgramRecords(Job& job)
{
    for (;;) {
        if (job.window.TakeAbort()) {
            job.aborted = true;
            return false;
        }
        switch (ReadRecord(job.file, job.buffer, job.record)) {
        case RecordOutcome::kEndOfFile:
            return true;
        case RecordOutcome::kUnknownToken:
            job.Error("Unknown token in firmware file");
            return false;
        case RecordOutcome::kUnexpectedEnd:
            job.Error("Unexpected EOF");
            return false;
        case RecordOutcome::kReadError:
            // Not the end of the file: completing here would report a
            // partial update as a whole one.
            job.Error("Could not read firmware file");
            return false;
        case RecordOutcome::kRecord:
            break;
        }
        if (job.record.token == kTokenData) {
            if (LoaderSequencer(job.window, job.board, kRequestApplication) < 0)
                return false;
            if (!WriteDataBlock(job))
                return false;
        } else if (!WriteCodeBlock(job)) {
            return false;
        }
        ++job.recordIndex;
    }
}

JobOutcome RunWithFile(Job& job)
{
    job.window.SetProgressPos(0);
    uint64_t size = 0;
    FirmwareFileSize(job.file, &size);
    job.window.SetProgressRange(static_cast<uint32_t>(size));
    job.window.SetStatus("Connecting...");

    job.board = OpenBoard();
    if (job.board < 0)
        return {ReportOpenFailure(job.window, job.board, "Could not connect to device", OpenFailurePlace::kErrorBox)};
    LoaderSequencer(job.window, job.board, kRequestReset);
    job.recordIndex = 0;

    // The board must end in its application before success is claimed; when
    // that fails the sequencer has said why, and "Update complete!" would
    // contradict it.
    JobOutcome outcome;
    if (ProgramRecords(job) && LoaderSequencer(job.window, job.board, kRequestApplication) >= 0) {
        job.window.SetStatus("Done.");
        job.window.ShowMessage("Update complete!", "Done", kIconInformation);
    } else {
        outcome = job.aborted ? JobOutcome{JobEnd::kAborted} : Failed(JobFailure::kPartialUpdate);
    }
    CloseBoard(job.board);
    return outcome;
}

}  // namespace

JobOutcome UpdateJob(JobWindow& window)
{
    Job job(window);
    char fileName[kFileNameBufferSize] = {};
    window.ReadFileName(fileName, sizeof fileName);
    JobOutcome outcome = Failed(JobFailure::kFile);
    if (fileName[0] == '\0') {
        job.Error("Firmware file not selected");
    } else if ((job.file = OpenFirmwareFile(fileName)) == kNoFile) {
        job.Error("Could not open firmware file");
    } else {
        outcome = RunWithFile(job);
        CloseFirmwareFile(job.file);
    }
    window.SetStatus("Wait...");
    window.SendResult(UM_UPDATE, 1, 0);
    return outcome;
}

size_t Utf8Characters(const std::string& text)
{
    // Continuation bytes (10xxxxxx) are part of the character before them.
    const auto starts = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
    return std::max(static_cast<size_t>(starts), (text.size() + 3) / 4);
}
