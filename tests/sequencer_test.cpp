// Moving the board between application and loader: what is sent, what is
// shown, and the state left behind, on success and on each failure.
#include "link/commands.h"
#include "support/recording_window.h"
#include "support/sim_fixture.h"
#include "update/sequencer.h"

namespace {

struct State {
    int32_t mode;
    int32_t initialised;
    bool operator==(const State& o) const { return mode == o.mode && initialised == o.initialised; }
};

std::ostream& operator<<(std::ostream& os, const State& s)
{
    return os << "(" << s.mode << ", " << s.initialised << ")";
}

class Sequencer : public SimFixture {
protected:
    // Puts board and sequencer into a starting point: the board in its
    // loader or not, programming opened or not, and the sequencer's record.
    void Start(bool boardInLoader, bool programmingOpen, State state)
    {
        SimConfig config;
        config.loader = boardInLoader;
        Reset(config);
        handle = OpenBoard();
        ASSERT_GE(handle, 0);
        if (programmingOpen) {
            ASSERT_EQ(InitProgramming(handle), 0);
        }
        board->ClearTrace();
        ProgrammingState = state.mode;
        ProgrammingInitialised = state.initialised;
    }

    int32_t Request(int32_t request) { return LoaderSequencer(window, handle, request); }
    State Now() const { return {ProgrammingState, ProgrammingInitialised}; }

    void TearDown() override
    {
        if (handle >= 0)
            CloseBoard(handle);
        SimFixture::TearDown();
    }

    RecordingWindow window;
    int32_t handle = -1;
};

TEST_F(Sequencer, Transitions)
{
    struct Case {
        const char* name;
        bool boardInLoader, programmingOpen;
        State from;
        int32_t request;
        std::vector<int> commands;
        std::vector<std::string> statuses;
        int32_t result;
        State to;
        size_t pauses;
    };
    const Case cases[] = {
        {"first code block, application", false, false, {-1, 0}, 1, {0x00, 0x02, 0x06},
         {"Starting update process..."}, 1, {1, 1}, 1},
        {"first code block, already in loader", true, false, {-1, 0}, 1, {0x00, 0x06}, {}, 1, {1, 1}, 0},
        {"further code blocks", true, true, {1, 1}, 1, {}, {}, 1, {1, 1}, 0},
        {"loader, not initialised", true, false, {1, 0}, 1, {0x06}, {}, 1, {1, 1}, 0},
        {"data block after code blocks", true, true, {1, 1}, 0, {0x08, 0x01, 0xC0},
         {"Booting firmware..."}, 0, {0, 0}, 1},
        {"first data block, application", false, false, {-1, 0}, 0, {0x00}, {}, 0, {0, 0}, 0},
        {"further data blocks", false, false, {0, 0}, 0, {}, {}, 0, {0, 0}, 0},
        {"application request boots a board found in its loader", true, false, {-1, 0}, 0,
         {0x00, 0x08, 0x01, 0xC0}, {"Booting firmware..."}, 0, {0, 0}, 1},
        {"reset", true, true, {1, 1}, -1, {}, {}, 0, {-1, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(c.boardInLoader, c.programmingOpen, c.from);
        window.calls.clear();
        EXPECT_EQ(Request(c.request), c.result);
        EXPECT_EQ(Commands(), c.commands);
        EXPECT_EQ(window.Statuses(), c.statuses);
        EXPECT_TRUE(window.Boxes().empty());
        EXPECT_EQ(Now(), c.to);
        EXPECT_EQ(Pauses().size(), c.pauses);
        EXPECT_EQ(board->InLoader(), c.to.mode == 1 || (c.to.mode == -1 && c.boardInLoader));
        CloseBoard(handle);
        handle = -1;
    }
}

TEST_F(Sequencer, Failures)
{
    struct Case {
        const char* name;
        bool boardInLoader;
        State from;
        int32_t request;
        SimFault fault;
        std::string box;
        State to;
        size_t pauses;
    };
    const Case cases[] = {
        {"identify fails", false, {-1, 0}, 1, {SimFaultKind::kReadFail, kCmdIdentify, 0, 0},
         "Could not query version information", {-1, 0}, 0},
        {"enter loader refused", false, {0, 0}, 1, {SimFaultKind::kStatus, kCmdEnterLoader, 0, 5},
         "Error 5 communicating with marker", {0, 0}, 0},
        {"enter loader write fails", false, {0, 0}, 1, {SimFaultKind::kWriteFail, kCmdEnterLoader, 0, 0},
         "Error -1 communicating with marker", {0, 0}, 0},
        {"init programming refused", false, {0, 0}, 1, {SimFaultKind::kStatus, kCmdInitProgramming, 0, 7},
         "Error 7 initialising programming process", {0, 0}, 1},
        {"complete programming refused", true, {1, 1}, 0,
         {SimFaultKind::kStatus, kCmdCompleteProgramming, 0, 9}, "Error 9 completing programming process",
         {1, 1}, 0},
        {"boot refused", true, {1, 1}, 0, {SimFaultKind::kStatus, kCmdBootFirmware, 0, 3},
         "Error 3 communicating with marker", {1, 0}, 0},
        {"start data upload refused", true, {1, 1}, 0, {SimFaultKind::kStatus, kCmdStartDataUpload, 0, 4},
         "Error -4 starting data upload", {1, 0}, 1},
        {"start data upload read fails", true, {1, 1}, 0,
         {SimFaultKind::kReadFail, kCmdStartDataUpload, 0, 0}, "Error -1 starting data upload", {1, 0}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(c.boardInLoader, c.from.initialised != 0, c.from);
        board->AddFault(c.fault);
        window.calls.clear();
        EXPECT_EQ(Request(c.request), -1);
        EXPECT_EQ(window.Boxes(), std::vector<std::string>{"Error/16: " + c.box});
        EXPECT_EQ(Now(), c.to);
        EXPECT_EQ(Pauses().size(), c.pauses);
        CloseBoard(handle);
        handle = -1;
    }
}

TEST_F(Sequencer, StartDataUploadValueOtherThanZeroIsAFailure)
{
    SimConfig config;
    config.loader = true;
    config.uploadValue = 0x001000;
    Reset(config);
    handle = OpenBoard();
    EXPECT_EQ(Request(0), -1);
    EXPECT_EQ(window.Boxes(), std::vector<std::string>{"Error/16: Error 4096 starting data upload"});
    EXPECT_EQ(Now(), (State{1, 0}));
}

TEST_F(Sequencer, FailedIdentifyIsTriedAgainOnTheNextRequest)
{
    Start(false, false, {-1, 0});
    board->AddFault({SimFaultKind::kReadFail, kCmdIdentify, 1, 0});
    EXPECT_EQ(Request(0), -1);
    EXPECT_EQ(Request(0), 0);
    EXPECT_EQ(Commands(), (std::vector<int>{0x00, 0x00}));
    EXPECT_EQ(Now(), (State{0, 0}));
}

}  // namespace
