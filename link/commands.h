// The board's command set: eleven commands, nine in a short report and two in
// a long one, every one answered by a short report.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/board_link.h"

enum BoardCommand : uint8_t {
    kCmdIdentify = 0x00,
    kCmdBootFirmware = 0x01,
    kCmdEnterLoader = 0x02,
    kCmdInitProgramming = 0x06,
    kCmdCodeBlockReply = 0x07,  // reply code of a code block (and of a data upload seen by the loader)
    kCmdCompleteProgramming = 0x08,
    kCmdUploadData = 0x10,
    kCmdAccessShotCounter = 0x40,
    kCmdReadPressure = 0x90,
    kCmdStartDataUpload = 0xC0,
    kCmdEraseBlock = 0xC2,
    kCmdUploadDataReply = 0xC3,
};

constexpr int kUploadDataMax = 64;
constexpr uint32_t kFlashBlockSize = 4096;
constexpr uint32_t kBoardSettlePauseMs = 500;

struct BoardIdentity {
    uint8_t boardType = 0;  // low four bits of reply byte 2
    bool hasFirmware = false;
    bool inLoader = false;
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    char versionLetter = 0;  // 0 shows nothing
};

BoardIdentity DecodeIdentity(const uint8_t reply[kShortReportSize]);

// "Quasar board", "Ferrit XR", "Vantor 5", or "Grisel (unknown)".
const char* BoardTypeName(unsigned boardType);

// The board name followed by ", version %d.%02d%c" or ", no software".
// Writes at most size bytes including the terminator; returns the length the
// whole text needs, like snprintf.
int FormatBoardDescription(const BoardIdentity& id, char* buf, size_t size);

// Raw reply bytes 3 to 8 of a pressure reading.
using PressureSample = uint8_t[6];

// 0 with the reply in the caller's buffer, or the negative library result.
int32_t IdentifyBoard(int32_t handle, uint8_t reply[kShortReportSize]);

// Status commands: 0 success, 1 to 255 board status, negative link failure.
int32_t BootFirmware(int32_t handle);
int32_t EnterLoader(int32_t handle);
int32_t InitProgramming(int32_t handle);
int32_t CompleteProgramming(int32_t handle);
int32_t EraseBlock(int32_t handle, uint32_t address);

// Value commands: the value (0 or more), the board status negated, or the
// negative library result.
int32_t StartDataUpload(int32_t handle, uint32_t address, int flag);
int32_t AccessShotCounter(int32_t handle, int32_t value, int queryFlag);

// 0 with the sample filled, or negative (the board status negated, or the
// library result). The sample is written only on success.
int32_t ReadPressure(int32_t handle, PressureSample sample, int selector);

// Long commands: -1 too long (nothing sent), 1 write failed, 2 read failed,
// otherwise the reply status.
int32_t ProgramCodeBlock(int32_t handle, const uint8_t* payload, int length);
int32_t UploadData(int32_t handle, const uint8_t* data, int length, uint32_t address);
