#include "support/firmware_builder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "link/crc16.h"

namespace {

Bytes& Block(Flash& flash, uint32_t address)
{
    Bytes& b = flash[address & 0xFFF000];
    if (b.empty())
        b.assign(4096, 0xFF);
    return b;
}

}  // namespace

Bytes FirmwareBuilder::DataBlockPayload(uint32_t address, const Bytes& data, int declared)
{
    // Sized up front: GCC 12 at -O3 warns falsely about vector::insert here.
    Bytes p(6 + data.size() + 2);
    p[0] = 0xA5;
    p[1] = 0x5A;
    p[2] = static_cast<uint8_t>(declared < 0 ? static_cast<int>(data.size()) : declared);
    p[3] = static_cast<uint8_t>(address);
    p[4] = static_cast<uint8_t>(address >> 8);
    p[5] = static_cast<uint8_t>(address >> 16);
    std::copy(data.begin(), data.end(), p.begin() + 6);
    const uint16_t crc = Crc16(p.data(), 6 + data.size());
    p[6 + data.size()] = static_cast<uint8_t>(crc);
    p[7 + data.size()] = static_cast<uint8_t>(crc >> 8);
    return p;
}

FirmwareBuilder& FirmwareBuilder::Data(uint32_t address, const Bytes& data)
{
    if (address % 4096 == 0)
        Block(flash, address).assign(4096, 0xFF);
    for (size_t i = 0; i < data.size(); ++i) {
        const uint32_t a = (address + static_cast<uint32_t>(i)) & 0xFFFFFF;
        Block(flash, a)[a % 4096] &= data[i];
    }
    return DataPayload(DataBlockPayload(address, data));
}

FirmwareBuilder& FirmwareBuilder::BadCrcData(uint32_t address, const Bytes& data)
{
    Bytes p = DataBlockPayload(address, data);
    p.back() ^= 0x01;
    return DataPayload(p);
}

FirmwareBuilder& FirmwareBuilder::DataPayload(const Bytes& payload)
{
    bytes_.push_back('D');
    bytes_.push_back(static_cast<uint8_t>(payload.size()));
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
}

FirmwareBuilder& FirmwareBuilder::Code(const Bytes& payload)
{
    code.push_back(payload);
    code.back().resize(72, 0);
    bytes_.push_back('E');
    bytes_.push_back(static_cast<uint8_t>(payload.size()));
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
}

FirmwareBuilder& FirmwareBuilder::Raw(const Bytes& bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes Pattern(size_t count, uint8_t first)
{
    Bytes b(count);
    for (size_t i = 0; i < count; ++i)
        b[i] = static_cast<uint8_t>(first + i);
    return b;
}

TempFile::TempFile(const Bytes& contents)
{
    // Test processes run in parallel: the name must not depend on this
    // process alone.
    static std::atomic<int> counter{0};
    static const unsigned salt = std::random_device{}();
    namespace fs = std::filesystem;
    const fs::path p = fs::temp_directory_path() /
                       ("velkor-test-" + std::to_string(salt) + "-" + std::to_string(counter++) + ".enc");
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
    path_ = p.string();
}

TempFile::~TempFile()
{
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}
