// Every board command the update and service jobs send, crossed with every
// fault the simulated board can inject, at the command's first and at a later
// occurrence. Each case checks the message and its number, that board and file
// are closed and the end report sent, that only a failing or silent board
// costs a failed read and only silence a wait, and that the next job on the
// same board, fault gone, works normally.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <tuple>

#include "job/messages.h"
#include "link/commands.h"
#include "support/firmware_builder.h"
#include "support/open_files.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"
#include "worker/service.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kReadTimeoutMs = 100;
constexpr int kMarginMs = 400;

// A job: its request (none for the update), and what it ends with when it
// goes through.
struct Job {
    uint32_t wparam;
    int32_t lparam;
    const char* result;
    const char* box;
};
const Job kUpdate = {0, 0, "result: 1027 1 0", "Done/64: Update complete!"};
const Job kGetShots = {0x10000 | SVC_GET_SHOT_COUNT, 0, "result: 1029 320 1000", nullptr};
const Job kSetShots = {SVC_SET_SHOT_COUNT, 4321, "result: 1029 64 4321", nullptr};
const Job kPressure = {SVC_PRESSURE_VALUES, 0, "result: 1029 144 0",
                       "Raw Pressure Values/64: 1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n"};

// What a command's failure carries: a status, a value (the status negated),
// a long exchange (the status, 1 write failed, 2 read failed), or nothing.
enum class Reports { kStatus, kValue, kLong, kIdentity };

// The first job meets the fault at the command's first occurrence; run
// in turn, the jobs meet it at the later one.
struct Command {
    const char* name;
    int key;
    Reports reports;
    const char* message;  // "%d" takes the fault's number (and the erase's block)
    std::vector<const Job*> jobs;
    int later;
};

// The update file: two code blocks, data at two flash block boundaries, a
// code block again. Its commands: identify; enter loader, init, code, code;
// complete, boot, start upload, erase, upload, erase, upload; enter loader,
// init, code; complete, boot, start upload.
const Command kCommands[] = {
    {"Identify", kCmdIdentify, Reports::kIdentity, "Could not query version information", {&kUpdate, &kUpdate}, 2},
    {"EnterLoader", kCmdEnterLoader, Reports::kStatus, "Error %d communicating with marker", {&kUpdate}, 2},
    {"InitProgramming", kCmdInitProgramming, Reports::kStatus, "Error %d initialising programming process", {&kUpdate}, 2},
    {"CompleteProgramming", kCmdCompleteProgramming, Reports::kStatus, "Error %d completing programming process", {&kUpdate}, 2},
    {"BootFirmware", kCmdBootFirmware, Reports::kStatus, "Error %d communicating with marker", {&kUpdate}, 2},
    {"StartDataUpload", kCmdStartDataUpload, Reports::kValue, "Error %d starting data upload", {&kUpdate}, 2},
    {"EraseBlock", kCmdEraseBlock, Reports::kStatus, "Error %d erasing 0x00%d000", {&kUpdate}, 2},
    {"UploadData", kSimKeyUploadData, Reports::kLong, "Error %d uploading data", {&kUpdate}, 2},
    {"CodeBlock", kSimKeyCodeBlock, Reports::kLong, "Error %d programming code", {&kUpdate}, 3},
    {"AccessShotCounter", kCmdAccessShotCounter, Reports::kValue, "Error %d getting shot count", {&kGetShots, &kSetShots}, 2},
    {"ReadPressure", kCmdReadPressure, Reports::kValue, "Not available with this build", {&kPressure}, 2},
};

// Pulling the cable fails the same write or read: the random-file property
// covers it at every report.
struct Fault {
    const char* name;
    SimFaultKind kind;
    int value;
    bool succeeds;
    int results[3];  // by Reports but kIdentity
    bool timesOut;
};

const Fault kFaults[] = {
    {"ErrorStatus", SimFaultKind::kStatus, 0xC5, false, {0xC5, -0xC5, 0xC5}, false},  // unsigned, top bit set
    {"FailedWrite", SimFaultKind::kWriteFail, 0, false, {-1, -1, 1}, false},
    {"FailedRead", SimFaultKind::kReadFail, 0, false, {-1, -1, 2}, false},
    {"Silence", SimFaultKind::kSilent, 0, false, {-1, -1, 2}, true},
    {"OtherRepliesFirst", SimFaultKind::kNoise, 3, true, {0, 0, 0}, false},
};

FirmwareBuilder UpdateFile()
{
    return FirmwareBuilder().Code(Pattern(72, 1)).Code(Pattern(40, 0x22)).Data(0x1000, Pattern(64, 0x40)).Data(0x2000, Pattern(8))
        .Code({0x33, 0x34});
}

using Case = std::tuple<size_t, size_t, bool>;  // command, fault, later

class FaultMatrix : public SimFixture, public ::testing::WithParamInterface<Case> {
protected:
    // One job, and what every job must end with.
    RecordingWindow Run(const Job& job, const TempFile& file)
    {
        RecordingWindow w;
        w.fileName = file.path();
        const size_t filesBefore = OpenFileCount();
        if (&job == &kUpdate)
            UpdateJob(w);
        else
            ServiceJob(w, job.wparam, job.lparam);
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        EXPECT_EQ(OpenFileCount(), filesBefore) << "the file must be closed";
        return w;
    }
};

TEST_P(FaultMatrix, ReportsTheFaultAndRecovers)
{
    const Command& command = kCommands[std::get<0>(GetParam())];
    const Fault& fault = kFaults[std::get<1>(GetParam())];
    const bool later = std::get<2>(GetParam());
    const std::vector<const Job*> jobs = later ? command.jobs : std::vector<const Job*>{command.jobs[0]};
    const int occurrence = later ? command.later : 1;
    const FirmwareBuilder fw = UpdateFile();
    const TempFile file(fw.bytes());
    board->SetReadTimeoutMs(kReadTimeoutMs);
    // Identify's byte 2 has the loader in its top bit.
    const int value = command.reports == Reports::kIdentity ? fault.value & 0x7F : fault.value;
    board->AddFault({fault.kind, command.key, occurrence, value});
    for (size_t i = 0; i + 1 < jobs.size(); ++i)
        EXPECT_EQ(Run(*jobs[i], file).calls.back(), jobs[i]->result) << "job " << i << " is before the fault";

    const Job& job = *jobs.back();
    board->ClearTrace();
    const Clock::time_point start = Clock::now();
    const RecordingWindow w = Run(job, file);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);

    // Identify carries the board's type where others carry a status, so a
    // "status" there is only an odd identity, not a failure.
    const bool succeeds = fault.succeeds || (command.reports == Reports::kIdentity && fault.kind == SimFaultKind::kStatus);
    const int number = command.reports == Reports::kIdentity ? 0 : fault.results[static_cast<int>(command.reports)];
    if (succeeds) {
        EXPECT_EQ(w.Boxes(), job.box ? Lines{job.box} : Lines{});
        EXPECT_EQ(w.calls.back(), job.result);
    } else {
        char text[128], result[64];
        std::snprintf(text, sizeof text, command.message, number, occurrence);
        std::snprintf(result, sizeof result, "result: 1029 %u %d", (job.wparam & 0xFFFF) + SVC_FAILED, -number);
        EXPECT_EQ(w.Boxes(), Lines{std::string("Error/16: ") + text});
        EXPECT_EQ(w.calls.back(), &job == &kUpdate ? kUpdate.result : result);
    }
    // One failed read for a failing or silent board, none otherwise, and no
    // waiting but for the silence.
    const auto trace = board->Trace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const SimTraceEntry& e) { return !e.fromHost && !e.ok; }),
              fault.kind == SimFaultKind::kReadFail || fault.timesOut ? 1 : 0);
    EXPECT_LE(took.count(), (fault.timesOut ? kReadTimeoutMs : 0) + kMarginMs);

    // Fault gone: the board takes a whole update.
    board->ClearFaults();
    EXPECT_EQ(Run(kUpdate, file).Boxes(), Lines{kUpdate.box});
    for (const auto& [address, block] : fw.flash)
        EXPECT_EQ(board->FlashBlocks()[address], block);
    EXPECT_FALSE(board->InLoader());
}

INSTANTIATE_TEST_SUITE_P(AllCommandsAllFaults, FaultMatrix,
                         ::testing::Combine(::testing::Range<size_t>(0, std::size(kCommands)),
                                            ::testing::Range<size_t>(0, std::size(kFaults)), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(kCommands[std::get<0>(info.param)].name) + "_" +
                                    kFaults[std::get<1>(info.param)].name + (std::get<2>(info.param) ? "_Later" : "_First");
                         });

}  // namespace
