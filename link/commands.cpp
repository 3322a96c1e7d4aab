#include "link/commands.h"

#include <cstdio>
#include <cstring>

#include "link/crc16.h"

namespace {

void PutAddress24(uint8_t* at, uint32_t address)
{
    at[0] = static_cast<uint8_t>(address);
    at[1] = static_cast<uint8_t>(address >> 8);
    at[2] = static_cast<uint8_t>(address >> 16);
}

// A status command that pauses after success so the board can restart.
int32_t CommandWithPause(int32_t handle, uint8_t code)
{
    const int32_t r = SendSimpleCommand(handle, code);
    if (r != 0)
        return r;
    BoardSleep(kBoardSettlePauseMs);
    return 0;
}

// The status of a value command, negated, or 0 when the value stands in the
// reply. A link failure is already negative and passes through.
int32_t ExchangeForValue(int32_t handle, uint8_t report[kShortReportSize], uint8_t code)
{
    const int32_t r = ShortExchange(handle, report, code);
    if (r < 0)
        return r;
    return report[2] != 0 ? -static_cast<int32_t>(report[2]) : 0;
}

}  // namespace

BoardIdentity DecodeIdentity(const uint8_t reply[kShortReportSize])
{
    BoardIdentity id;
    id.boardType = reply[2] & 0x0F;
    id.hasFirmware = (reply[2] & 0x40) != 0;
    id.inLoader = (reply[2] & 0x80) != 0;
    id.versionMajor = reply[5];
    id.versionMinor = reply[6];
    id.versionLetter = static_cast<char>(reply[7]);
    return id;
}

const char* BoardTypeName(unsigned boardType)
{
    switch (boardType) {
    case 2: return "Quasar board";
    case 3: return "Ferrit XR";
    case 4: return "Vantor 5";
    default: return "Grisel (unknown)";
    }
}

int FormatBoardDescription(const BoardIdentity& id, char* buf, size_t size)
{
    const char* name = BoardTypeName(id.boardType);
    if (!id.hasFirmware)
        return std::snprintf(buf, size, "%s, no software", name);
    // "%c" with a 0 letter would put a NUL into the text and cut it short
    // there, which is what shows nothing after the minor number.
    if (id.versionLetter == 0)
        return std::snprintf(buf, size, "%s, version %d.%02d", name, id.versionMajor,
                             id.versionMinor);
    return std::snprintf(buf, size, "%s, version %d.%02d%c", name, id.versionMajor,
                         id.versionMinor, id.versionLetter);
}

int32_t IdentifyBoard(int32_t handle, uint8_t reply[kShortReportSize])
{
    const uint8_t request[kShortReportSize] = {};
    return ShortExchangeInto(handle, request, reply, kCmdIdentify);
}

int32_t BootFirmware(int32_t handle)
{
    return CommandWithPause(handle, kCmdBootFirmware);
}

int32_t EnterLoader(int32_t handle)
{
    return CommandWithPause(handle, kCmdEnterLoader);
}

int32_t InitProgramming(int32_t handle)
{
    uint8_t report[kShortReportSize] = {0, kCmdInitProgramming, 0x55, 0xAA};
    const int32_t r = ShortExchange(handle, report, kCmdInitProgramming);
    return r < 0 ? r : report[2];
}

int32_t CompleteProgramming(int32_t handle)
{
    return SendSimpleCommand(handle, kCmdCompleteProgramming);
}

int32_t EraseBlock(int32_t handle, uint32_t address)
{
    uint8_t report[kShortReportSize] = {0, kCmdEraseBlock, 0x01};
    PutAddress24(report + 3, address);
    report[6] = 0xAA;
    report[7] = 0x55;
    const int32_t r = ShortExchange(handle, report, kCmdEraseBlock);
    return r < 0 ? r : report[2];
}

int32_t StartDataUpload(int32_t handle, uint32_t address, int flag)
{
    uint8_t report[kShortReportSize] = {0, kCmdStartDataUpload, static_cast<uint8_t>(flag ? 1 : 0)};
    PutAddress24(report + 3, address);
    const int32_t r = ExchangeForValue(handle, report, kCmdStartDataUpload);
    if (r != 0)
        return r;
    return static_cast<int32_t>(report[3] | (report[4] << 8) | (report[5] << 16));
}

int32_t AccessShotCounter(int32_t handle, int32_t value, int queryFlag)
{
    const uint32_t v = static_cast<uint32_t>(value);
    uint8_t report[kShortReportSize] = {0, kCmdAccessShotCounter,
                                        static_cast<uint8_t>(queryFlag ? 1 : 0),
                                        static_cast<uint8_t>(v),
                                        static_cast<uint8_t>(v >> 8),
                                        static_cast<uint8_t>(v >> 16),
                                        static_cast<uint8_t>(v >> 24),
                                        0xAA,
                                        0x55};
    const int32_t r = ExchangeForValue(handle, report, kCmdAccessShotCounter);
    if (r != 0)
        return r;
    // Taken as signed: a counter of 2^31 or more comes back negative.
    const uint32_t counter = static_cast<uint32_t>(report[3]) | (static_cast<uint32_t>(report[4]) << 8) |
                             (static_cast<uint32_t>(report[5]) << 16) |
                             (static_cast<uint32_t>(report[6]) << 24);
    return static_cast<int32_t>(counter);
}

int32_t ReadPressure(int32_t handle, PressureSample sample, int selector)
{
    uint8_t report[kShortReportSize] = {0, kCmdReadPressure, static_cast<uint8_t>(selector & 1)};
    const int32_t r = ExchangeForValue(handle, report, kCmdReadPressure);
    if (r != 0)
        return r;
    std::memcpy(sample, report + 3, sizeof(PressureSample));
    return 0;
}

int32_t ProgramCodeBlock(int32_t handle, const uint8_t* payload, int length)
{
    return SendLongReport(handle, payload, length, kCmdCodeBlockReply);
}

int32_t UploadData(int32_t handle, const uint8_t* data, int length, uint32_t address)
{
    if (length < 0 || length > kUploadDataMax)
        return kLongTooLong;
    // Laid out from byte 1 of the report: two fixed bytes, length, address,
    // data, then the CRC of all of that, low byte first.
    uint8_t payload[kLongPayloadMax] = {kCmdUploadData, 0x12, static_cast<uint8_t>(length)};
    PutAddress24(payload + 3, address);
    if (length > 0)
        std::memcpy(payload + 6, data, static_cast<size_t>(length));
    const uint16_t crc = Crc16(payload, static_cast<size_t>(6 + length));
    payload[6 + length] = static_cast<uint8_t>(crc);
    payload[7 + length] = static_cast<uint8_t>(crc >> 8);
    static const uint8_t kAccepted[] = {kCmdUploadDataReply, kCmdCodeBlockReply};
    return LongExchange(handle, payload, 8 + length, kAccepted, 2);
}
