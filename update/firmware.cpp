#include "update/firmware.h"

#include "link/crc16.h"

RecordOutcome ReadRecord(FirmwareFile file, uint8_t (&buffer)[kRecordBufferSize],
                         FirmwareRecord& record)
{
    uint8_t header[2];
    const int32_t got = ReadFirmwareFile(file, header, sizeof header);
    if (got < 0)
        return RecordOutcome::kReadError;
    // A lone byte after the last record is the end of the file, not an error.
    if (got < 2)
        return RecordOutcome::kEndOfFile;

    record.token = header[0];
    record.length = header[1];
    record.payload = buffer;
    if (record.token != kTokenData && record.token != kTokenCode)
        return RecordOutcome::kUnknownToken;
    if (record.length == 0)
        return RecordOutcome::kRecord;
    const int32_t body = ReadFirmwareFile(file, buffer, record.length);
    if (body != record.length)
        return RecordOutcome::kUnexpectedEnd;
    return RecordOutcome::kRecord;
}

DataBlockOutcome DecodeDataBlock(const uint8_t* payload, uint8_t length, DataBlock& block)
{
    // Read before the checks, so a listing can show what a refused block says.
    if (length >= kDataOffset) {
        block.dataLength = payload[kDataLengthOffset];
        block.address = static_cast<uint32_t>(payload[kDataAddressOffset]) |
                        (static_cast<uint32_t>(payload[kDataAddressOffset + 1]) << 8) |
                        (static_cast<uint32_t>(payload[kDataAddressOffset + 2]) << 16);
        block.data = payload + kDataOffset;
    }
    if (length > 0 && Crc16(payload, length) != 0)
        return DataBlockOutcome::kCrcError;
    // The block's data must lie inside its own payload; anything shorter would
    // send bytes of an earlier record. A length of 0 has no fields at all.
    if (length < kDataOffset || length < kDataOffset + payload[kDataLengthOffset])
        return DataBlockOutcome::kLengthError;
    return DataBlockOutcome::kOk;
}
