#include "support/firmware_builder.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "link/crc16.h"

Bytes FirmwareBuilder::DataBlockPayload(uint32_t address, const Bytes& data, int declared)
{
    // Sized up front: GCC 12 at -O3 warns falsely about vector::insert here.
    Bytes p(6 + data.size() + 2);
    p[0] = 0xA5;
    p[1] = 0x5A;
    p[2] = static_cast<uint8_t>(declared < 0 ? static_cast<int>(data.size()) : declared);
    for (int i = 0; i < 3; ++i)
        p[3 + i] = static_cast<uint8_t>(address >> (8 * i));
    std::copy(data.begin(), data.end(), p.begin() + 6);
    const uint16_t crc = Crc16(p.data(), 6 + data.size());
    p[6 + data.size()] = static_cast<uint8_t>(crc);
    p[7 + data.size()] = static_cast<uint8_t>(crc >> 8);
    return p;
}

FirmwareBuilder& FirmwareBuilder::Data(uint32_t address, const Bytes& data)
{
    const auto block = [this](uint32_t a) -> Bytes& {
        Bytes& b = flash[a & 0xFFF000];
        if (b.empty())
            b.assign(4096, 0xFF);
        return b;
    };
    if (address % 4096 == 0)
        block(address).assign(4096, 0xFF);
    for (size_t i = 0; i < data.size(); ++i) {
        const uint32_t a = (address + static_cast<uint32_t>(i)) & 0xFFFFFF;
        block(a)[a % 4096] &= data[i];
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
    return Raw({'D', static_cast<uint8_t>(payload.size())}).Raw(payload);
}

FirmwareBuilder& FirmwareBuilder::Code(const Bytes& payload)
{
    code.push_back(payload);
    code.back().resize(72, 0);
    return Raw({'E', static_cast<uint8_t>(payload.size())}).Raw(payload);
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
    path_ = (std::filesystem::temp_directory_path() /
             ("velkor-test-" + std::to_string(salt) + "-" + std::to_string(counter++) + ".enc")).string();
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size())))
        throw std::runtime_error("cannot write " + path_);
}

TempFile::~TempFile()
{
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}
