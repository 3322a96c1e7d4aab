#include "update/firmware.h"

#include <algorithm>
#include <cstring>

#include "link/crc16.h"

namespace {

// read(buf, count) returns the bytes it delivered, or -1 on an I/O error.
template <typename Read>
RecordOutcome ParseRecord(Read read, uint8_t (&buffer)[kRecordBufferSize], FirmwareRecord& record)
{
    uint8_t header[2];
    const int32_t got = read(header, sizeof header);
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
    const int32_t body = read(buffer, record.length);
    if (body != record.length)
        return RecordOutcome::kUnexpectedEnd;
    return RecordOutcome::kRecord;
}

}  // namespace

RecordOutcome ReadRecord(FirmwareFile file, uint8_t (&buffer)[kRecordBufferSize], FirmwareRecord& record)
{
    return ParseRecord([file](uint8_t* buf, uint32_t count) { return ReadFirmwareFile(file, buf, count); }, buffer,
                       record);
}

RecordOutcome ReadRecord(FirmwareImage& image, uint8_t (&buffer)[kRecordBufferSize], FirmwareRecord& record)
{
    const auto read = [&image](uint8_t* buf, uint32_t count) {
        const size_t n = std::min<size_t>(count, image.bytes.size() - image.position);
        if (n > 0)
            std::memcpy(buf, image.bytes.data() + image.position, n);
        image.position += n;
        return static_cast<int32_t>(n);
    };
    return ParseRecord(read, buffer, record);
}

bool LoadFirmwareImage(FirmwareFile file, FirmwareImage& image)
{
    // Sized once from the file's size, plus one byte to see its end without
    // growing; a file that grows meanwhile, or a pipe, grows the buffer.
    uint64_t size = 0;
    FirmwareFileSize(file, &size);
    std::vector<uint8_t>& bytes = image.bytes;
    bytes.resize(static_cast<size_t>(std::min<uint64_t>(size, kFirmwareImageMax)) + 1);
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > kFirmwareImageMax)
                return false;
            bytes.resize(std::min(got * 2, kFirmwareImageMax + 1));
        }
        const int32_t n = ReadFirmwareFile(file, bytes.data() + got, static_cast<uint32_t>(bytes.size() - got));
        if (n <= 0) {
            bytes.resize(got);
            image.position = 0;
            return n == 0;
        }
        got += static_cast<size_t>(n);
    }
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
