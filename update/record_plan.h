// What the update does with one record of the firmware file, decided once for
// the update job, which acts on it, and for `velkor inspect`, which lists it:
// data or code, where the data goes and whether its flash block is erased
// first, and whether the update stops there, in the words the job shows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/firmware.h"

// Why the update stops at a record, in the order the job meets them: the
// read, before anything is sent for the record; a data block's own checks,
// after the switch to the application and before the erase; a write longer
// than one report, after the erase (the link would refuse it unsent). The
// last two are also what the job shows when the board refuses a write.
enum class RecordStop : uint8_t {
    kNone,
    kUnknownToken,
    kUnexpectedEnd,
    kReadError,
    kCrcError,
    kLengthError,
    kUploadFailed,
    kProgramFailed,
};

struct RecordPlan {
    RecordStop stop = RecordStop::kNone;
    bool data = false;     // a data block; otherwise a code block
    bool checked = false;  // a data block whose check value and length hold
    bool erase = false;    // checked, and starting on a flash block boundary
    DataBlock block;       // a data block's fields, as DecodeDataBlock read them
    char stopText[48] = {};
};

// The plan for what ReadRecord gave; index counts records from 0. The end of
// the file plans nothing.
RecordPlan PlanRecord(RecordOutcome outcome, const FirmwareRecord& record, int index);

// The job's text for a stop. value is the record index for the checks, the
// link's result for a write, unused for the read stops.
void FormatStop(RecordStop stop, int32_t value, char* text, size_t size);
