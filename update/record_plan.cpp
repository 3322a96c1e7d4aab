#include "update/record_plan.h"

#include <cstdio>

#include "link/commands.h"

namespace {

const char* StopFormat(RecordStop stop)
{
    switch (stop) {
    case RecordStop::kNone: return "";
    case RecordStop::kUnknownToken: return "Unknown token in firmware file";
    case RecordStop::kUnexpectedEnd: return "Unexpected EOF";
    case RecordStop::kReadError: return "Could not read firmware file";
    case RecordStop::kCrcError: return "CRC error in block %d";
    case RecordStop::kLengthError: return "Length error in block %d";
    case RecordStop::kUploadFailed: return "Error %d uploading data";
    case RecordStop::kProgramFailed: return "Error %d programming code";
    }
    return "";
}

RecordPlan Stopped(RecordPlan plan, RecordStop stop, int32_t value)
{
    plan.stop = stop;
    FormatStop(stop, value, plan.stopText, sizeof plan.stopText);
    return plan;
}

RecordPlan PlanDataBlock(RecordPlan plan, const FirmwareRecord& record, int index)
{
    switch (DecodeDataBlock(record.payload, record.length, plan.block)) {
    case DataBlockOutcome::kCrcError:
        return Stopped(plan, RecordStop::kCrcError, index);
    case DataBlockOutcome::kLengthError:
        return Stopped(plan, RecordStop::kLengthError, index);
    case DataBlockOutcome::kOk:
        break;
    }
    plan.checked = true;
    plan.erase = (plan.block.address & (kFlashBlockSize - 1)) == 0;
    if (plan.block.dataLength > kUploadDataMax)
        return Stopped(plan, RecordStop::kUploadFailed, kLongTooLong);
    return plan;
}

}  // namespace

RecordPlan PlanRecord(RecordOutcome outcome, const FirmwareRecord& record, int index)
{
    RecordPlan plan;
    switch (outcome) {
    case RecordOutcome::kEndOfFile:
        return plan;
    case RecordOutcome::kUnknownToken:
        return Stopped(plan, RecordStop::kUnknownToken, 0);
    case RecordOutcome::kUnexpectedEnd:
        return Stopped(plan, RecordStop::kUnexpectedEnd, 0);
    case RecordOutcome::kReadError:
        return Stopped(plan, RecordStop::kReadError, 0);
    case RecordOutcome::kRecord:
        break;
    }
    plan.data = record.token == kTokenData;
    if (plan.data)
        return PlanDataBlock(plan, record, index);
    if (record.length > kLongPayloadMax)
        return Stopped(plan, RecordStop::kProgramFailed, kLongTooLong);
    return plan;
}

void FormatStop(RecordStop stop, int32_t value, char* text, size_t size)
{
    std::snprintf(text, size, StopFormat(stop), static_cast<int>(value));
}
