// The board check's status line and BoardStatus for each board state.
#include "support/recording_window.h"
#include "support/sim_fixture.h"
#include "worker/detection.h"

namespace {

using Lines = std::vector<std::string>;

class Detection : public SimFixture {};

TEST_F(Detection, LinesForEachBoardState)
{
    struct Case {
        const char* name;
        SimConfig config;
        Lines calls;
    };
    auto board = [](int type, bool firmware, bool loader, int major, int minor, char letter) {
        SimConfig c;
        c.type = type;
        c.firmware = firmware;
        c.loader = loader;
        c.versionMajor = major;
        c.versionMinor = minor;
        c.versionLetter = letter;
        return c;
    };
    SimConfig absent;
    absent.present = false;
    SimConfig mute;
    mute.identifies = false;
    const Case cases[] = {
        {"no board", absent, {"status: No board detected", "result: 1025 0 0"}},
        {"unidentified", mute, {"status: Connected: unidentified device", "result: 1025 65536 0"}},
        {"demo board", SimConfig(), {"status: Connected: Ferrit XR, version 3.02b", "result: 1025 1 0"}},
        {"two-digit minor", board(4, true, false, 1, 7, 0),
         {"status: Connected: Vantor 5, version 1.07", "result: 1025 1 0"}},
        {"no software", board(2, false, false, 9, 9, 'x'),
         {"status: Connected: Quasar board, no software", "result: 1025 1 0"}},
        {"in the loader, unknown type", board(5, true, true, 3, 2, 'b'),
         {"status: Connected: Grisel (unknown), version 3.02b", "result: 1025 1 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset(c.config);
        RecordingWindow window;
        DetectionJob(window);
        EXPECT_EQ(window.calls, c.calls);
        EXPECT_EQ(this->board->OpenHandles(), 0);
    }
}

TEST_F(Detection, LeavesTheSequencerAlone)
{
    ProgrammingState = 1;
    ProgrammingInitialised = 1;
    RecordingWindow window;
    DetectionJob(window);
    EXPECT_EQ(ProgrammingState, 1);
    EXPECT_EQ(ProgrammingInitialised, 1);
}

}  // namespace
