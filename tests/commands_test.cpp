// The command set: request bytes on the wire, reply decoding, pauses.
#include <functional>
#include <string>

#include "link/commands.h"
#include "link/crc16.h"
#include "support/sim_fixture.h"

namespace {

using Report = std::vector<uint8_t>;

class Commands : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        handle = OpenBoard();
        ASSERT_GE(handle, 0);
    }
    void TearDown() override
    {
        CloseBoard(handle);
        SimFixture::TearDown();
    }
    void Reopen(SimConfig config)
    {
        CloseBoard(handle);
        Reset(config);
        handle = OpenBoard();
        ASSERT_GE(handle, 0);
    }
    int32_t handle = -1;
};

TEST_F(Commands, ShortRequestsAreByteExact)
{
    struct Case {
        const char* name;
        std::function<void(int32_t)> send;
        Report bytes;
    };
    uint8_t reply[9];
    PressureSample sample;
    const Case cases[] = {
        {"identify", [&](int32_t h) { IdentifyBoard(h, reply); }, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"erase 0x12000", [](int32_t h) { EraseBlock(h, 0x12000); },
         {0x00, 0xC2, 0x01, 0x00, 0x20, 0x01, 0xAA, 0x55, 0x00}},
        {"erase drops bits 24-31", [](int32_t h) { EraseBlock(h, 0xAB345000); },
         {0x00, 0xC2, 0x01, 0x00, 0x50, 0x34, 0xAA, 0x55, 0x00}},
        {"shot counter query", [](int32_t h) { AccessShotCounter(h, 0, 1); },
         {0x00, 0x40, 0x01, 0, 0, 0, 0, 0xAA, 0x55}},
        {"shot counter set", [](int32_t h) { AccessShotCounter(h, 0x12345678, 0); },
         {0x00, 0x40, 0x00, 0x78, 0x56, 0x34, 0x12, 0xAA, 0x55}},
        {"shot counter flag normalised", [](int32_t h) { AccessShotCounter(h, 7, 0x10000); },
         {0x00, 0x40, 0x01, 7, 0, 0, 0, 0xAA, 0x55}},
        {"pressure selector bit 0 only", [&](int32_t h) { ReadPressure(h, sample, 3); },
         {0x00, 0x90, 0x01, 0, 0, 0, 0, 0, 0}},
        {"start data upload", [](int32_t h) { StartDataUpload(h, 0x0A0B0C, 5); },
         {0x00, 0xC0, 0x01, 0x0C, 0x0B, 0x0A, 0, 0, 0}},
        {"complete programming", [](int32_t h) { CompleteProgramming(h); }, {0, 0x08, 0, 0, 0, 0, 0, 0, 0}},
        {"enter loader", [](int32_t h) { EnterLoader(h); }, {0, 0x02, 0, 0, 0, 0, 0, 0, 0}},
        // 0x55 before 0xAA, the other way round from the erase and counter tails.
        {"init programming", [](int32_t h) { InitProgramming(h); }, {0, 0x06, 0x55, 0xAA, 0, 0, 0, 0, 0}},
        {"boot firmware", [](int32_t h) { BootFirmware(h); }, {0, 0x01, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        board->ClearTrace();
        c.send(handle);
        const auto written = Written();
        ASSERT_FALSE(written.empty()) << c.name;
        EXPECT_EQ(written[0], c.bytes) << c.name;
    }
}

TEST_F(Commands, UploadDataReportLayout)
{
    const Report data = {0xDE, 0xAD};
    ASSERT_EQ(UploadData(handle, data.data(), 2, 0x021040), 0);
    Report expected(73, 0);
    const Report head = {0x00, 0x10, 0x12, 0x02, 0x40, 0x10, 0x02, 0xDE, 0xAD};
    std::copy(head.begin(), head.end(), expected.begin());
    const uint16_t crc = Crc16(expected.data() + 1, 8);
    expected[9] = static_cast<uint8_t>(crc);
    expected[10] = static_cast<uint8_t>(crc >> 8);
    EXPECT_EQ(Written().back(), expected);
    EXPECT_EQ(board->FlashByte(0x021040), 0xDE);
    EXPECT_EQ(board->FlashByte(0x021041), 0xAD);
}

TEST_F(Commands, UploadDataSizeLimits)
{
    // No data: the CRC covers the six header bytes and sits in bytes 7 and 8.
    ASSERT_EQ(UploadData(handle, nullptr, 0, 0x1000), 0);
    Report r = Written().back();
    EXPECT_EQ(Crc16(r.data() + 1, 8), 0);
    EXPECT_TRUE(std::all_of(r.begin() + 9, r.end(), [](uint8_t b) { return b == 0; }));

    // 64 bytes fill the report: the CRC is in its last two bytes.
    const Report full = Report(64, 0x5C);
    ASSERT_EQ(UploadData(handle, full.data(), 64, 0x2000), 0);
    r = Written().back();
    ASSERT_EQ(r.size(), 73u);
    EXPECT_EQ(Crc16(r.data() + 1, 72), 0);

    board->ClearTrace();
    const Report over(65, 1);
    EXPECT_EQ(UploadData(handle, over.data(), 65, 0x3000), -1);
    EXPECT_TRUE(board->Trace().empty());
}

TEST_F(Commands, UploadDataCompletesOnTheLoaderReplyCodeToo)
{
    // The loader takes any long report as a code block and answers 0x07.
    ASSERT_EQ(EnterLoader(handle), 0);
    ASSERT_EQ(InitProgramming(handle), 0);
    const Report data = {1, 2, 3};
    EXPECT_EQ(UploadData(handle, data.data(), 3, 0), 0);
    EXPECT_EQ(board->CodeLog().size(), 1u);
}

TEST_F(Commands, IdentityDecoding)
{
    struct Case {
        uint8_t flags;
        unsigned type;
        bool firmware, loader;
        const char* name;
    };
    const Case cases[] = {
        {0x43, 3, true, false, "Ferrit XR"},
        {0xC2, 2, true, true, "Quasar board"},
        {0x85, 5, false, true, "Grisel (unknown)"},
        {0x34, 4, false, false, "Vantor 5"},  // bits 4 and 5 are not read
        {0x00, 0, false, false, "Grisel (unknown)"},
    };
    for (const auto& c : cases) {
        const uint8_t reply[9] = {0, 0, c.flags, 0xFF, 0xFF, 3, 2, 'b', 0xFF};
        const BoardIdentity id = DecodeIdentity(reply);
        EXPECT_EQ(id.boardType, c.type) << int(c.flags);
        EXPECT_EQ(id.hasFirmware, c.firmware) << int(c.flags);
        EXPECT_EQ(id.inLoader, c.loader) << int(c.flags);
        EXPECT_STREQ(BoardTypeName(id.boardType), c.name);
    }
}

TEST_F(Commands, BoardDescription)
{
    auto describe = [](uint8_t flags, uint8_t major, uint8_t minor, uint8_t letter) {
        const uint8_t reply[9] = {0, 0, flags, 0, 0, major, minor, letter, 0};
        char text[64];
        FormatBoardDescription(DecodeIdentity(reply), text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(describe(0x43, 3, 2, 'b'), "Ferrit XR, version 3.02b");
    EXPECT_EQ(describe(0x43, 3, 2, 0), "Ferrit XR, version 3.02");
    EXPECT_EQ(describe(0x44, 12, 7, 'a'), "Vantor 5, version 12.07a");
    EXPECT_EQ(describe(0x42, 255, 100, 'z'), "Quasar board, version 255.100z");
    EXPECT_EQ(describe(0x03, 3, 2, 'b'), "Ferrit XR, no software");
}

TEST_F(Commands, IdentifyReadsTheBoardAsItIs)
{
    SimConfig config;
    config.type = 2;
    config.loader = true;
    config.versionMajor = 4;
    config.versionMinor = 11;
    config.versionLetter = 0;
    Reopen(config);
    uint8_t reply[9];
    ASSERT_EQ(IdentifyBoard(handle, reply), 0);
    const BoardIdentity id = DecodeIdentity(reply);
    EXPECT_EQ(id.boardType, 2);
    EXPECT_TRUE(id.inLoader);
    EXPECT_TRUE(id.hasFirmware);
    EXPECT_EQ(id.versionMajor, 4);
    EXPECT_EQ(id.versionMinor, 11);
    EXPECT_EQ(id.versionLetter, 0);
}

TEST_F(Commands, ValueCommandsReturnValuesOrNegatedStatus)
{
    EXPECT_EQ(AccessShotCounter(handle, 0, 1), 1000);
    EXPECT_EQ(AccessShotCounter(handle, 900, 0), 900);
    EXPECT_EQ(board->ShotCounter(), 900u);
    EXPECT_EQ(StartDataUpload(handle, 0, 0), 0);

    board->AddFault({SimFaultKind::kStatus, kCmdAccessShotCounter, 0, 5});
    board->AddFault({SimFaultKind::kStatus, kCmdStartDataUpload, 0, 200});
    board->AddFault({SimFaultKind::kStatus, kCmdReadPressure, 0, 9});
    EXPECT_EQ(AccessShotCounter(handle, 0, 1), -5);
    EXPECT_EQ(StartDataUpload(handle, 0, 0), -200);
    PressureSample sample = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(ReadPressure(handle, sample, 0), -9);
    EXPECT_EQ(sample[0], 7) << "a failed read leaves the sample alone";
}

TEST_F(Commands, ShotCounterOfTwoToThe31ComesBackNegative)
{
    SimConfig config;
    config.shotCounter = 0x80000000u;
    Reopen(config);
    EXPECT_LT(AccessShotCounter(handle, 0, 1), 0);
    EXPECT_EQ(AccessShotCounter(handle, 0x7FFFFFFF, 0), 0x7FFFFFFF);
}

TEST_F(Commands, StartDataUploadReturnsThe24BitValue)
{
    SimConfig config;
    config.uploadValue = 0x001000;
    Reopen(config);
    EXPECT_EQ(StartDataUpload(handle, 0, 0), 4096);
    config.uploadValue = 0xFFFFFF;
    Reopen(config);
    EXPECT_EQ(StartDataUpload(handle, 0, 0), 0xFFFFFF);
}

TEST_F(Commands, PressureSamplesAreCopiedInOrder)
{
    PressureSample s0, s1;
    ASSERT_EQ(ReadPressure(handle, s0, 0), 0);
    ASSERT_EQ(ReadPressure(handle, s1, 1), 0);
    EXPECT_EQ(Report(s0, s0 + 6), (Report{0x01, 0x02, 0x03, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(Report(s1, s1 + 6), (Report{0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0}));
}

TEST_F(Commands, PausesFollowOnlySuccessfulBootAndEnterLoader)
{
    EXPECT_EQ(EnterLoader(handle), 0);
    EXPECT_EQ(CompleteProgramming(handle), 0);
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{500}));
    board->AddFault({SimFaultKind::kStatus, kCmdBootFirmware, 1, 3});
    EXPECT_EQ(BootFirmware(handle), 3);
    EXPECT_EQ(Pauses().size(), 1u);
    EXPECT_EQ(BootFirmware(handle), 0);
    EXPECT_EQ(Pauses(), (std::vector<uint32_t>{500, 500}));
}

}  // namespace
