// The update, service and detection jobs against the simulated board. Each
// case lists what the window was told, the reports written ("> C2", "> long")
// and the settle pauses in the one order they happened; the board itself
// refuses any request byte it does not expect.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include "job/messages.h"
#include "job/outcome.h"
#include "link/commands.h"
#include "sim/scenario.h"
#include "support/firmware_builder.h"
#include "support/open_files.h"
#include "support/sim_fixture.h"
#include "update/firmware.h"
#include "update/update_job.h"
#include "worker/detection.h"
#include "worker/service.h"

namespace {

using Lines = std::vector<std::string>;

SimConfig Board(std::vector<SimFault> faults = {}, bool loader = false, uint32_t shotCounter = 1000)
{
    SimConfig c;
    c.faults = std::move(faults);
    c.loader = loader;
    c.shotCounter = shotCounter;
    return c;
}

// A board that uses all the protocol allows: spare reply bytes set, data
// uploads answered with 0x07.
SimConfig Loose(uint32_t shotCounter = 1000)
{
    SimConfig c = Board({}, false, shotCounter);
    c.spareReplyBytes = 0xFF;
    c.uploadAnsweredAsCode = true;
    return c;
}

SimFault Status(int command, int status, int occurrence = 0)
{
    return {SimFaultKind::kStatus, command, occurrence, status};
}

std::string Join(const Lines& lines)
{
    std::string out;
    for (const auto& l : lines)
        out += (out.empty() ? "" : " | ") + l;
    return out;
}

// "a | ... | b": the calls start with a and end with b; otherwise exactly.
void ExpectEvents(const Lines& calls, const std::string& expected)
{
    const std::string all = Join(calls);
    const size_t gap = expected.find("...");
    if (gap == std::string::npos) {
        EXPECT_EQ(all, expected);
        return;
    }
    const size_t tail = expected.size() - gap - 3;
    EXPECT_TRUE(all.size() >= gap + tail && all.compare(0, gap, expected, 0, gap) == 0 &&
                all.compare(all.size() - tail, tail, expected, gap + 3, tail) == 0)
        << "expected " << expected << "\n     got " << all;
}

// How a job ended, as a table writes it: "done", "failed: file",
// "no board", and " = N" for a service result.
std::string Ending(const JobOutcome& o)
{
    static const char* const ends[] = {"done", "failed", "aborted", "no board", "board busy", "several boards"};
    static const char* const failures[] = {"", ": file", ": board", ": request"};
    std::string text = std::string(ends[static_cast<int>(o.end)]) + failures[static_cast<int>(o.failure)];
    return o.result ? text + " = " + std::to_string(*o.result) : text;
}

using Jobs = SimFixture;

const std::string kOpen = "pos: 0 | range: ";
const std::string kToLoader = "status: Starting update process... | > 02 | pause 500 | > 06";
const std::string kToApp = "status: Booting firmware... | > 08 | > 01 | pause 500 | > C0";
const std::string kErase = "status: Erasing flash block | > C2";
const std::string kDone = "status: Done. | box: Done/64: Update complete!";

struct UpdateCase {
    const char* name;
    const char* ending;
    SimConfig board;
    FirmwareBuilder file;
    std::string events;  // without the closing "status: Wait... | result: 1027 1 0"
    std::string abortOn = "";  // an abort is queued when the window gets this call
    std::string path = "";     // opened instead of the file; "<empty>": no name at all
};

TEST_F(Jobs, Update)
{
    FirmwareBuilder big;  // over 64 KiB, at addresses over 0xFFFF
    for (uint32_t a = 0x10000; a < 0x10000 + 1030 * 64; a += 64)
        big.Data(a, Pattern(64, static_cast<uint8_t>(a >> 6)));
    const TempFile huge({});
    std::filesystem::resize_file(huge.path(), kFirmwareImageMax + 1);
    const std::string kCannotOpen = "box: Error/16: Could not open firmware file";
    const UpdateCase cases[] = {
        {"data, code, data again, to a board using all the protocol allows", "done", Loose(),
         FirmwareBuilder().Data(0x21000, Pattern(64)).Data(0x21040, Pattern(64, 0x80)).Code(Pattern(72, 1))
             .Code({0x42}).Data(0x30000, Pattern(5, 0xF0)),
         kOpen + "240 | status: Connecting... | > 00 | " + kErase + " | status: Uploading data | pos: 74 | > long"
             " | status: Uploading data | pos: 148 | > long | " + kToLoader + " | status: Programming Code | pos: 222"
             " | > long | status: Programming Code | pos: 225 | > long | " + kToApp + " | " + kErase +
             " | status: Uploading data | pos: 240 | > long | " + kDone},
        {"board found in its loader, code ends the file", "done", Board({}, true),
         FirmwareBuilder().Data(0x1000, {7}).Code({1}),
         kOpen + "14 | status: Connecting... | > 00 | " + kToApp + " | " + kErase + " | status: Uploading data"
             " | pos: 11 | > long | " + kToLoader + " | status: Programming Code | pos: 14 | > long | " + kToApp +
             " | " + kDone},
        {"over 64 KiB", "done", Board(), big, kOpen + "76220 | ... | pos: 76220 | > long | " + kDone},
        {"no file named", "failed: file", Board(), FirmwareBuilder(), "box: Error/16: Firmware file not selected", "",
         "<empty>"},
        {"directory", "failed: file", Board(), FirmwareBuilder(), "box: Error/16: Could not open firmware file", "",
         std::filesystem::temp_directory_path().string()},
        {"read error", "failed: file", Board(), FirmwareBuilder(), kCannotOpen, "", "/proc/self/mem"},
        {"over 64 MiB", "failed: file", Board(), FirmwareBuilder(), kCannotOpen, "", huge.path()},
        {"abort before the first record", "aborted", Board(), FirmwareBuilder().Code({1}),
         kOpen + "3 | status: Connecting...", "status: Connecting..."},
        {"abort after the record in progress", "aborted", Board(),
         FirmwareBuilder().Code({0x21}).Code({0x22}).Code({0x23}), "... | pos: 6 | > long", "pos: 6"},
        // A file the update would stop in is refused whole: nothing on the
        // screen but the box, and no board opened.
        {"unknown token, last", "failed: file", Board(), FirmwareBuilder().Code({1}).Raw({'d', 1, 0}),
         "box: Error/16: Unknown token in firmware file"},
        {"payload cut short, first", "failed: file", Board(), FirmwareBuilder().Raw({'E', 5, 1, 2, 3}),
         "box: Error/16: Unexpected EOF"},
        {"bad CRC in the middle", "failed: file", Board(),
         FirmwareBuilder().Code({1}).Code({2}).Code({3}).Code({4}).BadCrcData(0x1000, {5}).Data(0, {6}),
         "box: Error/16: CRC error in block 4"},
        {"data longer than its payload, last", "failed: file", Board(),
         FirmwareBuilder().Data(0x1000, Pattern(64)).Code({7}).Data(0x2000, {1}).DataPayload(
             FirmwareBuilder::DataBlockPayload(0x7000, {0xAB, 0xCD}, 10)),
         "box: Error/16: Length error in block 3"},
        {"empty data record", "failed: file", Board(), FirmwareBuilder().Code({1}).DataPayload({}).Code({2}),
         "box: Error/16: Length error in block 1"},
        {"65 data bytes, first", "failed: file", Board(), FirmwareBuilder().Data(0x1000, Pattern(65)).Code({1}),
         "box: Error/16: Error -1 uploading data"},
        {"73 code bytes", "failed: file", Board(), FirmwareBuilder().Data(0, {1}).Code(Pattern(73)),
         "box: Error/16: Error -1 programming code"},
        {"erase refused above 0xFFFF", "failed: board", Board({Status(kCmdEraseBlock, 5, 2)}),
         FirmwareBuilder().Data(0x11000, {1}).Data(0xAB2000, {1}),
         "... | > C2 | status: Uploading data | pos: 11 | > long | " + kErase + " | box: Error/16: Error 5 erasing 0xab2000"},
        {"upload refused with a status over 127", "failed: board", Board({Status(kSimKeyUploadData, 200)}),
         FirmwareBuilder().Data(0x1000, {1}), "... | box: Error/16: Error 200 uploading data"},
        {"start upload answers a value", "failed: board", []{ SimConfig c; c.uploadValue = 0x012345; return c; }(),
         FirmwareBuilder().Code({1}), "... | > C0 | box: Error/16: Error 74565 starting data upload"},
    };
    for (const UpdateCase& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(c.board);
        const TempFile file(c.file.bytes());
        window.fileName = c.path.empty() ? file.path() : c.path == "<empty>" ? "" : c.path;
        window.onCall = [&](const std::string& line) { window.pendingAborts += line == c.abortOn; };
        const size_t filesBefore = OpenFileCount();
        EXPECT_EQ(Ending(UpdateJob(window)), c.ending);
        ASSERT_GE(window.calls.size(), 2u);
        EXPECT_EQ(window.calls.end()[-2], "status: Wait...");
        EXPECT_EQ(window.calls.back(), "result: 1027 1 0");
        window.calls.resize(window.calls.size() - 2);
        ExpectEvents(window.calls, c.events);
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        EXPECT_EQ(OpenFileCount(), filesBefore) << "the file must be closed";
        const bool complete = std::count(window.calls.begin(), window.calls.end(), "box: Done/64: Update complete!");
        EXPECT_EQ(complete, std::count(window.calls.begin(), window.calls.end(), "status: Done.") == 1);
        EXPECT_EQ(complete, c.events.find("Update complete!") != std::string::npos);
        if (complete) {
            EXPECT_TRUE(board->FlashBlocks() == c.file.flash) << "flash differs";
            EXPECT_TRUE(board->CodeLog() == c.file.code) << "code blocks differ";
            EXPECT_FALSE(board->InLoader());
        }
    }
}

// A file overwritten in place while it is programmed (a second download to
// the same name): the board gets the file as it was when the update began.
TEST_F(Jobs, UpdateProgramsTheFileAsItWasAtItsStart)
{
    FirmwareBuilder before, after;
    for (uint32_t a = 0x1000; a < 0x1200; a += 64)
        before.Data(a, Pattern(64, 1)).Code({1}), after.Data(a, Pattern(64, 2)).Code({2});
    const TempFile file(before.bytes());
    window.fileName = file.path();
    window.onCall = [&](const std::string& line) {
        if (line == "pos: 74")  // the same bytes' places, other bytes
            std::fstream(file.path(), std::ios::in | std::ios::out | std::ios::binary)
                .write(reinterpret_cast<const char*>(after.bytes().data()), after.bytes().size());
    };
    EXPECT_EQ(Ending(UpdateJob(window)), "done");
    EXPECT_TRUE(board->FlashBlocks() == before.flash);
    EXPECT_TRUE(board->CodeLog() == before.code);
}

struct ServiceCase {
    const char* name;
    const char* ending;
    SimConfig board;
    uint32_t wparam;
    int32_t lparam;
    std::string events;
    uint32_t counterAfter;
};

TEST_F(Jobs, Service)
{
    const uint32_t get = 0x10000 | SVC_GET_SHOT_COUNT;
    const std::string pressure =
        "box: Raw Pressure Values/64: 1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n";
    SimConfig narrow;
    narrow.pressure = {{{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}, {0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A}}};
    const ServiceCase cases[] = {
        {"read", "done = 1000", Board(), get, 0, "> 00 | > 40 | result: 1029 320 1000", 1000},
        {"set, four distinct bytes", "done = 305419896", Loose(5), SVC_SET_SHOT_COUNT, 0x12345678,
         "> 00 | > 40 | result: 1029 64 305419896", 0x12345678},
        {"refused with a status over 127", "failed: board", Board({Status(kCmdAccessShotCounter, 200)}, false, 5),
         SVC_SET_SHOT_COUNT, 9,
         "> 00 | > 40 | box: Error/16: Error -200 getting shot count | result: 1029 65600 200", 5},
        {"2^31 comes back negative", "failed: board", Board({}, false, 0x80000000u), get, 0,
         "> 00 | > 40 | box: Error/16: Error -2147483648 getting shot count | result: 1029 65856 -2147483648",
         0x80000000u},
        {"pressure", "done = 0", Board(), SVC_PRESSURE_VALUES, 0,
         "> 00 | > 90 | > 90 | " + pressure + " | result: 1029 144 0", 1000},
        {"pressure, a letter and a leading 0 in every byte", "done = 0", narrow, SVC_PRESSURE_VALUES, 0,
         "> 00 | > 90 | > 90 | box: Raw Pressure Values/64: 1D = 0A0B0C  1B = 0D0E0F\n2D = 0F0E0D  2B = 0C0B0A\n"
         " | result: 1029 144 0", 1000},
        {"unknown code", "failed: request", Board(), 0x55, 0,
         "> 00 | box: Internal Error/16: Unknown command issued | result: 1029 65621 0", 1000},
        {"no board", "no board", []{ SimConfig c; c.present = false; return c; }(), SVC_PRESSURE_VALUES, 0,
         "box: Error/16: Could not connect to device | result: 1029 65680 0", 1000},
        {"boot fails, the command is tried anyway", "failed: board",
         Board({Status(kCmdCompleteProgramming, 9)}, true, 5), get, 0,
         "> 00 | status: Booting firmware... | > 08 | box: Error/16: Error 9 completing programming process | > 40"
         " | box: Error/16: Error -17 getting shot count | result: 1029 65856 17", 5},
        {"a late reply is dropped by the next exchange", "failed: board = 70000",
         Board({{SimFaultKind::kLate, kCmdBootFirmware, 1, 0}}, true, 70000), get, 0,
         "> 00 | status: Booting firmware... | > 08 | > 01 | box: Error/16: Error -1 communicating with marker"
         " | > 40 | result: 1029 320 70000", 70000},
        {"replies past the host's queue are lost", "failed: board",
         Board({{SimFaultKind::kNoise, kCmdAccessShotCounter, 0, 32}}, false, 5), get, 0,
         "> 00 | > 40 | box: Error/16: Error -1 getting shot count | result: 1029 65856 1", 5},
    };
    for (const ServiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(c.board);
        EXPECT_EQ(Ending(ServiceJob(window, c.wparam, c.lparam)), c.ending);
        EXPECT_EQ(Join(window.calls), c.events);
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        EXPECT_EQ(board->ShotCounter(), c.counterAfter);
    }
}

TEST_F(Jobs, Detection)
{
    const std::array<std::string, 3> cases[] = {  // the board, how detection ends, what it says
        {R"({"spare_reply_bytes": 255})", "done",
         "> 00 | status: Connected: Ferrit XR, version 3.02b | result: 1025 1 0"},
        {R"({"type": 4, "version": "1.07"})", "done",
         "> 00 | status: Connected: Vantor 5, version 1.07 | result: 1025 1 0"},
        {R"({"type": 2, "firmware": false})", "done",
         "> 00 | status: Connected: Quasar board, no software | result: 1025 1 0"},
        {R"({"type": 10, "loader": true, "version": "255.10z"})", "done",
         "> 00 | status: Connected: Grisel (unknown), version 255.10z | result: 1025 1 0"},
        {R"({"identifies": false})", "failed: board",
         "> 00 | status: Connected: unidentified device | result: 1025 65536 0"},
    };
    for (const auto& [scenario, ending, events] : cases) {
        SimConfig config;
        std::string error;
        ASSERT_TRUE(ParseScenario(scenario, config, error)) << error;
        Reset(config);
        ProgrammingState = 1;
        EXPECT_EQ(Ending(DetectionJob(window)), ending);
        EXPECT_EQ(Join(window.calls), events);
        EXPECT_EQ(board->OpenHandles(), 0);
        EXPECT_EQ(ProgrammingState, 1) << "detection leaves the sequencer alone";
    }
}

// The long reports' limits, which the update's file check keeps it from
// reaching: each at its value and one past it.
TEST_F(Jobs, LongReportLimits)
{
    const int32_t h = OpenBoard("");
    const Bytes bytes = Pattern(73, 1);
    EXPECT_EQ(UploadData(h, bytes.data(), 65, 0x1000), kLongTooLong);
    EXPECT_EQ(ProgramCodeBlock(h, bytes.data(), 73), kLongTooLong);
    EXPECT_TRUE(board->Trace().empty()) << "nothing of a refused payload is sent";
    EXPECT_EQ(UploadData(h, bytes.data(), 64, 0x1000), 0);
    EXPECT_EQ(board->FlashByte(0x103F), 64);
    EXPECT_EQ(EnterLoader(h) | InitProgramming(h) | ProgramCodeBlock(h, bytes.data(), 72), 0);
    EXPECT_TRUE(board->CodeLog() == std::vector<Bytes>{Pattern(72, 1)});
    CloseBoard(h);
}

// The simulated board and a second one listed beside it.
std::vector<std::string> TwoBoards(uint16_t vendorId, uint16_t productId)
{
    std::vector<std::string> paths = kSimHidBackend.list(vendorId, productId);
    paths.push_back("/dev/hidraw-other");
    return paths;
}

TEST_F(Jobs, SeveralBoards)
{
    HidBackend two = kSimHidBackend;
    two.list = TwoBoards;
    // Any path opens, as another device's hidraw node would.
    two.open = [](const char*) { return kSimHidBackend.open(InstalledSimBoard()->Path().c_str()); };
    SetHidBackend(&two);
    const TempFile file(FirmwareBuilder().Code({1}).bytes());
    const std::string kWait = " | status: Wait... | result: 1027 1 0";
    const std::string kRefused = kOpen + "3 | status: Connecting... | box: Error/16: ";
    // The board chosen, how both jobs end, what detection and the update say.
    const std::array<std::string, 4> cases[] = {
        {"", "several boards", "status: More than one board attached | result: 1025 0 0",
         kRefused + "More than one board attached" + kWait},
        {"/dev/hidraw-gone", "no board", "status: No board detected | result: 1025 0 0",
         kRefused + "Could not connect to device" + kWait},
        {board->Path(), "done", "> 00 | status: Connected: Ferrit XR, version 3.02b | result: 1025 1 0",
         "... | " + kDone + kWait},
    };
    for (const auto& [chosen, ending, detection, update] : cases) {
        SCOPED_TRACE(chosen);
        window = RecordingWindow();
        window.board = chosen;
        EXPECT_EQ(Ending(DetectionJob(window)), ending);
        EXPECT_EQ(Join(window.calls), detection);
        window = RecordingWindow();
        window.board = chosen;
        window.fileName = file.path();
        EXPECT_EQ(Ending(UpdateJob(window)), ending);
        ExpectEvents(window.calls, update);
        EXPECT_EQ(board->CodeLog().size(), chosen == board->Path());
    }
}

}  // namespace
