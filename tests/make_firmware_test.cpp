// make_firmware: the description language and the file it makes.
#include <gtest/gtest.h>

#include <fstream>

#include "cli_process.h"
#include "link/crc16.h"

namespace {

const std::string kTool = MAKE_FIRMWARE_BINARY;
const std::string kVelkor = VELKOR_BINARY;

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Block {
    char token;
    uint32_t address;  // data blocks
    Bytes bytes;       // data or code
};

// Reads the file back, checking every data block's framing and check value.
std::vector<Block> Blocks(const Bytes& file)
{
    std::vector<Block> blocks;
    size_t at = 0;
    while (at + 2 <= file.size()) {
        const size_t length = file[at + 1];
        EXPECT_LE(at + 2 + length, file.size());
        const uint8_t* p = file.data() + at + 2;
        if (file[at] == 'D') {
            EXPECT_EQ(Crc16(p, length), 0) << "data block at file offset " << at;
            EXPECT_EQ(length, 6u + p[2] + 2u) << "data block at file offset " << at;
            blocks.push_back({'D', static_cast<uint32_t>(p[3] | p[4] << 8 | p[5] << 16), Bytes(p + 6, p + 6 + p[2])});
        } else {
            blocks.push_back({static_cast<char>(file[at]), 0, Bytes(p, p + length)});
        }
        at += 2 + length;
    }
    EXPECT_EQ(at, file.size());
    return blocks;
}

TEST(MakeFirmware, CutsDataIntoBlocksThatNeverCrossAFlashBlock)
{
    TempDir dir;
    std::string data;
    for (int i = 0; i < 130; ++i)
        data += "ab";
    const std::string description = dir.Write("in.fw",
                                              "# a comment line\n"
                                              "code 0102 03  # trailing comment\n"
                                              "data 0x0fc0 " + data + "\n"
                                              "fill 8192 100 ramp\n"
                                              "fill 0x3000 3 0x5A\n");
    const std::string output = dir.Path("out.enc");
    const ProcessResult r = RunProcess(kTool, {description, output});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<Block> blocks = Blocks(ReadBytes(output));
    ASSERT_EQ(blocks.size(), 7u);
    EXPECT_EQ(blocks[0].token, 'E');
    EXPECT_EQ(blocks[0].bytes, (Bytes{1, 2, 3}));
    const std::pair<uint32_t, size_t> expected[] = {{0x0fc0, 64}, {0x1000, 64}, {0x1040, 2},
                                                    {0x2000, 64}, {0x2040, 36}, {0x3000, 3}};
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Block& b = blocks[i + 1];
        EXPECT_EQ(b.token, 'D');
        EXPECT_EQ(b.address, expected[i].first) << "block " << i + 1;
        EXPECT_EQ(b.bytes.size(), expected[i].second) << "block " << i + 1;
    }
    EXPECT_EQ(blocks[1].bytes[0], 0xab);
    EXPECT_EQ(blocks[5].bytes[35], 0x63);  // ramp: the low byte of 0x2063
    EXPECT_EQ(blocks[6].bytes, (Bytes{0x5a, 0x5a, 0x5a}));

    // And the update would take it whole.
    const ProcessResult inspect = RunProcess(kVelkor, {"inspect", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
}

TEST(MakeFirmware, BadDescriptionsNameTheLineAndWriteNothing)
{
    TempDir dir;
    std::string longCode;
    for (int i = 0; i < 73; ++i)
        longCode += "00";
    const std::pair<std::string, std::string> cases[] = {
        {"code " + longCode, ":1: a code block holds 1 to 72 bytes"},
        {"\n\ncode 123", ":3: expected hex bytes"},
        {"data 0xfffffe 010203", ":1: data reaches past the 24-bit address range"},
        {"fill 0 10 sparkle", ":1: expected a pattern"},
        {"erase 0x1000", ":1: unknown directive \"erase\""},
    };
    for (const auto& [text, message] : cases) {
        const std::string output = dir.Path("out.enc");
        const ProcessResult r = RunProcess(kTool, {dir.Write("in.fw", text + "\n"), output});
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_NE(r.err.find(message), std::string::npos) << text << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::ifstream(output).good()) << text;
    }
}

TEST(MakeFirmware, CheckTellsHowToRegenerate)
{
    TempDir dir;
    const std::string description = dir.Write("in.fw", "code 01\n");
    const std::string file = dir.Write("out.enc", std::string("E\x01\x02", 3));
    const ProcessResult r = RunProcess(kTool, {"--check", description, file});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("first at byte 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("make_firmware " + description + " " + file), std::string::npos) << r.err;
    EXPECT_EQ(RunProcess(kTool, {description, file}).status, 0);
    EXPECT_EQ(RunProcess(kTool, {"--check", description, file}).status, 0);
}

}  // namespace
