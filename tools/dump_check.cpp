// dump_check: does a board's dump hold exactly what a firmware file puts on
// it? Worked out from the file alone: each data block ANDed into flash that
// starts erased (and is erased again where a block starts on a 4 KiB
// boundary), each code block in order, the board back in its application.
// After several updates with the file the code log holds its blocks once per
// update; the flash shows the last.
//   dump_check DUMP.json FIRMWARE.enc [UPDATES]
// Exit 0 when it does; otherwise 1 and the first difference.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/board_link.h"
#include "link/commands.h"
#include "update/firmware.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

int Differs(const std::string& what)
{
    std::printf("dump_check: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int updates = argc == 4 ? std::atoi(argv[3]) : 1;
    if (argc < 3 || argc > 4 || updates < 1) {
        std::fprintf(stderr, "usage: dump_check DUMP.json FIRMWARE.enc [UPDATES]\n");
        return 2;
    }
    nlohmann::json dump;
    try {
        dump = nlohmann::json::parse(std::ifstream(argv[1]));
    } catch (const std::exception& e) {
        return Differs(std::string("cannot read the dump ") + argv[1] + ": " + e.what());
    }

    std::map<uint32_t, std::vector<uint8_t>> flash;
    std::vector<std::string> code;
    const FirmwareFile file = OpenFirmwareFile(argv[2]);
    if (file == kNoFile)
        return Differs(std::string("cannot open ") + argv[2]);
    uint8_t buffer[kRecordBufferSize];
    FirmwareRecord record;
    RecordOutcome outcome;
    while ((outcome = ReadRecord(file, buffer, record)) == RecordOutcome::kRecord) {
        if (record.token == kTokenCode) {
            std::vector<uint8_t> block(record.payload, record.payload + record.length);
            block.resize(kLongPayloadMax, 0);
            code.push_back(Hex(block));
            continue;
        }
        DataBlock data;
        if (DecodeDataBlock(record.payload, record.length, data) != DataBlockOutcome::kOk)
            return Differs("a data block of the firmware file does not decode");
        if (data.address % kFlashBlockSize == 0)
            flash[data.address].assign(kFlashBlockSize, 0xFF);
        for (uint32_t i = 0; i < data.dataLength; ++i) {
            const uint32_t at = data.address + i;
            auto& block = flash[at - at % kFlashBlockSize];
            if (block.empty())
                block.assign(kFlashBlockSize, 0xFF);
            block[at % kFlashBlockSize] &= data.data[i];
        }
    }
    CloseFirmwareFile(file);
    if (outcome != RecordOutcome::kEndOfFile)
        return Differs(std::string("cannot read ") + argv[2] + " to its end");

    nlohmann::json data = nlohmann::json::object();
    for (const auto& [address, bytes] : flash) {
        char key[16];
        std::snprintf(key, sizeof key, "0x%06x", static_cast<unsigned>(address));
        data[key] = Hex(bytes);
    }
    if (dump.value("data", nlohmann::json()) != data) {
        for (const auto& [key, bytes] : data.items())
            if (!dump["data"].contains(key) || dump["data"][key] != bytes)
                return Differs("flash block " + key + " differs from the file");
        return Differs("the dump has flash blocks the file never wrote");
    }
    std::vector<std::string> log;
    for (int i = 0; i < updates; ++i)
        log.insert(log.end(), code.begin(), code.end());
    if (dump.value("code", nlohmann::json()) != nlohmann::json(log))
        return Differs("the code blocks differ from the file's, or their order does");
    if (dump.value("mode", "") != "application")
        return Differs("the board is not back in its application");
    if (dump.value("open_handles", -1) != 0)
        return Differs("the board still has open handles");
    std::printf("dump_check: %zu flash blocks and %zu code blocks as in the file\n", flash.size(), code.size());
    return 0;
}
