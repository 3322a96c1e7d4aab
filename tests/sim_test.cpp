// What only the simulated board does: scenario files, the dump, the timing
// model. Its protocol behaviour is tested through the real jobs, and what the
// dump holds through velkor.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim/scenario.h"
#include "sim/sim_board.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// Every field of a configuration on one line, faults as "kind command
// occurrence value".
std::string Describe(const SimConfig& c)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "present %d identifies %d type %d firmware %d loader %d version %d.%d%c counter %u noise %d unplug "
                  "%d replug %d dump %s usb %d timeout %d pressure %02x%02x %02x%02x spare %d upload 0x%s faults",
                  c.present, c.identifies, c.type, c.firmware, c.loader, c.versionMajor, c.versionMinor,
                  c.versionLetter ? c.versionLetter : '-', c.shotCounter, c.noise, c.unplugAfter, c.replugAfterMs, c.dumpPath.c_str(),
                  c.usbFullSpeedTiming, c.readTimeoutMs, c.pressure[0][0], c.pressure[0][5], c.pressure[1][0],
                  c.pressure[1][5], c.spareReplyBytes, c.uploadAnsweredAsCode ? "07" : "C3");
    std::string out = text;
    for (const SimFault& f : c.faults)
        out += " " + std::to_string(static_cast<int>(f.kind)) + "/" + std::to_string(f.command) + "/" +
               std::to_string(f.occurrence) + "/" + std::to_string(f.value);
    return out;
}

TEST(Scenario, Table)
{
    const std::pair<const char*, const char*> good[] = {
        {"{}", "present 1 identifies 1 type 3 firmware 1 loader 0 version 3.2b counter 1000 noise 0 unplug -1 replug -1 dump  "
               "usb 0 timeout 5000 pressure 010c 10c0 spare 0 upload 0xC3 faults"},
        {R"({"present": false, "identifies": false, "type": 15, "firmware": false, "loader": true, "version": "12.07Z",
             "shot_counter": 4294967295, "pressure": ["a1B2c3D4e5F6", "000000ffffff"], "noise": 3, "unplug_after": 17,
             "replug_after_ms": 3000, "dump": "b.json", "latency": "usb-fs", "read_timeout_ms": 250,
             "spare_reply_bytes": 255, "upload_reply": "0x7"})",
         "present 0 identifies 0 type 15 firmware 0 loader 1 version 12.7Z counter 4294967295 noise 3 unplug 17 replug 3000 dump "
         "b.json usb 1 timeout 250 pressure a1f6 00ff spare 255 upload 0x07 faults"},
        // Object keys come back sorted: "late", "link_fail", "silent", "status".
        {R"({"version": "3.02", "latency": "none", "status": {"0xc2": 5, "0x10": {"status": 255, "occurrence": 2}},
             "link_fail": {"0X07": {"fail": "write"}, "0x90": {"fail": "read", "occurrence": 1}},
             "silent": ["0xC0", {"command": "0x0", "occurrence": 3}], "late": ["0xaf"]})",
         "present 1 identifies 1 type 3 firmware 1 loader 0 version 3.2- counter 1000 noise 0 unplug -1 replug -1 dump  usb 0 "
         "timeout 5000 pressure 010c 10c0 spare 0 upload 0xC3 faults 5/175/0/0 1/7/0/0 2/144/1/0 3/192/0/0 3/0/3/0 0/16/2/255 0/194/0/5"},
    };
    for (const auto& [text, expected] : good) {
        SimConfig c;
        std::string error;
        EXPECT_TRUE(ParseScenario(text, c, error)) << text << ": " << error;
        EXPECT_EQ(Describe(c), expected);
    }

    const std::pair<const char*, const char*> bad[] = {
        {R"({"colour": 1})", R"(scenario: key "colour": unknown key)"},
        {R"({"type": 16})", R"(scenario: key "type": expected an integer from 0 to 15)"},
        {R"({"version": "3.2b"})", R"(key "version")"},
        {R"({"pressure": ["0102030A0B0G", "102030A0B0C0"]})", R"(key "pressure")"},
        {R"({"status": {"C2": 5}})", R"(key "status" entry "C2": expected a command code like "0xC2")"},
        {R"({"status": {"0xC2": 0}})", R"(key "status" entry "0xC2": expected a status from 1 to 255)"},
        {R"({"status": {"0xC2": {"status": 5, "count": 1}}})", R"(unknown field "count")"},
        {R"({"link_fail": {"0xC2": "both"}})", R"(key "link_fail" entry "0xC2")"},
        {R"({"silent": ["0xC2", 194]})", R"(key "silent" item 2)"},
        {R"({"latency": "usb-hs"})", R"(key "latency": expected "none" or "usb-fs")"},
        {R"({"upload_reply": "0xC2"})", R"(key "upload_reply": expected "0xC3" or "0x07")"},
        {R"([1, 2])", "expected a JSON object"},
        {R"({"boards": [{"type": 3}, {}]})", R"(key "boards" item 1: missing "attached_ms")"},
        {R"({"boards": [{}], "type": 3})", R"(key "type": not beside "boards")"},
        {R"({"boards": [{"attached_ms": 5, "present": false}]})", R"(key "boards" item 1: key "present": not in a "boards" entry)"},
        {R"({"boards": [{"attached_ms": 5}, {"type": 16}]})", R"(key "boards" item 2: key "type": expected an integer)"},
        {R"({"gap_ms": 5})", R"(key "gap_ms": unknown key)"},
        {"{\"type\": 3,\n \"loader\": tru}", "invalid JSON: parse error at line 2, column"},
    };
    for (const auto& [text, expected] : bad) {
        SimConfig c;
        c.type = 9;  // must survive a failed parse
        std::string error;
        EXPECT_FALSE(ParseScenario(text, c, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << error << "\n  for " << text;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(c.type, 9) << text;
    }
}

TEST(Scenario, FilesNameTheirPathAndTheExamplesLoad)
{
    SimConfig config;
    std::string error;
    const fs::path file = fs::temp_directory_path() / ("velkor-scenario-" + std::to_string(getpid()) + ".json");
    std::ofstream(file) << R"({"type": 99})";
    EXPECT_FALSE(LoadScenario(file.string(), config, error));
    EXPECT_EQ(error, "scenario \"" + file.string() + "\": key \"type\": expected an integer from 0 to 15");
    fs::remove(file);
    EXPECT_FALSE(LoadScenario(file.string(), config, error));
    EXPECT_NE(error.find("\"" + file.string() + "\""), std::string::npos) << error;

    int count = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(__FILE__).parent_path().parent_path() / "examples" / "scenarios")) {
        EXPECT_TRUE(LoadScenario(entry.path().string(), config, error)) << error;
        ++count;
    }
    EXPECT_GE(count, 5);
}

TEST(SimBoard, DumpIsWrittenOnEveryClose)
{
    const fs::path dir = fs::temp_directory_path() / ("velkor-dump-" + std::to_string(getpid()));
    fs::create_directories(dir);
    SimConfig config;
    config.dumpPath = (dir / "board.json").string();
    SimBoard board(config);
    const int32_t first = board.Open(0x04D8, 0xFC31, 0), second = board.Open(0x04D8, 0xFC31, 0);
    ASSERT_EQ(board.Close(first), 0);
    const auto read = [&] { return nlohmann::json::parse(std::ifstream(config.dumpPath)); };
    EXPECT_EQ(read()["open_handles"], 1);
    ASSERT_EQ(board.Close(second), 0);
    EXPECT_EQ(read()["open_handles"], 0);
    EXPECT_FALSE(fs::exists(config.dumpPath + ".tmp"));
    fs::remove_all(dir);
}

TEST(SimBoard, UsbFullSpeedChargesOneFramePer64Bytes)
{
    SimConfig config;
    config.usbFullSpeedTiming = true;
    SimBoard board(config);
    const int32_t h = board.Open(0x04D8, 0xFC31, 0);
    uint8_t reply[9];
    Bytes identify(9, 0), upload(73, 0);
    for (int i = 0; i < 10; ++i) {  // 1 + 1 frames each
        board.WriteShort(h, identify.data(), 9);
        board.Read(h, reply, 9);
    }
    board.WriteLong(h, upload.data(), 73);  // 2 frames
    // That the board also waits that long, the interrupted updates of the
    // process tests need.
    EXPECT_EQ(board.LinkTime(), milliseconds(22));
}

// The cable comes back on its own a set time after it went, and a board that
// starts absent arrives the same way.
TEST(SimBoard, ReplugAfterATime)
{
    for (const bool startsAbsent : {false, true}) {
        SimConfig config;
        config.present = !startsAbsent;
        config.unplugAfter = 2;
        config.replugAfterMs = 500;
        SimBoard board(config);
        if (!startsAbsent) {
            uint8_t report[9] = {}, reply[9];
            const int32_t h = board.Open(0x04D8, 0xFC31, 0);
            board.WriteShort(h, report, 9);
            EXPECT_EQ(board.Read(h, reply, 9), 9);
        }
        EXPECT_EQ(board.Open(0x04D8, 0xFC31, 0), -1) << startsAbsent;
        std::this_thread::sleep_for(milliseconds(520));
        EXPECT_GE(board.Open(0x04D8, 0xFC31, 0), 0) << startsAbsent;
    }
}

}  // namespace
