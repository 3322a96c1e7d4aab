#include "cli/record_listing.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "update/firmware.h"
#include "update/record_plan.h"

namespace {

struct Totals {
    int codeBlocks = 0;
    int dataBlocks = 0;
    uint64_t dataBytes = 0;
    uint32_t lowest = UINT32_MAX;
    uint32_t highest = 0;  // last byte written
    int erases = 0;
    int problems = 0;
    int stopIndex = -1;  // the first record the update would refuse
    std::string stopMessage;
};

class Inspector {
public:
    Inspector(std::FILE* out, FirmwareFile file) : out_(out), file_(file) {}

    void Run();
    bool Clean() const { return totals_.problems == 0; }

private:
    void Problem(int index, const char* message);
    void DataRecord(int index, const RecordPlan& plan);
    void CodeRecord(int index, const RecordPlan& plan);
    void Summary(uint64_t end);

    std::FILE* out_;
    FirmwareFile file_;
    uint8_t buffer_[kRecordBufferSize];
    FirmwareRecord record_;
    Totals totals_;
};

void Inspector::Problem(int index, const char* message)
{
    std::fprintf(out_, "        problem: %s\n", message);
    if (totals_.problems++ == 0) {
        totals_.stopIndex = index;
        totals_.stopMessage = message;
    }
}

void Inspector::DataRecord(int index, const RecordPlan& plan)
{
    ++totals_.dataBlocks;
    if (plan.stop == RecordStop::kLengthError) {
        std::fprintf(out_, "data, payload too short for its fields and data\n");
    } else if (!plan.checked) {
        // The fields are shown as read; the update never gets to use them.
        if (record_.length > kDataOffset)
            std::fprintf(out_, "data at 0x%06x, %u bytes, check FAILED\n", static_cast<unsigned>(plan.block.address),
                         plan.block.dataLength);
        else
            std::fprintf(out_, "data, check FAILED\n");
    } else {
        // An oversized block at a block boundary still costs its erase.
        std::fprintf(out_, "data at 0x%06x, %u bytes, check ok%s\n", static_cast<unsigned>(plan.block.address),
                     plan.block.dataLength, plan.erase ? ", erase first" : "");
        totals_.erases += plan.erase ? 1 : 0;
    }
    if (plan.stop != RecordStop::kNone) {
        Problem(index, plan.stopText);
        return;
    }
    const DataBlock& block = plan.block;
    if (block.dataLength > 0) {
        totals_.dataBytes += block.dataLength;
        totals_.lowest = std::min(totals_.lowest, block.address);
        totals_.highest = std::max(totals_.highest, block.address + block.dataLength - 1);
    }
}

void Inspector::CodeRecord(int index, const RecordPlan& plan)
{
    ++totals_.codeBlocks;
    if (record_.length > 0)
        std::fprintf(out_, "code, first byte 0x%02x\n", record_.payload[0]);
    else
        std::fprintf(out_, "code, empty\n");
    if (plan.stop != RecordStop::kNone)
        Problem(index, plan.stopText);
}

// A record the update could not read whole: what the listing says instead of
// its contents. The update stops there.
const char* Unreadable(RecordOutcome outcome)
{
    switch (outcome) {
    case RecordOutcome::kUnknownToken: return "neither a data ('D') nor a code ('E') record";
    case RecordOutcome::kUnexpectedEnd: return "the file ends inside this record";
    default: return "(the file could not be read here)";
    }
}

void Inspector::Run()
{
    std::fprintf(out_, "record  offset    token  length  contents\n");
    int index = 0;
    for (;; ++index) {
        uint64_t offset = 0;
        FirmwareFilePosition(file_, &offset);
        const RecordOutcome outcome = ReadRecord(file_, buffer_, record_);
        if (outcome == RecordOutcome::kEndOfFile) {
            Summary(offset);
            return;
        }
        const RecordPlan plan = PlanRecord(outcome, record_, index);
        if (outcome == RecordOutcome::kReadError) {
            std::fprintf(out_, "%6d  0x%06llx  %s\n", index, static_cast<unsigned long long>(offset),
                         Unreadable(outcome));
            Problem(index, plan.stopText);
            break;
        }
        const char token = (record_.token >= 0x20 && record_.token < 0x7F) ? static_cast<char>(record_.token) : '?';
        std::fprintf(out_, "%6d  0x%06llx  %c 0x%02x  %6u  ", index, static_cast<unsigned long long>(offset), token,
                     record_.token, record_.length);
        if (outcome != RecordOutcome::kRecord) {
            std::fprintf(out_, "%s\n", Unreadable(outcome));
            Problem(index, plan.stopText);
            break;
        }
        if (plan.data)
            DataRecord(index, plan);
        else
            CodeRecord(index, plan);
    }
    // Nothing after an unreadable record can be found.
    std::fprintf(out_, "nothing after record %d can be read\n", index);
    Summary(0);
}

void Inspector::Summary(uint64_t end)
{
    std::fprintf(out_, "\nrecords: %d code, %d data\n", totals_.codeBlocks, totals_.dataBlocks);
    if (totals_.dataBytes > 0)
        std::fprintf(out_, "data bytes: %llu, addresses 0x%06x to 0x%06x\n",
                     static_cast<unsigned long long>(totals_.dataBytes), static_cast<unsigned>(totals_.lowest),
                     static_cast<unsigned>(totals_.highest));
    else
        std::fprintf(out_, "data bytes: 0\n");
    std::fprintf(out_, "erases: %d\n", totals_.erases);
    uint64_t size = 0;
    if (end > 0 && FirmwareFileSize(file_, &size) && size > end)
        std::fprintf(out_, "%llu stray byte after the last record, ignored by the update\n",
                     static_cast<unsigned long long>(size - end));

    if (totals_.problems == 0) {
        std::fprintf(out_, "no problems: the update would program the whole file\n");
        return;
    }
    std::fprintf(out_, "problems: %d\nthe update would refuse the file at record %d: %s\n", totals_.problems, totals_.stopIndex,
                 totals_.stopMessage.c_str());
}

}  // namespace

int InspectFirmware(const std::string& path, std::FILE* out, std::FILE* err)
{
    // The core's open says only yes or no; the reason is worth a line here.
    // The name is UTF-8, which a path object reaches on Windows too.
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(std::filesystem::u8path(path), ec);
    std::string reason;
    if (ec)
        reason = ec.message();
    else if (std::filesystem::is_directory(st))
        reason = "is a directory";
    const FirmwareFile file = reason.empty() ? OpenFirmwareFile(path.c_str()) : kNoFile;
    if (file == kNoFile) {
        std::fprintf(err, "Could not open firmware file: %s: %s\n", path.c_str(),
                     !reason.empty() ? reason.c_str() : std::strerror(errno));
        return 1;
    }
    Inspector inspector(out, file);
    inspector.Run();
    CloseFirmwareFile(file);
    return inspector.Clean() ? 0 : 1;
}
