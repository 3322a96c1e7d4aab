// Every board command the update and service jobs send, crossed with every
// fault the simulated board can inject, at the command's first and at a later
// occurrence. Each case checks the message and its number, that board and file
// are closed and the end report sent, that no read waited past the time-out,
// and that the next job on the same board, fault gone, works normally.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "link/commands.h"
#include "link/hid.h"
#include "support/firmware_builder.h"
#include "support/open_files.h"
#include "support/recording_window.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"
#include "worker/messages.h"
#include "worker/service.h"

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr int kReadTimeoutMs = 100;
constexpr int kMarginMs = 400;

// The jobs a case runs, in order; the last one meets the fault, the ones
// before it must get through untouched.
enum class Job { kUpdate, kGetShots, kSetShots, kPressure };

// How a command reports a fault.
enum class Reports {
    kStatus,    // the status byte, or the negative library result
    kValue,     // the status negated, or the negative library result
    kLong,      // the status, 1 for a failed write, 2 for a failed read
    kIdentity,  // no status: a failed identify has its own message
};

struct Occurrence {
    std::vector<Job> jobs;
    int occurrence;
    const char* message;  // "%d" takes the fault's number
};

struct Command {
    const char* name;
    int key;
    Reports reports;
    Occurrence first;
    Occurrence later;
};

// The update file used throughout: two code blocks, data at two flash
// block boundaries, a code block again. Commands in order: identify; enter
// loader, init, code, code; complete, boot, start upload, erase, upload,
// erase, upload; enter loader, init, code; complete, boot, start upload.
const Command kCommands[] = {
    {"Identify", kCmdIdentify, Reports::kIdentity,
     {{Job::kUpdate}, 1, "Could not query version information"},
     {{Job::kUpdate, Job::kUpdate}, 2, "Could not query version information"}},
    {"EnterLoader", kCmdEnterLoader, Reports::kStatus,
     {{Job::kUpdate}, 1, "Error %d communicating with marker"},
     {{Job::kUpdate}, 2, "Error %d communicating with marker"}},
    {"InitProgramming", kCmdInitProgramming, Reports::kStatus,
     {{Job::kUpdate}, 1, "Error %d initialising programming process"},
     {{Job::kUpdate}, 2, "Error %d initialising programming process"}},
    {"CompleteProgramming", kCmdCompleteProgramming, Reports::kStatus,
     {{Job::kUpdate}, 1, "Error %d completing programming process"},
     {{Job::kUpdate}, 2, "Error %d completing programming process"}},
    {"BootFirmware", kCmdBootFirmware, Reports::kStatus,
     {{Job::kUpdate}, 1, "Error %d communicating with marker"},
     {{Job::kUpdate}, 2, "Error %d communicating with marker"}},
    {"StartDataUpload", kCmdStartDataUpload, Reports::kValue,
     {{Job::kUpdate}, 1, "Error %d starting data upload"},
     {{Job::kUpdate}, 2, "Error %d starting data upload"}},
    {"EraseBlock", kCmdEraseBlock, Reports::kStatus,
     {{Job::kUpdate}, 1, "Error %d erasing 0x001000"},
     {{Job::kUpdate}, 2, "Error %d erasing 0x002000"}},
    {"UploadData", kSimKeyUploadData, Reports::kLong,
     {{Job::kUpdate}, 1, "Error %d uploading data"},
     {{Job::kUpdate}, 2, "Error %d uploading data"}},
    {"CodeBlock", kSimKeyCodeBlock, Reports::kLong,
     {{Job::kUpdate}, 1, "Error %d programming code"},
     {{Job::kUpdate}, 3, "Error %d programming code"}},
    {"AccessShotCounter", kCmdAccessShotCounter, Reports::kValue,
     {{Job::kGetShots}, 1, "Error %d getting shot count"},
     {{Job::kGetShots, Job::kSetShots}, 2, "Error %d getting shot count"}},
    {"ReadPressure", kCmdReadPressure, Reports::kValue,
     {{Job::kPressure}, 1, "Not available with this build"},
     {{Job::kPressure}, 2, "Not available with this build"}},
};

// Faults the sim injects itself, plus pulling the cable just before the
// command's request or just after it, before the reply.
enum class Inject { kSim, kUnplugBeforeRequest, kUnplugBeforeReply };

struct Fault {
    const char* name;
    Inject inject;
    SimFaultKind kind;
    int value;
    bool succeeds;
    // What a status, a value and a long command return.
    int statusResult;
    int valueResult;
    int longResult;
    bool timesOut;
};

const Fault kFaults[] = {
    {"ErrorStatus", Inject::kSim, SimFaultKind::kStatus, 5, false, 5, -5, 5, false},
    {"FailedWrite", Inject::kSim, SimFaultKind::kWriteFail, 0, false, -1, -1, 1, false},
    {"FailedRead", Inject::kSim, SimFaultKind::kReadFail, 0, false, -1, -1, 2, false},
    {"Silence", Inject::kSim, SimFaultKind::kSilent, 0, false, -1, -1, 2, true},
    {"OtherRepliesFirst", Inject::kSim, SimFaultKind::kNoise, 3, true, 0, 0, 0, false},
    {"UnplugBeforeRequest", Inject::kUnplugBeforeRequest, SimFaultKind::kStatus, 0, false, -1, -1, 1, false},
    {"UnplugBeforeReply", Inject::kUnplugBeforeReply, SimFaultKind::kStatus, 0, false, -1, -1, 2, false},
};

const Bytes kCode1 = Pattern(72, 1);
const Bytes kCode2 = Pattern(40, 0x22);
const Bytes kCode3 = {0x33, 0x34};
const Bytes kData1 = Pattern(64, 0x40);
const Bytes kData2 = Pattern(8, 0x90);

Bytes UpdateFile()
{
    return FirmwareBuilder().Code(kCode1).Code(kCode2).Data(0x1000, kData1).Data(0x2000, kData2).Code(kCode3).bytes();
}

// Sits between the HID seam and the sim backend: counts the requests per fault
// key the way the board does, pulls the cable at the chosen one, and times the
// reads.
struct Watch {
    SimBoard* board = nullptr;
    Inject unplug = Inject::kSim;
    int key = -1;
    int occurrence = 0;
    std::map<int, int> seen;
    Clock::duration longestRead{};
    int timedOutReads = 0;

    void Request(const uint8_t* report, bool isShort, bool beforeSending)
    {
        if (unplug == Inject::kSim)
            return;
        const int k = isShort ? report[1] : (board->InLoader() ? kSimKeyCodeBlock : kSimKeyUploadData);
        if (beforeSending)
            ++seen[k];
        if (k != key || seen[k] != occurrence)
            return;
        if (beforeSending == (unplug == Inject::kUnplugBeforeRequest))
            board->SetPresent(false);
    }
};

Watch watch;

int32_t WatchedWrite(int32_t handle, const uint8_t* report, int32_t length, bool isShort)
{
    watch.Request(report, isShort, true);
    const int32_t r = isShort ? kSimHidBackend.writeShort(handle, report, length)
                              : kSimHidBackend.writeLong(handle, report, length);
    if (r >= 0)
        watch.Request(report, isShort, false);
    return r;
}

int32_t WatchedRead(int32_t handle, uint8_t* buf, int32_t length)
{
    const Clock::time_point start = Clock::now();
    const int32_t r = kSimHidBackend.read(handle, buf, length);
    const Clock::duration took = Clock::now() - start;
    watch.longestRead = std::max(watch.longestRead, took);
    if (r < 0 && took >= std::chrono::milliseconds(kReadTimeoutMs))
        ++watch.timedOutReads;
    return r;
}

const HidBackend kWatchedBackend = {
    [](uint16_t v, uint16_t p, int32_t r) { return kSimHidBackend.open(v, p, r); },
    [](int32_t h, const uint8_t* r, int32_t n) { return WatchedWrite(h, r, n, true); },
    WatchedRead,
    [](int32_t h, const uint8_t* r, int32_t n) { return WatchedWrite(h, r, n, false); },
    [](int32_t h) { return kSimHidBackend.close(h); },
};

using Case = std::tuple<size_t, size_t, bool>;  // command, fault, later

class FaultMatrix : public SimFixture, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        board->SetReadTimeoutMs(kReadTimeoutMs);
        watch = Watch();
        watch.board = board.get();
        SetHidBackend(&kWatchedBackend);
    }

    // Runs one job and checks what every job must end with; returns what the
    // window was told.
    RecordingWindow RunJob(Job job, const TempFile& file)
    {
        RecordingWindow window;
        window.fileName = file.path();
        const size_t filesBefore = OpenFileCount();
        switch (job) {
        case Job::kUpdate:
            UpdateJob(window);
            EXPECT_GE(window.calls.size(), 2u);
            if (window.calls.size() >= 2) {
                EXPECT_EQ(window.calls[window.calls.size() - 2], "status: Wait...");
                EXPECT_EQ(window.calls.back(), "result: 1027 1 0");
            }
            break;
        case Job::kGetShots:
            ServiceJob(window, 0x10000 | SVC_GET_SHOT_COUNT, 0);
            break;
        case Job::kSetShots:
            ServiceJob(window, SVC_SET_SHOT_COUNT, 4321);
            break;
        case Job::kPressure:
            ServiceJob(window, SVC_PRESSURE_VALUES, 0);
            break;
        }
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        EXPECT_EQ(OpenFileCount(), filesBefore) << "the file must be closed";
        return window;
    }

    // The job's result line when it goes through.
    static std::string Success(Job job)
    {
        switch (job) {
        case Job::kUpdate:
            return "result: 1027 1 0";
        case Job::kGetShots:
            return "result: 1029 320 1000";
        case Job::kSetShots:
            return "result: 1029 64 4321";
        case Job::kPressure:
            return "result: 1029 144 0";
        }
        return "";
    }

    static Lines SuccessBoxes(Job job)
    {
        if (job == Job::kUpdate)
            return {"Done/64: Update complete!"};
        if (job == Job::kPressure)
            return {"Raw Pressure Values/64: 1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n"};
        return {};
    }

    static std::string Failure(Job job, int number)
    {
        const uint32_t code = job == Job::kGetShots ? SVC_GET_SHOT_COUNT
                              : job == Job::kSetShots ? SVC_SET_SHOT_COUNT
                                                      : SVC_PRESSURE_VALUES;
        return "result: 1029 " + std::to_string(code + SVC_FAILED) + " " + std::to_string(-number);
    }

    void ExpectUpdateWritten()
    {
        for (size_t i = 0; i < kData1.size(); ++i)
            ASSERT_EQ(board->FlashByte(0x1000 + static_cast<uint32_t>(i)), kData1[i]) << i;
        for (size_t i = 0; i < kData2.size(); ++i)
            ASSERT_EQ(board->FlashByte(0x2000 + static_cast<uint32_t>(i)), kData2[i]) << i;
        const auto log = board->CodeLog();
        ASSERT_GE(log.size(), 3u);
        EXPECT_TRUE(std::equal(kCode3.begin(), kCode3.end(), log.back().begin()));
        EXPECT_FALSE(board->InLoader());
    }
};

TEST_P(FaultMatrix, ReportsTheFaultAndRecovers)
{
    const Command& command = kCommands[std::get<0>(GetParam())];
    const Fault& fault = kFaults[std::get<1>(GetParam())];
    const Occurrence& at = std::get<2>(GetParam()) ? command.later : command.first;
    const TempFile file(UpdateFile());

    if (fault.inject == Inject::kSim) {
        board->AddFault({fault.kind, command.key, at.occurrence, fault.value});
    } else {
        watch.unplug = fault.inject;
        watch.key = command.key;
        watch.occurrence = at.occurrence;
    }

    for (size_t i = 0; i + 1 < at.jobs.size(); ++i) {
        const RecordingWindow before = RunJob(at.jobs[i], file);
        EXPECT_EQ(before.calls.back(), Success(at.jobs[i])) << "job " << i << " comes before the fault";
    }

    const Job job = at.jobs.back();
    watch.longestRead = {};
    watch.timedOutReads = 0;
    const Clock::time_point start = Clock::now();
    const RecordingWindow window = RunJob(job, file);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);

    // Identify carries the board's type where others carry a status, so a
    // "status" there is only an odd identity, not a failure.
    const bool succeeds = fault.succeeds || (command.reports == Reports::kIdentity && fault.inject == Inject::kSim &&
                                             fault.kind == SimFaultKind::kStatus);
    const int number = command.reports == Reports::kStatus  ? fault.statusResult
                       : command.reports == Reports::kValue ? fault.valueResult
                       : command.reports == Reports::kLong  ? fault.longResult
                                                            : 0;
    if (succeeds) {
        EXPECT_EQ(window.Boxes(), SuccessBoxes(job));
        EXPECT_EQ(window.calls.back(), Success(job));
    } else {
        char text[128];
        std::snprintf(text, sizeof text, at.message, number);
        EXPECT_EQ(window.Boxes(), Lines{std::string("Error/16: ") + text});
        EXPECT_EQ(window.calls.back(), job == Job::kUpdate ? Success(job) : Failure(job, number));
        const Lines statuses = window.Statuses();
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Done."), 0) << "no \"Done.\" after a failure";
    }
    EXPECT_EQ(watch.timedOutReads, fault.timesOut ? 1 : 0);
    EXPECT_LE(watch.longestRead, std::chrono::milliseconds(kReadTimeoutMs + kMarginMs));
    EXPECT_LE(took.count(), (fault.timesOut ? kReadTimeoutMs : 0) + kMarginMs);

    // Fault gone, cable back in: the board takes a whole update.
    board->ClearFaults();
    watch.unplug = Inject::kSim;
    board->SetPresent(true);
    const RecordingWindow next = RunJob(Job::kUpdate, file);
    EXPECT_EQ(next.Boxes(), SuccessBoxes(Job::kUpdate));
    ExpectUpdateWritten();
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(kCommands[std::get<0>(info.param)].name) + "_" + kFaults[std::get<1>(info.param)].name + "_" +
           (std::get<2>(info.param) ? "Later" : "First");
}

INSTANTIATE_TEST_SUITE_P(AllCommandsAllFaults, FaultMatrix,
                         ::testing::Combine(::testing::Range<size_t>(0, std::size(kCommands)),
                                            ::testing::Range<size_t>(0, std::size(kFaults)), ::testing::Bool()),
                         CaseName);

}  // namespace
