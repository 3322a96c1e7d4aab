// The progress line's text: what a terminal shows while a file is programmed.
#include <gtest/gtest.h>

#include "cli/progress.h"

namespace {

ProgressSnapshot Snapshot(uint64_t position, uint64_t size, double rate)
{
    ProgressSnapshot s;
    s.status = "Uploading data";
    s.position = position;
    s.size = size;
    s.bytesPerSecond = rate;
    return s;
}

TEST(ProgressLine, ShowsStatusPercentRateAndTimeLeft)
{
    EXPECT_EQ(FormatProgressLine(Snapshot(4200, 10000, 1460), 100), "Uploading data   42%  1.5 kB/s  0:04 left");
    // No estimate yet: no rate and no time.
    EXPECT_EQ(FormatProgressLine(Snapshot(4200, 10000, -1), 100), "Uploading data   42%");
    // An empty file has no percentage to show.
    EXPECT_EQ(FormatProgressLine(Snapshot(0, 0, 500), 100), "Uploading data");
}

TEST(ProgressLine, NeverClaimsMoreThanTheWholeFile)
{
    const std::string done = FormatProgressLine(Snapshot(12000, 10000, 800), 100);
    EXPECT_EQ(done, "Uploading data  100%  800 B/s");
}

TEST(ProgressLine, FitsTheTerminalWithoutWrapping)
{
    // The last column is left free: writing it makes some terminals wrap,
    // and a wrapped line is not redrawn by \r.
    for (size_t width : {1u, 8u, 20u, 40u}) {
        const std::string line = FormatProgressLine(Snapshot(4200, 10000, 1460), width);
        EXPECT_LT(line.size(), width) << "width " << width;
    }
}

TEST(ProgressLine, TimesRoundUpAndRatesChangeUnits)
{
    EXPECT_EQ(FormatDuration(0.2), "0:01");
    EXPECT_EQ(FormatDuration(61), "1:01");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(-3), "0:00");
    EXPECT_EQ(FormatRate(999), "999 B/s");
    EXPECT_EQ(FormatRate(999.7), "1.0 kB/s");
    EXPECT_EQ(FormatRate(1.5e6), "1.5 MB/s");
}

}  // namespace
