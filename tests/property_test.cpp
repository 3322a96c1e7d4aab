// Random valid firmware files against the simulated board: the board must end
// up holding exactly what the file describes, and an update cut off by the
// cable and run again must end where an uninterrupted one does.
#include <random>

#include "support/firmware_builder.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"

namespace {

constexpr uint32_t kSeeds = 50;
const std::vector<std::string> kComplete = {"Done/64: Update complete!"};

// A few blocks only, so writes meet earlier writes and erases; addresses on
// boundaries, just before them (crossing into the next block) and anywhere;
// the last block wraps at the top of the 24-bit range.
FirmwareBuilder RandomFile(uint32_t seed)
{
    std::mt19937 rng(seed);
    const auto bytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b)
            x = static_cast<uint8_t>(rng());
        return b;
    };
    static const uint32_t kBlocks[] = {0x000000, 0x001000, 0x002000, 0x07F000, 0xFFF000};
    FirmwareBuilder fw;
    for (uint32_t i = rng() % 40; i > 0; --i) {
        const uint32_t block = kBlocks[rng() % 5], kind = rng() % 4;
        const uint32_t address = kind < 2 ? block : kind == 2 ? (block + 4095 - rng() % 40) & 0xFFFFFF : block + rng() % 4096;
        if (rng() % 2 == 0)
            fw.Data(address, bytes(rng() % 65));
        else
            fw.Code(bytes(rng() % 73));
    }
    return fw;
}

using UpdateProperty = SimFixture;

// An uninterrupted run counts the reports a cut may fall on. After a cut-off
// run and a second one the flash is exactly what the file describes (an erase
// makes a block independent of what came before, and programming the same
// bytes twice clears no more bits); the code log is the file's first code
// blocks, as far as the first run got, then all of them.
TEST_F(UpdateProperty, UnpluggedUpdateRunAgainEndsLikeAnUninterruptedOne)
{
    const auto update = [&](const TempFile& file) {
        window.calls.clear();
        window.fileName = file.path();
        UpdateJob(window);
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        return window.Boxes();
    };
    for (uint32_t seed = 1; seed <= kSeeds && !HasFailure(); ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const FirmwareBuilder fw = RandomFile(seed);
        const TempFile file(fw.bytes());
        Reset(SimConfig());
        EXPECT_EQ(update(file), kComplete);
        int reports = 0;
        for (const SimTraceEntry& e : board->Trace())
            reports += e.ok;

        Reset(SimConfig());
        const int cut = static_cast<int>(std::mt19937(seed ^ 0x5EED)() % static_cast<uint32_t>(reports));
        SCOPED_TRACE("unplugged after " + std::to_string(cut) + " of " + std::to_string(reports) + " reports");
        board->SetUnplugAfter(cut);
        const std::vector<std::string> boxes = update(file);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].rfind("Error/16: ", 0), 0u) << boxes[0];
        std::vector<Bytes> code = board->CodeLog();
        ASSERT_LE(code.size(), fw.code.size());
        EXPECT_TRUE(std::equal(code.begin(), code.end(), fw.code.begin()));

        board->SetPresent(true);
        EXPECT_EQ(update(file), kComplete);
        EXPECT_TRUE(board->FlashBlocks() == fw.flash) << "flash differs";
        code.insert(code.end(), fw.code.begin(), fw.code.end());
        EXPECT_TRUE(board->CodeLog() == code) << "code log differs";
        EXPECT_FALSE(board->InLoader());
    }
}

}  // namespace
