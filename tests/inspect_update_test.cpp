// Crafted firmware files through `velkor inspect` and through an update on
// the simulated board: the update refuses exactly the files inspect finds a
// problem in, with inspect's words and without a report to the board, and
// erases as many blocks as inspect counts in the files it programs.
#include <algorithm>
#include <cstdio>
#include <regex>

#include "cli/record_listing.h"
#include "support/firmware_builder.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"

namespace {

using InspectAndUpdate = SimFixture;

std::string Inspect(const std::string& path)
{
    std::FILE* out = std::tmpfile();
    InspectFirmware(path, out, stderr);
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(out);
    return text;
}

// "complete, erases N" or "refused: TEXT", from the listing's summary.
std::string InspectVerdict(const std::string& listing)
{
    std::smatch m;
    if (std::regex_search(listing, m, std::regex("refuse the file at record [0-9]+: (.*)\n")))
        return "refused: " + m[1].str();
    std::regex_search(listing, m, std::regex("erases: ([0-9]+)"));
    return "complete, erases " + m[1].str();
}

// The same from the update; a refused file must not have reached the board.
std::string UpdateVerdict(const RecordingWindow& window)
{
    const auto& calls = window.calls;
    const std::string box = window.Boxes().empty() ? "(no box)" : window.Boxes().back();
    if (box == "Done/64: Update complete!")
        return "complete, erases " + std::to_string(std::count(calls.begin(), calls.end(), "> C2"));
    const bool touched = std::any_of(calls.begin(), calls.end(), [](const auto& line) { return line.rfind("> ", 0) == 0; });
    return (touched ? "board touched, " : "refused: ") + box.substr(box.find(": ") + 2);
}

TEST_F(InspectAndUpdate, ListingPredictsTheUpdate)
{
    const std::pair<const char*, FirmwareBuilder> files[] = {
        {"clean", FirmwareBuilder().Data(0, Pattern(64)).Code(Pattern(72)).Data(0x1000, {1}).Raw({'D'})},
        {"bad check at a boundary", FirmwareBuilder().Data(0, {1}).BadCrcData(0x2000, Pattern(8))},
        {"data longer than its payload", FirmwareBuilder().Code({1}).DataPayload(
             FirmwareBuilder::DataBlockPayload(0x3000, {1, 2}, 10))},
        {"empty data record", FirmwareBuilder().Data(0x1000, {1}).DataPayload({})},
        {"65 data bytes at a boundary", FirmwareBuilder().Data(0x1040, {1}).Data(0x2000, Pattern(65))},
        {"73 code bytes", FirmwareBuilder().Data(0, {1}).Code(Pattern(73))},
        {"unknown token", FirmwareBuilder().Code({1}).Raw({'d', 1, 0})},
        {"cut short", FirmwareBuilder().Data(0, {1}).Raw({'E', 5, 1, 2})},
    };
    for (const auto& [name, fw] : files) {
        SCOPED_TRACE(name);
        Reset(SimConfig());
        const TempFile file(fw.bytes());
        window.fileName = file.path();
        UpdateJob(window);
        const std::string listing = Inspect(file.path());
        EXPECT_EQ(UpdateVerdict(window), InspectVerdict(listing)) << listing;
    }
}

}  // namespace
