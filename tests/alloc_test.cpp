// The update job must not allocate per record: a long file would otherwise
// cost heap traffic in the middle of an update. Allocations the simulated
// board makes (its trace, code log, reply queue) are not the job's and are
// left out by marking every call into the board.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "link/board_link.h"
#include "link/hid.h"
#include "sim/sim_setup.h"
#include "support/firmware_builder.h"
#include "support/quiet_window.h"
#include "update/sequencer.h"
#include "update/update_job.h"

namespace {
std::atomic<long> gAllocations{0};
thread_local bool tInBoard = false;
}  // namespace

void* operator new(std::size_t size)
{
    gAllocations += tInBoard ? 0 : 1;
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
    [](uint16_t v, uint16_t p) { BoardCall c; return kSimHidBackend.list(v, p); },
    [](const char* path) { BoardCall c; return kSimHidBackend.open(path); },
    [](int32_t h, const uint8_t* b, int32_t n) { BoardCall c; return kSimHidBackend.writeShort(h, b, n); },
    [](int32_t h, uint8_t* b, int32_t n, int32_t t) { BoardCall c; return kSimHidBackend.read(h, b, n, t); },
    [](int32_t h, const uint8_t* b, int32_t n) { BoardCall c; return kSimHidBackend.writeLong(h, b, n); },
    [](int32_t h) { BoardCall c; return kSimHidBackend.close(h); },
    [](int32_t h, uint16_t& v, uint16_t& p) { BoardCall c; return kSimHidBackend.ids(h, v, p); },
};

// Data and code blocks alternating, so every record also switches the mode.
long JobAllocations(int pairs)
{
    FirmwareBuilder fw;
    for (int i = 0; i < pairs; ++i)
        fw.Data(0x1000 + 64 * static_cast<uint32_t>(i % 64), Pattern(64, static_cast<uint8_t>(i))).Code(Pattern(72));
    SimBoard board;
    const SimLinkSetup setup(&board, [](uint32_t) {}, 0, &kMarkedSimBackend);
    ProgrammingState = -1;
    const TempFile file(fw.bytes());
    QuietWindow window(file.path().c_str());
    const long before = gAllocations;
    UpdateJob(window);
    const long count = gAllocations - before;
    EXPECT_TRUE(window.complete);
    return count;
}

TEST(UpdateJobAllocation, DoesNotGrowWithTheNumberOfRecords)
{
    // The counter must see what the job allocates, or the check proves
    // nothing; called directly, as a new expression's may be elided.
    const long before = gAllocations;
    ::operator delete(::operator new(4));
    EXPECT_EQ(gAllocations - before, 1);
    EXPECT_EQ(JobAllocations(100), JobAllocations(200));
}

}  // namespace
