#include "update/update_job.h"

#include <algorithm>
#include <cstdio>

#include "job/job_window.h"
#include "job/messages.h"
#include "link/commands.h"
#include "update/firmware.h"
#include "update/record_plan.h"
#include "update/sequencer.h"

namespace {

struct Job {
    JobWindow& window;
    FirmwareImage image;
    int32_t board = -1;
    uint8_t buffer[kRecordBufferSize];
    FirmwareRecord record;
    char message[256];
    bool aborted = false;
    // What a failed update failed at: the board, unless a record was refused.
    JobFailure failure = JobFailure::kBoard;

    explicit Job(JobWindow& w) : window(w) {}

    void Error(const char* text) { window.ShowMessage(text, "Error", kIconError); }

    template <typename... Args>
    void ErrorF(const char* format, Args... args)
    {
        std::snprintf(message, sizeof message, format, args...);
        Error(message);
    }

    // The progress bar follows the position in the file, which after
    // ReadRecord is just past the current record.
    void ShowPosition() { window.SetProgressPos(static_cast<uint32_t>(image.position)); }
};

// Shows why the update stops at this record; false, for the caller to return.
bool Refuse(Job& job, const RecordPlan& plan)
{
    job.failure = JobFailure::kFile;
    job.Error(plan.stopText);
    return false;
}

// A write the board refused gets the words of a planned one, with its result.
bool BoardRefused(Job& job, RecordStop stop, int32_t result)
{
    FormatStop(stop, result, job.message, sizeof job.message);
    job.Error(job.message);
    return false;
}

// Erases the block when the plan says so, then writes the data. Returns false
// after showing the error.
bool WriteDataBlock(Job& job, const RecordPlan& plan)
{
    if (plan.erase) {
        job.window.SetStatus("Erasing flash block");
        const int32_t r = EraseBlock(job.board, plan.block.address);
        if (r != 0) {
            job.ErrorF("Error %d erasing 0x%06x", static_cast<int>(r), static_cast<unsigned>(plan.block.address));
            return false;
        }
    }
    job.window.SetStatus("Uploading data");
    job.ShowPosition();
    const int32_t r = UploadData(job.board, plan.block.data, plan.block.dataLength, plan.block.address);
    return r == 0 || BoardRefused(job, RecordStop::kUploadFailed, r);
}

bool WriteCodeBlock(Job& job)
{
    if (LoaderSequencer(job.window, job.board, kRequestLoader) < 0)
        return false;
    job.window.SetStatus("Programming Code");
    job.ShowPosition();
    const int32_t r = ProgramCodeBlock(job.board, job.record.payload, job.record.length);
    return r == 0 || BoardRefused(job, RecordStop::kProgramFailed, r);
}

// Plans every record before the board is opened: a file the update would
// stop in is refused whole, with the words the record's stop has, and the
// board keeps the firmware it has. True when every record can be sent.
bool CheckRecords(Job& job)
{
    for (int index = 0;; ++index) {
        const RecordOutcome read = ReadRecord(job.image, job.buffer, job.record);
        if (read == RecordOutcome::kEndOfFile)
            break;
        const RecordPlan plan = PlanRecord(read, job.record, index);
        if (plan.stop != RecordStop::kNone)
            return Refuse(job, plan);
    }
    job.image.position = 0;
    return true;
}

// Sends the checked records to the open board. Returns true when the end of
// the file was reached; false after an error (shown) or an abort (silent).
bool ProgramRecords(Job& job)
{
    for (;;) {
        if (job.window.TakeAbort()) {
            job.aborted = true;
            return false;
        }
        if (ReadRecord(job.image, job.buffer, job.record) == RecordOutcome::kEndOfFile)
            return true;
        // Checked already: the plan says only what to do with the record.
        const RecordPlan plan = PlanRecord(RecordOutcome::kRecord, job.record, 0);
        if (plan.data) {
            if (LoaderSequencer(job.window, job.board, kRequestApplication) < 0)
                return false;
            if (!WriteDataBlock(job, plan))
                return false;
        } else if (!WriteCodeBlock(job)) {
            return false;
        }
    }
}

JobOutcome RunWithFile(JobWindow& window, const FirmwareImage& image)
{
    Job job(window);
    job.image = image;
    job.window.SetProgressPos(0);
    job.window.SetProgressRange(static_cast<uint32_t>(job.image.bytes.size()));
    job.window.SetStatus("Connecting...");

    job.board = OpenBoard(job.window.Board());
    if (job.board < 0)
        return {ReportOpenFailure(job.window, job.board, "Could not connect to device", OpenFailurePlace::kErrorBox)};
    LoaderSequencer(job.window, job.board, kRequestReset);

    // The board must end in its application before success is claimed; when
    // that fails the sequencer has said why, and "Update complete!" would
    // contradict it.
    JobOutcome outcome;
    if (ProgramRecords(job) && LoaderSequencer(job.window, job.board, kRequestApplication) >= 0) {
        job.window.SetStatus("Done.");
        job.window.ShowMessage("Update complete!", "Done", kIconInformation);
    } else {
        outcome = job.aborted ? JobOutcome{JobEnd::kAborted} : Failed(job.failure);
    }
    CloseBoard(job.board);
    return outcome;
}

JobOutcome Finish(JobWindow& window, const JobOutcome& outcome)
{
    window.SetStatus("Wait...");
    window.SendResult(UM_UPDATE, 1, 0);
    return outcome;
}

}  // namespace

CheckedFirmware::~CheckedFirmware()
{
    if (file_ != kNoFile)
        CloseFirmwareFile(file_);
}

bool CheckedFirmware::Load(JobWindow& window)
{
    Job job(window);
    char fileName[kFileNameBufferSize] = {};
    window.ReadFileName(fileName, sizeof fileName);
    if (fileName[0] == '\0') {
        job.Error("Firmware file not selected");
        return false;
    }
    if ((file_ = OpenFirmwareFile(fileName)) == kNoFile || !LoadFirmwareImage(file_, job.image)) {
        job.Error("Could not open firmware file");
        return false;
    }
    if (!CheckRecords(job))
        return false;
    image_ = std::move(job.image);
    return true;
}

JobOutcome UpdateJob(JobWindow& window)
{
    return UpdateJob(window, nullptr);
}

JobOutcome UpdateJob(JobWindow& window, const std::function<void(const FirmwareImage&)>& checked)
{
    JobOutcome outcome = Failed(JobFailure::kFile);
    {
        // Held open to the end: on Windows that keeps others from writing it.
        CheckedFirmware firmware;
        if (firmware.Load(window)) {
            if (checked)
                checked(firmware.Image());
            outcome = RunWithFile(window, firmware.Image());
        }
    }
    return Finish(window, outcome);
}

JobOutcome UpdateJob(JobWindow& window, const CheckedFirmware& firmware)
{
    return Finish(window, RunWithFile(window, firmware.Image()));
}

size_t Utf8Characters(const std::string& text)
{
    // Continuation bytes (10xxxxxx) are part of the character before them.
    const auto starts = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
    return std::max(static_cast<size_t>(starts), (text.size() + 3) / 4);
}
