// Firmware files: records back to back, no header. A record is a token byte
// ('D' data block, 'E' code block), a length byte and that many payload bytes.
// Parsing is kept apart from the transfer loop so it can be checked on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "update/firmware_file.h"

constexpr uint8_t kTokenData = 'D';
constexpr uint8_t kTokenCode = 'E';
constexpr size_t kRecordBufferSize = 256;

// Payload offsets of a data block.
constexpr int kDataLengthOffset = 2;
constexpr int kDataAddressOffset = 3;
constexpr int kDataOffset = 6;

struct FirmwareRecord {
    uint8_t token = 0;
    uint8_t length = 0;
    uint8_t* payload = nullptr;  // the caller's 256-byte record buffer
};

enum class RecordOutcome {
    kRecord,         // token 'D' or 'E', payload in the buffer
    kEndOfFile,      // nothing more, or a lone byte after the last record
    kUnknownToken,   // header read, token neither 'D' nor 'E'; payload not read
    kUnexpectedEnd,  // header read, payload cut short or its read failed
    kReadError,      // the header read itself failed: an I/O error, not the end
};

// Two platform reads per record (header, then payload straight into buffer),
// no allocation. On kRecord and kUnknownToken the header fields are set.
RecordOutcome ReadRecord(FirmwareFile file, uint8_t (&buffer)[kRecordBufferSize],
                         FirmwareRecord& record);

// The whole file, read once before the board is touched: a bad record is
// found before anything is erased, and whatever is written to the file while
// the update runs never reaches the board.
constexpr size_t kFirmwareImageMax = size_t{64} << 20;

struct FirmwareImage {
    std::vector<uint8_t> bytes;
    size_t position = 0;  // where the next ReadRecord starts
};

// Reads the open file from its position to its end. False when a read fails
// or the file holds more than kFirmwareImageMax bytes.
bool LoadFirmwareImage(FirmwareFile file, FirmwareImage& image);

// ReadRecord from the image: the same outcomes, position and buffer use.
RecordOutcome ReadRecord(FirmwareImage& image, uint8_t (&buffer)[kRecordBufferSize], FirmwareRecord& record);

struct DataBlock {
    uint8_t dataLength = 0;
    uint32_t address = 0;        // 24 bits
    const uint8_t* data = nullptr;  // points into the record's payload
};

enum class DataBlockOutcome {
    kOk,
    kCrcError,     // the payload's CRC-16 residue is not 0
    kLengthError,  // the payload is shorter than 6 + data length (length 0 included)
};

// The fields are filled whenever the payload holds them (length 6 or more),
// as read; only with kOk do they describe data inside the payload.
DataBlockOutcome DecodeDataBlock(const uint8_t* payload, uint8_t length, DataBlock& block);
