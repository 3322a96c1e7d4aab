// What Ctrl+C and the requests to end do, decided alike on every platform:
// run natively for the POSIX signals and under Wine for the Windows console's
// events, which Wine cannot send (tests/velkor_test.cpp sends the signals).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "cli/interrupts.h"

namespace {

using I = Interrupt;

std::string g_notices;

// One letter per interrupt for what it does (g: go on, h: hold, e: end at
// once), then the notices shown (C: with "Ctrl+C again", S: without) and
// whether the job was asked to stop.
std::string Actions(bool abortable, std::initializer_list<Interrupt> interrupts)
{
    SetAbortable(abortable);
    g_notices.clear();
    std::string actions;
    for (Interrupt i : interrupts)
        actions += "ghe"[static_cast<int>(OnInterrupt(i))];
    return actions + " " + g_notices + (TakeAbortRequest() ? " stop" : "");
}

TEST(Interrupts, OnlyASecondCtrlCEndsAnUpdateInMidRecord)
{
    SetInterruptHooks([](bool ctrlC) { g_notices += ctrlC ? 'C' : 'S'; }, nullptr);
    // Outside an update: at once, but for the logoff, sent to services too.
    EXPECT_EQ(Actions(false, {I::kCtrlC}), "e ");
    EXPECT_EQ(Actions(false, {I::kEndRequest}), "e ");
    EXPECT_EQ(Actions(false, {I::kClose}), "e ");
    EXPECT_EQ(Actions(false, {I::kLogoff}), "g ");
    // During one: a session's end, repeated; a console's close or shutdown
    // holds its handler; a logoff changes nothing.
    EXPECT_EQ(Actions(true, {I::kEndRequest, I::kEndRequest, I::kEndRequest}), "ggg S stop");
    EXPECT_EQ(Actions(true, {I::kClose, I::kClose}), "hh S stop");
    EXPECT_EQ(Actions(true, {I::kLogoff, I::kLogoff}), "gg ");
    EXPECT_EQ(Actions(true, {I::kCtrlC, I::kEndRequest, I::kClose, I::kCtrlC}), "gghe C stop");
    EXPECT_EQ(Actions(true, {I::kEndRequest, I::kCtrlC, I::kCtrlC}), "gge SC stop");
    SetInterruptHooks(nullptr, nullptr);
}

// The held handler lets the program end only once the update has stopped.
TEST(Interrupts, HoldLastsUntilTheUpdateHasEnded)
{
    SetAbortable(true);
    std::future<void> held = std::async(std::launch::async, WaitWhileAbortable);
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    SetAbortable(false);
    EXPECT_EQ(held.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
