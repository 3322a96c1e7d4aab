// Random valid firmware files against the simulated board: the board must end
// up holding exactly what the file describes, and an update cut off by the
// cable and run again must end where an uninterrupted one does.
#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/firmware_builder.h"
#include "support/recording_window.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"

namespace {

using Flash = std::map<uint32_t, std::vector<uint8_t>>;
using CodeBlocks = std::vector<Bytes>;

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kAddressMask = 0xFFFFFF;
constexpr int kSeeds = 50;
const std::string kComplete = "Done/64: Update complete!";

struct Sample {
    Bytes file;
    Flash flash;      // what the board's flash must hold afterwards
    CodeBlocks code;  // the code blocks as the board logs them
};

// The board's flash as the file describes it: an erase at a block boundary
// sets the block to 0xFF, programming can only clear bits.
class FlashModel {
public:
    std::vector<uint8_t>& Block(uint32_t blockAddress)
    {
        std::vector<uint8_t>& b = flash[blockAddress];
        if (b.empty())
            b.assign(kBlock, 0xFF);
        return b;
    }
    void Write(uint32_t address, const Bytes& data)
    {
        if (address % kBlock == 0)
            std::fill(Block(address).begin(), Block(address).end(), 0xFF);
        for (size_t i = 0; i < data.size(); ++i) {
            const uint32_t a = (address + static_cast<uint32_t>(i)) & kAddressMask;
            Block(a & ~(kBlock - 1))[a % kBlock] &= data[i];
        }
    }
    Flash flash;
};

Bytes RandomBytes(std::mt19937& rng, size_t count)
{
    Bytes b(count);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

// A few blocks only, so writes meet earlier writes and erases; addresses on
// boundaries, just before them (crossing into the next block) and anywhere.
uint32_t RandomAddress(std::mt19937& rng)
{
    static const uint32_t kBlocks[] = {0x000000, 0x001000, 0x002000, 0x07F000, 0xFFF000};
    const uint32_t block = kBlocks[rng() % 5];
    switch (rng() % 4) {
    case 0:
    case 1:
        return block;
    case 2:
        return (block + kBlock - 1 - rng() % 40) & kAddressMask;
    default:
        return block + rng() % kBlock;
    }
}

Sample RandomSample(uint32_t seed)
{
    std::mt19937 rng(seed);
    Sample s;
    FirmwareBuilder fw;
    FlashModel model;
    const int records = static_cast<int>(rng() % 40);
    for (int i = 0; i < records; ++i) {
        if (rng() % 2 == 0) {
            const uint32_t address = RandomAddress(rng);
            const Bytes data = RandomBytes(rng, rng() % 65);
            fw.Data(address, data);
            model.Write(address, data);
        } else {
            Bytes code = RandomBytes(rng, rng() % 73);
            fw.Code(code);
            code.resize(72, 0);
            s.code.push_back(code);
        }
    }
    s.file = fw.bytes();
    s.flash = model.flash;
    return s;
}

// Reports the board has taken or delivered.
int ReportCount(const std::vector<SimTraceEntry>& trace)
{
    return static_cast<int>(std::count_if(trace.begin(), trace.end(), [](const SimTraceEntry& e) { return e.ok; }));
}

class UpdatePropertyTest : public SimFixture {
protected:
    // One update of file; the window it was shown in.
    RecordingWindow Update(const TempFile& file)
    {
        RecordingWindow window;
        window.fileName = file.path();
        UpdateJob(window);
        EXPECT_EQ(board->OpenHandles(), 0) << "the board must be closed";
        return window;
    }
};

TEST_F(UpdatePropertyTest, BoardHoldsExactlyWhatTheFileDescribes)
{
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Reset(SimConfig());
        const Sample s = RandomSample(seed);
        const TempFile file(s.file);
        const RecordingWindow window = Update(file);
        EXPECT_EQ(window.Boxes(), std::vector<std::string>{kComplete});
        EXPECT_TRUE(board->FlashBlocks() == s.flash) << "flash differs";
        EXPECT_TRUE(board->CodeLog() == s.code) << "code log differs";
        EXPECT_FALSE(board->InLoader());
        if (HasFailure())
            return;
    }
}

// "The same result" after a cut-off run and a second one: the flash is
// exactly the uninterrupted run's (an erase makes a block independent of what
// came before, and programming the same bytes twice clears no more bits); the
// code log is the code blocks the first run got through, which must be the
// file's first ones in order, followed by all of the file's code blocks from
// the second run.
TEST_F(UpdatePropertyTest, UnpluggedUpdateRunAgainEndsLikeAnUninterruptedOne)
{
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Sample s = RandomSample(seed);
        const TempFile file(s.file);

        // How many reports an uninterrupted update exchanges.
        Reset(SimConfig());
        Update(file);
        const int reports = ReportCount(board->Trace());
        ASSERT_GT(reports, 0);

        Reset(SimConfig());
        std::mt19937 rng(seed ^ 0x5EED);
        const int cut = static_cast<int>(rng() % static_cast<uint32_t>(reports));
        SCOPED_TRACE("unplugged after " + std::to_string(cut) + " of " + std::to_string(reports) + " reports");
        board->SetUnplugAfter(cut);
        const RecordingWindow first = Update(file);
        const std::vector<std::string> boxes = first.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].rfind("Error/16: ", 0), 0u) << boxes[0];
        const size_t partial = board->CodeLog().size();
        ASSERT_LE(partial, s.code.size());

        board->SetPresent(true);
        const RecordingWindow second = Update(file);
        EXPECT_EQ(second.Boxes(), std::vector<std::string>{kComplete});
        EXPECT_TRUE(board->FlashBlocks() == s.flash) << "flash differs";
        CodeBlocks expected(s.code.begin(), s.code.begin() + static_cast<std::ptrdiff_t>(partial));
        expected.insert(expected.end(), s.code.begin(), s.code.end());
        EXPECT_TRUE(board->CodeLog() == expected) << "code log differs";
        EXPECT_FALSE(board->InLoader());
        if (HasFailure())
            return;
    }
}

}  // namespace
