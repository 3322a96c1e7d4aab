#include "sim/board_model.h"

#include <algorithm>

#include "sim/sim_board.h"

using namespace simwire;

namespace {

constexpr uint8_t kBootFirmware = 0x01;
constexpr uint8_t kEnterLoader = 0x02;
constexpr uint8_t kInitProgramming = 0x06;
constexpr uint8_t kCodeBlockReply = 0x07;
constexpr uint8_t kCompleteProgramming = 0x08;
constexpr uint8_t kUploadData = 0x10;
constexpr uint8_t kUploadDataTag = 0x12;
constexpr uint8_t kAccessShotCounter = 0x40;
constexpr uint8_t kReadPressure = 0x90;
constexpr uint8_t kStartDataUpload = 0xC0;
constexpr uint8_t kEraseBlock = 0xC2;
constexpr uint8_t kUploadDataReply = 0xC3;

constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kAddressMask = 0xFFFFFF;
constexpr int kUploadMax = 64;

// Which firmware knows a command. Commands of the other mode are refused
// before their arguments are looked at, the way the two firmwares each know
// only their own commands; codes missing here are known to neither.
enum class Known { kBoth, kApplication, kLoader };
struct CommandMode {
    uint8_t code;
    Known known;
};
constexpr CommandMode kModes[] = {
    {kIdentify, Known::kBoth},
    {kBootFirmware, Known::kLoader},
    {kEnterLoader, Known::kApplication},
    {kInitProgramming, Known::kLoader},
    {kCompleteProgramming, Known::kLoader},
    {kStartDataUpload, Known::kApplication},
    {kEraseBlock, Known::kApplication},
    {kAccessShotCounter, Known::kApplication},
    {kReadPressure, Known::kApplication},
};

bool WrongMode(uint8_t code, bool loader)
{
    for (const CommandMode& mode : kModes) {
        if (mode.code == code)
            return mode.known == (loader ? Known::kApplication : Known::kLoader);
    }
    return false;
}

// CRC-16/ARC, reflected 0xA001, register from 0, no final inversion.
uint16_t Crc16Arc(const uint8_t* data, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

uint32_t Le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }

// A real board sees every request as a whole output report; bytes a command
// does not use must be 0 (the host pads with 0).
bool ZeroFrom(const uint8_t* request, int first, int end)
{
    return std::all_of(request + first, request + end, [](uint8_t b) { return b == 0; });
}

uint32_t Le32(const uint8_t* p) { return Le24(p) | (static_cast<uint32_t>(p[3]) << 24); }

// Every byte of a short request that the command set fixes: magic bytes,
// flags that are 0 or 1, and 0 wherever a command has nothing to say.
bool ArgumentsValid(const uint8_t* r)
{
    switch (r[1]) {
    case kIdentify:
    case kBootFirmware:
    case kEnterLoader:
    case kCompleteProgramming:
        return ZeroFrom(r, 2, kShortSize);
    case kInitProgramming:
        return r[2] == 0x55 && r[3] == 0xAA && ZeroFrom(r, 4, kShortSize);
    case kStartDataUpload:
        // The host starts the upload session at 0 with the flag clear.
        return ZeroFrom(r, 2, kShortSize);
    case kEraseBlock:
        return r[2] == 0x01 && Le24(r + 3) % kBlockSize == 0 && r[6] == 0xAA && r[7] == 0x55 && r[8] == 0;
    case kAccessShotCounter:
        // A query carries no value.
        return (r[2] == 0 || (r[2] == 1 && Le32(r + 3) == 0)) && r[7] == 0xAA && r[8] == 0x55;
    case kReadPressure:
        return r[2] <= 1 && ZeroFrom(r, 3, kShortSize);
    default:
        return true;
    }
}

// The first reply byte a command's answer leaves unused; identify has its
// own.
int FirstSpareByte(uint8_t code, uint8_t status)
{
    if (status != kSimOk)
        return 3;
    switch (code) {
    case kStartDataUpload: return 6;
    case kAccessShotCounter: return 7;
    case kReadPressure: return kShortSize;
    default: return 3;
    }
}

}  // namespace

BoardModel::BoardModel(const SimConfig& config)
    : config_(config),
      loader_(config.loader),
      firmware_(config.firmware),
      shotCounter_(config.shotCounter)
{
}

SimReport BoardModel::Handle(const uint8_t* request, int32_t length)
{
    return length == kShortSize ? ShortCommand(request) : LongCommand(request);
}

uint8_t BoardModel::ReplyCode(const uint8_t* request, int32_t length) const
{
    if (length == kShortSize)
        return request[1];
    if (IsUpload(request) && !config_.uploadAnsweredAsCode)
        return kUploadDataReply;
    return kCodeBlockReply;
}

bool BoardModel::IsUpload(const uint8_t* request) const
{
    return !loader_ && request[1] == kUploadData && request[2] == kUploadDataTag;
}

void BoardModel::FillSpare(SimReport& reply, int first) const
{
    std::fill(reply.begin() + first, reply.end(), config_.spareReplyBytes);
}

bool BoardModel::Ignores(const uint8_t* request, int32_t length)
{
    return length == kShortSize && request[1] == kIdentify && !ZeroFrom(request, 2, kShortSize);
}

uint8_t BoardModel::FlashByte(uint32_t address) const
{
    address &= kAddressMask;
    const auto block = flash_.find(address & ~(kBlockSize - 1));
    return block == flash_.end() ? 0xFF : block->second[address % kBlockSize];
}

SimReport BoardModel::ShortCommand(const uint8_t* request)
{
    const uint8_t code = request[1];
    SimReport reply{};
    reply[1] = code;
    uint8_t& status = reply[2];
    if (WrongMode(code, loader_) || !ArgumentsValid(request)) {
        status = WrongMode(code, loader_) ? kSimWrongMode : kSimBadArgument;
        FillSpare(reply, 3);
        return reply;
    }

    switch (code) {
    case kIdentify:
        Identify(reply);
        break;
    case kBootFirmware:
        BootFirmware(reply);
        break;
    case kEnterLoader:
        loader_ = true;
        programming_ = false;
        break;
    case kInitProgramming:
        programming_ = true;
        codeSinceInit_ = false;
        break;
    case kCompleteProgramming:
        CompleteProgramming();
        break;
    case kStartDataUpload:
        // The value means something only to the board; the host expects 0.
        reply[3] = static_cast<uint8_t>(config_.uploadValue);
        reply[4] = static_cast<uint8_t>(config_.uploadValue >> 8);
        reply[5] = static_cast<uint8_t>(config_.uploadValue >> 16);
        break;
    case kEraseBlock: {
        std::vector<uint8_t>& block = Block(Le24(request + 3));
        std::fill(block.begin(), block.end(), 0xFF);
        break;
    }
    case kAccessShotCounter:
        AccessShotCounter(request, reply);
        break;
    case kReadPressure: {
        const auto& sample = config_.pressure[request[2]];
        std::copy(sample.begin(), sample.end(), reply.begin() + 3);
        break;
    }
    default:
        status = kSimUnknownCommand;
        break;
    }
    if (code != kIdentify)
        FillSpare(reply, FirstSpareByte(code, status));
    return reply;
}

void BoardModel::Identify(SimReport& reply) const
{
    reply[2] = static_cast<uint8_t>((config_.type & 0x0F) | (firmware_ ? 0x40 : 0) | (loader_ ? 0x80 : 0));
    reply[5] = static_cast<uint8_t>(config_.versionMajor);
    reply[6] = static_cast<uint8_t>(config_.versionMinor);
    reply[7] = static_cast<uint8_t>(config_.versionLetter);
    reply[2] |= config_.spareReplyBytes & 0x30;
    reply[3] = reply[4] = reply[8] = config_.spareReplyBytes;
}

void BoardModel::BootFirmware(SimReport& reply)
{
    if (!firmware_) {
        reply[2] = kSimNoFirmware;
        return;
    }
    loader_ = false;
    programming_ = false;
    booted_ = true;
}

void BoardModel::CompleteProgramming()
{
    if (programming_ && codeSinceInit_)
        firmware_ = true;
    programming_ = false;
    codeSinceInit_ = false;
}

void BoardModel::AccessShotCounter(const uint8_t* request, SimReport& reply)
{
    if (request[2] == 0)
        shotCounter_ = Le32(request + 3);
    for (int i = 0; i < 4; ++i)
        reply[3 + i] = static_cast<uint8_t>(shotCounter_ >> (8 * i));
}

SimReport BoardModel::LongCommand(const uint8_t* request)
{
    SimReport reply{};
    FillSpare(reply, 3);
    reply[1] = ReplyCode(request, kLongSize);
    uint8_t& status = reply[2];

    if (loader_) {
        // The loader takes every long report as a code block; what is in it
        // is the firmware image's business.
        if (!programming_) {
            status = kSimNotInitialised;
            return reply;
        }
        codeLog_.emplace_back(request + 1, request + kLongSize);
        codeSinceInit_ = true;
        return reply;
    }
    if (!IsUpload(request)) {
        status = kSimWrongMode;
        return reply;
    }

    const int count = request[3];
    if (count > kUploadMax) {
        status = kSimBadArgument;
        return reply;
    }
    const uint16_t crc = Crc16Arc(request + 1, 6 + static_cast<size_t>(count));
    if ((crc & 0xFF) != request[7 + count] || (crc >> 8) != request[8 + count]) {
        status = kSimCrcError;
        return reply;
    }
    if (!ZeroFrom(request, 9 + count, kLongSize)) {
        status = kSimBadArgument;
        return reply;
    }
    const uint32_t address = Le24(request + 4);
    for (int i = 0; i < count; ++i)
        Program((address + static_cast<uint32_t>(i)) & kAddressMask, request[7 + i]);
    return reply;
}

void BoardModel::Program(uint32_t address, uint8_t value)
{
    // Flash can only clear bits; setting them takes an erase.
    Block(address & ~(kBlockSize - 1))[address % kBlockSize] &= value;
}

std::vector<uint8_t>& BoardModel::Block(uint32_t blockAddress)
{
    std::vector<uint8_t>& block = flash_[blockAddress];
    if (block.empty())
        block.assign(kBlockSize, 0xFF);
    return block;
}
