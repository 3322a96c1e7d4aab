// Report exchanges: what reaches the board, what ends an exchange and with
// which result.
#include <chrono>

#include "link/board_link.h"
#include "link/commands.h"
#include "support/sim_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

class BoardLink : public SimFixture {
protected:
    int32_t Open()
    {
        const int32_t h = OpenBoard();
        EXPECT_GE(h, 0);
        return h;
    }
};

TEST_F(BoardLink, RepliesWithOtherCodesAreDroppedUntilTheAwaitedOne)
{
    board->AddFault({SimFaultKind::kNoise, kCmdEnterLoader, 0, 3});
    board->AddFault({SimFaultKind::kNoise, kSimKeyCodeBlock, 0, 2});
    const int32_t h = Open();
    auto readsSoFar = [this] {
        int reads = 0;
        for (const auto& e : board->Trace())
            reads += e.fromHost ? 0 : 1;
        return reads;
    };
    EXPECT_EQ(SendSimpleCommand(h, kCmdEnterLoader), 0);
    EXPECT_EQ(readsSoFar(), 4);  // three dropped, then the reply
    EXPECT_EQ(InitProgramming(h), 0);
    EXPECT_EQ(readsSoFar(), 5);
    const uint8_t code[3] = {0x20, 0x21, 0x22};
    EXPECT_EQ(SendLongReport(h, code, 3, kCmdCodeBlockReply), 0);
    EXPECT_EQ(readsSoFar(), 8);
    EXPECT_EQ(board->CodeLog().size(), 1u);
    CloseBoard(h);
    EXPECT_EQ(board->OpenHandles(), 0);
}

TEST_F(BoardLink, ShortExchangeFailuresReturnTheLibraryResult)
{
    board->AddFault({SimFaultKind::kWriteFail, kCmdCompleteProgramming, 1, 0});
    board->AddFault({SimFaultKind::kReadFail, kCmdCompleteProgramming, 2, 0});
    const int32_t h = Open();
    EXPECT_EQ(SendSimpleCommand(h, kCmdCompleteProgramming), -1);
    EXPECT_EQ(SendSimpleCommand(h, kCmdCompleteProgramming), -1);
    // The write failure sent nothing, so nothing was read for it.
    const auto trace = board->Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_TRUE(trace[0].fromHost);
    EXPECT_FALSE(trace[0].ok);
    EXPECT_TRUE(trace[1].fromHost);
    CloseBoard(h);
}

TEST_F(BoardLink, LongExchangeCodesForTooLongWriteAndReadFailures)
{
    board->AddFault({SimFaultKind::kWriteFail, kSimKeyCodeBlock, 1, 0});
    board->AddFault({SimFaultKind::kReadFail, kSimKeyCodeBlock, 2, 0});
    const int32_t h = Open();
    ASSERT_EQ(EnterLoader(h), 0);
    ASSERT_EQ(InitProgramming(h), 0);
    board->ClearTrace();

    uint8_t payload[73];
    for (int i = 0; i < 73; ++i)
        payload[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(ProgramCodeBlock(h, payload, 73), -1);
    EXPECT_TRUE(board->Trace().empty()) << "a too-long payload must not be written";

    EXPECT_EQ(ProgramCodeBlock(h, payload, 72), 1);
    EXPECT_EQ(ProgramCodeBlock(h, payload, 72), 2);
    EXPECT_EQ(ProgramCodeBlock(h, payload, 72), 0);

    // A full payload fills the report to its last byte.
    const auto log = board->CodeLog();
    ASSERT_GE(log.size(), 1u);
    EXPECT_EQ(log.back(), std::vector<uint8_t>(payload, payload + 72));
    CloseBoard(h);
}

TEST_F(BoardLink, SilentBoardEndsTheExchangeAtTheReadTimeOut)
{
    board->AddFault({SimFaultKind::kSilent, kCmdCompleteProgramming, 0, 0});
    const int32_t h = Open();
    const auto start = Clock::now();
    EXPECT_LT(SendSimpleCommand(h, kCmdCompleteProgramming), 0);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_GE(waited.count(), kShortTimeoutMs - 5);
    EXPECT_LT(waited.count(), kShortTimeoutMs + 2000);
    CloseBoard(h);
}

TEST_F(BoardLink, OpenFailsWithoutABoard)
{
    board->SetPresent(false);
    EXPECT_LT(OpenBoard(), 0);
    InstallSimBoard(nullptr);
    EXPECT_LT(OpenBoard(), 0);
}

}  // namespace
