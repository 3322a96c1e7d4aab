// The firmware file reader and the data-block decoder over arbitrary bytes:
// records are read until the reader stops, every data block is decoded.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "update/firmware.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ScratchFile scratch(data, size);
    const FirmwareFile file = OpenFirmwareFile(scratch.path().c_str());
    if (file == kNoFile)
        std::abort();
    uint8_t buffer[kRecordBufferSize];
    FirmwareRecord record;
    size_t consumed = 0;
    RecordOutcome outcome;
    while ((outcome = ReadRecord(file, buffer, record)) == RecordOutcome::kRecord) {
        consumed += 2u + record.length;
        if (consumed > size || record.payload == nullptr)
            std::abort();
        if (record.token != kTokenData && record.token != kTokenCode)
            std::abort();
        if (record.token != kTokenData)
            continue;
        DataBlock block;
        if (DecodeDataBlock(record.payload, record.length, block) == DataBlockOutcome::kOk) {
            // The data must lie inside the record that was just read.
            if (block.data < record.payload ||
                block.data + block.dataLength > record.payload + record.length || block.address > 0xFFFFFF)
                std::abort();
        }
    }
    CloseFirmwareFile(file);
    // A clean end of file leaves at most one stray byte behind.
    if (outcome == RecordOutcome::kEndOfFile && size - consumed > 1)
        std::abort();
    if (outcome == RecordOutcome::kReadError)
        std::abort();  // a regular file never fails to read
    return 0;
}
