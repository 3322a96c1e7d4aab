// Service jobs: the shot counter and the pressure readout, their boxes and
// their results.
#include "link/commands.h"
#include "support/recording_window.h"
#include "support/sim_fixture.h"
#include "worker/messages.h"
#include "worker/service.h"

namespace {

using Lines = std::vector<std::string>;

class Service : public SimFixture {
protected:
    Lines Run(uint32_t wparam, int32_t lparam)
    {
        window.calls.clear();
        ServiceJob(window, wparam, lparam);
        EXPECT_EQ(board->OpenHandles(), 0);
        return window.calls;
    }
    RecordingWindow window;
};

TEST_F(Service, ShotCounterQueryAndSet)
{
    SimConfig config;
    config.shotCounter = 900;
    Reset(config);
    EXPECT_EQ(Run(0x10140, 0), Lines{"result: 1029 320 900"});
    EXPECT_EQ(Run(64, 12345), Lines{"result: 1029 64 12345"});
    EXPECT_EQ(board->ShotCounter(), 12345u);
}

TEST_F(Service, ShotCounterFailures)
{
    board->AddFault({SimFaultKind::kStatus, kCmdAccessShotCounter, 0, 5});
    EXPECT_EQ(Run(64, 1), (Lines{"box: Error/16: Error -5 getting shot count", "result: 1029 65600 5"}));

    board->ClearFaults();
    board->AddFault({SimFaultKind::kReadFail, kCmdAccessShotCounter, 0, 0});
    EXPECT_EQ(Run(0x10140, 0), (Lines{"box: Error/16: Error -1 getting shot count", "result: 1029 65856 1"}));

    SimConfig big;
    big.shotCounter = 0x80000000u;
    Reset(big);
    EXPECT_EQ(Run(0x10140, 0), (Lines{"box: Error/16: Error -2147483648 getting shot count",
                                      "result: 1029 65856 -2147483648"}));
}

TEST_F(Service, NoBoard)
{
    board->SetPresent(false);
    EXPECT_EQ(Run(0x10140, 0), (Lines{"box: Error/16: Could not connect to device", "result: 1029 65856 0"}));
    EXPECT_EQ(Run(144, 0), (Lines{"box: Error/16: Could not connect to device", "result: 1029 65680 0"}));
}

TEST_F(Service, PressureReadout)
{
    bool openWhileShown = false;
    window.onCall = [&](const std::string& line) {
        if (line.rfind("box: ", 0) == 0)
            openWhileShown = board->OpenHandles() == 1;
    };
    EXPECT_EQ(Run(144, 0), (Lines{"box: Raw Pressure Values/64: 1D = 010203  1B = 0A0B0C\n"
                                  "2D = 102030  2B = A0B0C0\n",
                                  "result: 1029 144 0"}));
    EXPECT_TRUE(openWhileShown) << "the board stays open while the readout is on screen";
}

TEST_F(Service, PressureFailureStopsAtTheFirstFailingRead)
{
    board->AddFault({SimFaultKind::kStatus, kCmdReadPressure, 1, 7});
    EXPECT_EQ(Run(144, 0), (Lines{"box: Error/16: Not available with this build", "result: 1029 65680 7"}));
    int pressureReads = 0;
    for (int c : Commands())
        pressureReads += c == kCmdReadPressure;
    EXPECT_EQ(pressureReads, 1);

    board->AddFault({SimFaultKind::kStatus, kCmdReadPressure, 3, 9});
    EXPECT_EQ(Run(144, 0), (Lines{"box: Error/16: Not available with this build", "result: 1029 65680 9"}));
}

TEST_F(Service, UnknownCodeStillBringsTheBoardToItsApplication)
{
    SimConfig config;
    config.loader = true;
    Reset(config);
    EXPECT_EQ(Run(65, 0), (Lines{"status: Booting firmware...", "box: Internal Error/16: Unknown command issued",
                                 "result: 1029 65601 0"}));
    EXPECT_FALSE(board->InLoader());
}

TEST_F(Service, SequencerFailureDoesNotStopTheCommand)
{
    // Left in the loader by an earlier job; the boot is refused.
    SimConfig config;
    config.loader = true;
    Reset(config);
    ProgrammingState = 1;
    board->AddFault({SimFaultKind::kStatus, kCmdCompleteProgramming, 0, 9});
    const Lines calls = Run(0x10140, 0);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1], "box: Error/16: Error 9 completing programming process");
    // The counter command is sent to a board still in its loader, which refuses it.
    EXPECT_EQ(calls[3], "result: 1029 65856 " + std::to_string(kSimWrongMode));
}

}  // namespace

// What a real link does to replies: one that comes too late is read by the
// next exchange and must be dropped there; more than the host queues are lost.
TEST_F(Service, LateAndLostReplies)
{
    SimConfig config;
    config.loader = true;
    config.shotCounter = 70000;
    Reset(config);
    board->AddFault({SimFaultKind::kLate, kCmdBootFirmware, 1, 0});
    EXPECT_EQ(Run(0x10140, 0), (Lines{"status: Booting firmware...",
                                      "box: Error/16: Error -1 communicating with marker",
                                      "result: 1029 320 70000"}));

    Reset(SimConfig());
    board->AddFault({SimFaultKind::kNoise, kCmdAccessShotCounter, 0, 32});
    EXPECT_EQ(Run(0x10140, 0), (Lines{"box: Error/16: Error -1 getting shot count", "result: 1029 65856 1"}));
}
