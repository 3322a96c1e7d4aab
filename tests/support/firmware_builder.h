// Builds firmware files for tests from a description, so no test holds a
// hand-edited binary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class FirmwareBuilder {
public:
    // A data block: two uninterpreted bytes, data length, 24-bit address,
    // data, then the CRC-16 of all of that, low byte first.
    FirmwareBuilder& Data(uint32_t address, const Bytes& data);
    // A data block with a wrong check value.
    FirmwareBuilder& BadCrcData(uint32_t address, const Bytes& data);
    // A 'D' record with exactly this payload, check value and all.
    FirmwareBuilder& DataPayload(const Bytes& payload);
    FirmwareBuilder& Code(const Bytes& payload);
    FirmwareBuilder& Raw(const Bytes& bytes);

    const Bytes& bytes() const { return bytes_; }

    // The payload Data() would write for these fields.
    static Bytes DataBlockPayload(uint32_t address, const Bytes& data);

private:
    Bytes bytes_;
};

// Sequential bytes starting at first, handy as recognisable data.
Bytes Pattern(size_t count, uint8_t first = 0);

// A file in the temporary directory, removed when this goes.
class TempFile {
public:
    explicit TempFile(const Bytes& contents);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
