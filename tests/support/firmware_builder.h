// Builds firmware files for tests from a description, so no test holds a
// hand-edited binary, and keeps what a board must hold after taking the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Flash = std::map<uint32_t, Bytes>;  // 4 KiB blocks by address, as the board keeps them

class FirmwareBuilder {
public:
    // A data block: two uninterpreted bytes, data length, 24-bit address,
    // data, then the CRC-16 of all of that, low byte first.
    FirmwareBuilder& Data(uint32_t address, const Bytes& data);
    FirmwareBuilder& BadCrcData(uint32_t address, const Bytes& data);
    // A 'D' record with exactly this payload.
    FirmwareBuilder& DataPayload(const Bytes& payload);
    FirmwareBuilder& Code(const Bytes& payload);
    FirmwareBuilder& Raw(const Bytes& bytes);

    const Bytes& bytes() const { return bytes_; }

    // The payload Data() would write; declared, when given, is the length
    // field in place of the data's own.
    static Bytes DataBlockPayload(uint32_t address, const Bytes& data, int declared = -1);

    // What the board holds once it took every Data() and Code() so far: a
    // block is erased when data starts on its boundary, and programming only
    // clears bits. Code blocks as the loader logs them, zero-padded to 72.
    Flash flash;
    std::vector<Bytes> code;

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
