// The update job end to end against the simulated board: what the board ends
// up holding, what the window was told, in which order, and that every path
// closes the board and the file and reports its end.
#include <filesystem>

#include "link/commands.h"
#include "link/crc16.h"
#include "support/firmware_builder.h"
#include "support/open_files.h"
#include "support/recording_window.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"
#include "worker/messages.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kEnd1 = "status: Wait...";
const std::string kEnd2 = "result: 1027 1 0";
const std::string kComplete = "box: Done/64: Update complete!";

class UpdateJobTest : public SimFixture {
protected:
    // Runs the job on a file with these contents and checks what every run
    // must end with.
    void Run(const Bytes& contents)
    {
        TempFile file(contents);
        RunNamed(file.path());
    }

    void RunNamed(const std::string& name)
    {
        window.fileName = name;
        const size_t filesBefore = OpenFileCount();
        UpdateJob(window);
        ASSERT_GE(window.calls.size(), 2u);
        EXPECT_EQ(window.calls[window.calls.size() - 2], kEnd1);
        EXPECT_EQ(window.calls.back(), kEnd2);
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        EXPECT_EQ(OpenFileCount(), filesBefore) << "the file must be closed";
    }

    Lines Boxes() const { return window.Boxes(); }
    bool Has(const std::string& line) const
    {
        return std::find(window.calls.begin(), window.calls.end(), line) != window.calls.end();
    }

    static Bytes Padded(const Bytes& code)
    {
        Bytes b = code;
        b.resize(72, 0);
        return b;
    }

    RecordingWindow window;
};

TEST_F(UpdateJobTest, FullUpdateWritesExactlyTheFile)
{
    const Bytes d1 = Pattern(64, 0x10), d2 = Pattern(64, 0x80), d3 = Pattern(5, 0xF0);
    const Bytes c1 = Pattern(72, 1), c2 = {0x42};
    FirmwareBuilder fw;
    fw.Data(0x1000, d1).Data(0x1040, d2).Code(c1).Code(c2).Data(0x21000, d3);
    Run(fw.bytes());

    const uint32_t size = static_cast<uint32_t>(fw.bytes().size());
    const uint32_t r1 = 2 + 72, r2 = r1 + 74, r3 = r2 + 74, r4 = r3 + 3, r5 = r4 + 15;
    ASSERT_EQ(r5, size);
    const Lines expected = {
        "pos: 0",
        "range: " + std::to_string(size),
        "status: Connecting...",
        "status: Erasing flash block",
        "status: Uploading data",
        "pos: " + std::to_string(r1),
        "status: Uploading data",  // 0x1040 is not on a block boundary: no erase
        "pos: " + std::to_string(r2),
        "status: Starting update process...",
        "status: Programming Code",
        "pos: " + std::to_string(r3),
        "status: Programming Code",
        "pos: " + std::to_string(r4),
        "status: Booting firmware...",
        "status: Erasing flash block",
        "status: Uploading data",
        "pos: " + std::to_string(r5),
        "status: Done.",
        kComplete,
        kEnd1,
        kEnd2,
    };
    EXPECT_EQ(window.calls, expected);

    for (size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(board->FlashByte(0x1000 + i), d1[i]);
        EXPECT_EQ(board->FlashByte(0x1040 + i), d2[i]);
    }
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(board->FlashByte(0x21000 + i), d3[i]);
    EXPECT_EQ(board->FlashByte(0x1080), 0xFF);
    EXPECT_EQ(board->CodeLog(), (std::vector<Bytes>{Padded(c1), Padded(c2)}));
    EXPECT_FALSE(board->InLoader());
    EXPECT_EQ(Commands(), (std::vector<int>{0x00, 0xC2, 0x10, 0x10, 0x02, 0x06, 0x01, 0x42, 0x08, 0x01, 0xC0,
                                            0xC2, 0x10}));
}

TEST_F(UpdateJobTest, ModeExchangesOnlyWhenTheRecordKindChanges)
{
    FirmwareBuilder fw;
    fw.Code({0x31}).Code({0x32}).Data(0x0000, {1}).Data(0x0001, {2}).Code({0x33});
    Run(fw.bytes());
    // identify, enter loader, init, 2 code blocks, complete, boot, start
    // upload, erase, 2 uploads, enter loader, init, code block, then at the
    // end complete, boot, start upload.
    EXPECT_EQ(Commands(), (std::vector<int>{0x00, 0x02, 0x06, 0x31, 0x32, 0x08, 0x01, 0xC0, 0xC2, 0x10,
                                            0x10, 0x02, 0x06, 0x33, 0x08, 0x01, 0xC0}));
    EXPECT_EQ(Boxes(), Lines{"Done/64: Update complete!"});
    EXPECT_FALSE(board->InLoader());
}

TEST_F(UpdateJobTest, NothingToReadOrNoBoard)
{
    window.fileName = "";
    UpdateJob(window);
    EXPECT_EQ(window.calls, (Lines{"box: Error/16: Firmware file not selected", kEnd1, kEnd2}));
    EXPECT_TRUE(board->Trace().empty());

    window.calls.clear();
    RunNamed((std::filesystem::temp_directory_path() / "velkor-missing.enc").string());
    EXPECT_EQ(window.calls, (Lines{"box: Error/16: Could not open firmware file", kEnd1, kEnd2}));

    window.calls.clear();
    RunNamed(std::filesystem::temp_directory_path().string());
    EXPECT_EQ(Boxes(), Lines{"Error/16: Could not open firmware file"});

    window.calls.clear();
    board->SetPresent(false);
    Run(FirmwareBuilder().Code({1}).bytes());
    EXPECT_EQ(window.calls, (Lines{"pos: 0", "range: 3", "status: Connecting...",
                                   "box: Error/16: Could not connect to device", kEnd1, kEnd2}));
}

TEST_F(UpdateJobTest, EmptyFileAndStrayByteComplete)
{
    SimConfig config;
    config.loader = true;
    Reset(config);
    Run({});
    EXPECT_EQ(window.calls, (Lines{"pos: 0", "range: 0", "status: Connecting...", "status: Booting firmware...",
                                   "status: Done.", kComplete, kEnd1, kEnd2}));
    EXPECT_FALSE(board->InLoader());

    window.calls.clear();
    Run(FirmwareBuilder().Data(0x5000, {9}).Raw({'E'}).bytes());
    EXPECT_EQ(Boxes(), Lines{"Done/64: Update complete!"});
    EXPECT_EQ(board->FlashByte(0x5000), 9);
}

TEST_F(UpdateJobTest, ProgressFollowsTheFilePosition)
{
    // 1000 bytes: a data block with a 40-byte payload, then code blocks.
    FirmwareBuilder fw;
    fw.Data(0x6000, Pattern(32));
    for (int i = 0; i < 12; ++i)
        fw.Code(Pattern(72, static_cast<uint8_t>(i)));
    fw.Code(Pattern(68));
    ASSERT_EQ(fw.bytes().size(), 1000u);
    Run(fw.bytes());
    const Lines positions = window.Only("pos: ");
    ASSERT_EQ(positions.size(), 15u);
    EXPECT_EQ(positions[0], "0");
    EXPECT_EQ(positions[1], "42");
    EXPECT_EQ(positions.back(), "1000");
    EXPECT_EQ(window.Only("range: "), Lines{"1000"});
}

TEST_F(UpdateJobTest, AbortBeforeTheFirstRecord)
{
    window.pendingAborts = 2;
    Run(FirmwareBuilder().Code({1}).bytes());
    EXPECT_EQ(window.calls, (Lines{"pos: 0", "range: 3", "status: Connecting...", kEnd1, kEnd2}));
    EXPECT_EQ(window.pendingAborts, 1) << "one abort is taken per check";
    EXPECT_TRUE(board->CodeLog().empty());
}

TEST_F(UpdateJobTest, AbortTakesEffectAfterTheRecordInProgress)
{
    FirmwareBuilder fw;
    fw.Code({0x21}).Code({0x22}).Code({0x23});
    window.onCall = [this](const std::string& line) {
        if (line == "pos: 6")  // the second record is being written
            window.pendingAborts = 1;
    };
    Run(fw.bytes());
    EXPECT_EQ(board->CodeLog().size(), 2u);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(Has("status: Done."));
    EXPECT_TRUE(board->InLoader()) << "an abort leaves the board where it was";
    EXPECT_EQ(ProgrammingState, 1);
}

TEST_F(UpdateJobTest, FormatErrors)
{
    struct Case {
        const char* name;
        Bytes file;
        std::string box;
    };
    const Case cases[] = {
        {"unknown token", FirmwareBuilder().Code({1}).Raw({'d', 1, 0}).bytes(), "Unknown token in firmware file"},
        {"payload cut short", FirmwareBuilder().Raw({'E', 5, 1, 2, 3}).bytes(), "Unexpected EOF"},
        {"first record bad CRC", FirmwareBuilder().BadCrcData(0x1000, {1}).bytes(), "CRC error in block 0"},
        {"data shorter than declared", FirmwareBuilder().DataPayload({0, 0, 10, 0, 0x10, 0, 1, 2}).bytes(),
         "CRC error in block 0"},
        {"empty data block", FirmwareBuilder().Code({1}).DataPayload({}).bytes(), "Length error in block 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(SimConfig());
        window.calls.clear();
        Run(c.file);
        EXPECT_EQ(Boxes(), Lines{"Error/16: " + c.box});
        EXPECT_FALSE(Has("status: Done."));
    }
}

TEST_F(UpdateJobTest, ShortDataBlockSendsNothingOfItself)
{
    // The CRC holds, but the block declares 10 data bytes and carries 2.
    Bytes payload = {0, 0, 10, 0x00, 0x70, 0x00, 0xAB, 0xCD};
    const uint16_t crc = Crc16(payload.data(), payload.size());
    payload.push_back(static_cast<uint8_t>(crc));
    payload.push_back(static_cast<uint8_t>(crc >> 8));
    FirmwareBuilder fw;
    fw.Data(0x1000, Pattern(64)).Code({7}).Data(0x2000, {1}).DataPayload(payload);
    Run(fw.bytes());
    EXPECT_EQ(Boxes(), Lines{"Error/16: Length error in block 3"});
    EXPECT_EQ(board->FlashBlocks().count(0x7000), 0u) << "no erase, no upload for the short block";
}

TEST_F(UpdateJobTest, CrcErrorAfterCodeBlocksBringsTheBoardBackFirst)
{
    FirmwareBuilder fw;
    fw.Code({1}).Code({2}).Code({3}).Code({4}).BadCrcData(0x1000, {5});
    Run(fw.bytes());
    EXPECT_EQ(Boxes(), Lines{"Error/16: CRC error in block 4"});
    EXPECT_TRUE(Has("status: Booting firmware..."));
    EXPECT_FALSE(board->InLoader());
    EXPECT_EQ(board->FlashBlocks().count(0x1000), 0u);
}

TEST_F(UpdateJobTest, BoardErrors)
{
    struct Case {
        const char* name;
        Bytes file;
        SimFault fault;
        std::string box;
        std::string lastStatus;
    };
    const Bytes data = FirmwareBuilder().Data(0x1000, {1, 2}).bytes();
    const Bytes code = FirmwareBuilder().Code({1, 2}).bytes();
    const Case cases[] = {
        {"erase refused", data, {SimFaultKind::kStatus, kCmdEraseBlock, 0, 5}, "Error 5 erasing 0x001000",
         "Erasing flash block"},
        {"upload refused", data, {SimFaultKind::kStatus, kSimKeyUploadData, 0, 6}, "Error 6 uploading data",
         "Uploading data"},
        {"upload write fails", data, {SimFaultKind::kWriteFail, kSimKeyUploadData, 0, 0},
         "Error 1 uploading data", "Uploading data"},
        {"upload reply lost", data, {SimFaultKind::kReadFail, kSimKeyUploadData, 0, 0},
         "Error 2 uploading data", "Uploading data"},
        {"code block refused", code, {SimFaultKind::kStatus, kSimKeyCodeBlock, 0, 8}, "Error 8 programming code",
         "Programming Code"},
        {"enter loader refused", code, {SimFaultKind::kStatus, kCmdEnterLoader, 0, 4},
         "Error 4 communicating with marker", "Starting update process..."},
        {"identify fails", data, {SimFaultKind::kReadFail, kCmdIdentify, 0, 0},
         "Could not query version information", "Connecting..."},
        {"board silent on erase", data, {SimFaultKind::kSilent, kCmdEraseBlock, 0, 0},
         "Error -1 erasing 0x001000", "Erasing flash block"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(SimConfig());
        board->AddFault(c.fault);
        window.calls.clear();
        Run(c.file);
        EXPECT_EQ(Boxes(), Lines{"Error/16: " + c.box});
        EXPECT_EQ(window.Statuses().end()[-2], c.lastStatus);
        EXPECT_FALSE(Has("status: Done."));
    }
}

TEST_F(UpdateJobTest, OversizedBlocksAreRefusedByTheCommands)
{
    Run(FirmwareBuilder().Data(0x1040, Pattern(65)).bytes());
    EXPECT_EQ(Boxes(), Lines{"Error/16: Error -1 uploading data"});

    window.calls.clear();
    Run(FirmwareBuilder().Code(Pattern(73)).bytes());
    EXPECT_EQ(Boxes(), Lines{"Error/16: Error -1 programming code"});
    EXPECT_TRUE(board->CodeLog().empty());
}

TEST_F(UpdateJobTest, FailingToLeaveTheLoaderAtTheEndIsNotReportedAsComplete)
{
    board->AddFault({SimFaultKind::kStatus, kCmdCompleteProgramming, 0, 9});
    Run(FirmwareBuilder().Code({1}).bytes());
    EXPECT_EQ(Boxes(), Lines{"Error/16: Error 9 completing programming process"});
    EXPECT_FALSE(Has("status: Done."));
}

#ifdef __linux__
TEST_F(UpdateJobTest, ReadErrorIsNotTakenForTheEndOfTheFile)
{
    RunNamed("/proc/self/mem");
    EXPECT_EQ(Boxes(), Lines{"Error/16: Could not read firmware file"});
    EXPECT_FALSE(Has("status: Done."));
}
#endif

TEST_F(UpdateJobTest, NextJobAfterAFailureStartsAfresh)
{
    board->AddFault({SimFaultKind::kStatus, kSimKeyCodeBlock, 1, 8});
    const Bytes file = FirmwareBuilder().Code({1}).Data(0x1000, {2}).bytes();
    Run(file);
    EXPECT_EQ(Boxes(), Lines{"Error/16: Error 8 programming code"});
    EXPECT_TRUE(board->InLoader());

    window.calls.clear();
    Run(file);
    EXPECT_EQ(Boxes(), Lines{"Done/64: Update complete!"});
    EXPECT_EQ(board->CodeLog().size(), 1u);
    EXPECT_EQ(board->FlashByte(0x1000), 2);
}

}  // namespace
