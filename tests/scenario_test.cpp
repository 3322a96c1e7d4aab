#include "sim/scenario.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

SimConfig Parse(const std::string& text)
{
    SimConfig config;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, config, error)) << error;
    return config;
}

std::string ErrorOf(const std::string& text)
{
    SimConfig config;
    config.type = 9;  // must survive a failed parse
    std::string error;
    EXPECT_FALSE(ParseScenario(text, config, error)) << text;
    EXPECT_EQ(config.type, 9) << text;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    return error;
}

// Where the repository's scenario examples live, found from this file.
fs::path ExamplesDir()
{
    return fs::path(__FILE__).parent_path().parent_path() / "examples" / "scenarios";
}

TEST(Scenario, EveryKeyReachesTheConfig)
{
    const SimConfig c = Parse(R"({
        "present": false, "identifies": false, "type": 15, "firmware": false, "loader": true,
        "version": "12.07Z", "shot_counter": 4294967295,
        "pressure": ["a1B2c3D4e5F6", "000000ffffff"],
        "noise": 3, "unplug_after": 17, "replug_after_ms": 3000, "dump": "out/board.json",
        "latency": "usb-fs", "read_timeout_ms": 250
    })");
    EXPECT_FALSE(c.present);
    EXPECT_FALSE(c.identifies);
    EXPECT_EQ(c.type, 15);
    EXPECT_FALSE(c.firmware);
    EXPECT_TRUE(c.loader);
    EXPECT_EQ(c.versionMajor, 12);
    EXPECT_EQ(c.versionMinor, 7);
    EXPECT_EQ(c.versionLetter, 'Z');
    EXPECT_EQ(c.shotCounter, 4294967295u);
    EXPECT_EQ(c.pressure[0], (std::array<uint8_t, 6>{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
    EXPECT_EQ(c.pressure[1], (std::array<uint8_t, 6>{0, 0, 0, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(c.noise, 3);
    EXPECT_EQ(c.unplugAfter, 17);
    EXPECT_EQ(c.replugAfterMs, 3000);
    EXPECT_EQ(c.dumpPath, "out/board.json");
    EXPECT_TRUE(c.usbFullSpeedTiming);
    EXPECT_EQ(c.readTimeoutMs, 250);
    EXPECT_EQ(Parse(R"({"version": "3.02"})").versionLetter, '\0');
    EXPECT_FALSE(Parse(R"({"latency": "none"})").usbFullSpeedTiming);
}

TEST(Scenario, FaultEntriesBecomeFaults)
{
    const SimConfig c = Parse(R"({
        "status": {"0xc2": 5, "0x10": {"status": 255, "occurrence": 2}},
        "link_fail": {"0X07": "write", "0x40": "read", "0x90": {"fail": "read", "occurrence": 1}},
        "silent": ["0xC0", {"command": "0x0", "occurrence": 3}]
    })");
    struct Want {
        SimFaultKind kind;
        int command, occurrence, value;
    };
    // Object keys come back sorted: "link_fail", "silent", "status".
    const std::vector<Want> want = {
        {SimFaultKind::kWriteFail, 0x07, 0, 0}, {SimFaultKind::kReadFail, 0x40, 0, 0},
        {SimFaultKind::kReadFail, 0x90, 1, 0},  {SimFaultKind::kSilent, 0xC0, 0, 0},
        {SimFaultKind::kSilent, 0x00, 3, 0},    {SimFaultKind::kStatus, 0x10, 2, 255},
        {SimFaultKind::kStatus, 0xC2, 0, 5},
    };
    ASSERT_EQ(c.faults.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(c.faults[i].kind, want[i].kind);
        EXPECT_EQ(c.faults[i].command, want[i].command);
        EXPECT_EQ(c.faults[i].occurrence, want[i].occurrence);
        if (want[i].kind == SimFaultKind::kStatus) {
            EXPECT_EQ(c.faults[i].value, want[i].value);
        }
    }
}

TEST(Scenario, EmptyDocumentAndDemoAreTheDefaultBoard)
{
    for (const SimConfig& c : {Parse("{}"), [] {
             SimConfig demo;
             demo.type = 0;
             std::string error;
             EXPECT_TRUE(LoadScenario("demo", demo, error));
             return demo;
         }()}) {
        EXPECT_TRUE(c.present && c.identifies && c.firmware && !c.loader);
        EXPECT_EQ(c.type, 3);
        EXPECT_EQ(c.versionMajor, 3);
        EXPECT_EQ(c.versionMinor, 2);
        EXPECT_EQ(c.versionLetter, 'b');
        EXPECT_EQ(c.shotCounter, 1000u);
        EXPECT_EQ(c.pressure[0], (std::array<uint8_t, 6>{1, 2, 3, 0x0A, 0x0B, 0x0C}));
        EXPECT_TRUE(c.faults.empty());
        EXPECT_EQ(c.unplugAfter, -1);
        EXPECT_FALSE(c.usbFullSpeedTiming);
    }
}

TEST(Scenario, BadValuesNameTheirKey)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"colour": 1})", R"(key "colour": unknown key)"},
        {R"({"present": 1})", R"(key "present": expected true or false)"},
        {R"({"type": 16})", R"(scenario: key "type": expected an integer from 0 to 15)"},
        {R"({"type": 3.0})", R"(key "type")"},
        {R"({"type": "3"})", R"(key "type")"},
        {R"({"shot_counter": 4294967296})", R"(key "shot_counter")"},
        {R"({"shot_counter": -1})", R"(key "shot_counter")"},
        {R"({"version": "3.2b"})", R"(key "version")"},
        {R"({"version": "3.02bc"})", R"(key "version")"},
        {R"({"version": "256.00"})", R"(key "version")"},
        {R"({"version": ".02"})", R"(key "version")"},
        {R"({"version": 3.02})", R"(key "version")"},
        {R"({"pressure": ["0102030A0B0C"]})", R"(key "pressure")"},
        {R"({"pressure": ["0102030A0B0", "102030A0B0C0"]})", R"(key "pressure")"},
        {R"({"pressure": ["0102030A0B0G", "102030A0B0C0"]})", R"(key "pressure")"},
        {R"({"status": {"C2": 5}})", R"(key "status" entry "C2": expected a command code like "0xC2")"},
        {R"({"status": {"0x100": 5}})", R"(entry "0x100")"},
        {R"({"status": {"0xG1": 5}})", R"(entry "0xG1")"},
        {R"({"status": {"0xC2": 0}})", R"(key "status" entry "0xC2": expected a status from 1 to 255)"},
        {R"({"status": {"0xC2": {"occurrence": 1}}})", R"(missing field "status")"},
        {R"({"status": {"0xC2": {"status": 5, "count": 1}}})", R"(unknown field "count")"},
        {R"({"status": {"0xC2": {"status": 5, "occurrence": -1}}})", R"("occurrence")"},
        {R"({"status": []})", R"(key "status")"},
        {R"({"link_fail": {"0xC2": "both"}})", R"(key "link_fail" entry "0xC2")"},
        {R"({"silent": "0xC2"})", R"(key "silent")"},
        {R"({"silent": ["0xC2", 194]})", R"(key "silent" item 2)"},
        {R"({"noise": -1})", R"(key "noise")"},
        {R"({"unplug_after": -1})", R"(key "unplug_after")"},
        {R"({"replug_after_ms": -1})", R"(key "replug_after_ms")"},
        {R"({"dump": ""})", R"(key "dump")"},
        {R"({"latency": "usb-hs"})", R"(key "latency": expected "none" or "usb-fs")"},
        {R"({"read_timeout_ms": 0})", R"(key "read_timeout_ms")"},
        {R"([1, 2])", "expected a JSON object"},
        {"{\"type\": 3,\n \"loader\": tru}", "invalid JSON: parse error at line 2, column"},
        {"", "invalid JSON"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_NE(ErrorOf(text).find(expected), std::string::npos) << ErrorOf(text) << "\n  for " << text;
}

TEST(Scenario, LoadScenarioNamesThePath)
{
    SimConfig config;
    std::string error;
    EXPECT_FALSE(LoadScenario("no/such/scenario.json", config, error));
    EXPECT_NE(error.find("\"no/such/scenario.json\""), std::string::npos) << error;

    const fs::path file = fs::temp_directory_path() /
                          ("scenario_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".json");
    std::ofstream(file) << R"({"type": 99})";
    EXPECT_FALSE(LoadScenario(file.string(), config, error));
    EXPECT_EQ(error, "scenario \"" + file.string() + "\": key \"type\": expected an integer from 0 to 15");
    std::ofstream(file) << R"({"type": 4})";
    EXPECT_TRUE(LoadScenario(file.string(), config, error)) << error;
    EXPECT_EQ(config.type, 4);
    fs::remove(file);
}

TEST(Scenario, ExampleFilesLoadAndDriveTheBoard)
{
    const fs::path dir = ExamplesDir();
    if (!fs::is_directory(dir))
        GTEST_SKIP() << "no examples at " << dir.string();
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        SimConfig config;
        std::string error;
        EXPECT_TRUE(LoadScenario(entry.path().string(), config, error)) << error;
        ++count;
    }
    EXPECT_GE(count, 5);

    SimConfig config;
    std::string error;
    ASSERT_TRUE(LoadScenario((dir / "erase-fails.json").string(), config, error)) << error;
    SimBoard board(config);
    const int32_t handle = board.Open(0x04D8, 0xFC31, 0);
    const uint8_t erase[9] = {0, 0xC2, 0x01, 0x00, 0x10, 0x00, 0xAA, 0x55, 0};
    uint8_t reply[9] = {};
    ASSERT_GE(board.WriteShort(handle, erase, 9), 0);
    ASSERT_GE(board.Read(handle, reply, 9), 0);
    EXPECT_EQ(reply[1], 0xC2);
    EXPECT_EQ(reply[2], 5);
}

}  // namespace
