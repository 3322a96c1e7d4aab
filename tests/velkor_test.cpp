// velkor and make_firmware as a user or a script runs them: arguments and
// stdin in; stdout, stderr and the exit status out; the simulated board's dump
// as the proof of what reached the board.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/progress.h"
#include "cli_process.h"
#include "support/firmware_builder.h"

namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

const std::string kVelkor = VELKOR_BINARY;
const std::string kTool = MAKE_FIRMWARE_BINARY;
const std::string kDemo = std::string(VELKOR_SOURCE_DIR) + "/examples/demo.enc";
const std::string kPw = "zephyr\n";

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string Describe(const ProcessResult& r)
{
    return "exit " + std::to_string(r.status) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

json ReadDump(const std::string& path)
{
    std::ifstream in(path);
    return in ? json::parse(in, nullptr, false) : json();
}

// The dump's terms for what a board holds after a whole file.
std::string Hex(const Bytes& b)
{
    std::string t;
    for (uint8_t x : b) {
        t += "0123456789abcdef"[x >> 4];
        t += "0123456789abcdef"[x & 15];
    }
    return t;
}

json Image(const FirmwareBuilder& fw)
{
    json data = json::object(), code = json::array();
    for (const auto& [address, block] : fw.flash) {
        char name[16];
        std::snprintf(name, sizeof name, "0x%06x", address);
        data[name] = Hex(block);
    }
    for (const Bytes& c : fw.code)
        code.push_back(Hex(c));
    return {{"data", data}, {"code", code}};
}

struct Case {
    Args args;
    std::string input;
    std::string out;  // contained in stdout ("" for none at all)
    std::string err;  // all of stderr; "*" for any one line
    int status;
};

TEST(Velkor, Table)
{
    TempDir dir;
    auto scenario = [&](const json& s) {
        static int n = 0;
        return dir.Write("board" + std::to_string(n++) + ".json", s.dump());
    };
    FirmwareBuilder fw;
    fw.Data(0, Pattern(64)).Data(64, Pattern(64)).Code(Pattern(8)).Data(0x12340, Pattern(8)).Code({1});
    FirmwareBuilder bad = fw;
    bad.BadCrcData(128, Pattern(64));
    const std::string file = dir.Write("fw.enc", Text(fw.bytes())), badFile = dir.Write("bad.enc", Text(bad.bytes()));
    const std::string dump = dir.Path("dump.json"), setDump = dir.Path("set.json");
    const std::string stray = dir.Write("stray.enc", Text(FirmwareBuilder().Data(0, Pattern(16)).Raw({'D'}).bytes()));
    const std::string tooLong = dir.Write("long.enc", Text(FirmwareBuilder().Data(0x1000, Pattern(65)).bytes()));
    const std::string absent = scenario({{"present", false}});
    const std::string listing =
        "     0  0x000000  D 0x44      72  data at 0x000000, 64 bytes, check ok, erase first\n"
        "     1  0x00004a  D 0x44      72  data at 0x000040, 64 bytes, check ok\n"
        "     2  0x000094  E 0x45       8  code, first byte 0x00\n"
        "     3  0x00009e  D 0x44      16  data at 0x012340, 8 bytes, check ok\n"
        "     4  0x0000b0  E 0x45       1  code, first byte 0x01\n"
        "\nrecords: 2 code, 3 data\ndata bytes: 136, addresses 0x000000 to 0x012347\nerases: 1\n";
    const Case cases[] = {
        // detect: the status line and the exit by board state
        {{"--sim", "demo", "detect"}, "", "Connected: Ferrit XR, version 3.02b\n", "", 0},
        {{"detect", "--sim", scenario({{"type", 4}, {"version", "1.07"}})}, "", "Connected: Vantor 5, version 1.07\n", "", 0},
        {{"--sim", scenario({{"identifies", false}}), "detect"}, "", "Connected: unidentified device\n", "", 1},
        {{"--sim", absent, "detect"}, "", "No board detected\n", "", 3},
        {{"--sim", "demo", "--verbose", "detect"}, "", "Connected: Ferrit XR", "write 00 00 00 00 00 00 00 00 00\nread  00 00 43 00 00 03 02 62 00\n", 0},
        {{"--sim", absent, "--wait", "1", "program", file}, "", "", "No board detected within 1 s\n", 3},
        {{"--sim", "demo", "--wait", "5", "detect"}, "", "Connected: Ferrit XR", "", 0},
        // program: success, and every failure on one stderr line
        {{"--sim", scenario({{"dump", dump}}), "program", file}, "", "Done.\nUpdate complete!\nWait...\n", "", 0},
        {{"--sim", "demo", "program", kDemo}, "", "Update complete!\nWait...\n", "", 0},
        {{"--sim", scenario({{"status", {{"0xC2", 5}}}}), "program", file}, "", "Wait...\n", "Error 5 erasing 0x000000\n", 1},
        {{"--sim", scenario({{"link_fail", {{"0x10", "read"}}}}), "program", file}, "", "Wait...\n", "Error 2 uploading data\n", 1},
        {{"--sim", scenario({{"unplug_after", 9}}), "program", file}, "", "Wait...\n", "*", 1},
        {{"--sim", absent, "program", file}, "", "Wait...\n", "Could not connect to device\n", 3},
        {{"--sim", "demo", "program", dir.Path("missing.enc")}, "", "Wait...\n", "Could not open firmware file\n", 1},
        {{"--sim", "demo", "program", ""}, "", "Wait...\n", "Firmware file not selected\n", 1},
        {{"--sim", "demo", "program", badFile}, "", "Wait...\n", "CRC error in block 5\n", 1},
        {{"--sim", "demo", "program", std::string(259, 'x')}, "", "", "*", 2},
        // inspect: the listing, and the record the update would stop at
        {{"inspect", file}, "", listing + "no problems: the update would program the whole file\n", "", 0},
        {{"inspect", badFile}, "", "problems: 1\nthe update would stop at record 5: CRC error in block 5\n", "", 1},
        {{"inspect", tooLong}, "", "the update would stop at record 0: Error -1 uploading data\n", "", 1},
        {{"inspect", stray}, "", "1 stray byte after the last record", "", 0},
        {{"inspect", dir.Path("missing.enc")}, "", "", "*", 1},
        // service commands: the password first, then the command
        {{"--sim", scenario({{"shot_counter", 2147483647}}), "shots", "--password-stdin"}, kPw, "2147483647\n", "", 0},
        {{"--sim", "demo", "shots", "--password-stdin"}, "zephyr\r\n", "1000\n", "", 0},
        {{"--sim", "demo", "shots", "--password-stdin"}, "Zephyr\n", "", "Password incorrect\n", 1},
        {{"--sim", "demo", "shots", "--password-stdin"}, "zephyrzephyr\n", "", "Password incorrect\n", 1},
        {{"--sim", scenario({{"dump", setDump}}), "shots", "--set", "4294967295", "--password-stdin"}, kPw, "",
         "Error -1 getting shot count\n", 1},
        {{"--sim", "demo", "shots", "--set", "2147483647", "--password-stdin"}, kPw, "New shot counter set\n", "", 0},
        {{"--sim", "demo", "pressure", "--password-stdin"}, kPw, "1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n", "", 0},
        {{"--sim", scenario({{"loader", true}, {"status", {{"0xC0", 5}}}}), "shots", "--password-stdin"}, kPw,
         "Booting firmware...\n1000\n", "Error -5 starting data upload\n", 1},
        {{"--sim", scenario({{"loader", true}, {"status", {{"0xC0", 5}}}}), "pressure", "--password-stdin"}, kPw,
         "1D = 010203", "Error -5 starting data upload\n", 1},
        {{"--sim", absent, "pressure", "--password-stdin"}, kPw, "", "Could not connect to device\n", 3},
        {{"--sim", "demo", "shots"}, "", "", "*", 2},  // no terminal to ask on
        // usage mistakes: one line and status 2
        {{}, "", "", "*", 2},
        {{"frobnicate"}, "", "", "velkor: unknown command \"frobnicate\" (see velkor --help)\n", 2},
        {{"detect", "--bogus"}, "", "", "*", 2},
        {{"program", kDemo, kDemo}, "", "", "*", 2},
        {{"--wait", "soon", "detect"}, "", "", "*", 2},
        {{"--sim", dir.Path("missing.json"), "detect"}, "", "", "*", 2},
        {{"--sim", dir.Write("typo.json", R"({"presnet": false})"), "detect"}, "", "", "*", 2},
        {{"--sim", "demo", "shots", "--set", "4294967296", "--password-stdin"}, kPw, "", "*", 2},
        {{"--sim", "demo", "shots", "--set", "12x", "--password-stdin"}, kPw, "", "*", 2},
        {{"--version"}, "", "velkor 3.02\n", "", 0},
        {{"--help"}, "", "velkor shots --set", "", 0},
    };
    // Side by side, the password pauses and mode switches cost the time of one.
    std::vector<std::unique_ptr<Process>> runs;
    for (const Case& c : cases)
        runs.push_back(std::make_unique<Process>(kVelkor, c.args, c.input));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const ProcessResult r = runs[i]->Finish();
        const std::string what = "case " + std::to_string(i) + "\n" + Describe(r);
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_TRUE(c.out.empty() ? r.out.empty() : r.out.find(c.out) != std::string::npos) << what;
        EXPECT_TRUE(c.err == "*" ? Count(r.err, "\n") == 1 : r.err == c.err) << what;
        EXPECT_TRUE(c.status == 0 || Count(r.out, "Update complete!") == 0) << what;
    }
    json image = Image(fw);
    const json board = ReadDump(dump);
    ASSERT_TRUE(board.is_object());
    EXPECT_EQ(board["data"], image["data"]);
    EXPECT_EQ(board["code"], image["code"]);
    EXPECT_EQ(board["mode"], "application");
    EXPECT_EQ(board["open_handles"], 0);
    EXPECT_EQ(ReadDump(setDump)["shot_counter"], 4294967295u);
}

// A file of data blocks only: the transfer starts without mode switches.
std::string DataFile(const TempDir& dir, uint32_t blocks)
{
    FirmwareBuilder fw;
    for (uint32_t a = 0; a < blocks * 4096; a += 64)
        fw.Data(a, Pattern(64, static_cast<uint8_t>(a >> 6)));
    return dir.Write("data.enc", Text(fw.bytes()));
}

TEST(Velkor, CtrlCStopsAfterTheRecordInProgressAndTwiceAtOnce)
{
    TempDir dir;
    const std::string dump = dir.Path("dump.json");
    const std::string file = DataFile(dir, 4);
    Process run(kVelkor, {"--sim", dir.Write("b.json", json{{"latency", "usb-fs"}, {"dump", dump}}.dump()), "program", file});
    // The board never answers the first upload: the job sits in the read.
    Process stuck(kVelkor, {"--sim", dir.Write("s.json", R"({"silent": ["0x10"], "read_timeout_ms": 30000})"), "program", file});
    ASSERT_TRUE(run.WaitFor("Uploading data\n"));
    run.Signal(SIGINT);
    const ProcessResult r = run.Finish();
    EXPECT_EQ(r.status, 1) << Describe(r);
    EXPECT_EQ(r.err, "Stopping after the current record (Ctrl+C again to quit at once)\nAborted\n");
    EXPECT_EQ(Count(r.out, "Done."), 0u);
    const json board = ReadDump(dump);
    EXPECT_EQ(board["open_handles"], 0);
    EXPECT_LT(board["data"].size(), 4u);

    ASSERT_TRUE(stuck.WaitFor("Uploading data\n"));
    stuck.Signal(SIGINT);
    ASSERT_TRUE(stuck.WaitFor("Stopping after the current record", true));
    stuck.Signal(SIGINT);
    const ProcessResult s = stuck.Finish(std::chrono::milliseconds(5000));
    EXPECT_EQ(s.status, 130) << Describe(s);
}

TEST(Velkor, OnATerminal)
{
    TempDir dir;
    Process program(kVelkor, {"--sim", dir.Write("b.json", R"({"latency": "usb-fs"})"), "program", DataFile(dir, 3)}, "", true);
    Process shots(kVelkor, {"--sim", "demo", "shots"}, "", true);
    ASSERT_TRUE(shots.WaitFor("Password: "));
    shots.Type(kPw);
    const ProcessResult asked = shots.Finish();
    EXPECT_EQ(asked.status, 0) << asked.out;
    EXPECT_EQ(asked.out.find("zephyr"), std::string::npos) << "the password was echoed:\n" << asked.out;
    EXPECT_NE(asked.out.find("1000\r\n"), std::string::npos) << asked.out;

    // Statuses redraw one line in place; the message gets a line of its own
    // and the progress line is gone at the end.
    const ProcessResult r = program.Finish();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Count(r.out, "Uploading data\r\n"), 0u);
    EXPECT_GE(Count(r.out, "\rUploading data  "), 3u);
    EXPECT_NE(r.out.find(" left\x1b[K"), std::string::npos);
    EXPECT_NE(r.out.find("\r\x1b[KUpdate complete!\r\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "\r\x1b[K");
}

TEST(Velkor, ProgressLineText)
{
    const auto line = [](uint64_t position, uint64_t size, double rate, size_t width = 100) {
        return FormatProgressLine({"Uploading data", position, size, rate}, width);
    };
    EXPECT_EQ(line(4200, 10000, 1460), "Uploading data   42%  1.5 kB/s  0:04 left");
    EXPECT_EQ(line(4200, 10000, -1), "Uploading data   42%");
    EXPECT_EQ(line(0, 0, 500), "Uploading data");
    EXPECT_EQ(line(12000, 10000, 800), "Uploading data  100%  800 B/s");
    EXPECT_EQ(line(3000000000u, 4000000000u, 2e6), "Uploading data   75%  2.0 MB/s  8:20 left");
    EXPECT_EQ(line(4200, 10000, 1460, 20).size(), 19u) << "the last column stays free";
    EXPECT_EQ(FormatDuration(0.2), "0:01");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(MakeFirmware, DescriptionsInFilesOut)
{
    TempDir dir;
    std::string data, longCode;
    for (int i = 0; i < 130; ++i)
        data += "ab";
    for (int i = 0; i < 73; ++i)
        longCode += "00";
    const std::string out = dir.Path("out.enc");
    const ProcessResult made = RunProcess(kTool, {dir.Write("in.fw", "# comment\ncode 0102 03  # note\ndata 0x0fc0 " +
                                                                         data + "\nfill 8192 100 ramp\nfill 0x3000 3 0x5A\n"),
                                                  out});
    ASSERT_EQ(made.status, 0) << made.err;
    const ProcessResult listed = RunProcess(kVelkor, {"inspect", out});
    EXPECT_EQ(listed.status, 0) << listed.out;
    for (const char* line : {"code, first byte 0x01", "data at 0x000fc0, 64 bytes, check ok\n",
                             "data at 0x001000, 64 bytes, check ok, erase first", "data at 0x001040, 2 bytes",
                             "data at 0x002040, 36 bytes", "data at 0x003000, 3 bytes", "records: 1 code, 6 data"})
        EXPECT_NE(listed.out.find(line), std::string::npos) << line << "\n" << listed.out;

    const std::pair<std::string, std::string> bad[] = {
        {"code " + longCode, ":1: a code block holds 1 to 72 bytes"},
        {"\n\ncode 123", ":3: expected hex bytes"},
        {"data 0xfffffe 010203", ":1: data reaches past the 24-bit address range"},
        {"erase 0x1000", ":1: unknown directive \"erase\""},
    };
    for (const auto& [text, message] : bad) {
        const ProcessResult r = RunProcess(kTool, {dir.Write("bad.fw", text + "\n"), dir.Path("bad.enc")});
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_NE(r.err.find(message), std::string::npos) << text << "\n" << r.err;
        EXPECT_FALSE(std::ifstream(dir.Path("bad.enc")).good()) << text;
    }
    EXPECT_EQ(RunProcess(kTool, {"--check", dir.Path("in.fw"), out}).status, 0);
    const ProcessResult stale = RunProcess(kTool, {"--check", dir.Write("one.fw", "code 01\n"), out});
    EXPECT_EQ(stale.status, 1);
    EXPECT_NE(stale.err.find("make_firmware " + dir.Path("one.fw") + " " + out), std::string::npos) << stale.err;
}

}  // namespace
