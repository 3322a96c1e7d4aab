// The update job must not allocate per record: a long file would otherwise
// cost heap traffic in the middle of an update. Allocations the simulated
// board makes (its trace, code log, reply queue) are not the job's and are
// left out by marking every call into the board.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

#include "link/board_link.h"
#include "link/hid.h"
#include "sim/sim_board.h"
#include "support/firmware_builder.h"
#include "update/sequencer.h"
#include "update/update_job.h"
#include "worker/job_window.h"
#include "support/quiet_window.h"

namespace {

std::atomic<long> gAllocations{0};
thread_local bool tInBoard = false;

}  // namespace

void* operator new(std::size_t size)
{
    if (!tInBoard)
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct BoardCall {
    BoardCall() { tInBoard = true; }
    ~BoardCall() { tInBoard = false; }
};

const HidBackend kMarkedSimBackend = {
    [](uint16_t v, uint16_t p, int32_t r) { BoardCall c; return kSimHidBackend.open(v, p, r); },
    [](int32_t h, const uint8_t* b, int32_t n) { BoardCall c; return kSimHidBackend.writeShort(h, b, n); },
    [](int32_t h, uint8_t* b, int32_t n) { BoardCall c; return kSimHidBackend.read(h, b, n); },
    [](int32_t h, const uint8_t* b, int32_t n) { BoardCall c; return kSimHidBackend.writeLong(h, b, n); },
    [](int32_t h) { BoardCall c; return kSimHidBackend.close(h); },
};

// Data and code blocks alternating, so every record also switches the mode.
Bytes File(int pairs)
{
    FirmwareBuilder fw;
    for (int i = 0; i < pairs; ++i) {
        fw.Data(0x1000 + 64 * static_cast<uint32_t>(i % 64), Pattern(64, static_cast<uint8_t>(i)));
        fw.Code(Pattern(72, static_cast<uint8_t>(i)));
    }
    return fw.bytes();
}

long JobAllocations(const Bytes& contents)
{
    SimConfig config;
    config.readTimeoutMs = 50;
    SimBoard board(config);
    InstallSimBoard(&board);
    SetHidBackend(&kMarkedSimBackend);
    SetBoardSleep([](uint32_t) {});
    ProgrammingState = -1;
    ProgrammingInitialised = 0;
    const TempFile file(contents);
    QuietWindow window(file.path().c_str());

    const long before = gAllocations.load();
    UpdateJob(window);
    const long count = gAllocations.load() - before;

    SetHidBackend(nullptr);
    InstallSimBoard(nullptr);
    SetBoardSleep(nullptr);
    EXPECT_TRUE(window.complete);
    return count;
}

TEST(UpdateJobAllocation, DoesNotGrowWithTheNumberOfRecords)
{
    const long n = JobAllocations(File(100));
    const long twice = JobAllocations(File(200));
    EXPECT_EQ(n, twice) << "allocations for 200 records: " << n << ", for 400: " << twice;
    std::printf("job allocations per update: %ld (200 records), %ld (400 records)\n", n, twice);
}

// The counter must see what the job allocates, or the test above proves
// nothing.
TEST(UpdateJobAllocation, CounterSeesAllocationsOutsideTheBoard)
{
    // Called directly: a new expression's allocation may be elided.
    const long before = gAllocations.load();
    ::operator delete(::operator new(4));
    {
        BoardCall c;
        ::operator delete(::operator new(4));
    }
    EXPECT_EQ(gAllocations.load() - before, 1);
}

}  // namespace
