// Reading firmware files record by record, and the data block check.
#include <gtest/gtest.h>

#include <filesystem>

#include "link/crc16.h"
#include "support/firmware_builder.h"
#include "update/firmware.h"

namespace {

struct Read {
    RecordOutcome outcome;
    uint8_t token;
    uint8_t length;
    Bytes payload;
    uint64_t position;
};

// Every outcome up to and including the first that is not a record.
std::vector<Read> ReadAll(const Bytes& contents)
{
    TempFile file(contents);
    const FirmwareFile f = OpenFirmwareFile(file.path().c_str());
    EXPECT_NE(f, kNoFile);
    std::vector<Read> out;
    uint8_t buffer[kRecordBufferSize];
    for (;;) {
        FirmwareRecord record;
        const RecordOutcome o = ReadRecord(f, buffer, record);
        uint64_t pos = 0;
        FirmwareFilePosition(f, &pos);
        Read r{o, record.token, record.length, {}, pos};
        if (o == RecordOutcome::kRecord)
            r.payload.assign(buffer, buffer + record.length);
        out.push_back(r);
        if (o != RecordOutcome::kRecord)
            break;
    }
    CloseFirmwareFile(f);
    return out;
}

TEST(ReadRecord, RecordsBackToBackLeaveThePositionAtEachRecordsEnd)
{
    const Bytes data = FirmwareBuilder::DataBlockPayload(0x1000, Pattern(40));
    const Bytes file = FirmwareBuilder().DataPayload(data).Code({}).Code(Pattern(255, 7)).bytes();
    const auto reads = ReadAll(file);
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0].token, 'D');
    EXPECT_EQ(reads[0].payload, data);
    EXPECT_EQ(reads[0].position, 2 + data.size());
    EXPECT_EQ(reads[1].token, 'E');  // an empty code block is a valid record
    EXPECT_EQ(reads[1].length, 0);
    EXPECT_EQ(reads[1].position, 4 + data.size());
    EXPECT_EQ(reads[2].payload, Pattern(255, 7));
    EXPECT_EQ(reads[2].position, file.size());
    EXPECT_EQ(reads[3].outcome, RecordOutcome::kEndOfFile);
}

TEST(ReadRecord, EndOfFileCases)
{
    EXPECT_EQ(ReadAll({}).back().outcome, RecordOutcome::kEndOfFile);
    for (uint8_t stray : Bytes{0x00, 'D', 'E', 0xFF}) {
        const auto reads = ReadAll(FirmwareBuilder().Code({1, 2}).Raw({stray}).bytes());
        ASSERT_EQ(reads.size(), 2u);
        EXPECT_EQ(reads[1].outcome, RecordOutcome::kEndOfFile) << int(stray);
    }
}

TEST(ReadRecord, UnknownTokensStopWithoutReadingThePayload)
{
    for (uint8_t token : Bytes{'d', 'e', 0x00, 0xFF}) {
        const auto reads = ReadAll({token, 3, 1, 2, 3});
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].outcome, RecordOutcome::kUnknownToken) << int(token);
        EXPECT_EQ(reads[0].position, 2u) << "the payload must not be read";
    }
}

TEST(ReadRecord, PayloadCutShortIsAnUnexpectedEnd)
{
    for (uint8_t token : Bytes{'D', 'E'}) {
        const auto reads = ReadAll({token, 5, 1, 2, 3});
        EXPECT_EQ(reads.back().outcome, RecordOutcome::kUnexpectedEnd) << token;
    }
    EXPECT_EQ(ReadAll({'E', 1}).back().outcome, RecordOutcome::kUnexpectedEnd);
}

#ifdef __linux__
TEST(ReadRecord, AnIoErrorOnTheHeaderIsNotTheEndOfTheFile)
{
    // Reading this file at offset 0 fails with EIO: a real read error.
    const FirmwareFile f = OpenFirmwareFile("/proc/self/mem");
    ASSERT_NE(f, kNoFile);
    uint8_t buffer[kRecordBufferSize];
    FirmwareRecord record;
    EXPECT_EQ(ReadRecord(f, buffer, record), RecordOutcome::kReadError);
    CloseFirmwareFile(f);
}
#endif

TEST(FirmwareFile, DirectoriesAndMissingFilesDoNotOpen)
{
    const auto dir = std::filesystem::temp_directory_path().string();
    EXPECT_EQ(OpenFirmwareFile(dir.c_str()), kNoFile);
    EXPECT_EQ(OpenFirmwareFile((dir + "/velkor-no-such-file.enc").c_str()), kNoFile);
}

TEST(FirmwareFile, SizeIsReported)
{
    TempFile file(Pattern(1000));
    const FirmwareFile f = OpenFirmwareFile(file.path().c_str());
    uint64_t size = 0;
    ASSERT_TRUE(FirmwareFileSize(f, &size));
    EXPECT_EQ(size, 1000u);
    CloseFirmwareFile(f);
}

TEST(DecodeDataBlock, FieldsOfAGoodBlock)
{
    Bytes payload = FirmwareBuilder::DataBlockPayload(0x021000, Pattern(16, 0x30));
    EXPECT_EQ(payload[3], 0x00);
    EXPECT_EQ(payload[4], 0x10);
    EXPECT_EQ(payload[5], 0x02);
    DataBlock block;
    ASSERT_EQ(DecodeDataBlock(payload.data(), static_cast<uint8_t>(payload.size()), block),
              DataBlockOutcome::kOk);
    EXPECT_EQ(block.address, 0x21000u);
    EXPECT_EQ(block.dataLength, 16);
    EXPECT_EQ(Bytes(block.data, block.data + 16), Pattern(16, 0x30));
}

TEST(DecodeDataBlock, AnySingleChangedByteFailsTheCheck)
{
    const Bytes good = FirmwareBuilder::DataBlockPayload(0x4000, Pattern(8));
    for (size_t i = 0; i < good.size(); ++i) {
        Bytes bad = good;
        bad[i] ^= 0x40;
        DataBlock block;
        EXPECT_EQ(DecodeDataBlock(bad.data(), static_cast<uint8_t>(bad.size()), block),
                  DataBlockOutcome::kCrcError)
            << "byte " << i;
    }
}

TEST(DecodeDataBlock, DataMustLieInsideThePayload)
{
    DataBlock block;
    EXPECT_EQ(DecodeDataBlock(nullptr, 0, block), DataBlockOutcome::kLengthError);

    // A payload whose CRC holds but that declares more data than it carries.
    Bytes p = {0, 0, 10, 0x00, 0x10, 0x00, 1, 2, 3};
    const uint16_t crc = Crc16(p.data(), p.size());
    p.push_back(static_cast<uint8_t>(crc));
    p.push_back(static_cast<uint8_t>(crc >> 8));
    EXPECT_EQ(DecodeDataBlock(p.data(), static_cast<uint8_t>(p.size()), block),
              DataBlockOutcome::kLengthError);

    // Exactly 6 + n bytes (no room for a CRC of its own) is enough when the
    // residue is 0: the last two data bytes then serve as the check.
    Bytes exact = {0, 0, 2, 0x00, 0x20, 0x00};
    const uint16_t c = Crc16(exact.data(), exact.size());
    exact.push_back(static_cast<uint8_t>(c));
    exact.push_back(static_cast<uint8_t>(c >> 8));
    EXPECT_EQ(DecodeDataBlock(exact.data(), 8, block), DataBlockOutcome::kOk);
    EXPECT_EQ(block.dataLength, 2);
}

}  // namespace
