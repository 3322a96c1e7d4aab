// velkor as a user or a script runs it: arguments in; lines on stdout and
// stderr and the exit status out; the simulated board's dump as the proof of
// what reached the board.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "velkor_version.h"
#include "cli_process.h"
#include "link/crc16.h"
#include "support/firmware_builder.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;

const std::string kVelkor = VELKOR_BINARY;
const std::string kSource = VELKOR_SOURCE_DIR;
const std::string kDemo = kSource + "/examples/demo.enc";
const std::string kPassword = "zephyr\n";

ProcessResult Velkor(const std::vector<std::string>& args, const std::string& input = "")
{
    return RunProcess(kVelkor, args, input);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

std::string Describe(const ProcessResult& r)
{
    return "exit " + std::to_string(r.status) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const uint8_t* data, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

// What a board holds after taking a whole firmware file, in the dump's terms:
// erased 4 KiB blocks with the data written into them, and the code blocks
// as the loader saw them (72 bytes, zero-padded).
using DataBlocks = std::map<std::string, std::string>;  // address -> hex

struct BoardImage {
    DataBlocks data;
    std::vector<std::string> code;
};

BoardImage ImageOf(const Bytes& file)
{
    std::map<uint32_t, Bytes> blocks;
    BoardImage image;
    for (size_t at = 0; at + 2 <= file.size();) {
        const uint8_t token = file[at];
        const size_t length = file[at + 1];
        const uint8_t* p = file.data() + at + 2;
        if (token == 'D') {
            const uint32_t address = p[3] | p[4] << 8 | p[5] << 16;
            for (size_t i = 0; i < p[2]; ++i) {
                Bytes& block = blocks[(address + i) & ~0xFFFu];
                block.resize(4096, 0xFF);
                block[(address + i) & 0xFFF] = p[6 + i];
            }
        } else {
            Bytes padded(p, p + length);
            padded.resize(72, 0);
            image.code.push_back(Hex(padded.data(), padded.size()));
        }
        at += 2 + length;
    }
    for (const auto& [address, bytes] : blocks) {
        char name[16];
        std::snprintf(name, sizeof name, "0x%06x", static_cast<unsigned>(address));
        image.data[name] = Hex(bytes.data(), bytes.size());
    }
    return image;
}

json ReadDump(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return json();
    return json::parse(in, nullptr, false);
}

std::string Scenario(const TempDir& dir, const std::string& name, const json& settings)
{
    return dir.Write(name, settings.dump());
}

// Data blocks only: the board never changes mode, so the transfer starts at
// once (the demo file's code blocks cost two 500 ms mode switches first).
std::string DataOnlyFile(const TempDir& dir, uint32_t blocks)
{
    FirmwareBuilder file;
    for (uint32_t address = 0; address < blocks * 4096; address += 64)
        file.Data(address, Pattern(64, static_cast<uint8_t>(address >> 6)));
    return dir.Write("data.enc", std::string(file.bytes().begin(), file.bytes().end()));
}

// --- detect -----------------------------------------------------------------

TEST(CliDetect, PrintsTheStatusLineAndExitsByBoardState)
{
    struct Case {
        json scenario;
        std::string line;
        int status;
    };
    const Case cases[] = {
        {json::object(), "Connected: Ferrit XR, version 3.02b", 0},
        {{{"type", 4}, {"version", "1.07"}}, "Connected: Vantor 5, version 1.07", 0},
        {{{"type", 9}, {"firmware", false}, {"loader", true}}, "Connected: Grisel (unknown), no software", 0},
        {{{"identifies", false}}, "Connected: unidentified device", 1},
        {{{"silent", {"0x00"}}, {"read_timeout_ms", 100}}, "Connected: unidentified device", 1},
        {{{"present", false}}, "No board detected", 3},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const ProcessResult r = Velkor({"--sim", Scenario(dir, "board.json", c.scenario), "detect"});
        EXPECT_EQ(r.out, c.line + "\n") << c.scenario.dump() << "\n" << Describe(r);
        EXPECT_EQ(r.err, "") << c.scenario.dump();
        EXPECT_EQ(r.status, c.status) << c.scenario.dump();
    }
    // The built-in board, and the options after the command.
    const ProcessResult demo = Velkor({"detect", "--sim", "demo"});
    EXPECT_EQ(demo.out, "Connected: Ferrit XR, version 3.02b\n");
    EXPECT_EQ(demo.status, 0);
}

TEST(CliDetect, VerboseShowsEveryReportInHex)
{
    const ProcessResult r = Velkor({"--sim", "demo", "--verbose", "detect"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Connected: Ferrit XR, version 3.02b\n");
    EXPECT_EQ(Lines(r.err), (std::vector<std::string>{"write 00 00 00 00 00 00 00 00 00",
                                                      "read  00 00 43 00 00 03 02 62 00"}))
        << r.err;
}

TEST(CliDetect, WithoutSimulatorItAsksTheUsbBoard)
{
    // Whatever is attached to this machine, the answer is one clean line.
    const ProcessResult r = Velkor({"detect"});
    ASSERT_TRUE(r.status == 0 || r.status == 1 || r.status == 3) << Describe(r);
    EXPECT_EQ(Lines(r.out).size() + Lines(r.err).size(), 1u) << Describe(r);
}

// --- program ----------------------------------------------------------------

TEST(CliProgram, DemoFileEndsUpOnTheBoard)
{
    TempDir dir;
    const std::string dump = dir.Path("dump.json");
    const ProcessResult r = Velkor({"--sim", Scenario(dir, "board.json", {{"dump", dump}}), "program", kDemo});
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> out = Lines(r.out);
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out.front(), "Connecting...");
    EXPECT_EQ(std::vector<std::string>(out.end() - 3, out.end()),
              (std::vector<std::string>{"Done.", "Update complete!", "Wait..."}));
    EXPECT_EQ(Count(r.out, "Erasing flash block\n"), 4u);

    const json board = ReadDump(dump);
    ASSERT_TRUE(board.is_object()) << "no dump written";
    const BoardImage expected = ImageOf(ReadBytes(kDemo));
    EXPECT_EQ(board["data"].get<DataBlocks>(), expected.data);
    EXPECT_EQ(board["code"].get<std::vector<std::string>>(), expected.code);
    EXPECT_EQ(board["mode"], "application");
    EXPECT_EQ(board["open_handles"], 0);
}

TEST(CliProgram, EachFailureIsNamedOnStderrWithItsExitStatus)
{
    TempDir dir;
    const std::string crc = dir.Write("crc.enc", [] {
        const Bytes b = FirmwareBuilder().Data(0, Pattern(64)).Data(64, Pattern(64)).Code(Pattern(8)).BadCrcData(128, Pattern(64)).bytes();
        return std::string(b.begin(), b.end());
    }());
    struct Case {
        json scenario;
        std::string file;
        std::string error;  // the one stderr line; empty: any one line
        int status;
    };
    const Case cases[] = {
        {{{"status", {{"0xC2", 5}}}}, kDemo, "Error 5 erasing 0x000000", 1},
        {{{"silent", {"0xC2"}}, {"read_timeout_ms", 100}}, kDemo, "Error -1 erasing 0x000000", 1},
        {{{"link_fail", {{"0x10", "read"}}}}, kDemo, "Error 2 uploading data", 1},
        {{{"unplug_after", 60}}, kDemo, "", 1},
        {{{"present", false}}, kDemo, "Could not connect to device", 3},
        {json::object(), dir.Path("missing.enc"), "Could not open firmware file", 1},
        {json::object(), dir.Path(""), "Could not open firmware file", 1},  // a directory
        {json::object(), "", "Firmware file not selected", 1},
        {json::object(), crc, "CRC error in block 3", 1},
    };
    // Each run waits out the board's mode switches; side by side they cost
    // the time of one.
    std::vector<std::unique_ptr<Process>> runs;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string scenario = Scenario(dir, "board" + std::to_string(i) + ".json", cases[i].scenario);
        runs.push_back(std::make_unique<Process>(kVelkor, std::vector<std::string>{"--sim", scenario, "program", cases[i].file}));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const ProcessResult r = runs[i]->Finish();
        const std::string what = c.scenario.dump() + " " + c.file + "\n" + Describe(r);
        EXPECT_EQ(r.status, c.status) << what;
        ASSERT_EQ(Lines(r.err).size(), 1u) << what;
        if (!c.error.empty()) {
            EXPECT_EQ(r.err, c.error + "\n") << what;
        }
        EXPECT_EQ(Count(r.out, "Update complete!"), 0u) << what;
        ASSERT_FALSE(r.out.empty()) << what;
        EXPECT_EQ(Lines(r.out).back(), "Wait...") << what;
    }
}

TEST(CliProgram, CtrlCStopsAfterTheRecordInProgress)
{
    TempDir dir;
    const std::string dump = dir.Path("dump.json");
    // USB timing keeps the transfer going long enough to be interrupted.
    const std::string scenario = Scenario(dir, "board.json", {{"latency", "usb-fs"}, {"dump", dump}});
    const std::string file = DataOnlyFile(dir, 4);
    Process run(kVelkor, {"--sim", scenario, "program", file});
    ASSERT_TRUE(run.WaitFor("Uploading data\n"));
    run.Signal(SIGINT);
    const ProcessResult r = run.Finish();
    EXPECT_EQ(r.status, 1) << Describe(r);
    EXPECT_NE(r.err.find("Stopping after the current record"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err).back(), "Aborted");
    EXPECT_EQ(Count(r.out, "Update complete!"), 0u);
    EXPECT_EQ(Count(r.out, "Done."), 0u);

    // The board was closed properly, with part of the data on it.
    const json board = ReadDump(dump);
    ASSERT_TRUE(board.is_object());
    EXPECT_EQ(board["open_handles"], 0);
    const BoardImage whole = ImageOf(ReadBytes(file));
    EXPECT_NE(board["data"].get<DataBlocks>(), whole.data);
}

TEST(CliProgram, SecondCtrlCEndsAtOnce)
{
    TempDir dir;
    // The board never answers the first upload: the job sits in the read.
    const std::string scenario = Scenario(dir, "board.json", {{"silent", {"0x10"}}, {"read_timeout_ms", 30000}});
    Process run(kVelkor, {"--sim", scenario, "program", DataOnlyFile(dir, 1)});
    ASSERT_TRUE(run.WaitFor("Uploading data\n"));
    run.Signal(SIGINT);
    ASSERT_TRUE(run.WaitFor("Stopping after the current record", true));
    run.Signal(SIGINT);
    const ProcessResult r = run.Finish(milliseconds(5000));
    EXPECT_EQ(r.status, 130) << Describe(r);
    EXPECT_LT(r.seconds, 10.0);
}

TEST(CliProgram, ProgressLineRedrawsOnATerminal)
{
    TempDir dir;
    const std::string scenario = Scenario(dir, "board.json", {{"latency", "usb-fs"}});
    const ProcessResult r = Process(kVelkor, {"--sim", scenario, "program", DataOnlyFile(dir, 3)}, "", true).Finish();
    ASSERT_EQ(r.status, 0) << r.out;
    // Statuses redraw one line in place instead of scrolling...
    EXPECT_EQ(Count(r.out, "Uploading data\r\n"), 0u);
    EXPECT_GE(Count(r.out, "\rUploading data  "), 3u);
    EXPECT_GE(Count(r.out, "\x1b[K"), 3u);
    EXPECT_NE(r.out.find("% "), std::string::npos);
    EXPECT_NE(r.out.find("B/s  "), std::string::npos);
    EXPECT_NE(r.out.find(" left"), std::string::npos);
    // ...while the message gets a clean line of its own, and the progress
    // line is gone at the end.
    EXPECT_NE(r.out.find("\r\x1b[KUpdate complete!\r\n"), std::string::npos);
    ASSERT_GE(r.out.size(), 4u);
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "\r\x1b[K");
}

// --- inspect ----------------------------------------------------------------

TEST(CliInspect, ListsTheDemoFile)
{
    const ProcessResult r = Velkor({"inspect", kDemo});
    EXPECT_EQ(r.status, 0) << Describe(r);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> out = Lines(r.out);
    // A header, one line per record, then the totals.
    ASSERT_GT(out.size(), 261u);
    EXPECT_NE(out[1].find("0x000000  E 0x45      72  code, first byte 0x79"), std::string::npos) << out[1];
    EXPECT_NE(out[4].find("D 0x44      72  data at 0x000000, 64 bytes, check ok, erase first"), std::string::npos) << out[4];
    EXPECT_NE(out[5].find("data at 0x000040, 64 bytes, check ok"), std::string::npos) << out[5];
    EXPECT_EQ(out[5].find("erase"), std::string::npos) << out[5];
    EXPECT_NE(r.out.find("records: 3 code, 257 data\n"
                         "data bytes: 16384, addresses 0x000000 to 0x003fff\n"
                         "erases: 4\n"
                         "no problems"),
              std::string::npos)
        << r.out;
}

TEST(CliInspect, BadPathsAreOneLineAndAStrayByteIsNoProblem)
{
    TempDir dir;
    for (const std::string& path : {dir.Path("missing.enc"), dir.Path("")}) {
        const ProcessResult r = Velkor({"inspect", path});
        EXPECT_EQ(r.status, 1) << Describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("Could not open firmware file", 0), 0u) << r.err;
    }
    const Bytes stray = FirmwareBuilder().Data(0, Pattern(16)).Raw({0x44}).bytes();
    const ProcessResult r = Velkor({"inspect", dir.Write("stray.enc", std::string(stray.begin(), stray.end()))});
    EXPECT_EQ(r.status, 0) << Describe(r);
    EXPECT_NE(r.out.find("stray byte"), std::string::npos) << r.out;
}

struct BrokenFile {
    const char* name;
    Bytes bytes;
    int stopRecord;
    std::string message;
    int problems;
};

void PrintTo(const BrokenFile& file, std::ostream* out)
{
    *out << file.name;
}

class CliInspectBroken : public ::testing::TestWithParam<BrokenFile> {};

// inspect must stop where the update stops, with the update's own words: the
// same file is programmed into the simulated board alongside.
TEST_P(CliInspectBroken, NamesTheRecordAndMessageTheUpdateStopsAt)
{
    const BrokenFile& c = GetParam();
    TempDir dir;
    const std::string file = dir.Write("broken.enc", std::string(c.bytes.begin(), c.bytes.end()));
    Process program(kVelkor, {"--sim", "demo", "program", file});
    const ProcessResult r = Velkor({"inspect", file});
    EXPECT_EQ(r.status, 1) << Describe(r);
    EXPECT_NE(r.out.find("problem: " + c.message + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("problems: " + std::to_string(c.problems) + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the update would stop at record " + std::to_string(c.stopRecord) + ": " + c.message + "\n"),
              std::string::npos)
        << r.out;

    const ProcessResult programmed = program.Finish();
    EXPECT_EQ(programmed.status, 1);
    EXPECT_EQ(programmed.err, c.message + "\n");
}

Bytes ShortDataPayload()
{
    // A check value that holds, on a payload too short for any data.
    Bytes payload = {0x01, 0x02};
    const uint16_t crc = Crc16(payload.data(), payload.size());
    payload.push_back(static_cast<uint8_t>(crc));
    payload.push_back(static_cast<uint8_t>(crc >> 8));
    return FirmwareBuilder().DataPayload(payload).bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Problems, CliInspectBroken,
    ::testing::Values(
        BrokenFile{"CrcError",
                   FirmwareBuilder().Data(0, Pattern(64)).Code(Pattern(72)).Data(64, Pattern(8)).BadCrcData(72, Pattern(8)).Data(80, Pattern(8)).BadCrcData(88, Pattern(8)).bytes(),
                   3, "CRC error in block 3", 2},
        BrokenFile{"LengthError", FirmwareBuilder().Data(0x1000, Pattern(4)).Raw(ShortDataPayload()).bytes(), 1,
                   "Length error in block 1", 1},
        BrokenFile{"UnknownToken", FirmwareBuilder().Data(0, Pattern(4)).Raw({'d', 3, 1, 2, 3}).Data(4, Pattern(4)).bytes(), 1,
                   "Unknown token in firmware file", 1},
        BrokenFile{"UnexpectedEnd", FirmwareBuilder().Data(0, Pattern(4)).Raw({'E', 5, 1, 2, 3}).bytes(), 1,
                   "Unexpected EOF", 1},
        BrokenFile{"DataTooLong", FirmwareBuilder().Data(0x1000, Pattern(64)).Data(0x1040, Pattern(65)).bytes(), 1,
                   "Error -1 uploading data", 1},
        BrokenFile{"CodeTooLong", FirmwareBuilder().Code(Pattern(72)).Code(Pattern(73)).bytes(), 1,
                   "Error -1 programming code", 1}),
    [](const ::testing::TestParamInfo<BrokenFile>& info) { return std::string(info.param.name); });

// --- service commands -------------------------------------------------------

TEST(CliService, PasswordFirstThenTheCommand)
{
    TempDir dir;
    const std::string dump = dir.Path("dump.json");
    const std::string bigDump = dir.Path("big.json");
    const std::string board = Scenario(dir, "board.json", {{"shot_counter", 1234}});
    const std::string setBoard = Scenario(dir, "set.json", {{"dump", dump}});
    const std::string bigBoard = Scenario(dir, "big.json", {{"dump", bigDump}});
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string out;
        std::string err;
        int status;
    };
    const Case cases[] = {
        {{"--sim", board, "shots", "--password-stdin"}, kPassword, "1234\n", "", 0},
        {{"--sim", board, "shots", "--password-stdin"}, "zephyr\r\n", "1234\n", "", 0},
        {{"--sim", board, "shots", "--password-stdin"}, "Zephyr\n", "", "Password incorrect\n", 1},
        {{"--sim", board, "shots", "--password-stdin"}, "zephyr \n", "", "Password incorrect\n", 1},
        {{"--sim", board, "shots", "--password-stdin"}, " zephyr\n", "", "Password incorrect\n", 1},
        {{"--sim", board, "shots", "--password-stdin"}, "zephyrzephyrzephyrzephyrzephyrzephyr\n", "", "Password incorrect\n", 1},
        {{"--sim", board, "shots", "--password-stdin"}, "", "", "Password incorrect\n", 1},
        {{"--sim", setBoard, "shots", "--set", "123456", "--password-stdin"}, kPassword, "New shot counter set\n", "", 0},
        // The board takes any 32-bit count, but one of 2^31 or more comes
        // back negative and the job calls it a failure.
        {{"--sim", bigBoard, "shots", "--set", "4294967295", "--password-stdin"}, kPassword, "",
         "Error -1 getting shot count\n", 1},
        {{"--sim", "demo", "pressure", "--password-stdin"}, kPassword, "1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n", "", 0},
        {{"--sim", Scenario(dir, "refuses.json", {{"status", {{"0x40", 5}}}}), "shots", "--set", "7", "--password-stdin"},
         kPassword, "", "Error -5 getting shot count\n", 1},
        {{"--sim", Scenario(dir, "nopressure.json", {{"status", {{"0x90", 5}}}}), "pressure", "--password-stdin"},
         kPassword, "", "Not available with this build\n", 1},
        // The board is booted out of its loader first; the last step of that
        // fails, the command still runs, and the failure still counts.
        {{"--sim", Scenario(dir, "loader.json", {{"loader", true}, {"status", {{"0xC0", 5}}}}), "shots", "--password-stdin"},
         kPassword, "Booting firmware...\n1000\n", "Error -5 starting data upload\n", 1},
        {{"--sim", Scenario(dir, "absent.json", {{"present", false}}), "pressure", "--password-stdin"},
         kPassword, "", "Could not connect to device\n", 3},
    };
    // Every check pauses for two seconds; side by side they pause once.
    std::vector<std::unique_ptr<Process>> runs;
    for (const Case& c : cases)
        runs.push_back(std::make_unique<Process>(kVelkor, c.args, c.input));

    // Without --password-stdin the password is asked for on the terminal.
    Process terminal(kVelkor, {"--sim", "demo", "shots"}, "", true);
    ASSERT_TRUE(terminal.WaitFor("Password: "));
    terminal.Type(kPassword);
    const ProcessResult asked = terminal.Finish();
    EXPECT_EQ(asked.status, 0) << asked.out;
    EXPECT_NE(asked.out.find("Password: "), std::string::npos);
    EXPECT_EQ(asked.out.find("zephyr"), std::string::npos) << "the password was echoed:\n" << asked.out;
    EXPECT_NE(asked.out.find("1000\r\n"), std::string::npos) << asked.out;

    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const ProcessResult r = runs[i]->Finish();
        const std::string what = "case " + std::to_string(i) + "\n" + Describe(r);
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, c.err) << what;
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_GE(r.seconds, 1.9) << what << "\nthe password check pauses";
    }
    EXPECT_EQ(ReadDump(dump)["shot_counter"], 123456);
    EXPECT_EQ(ReadDump(bigDump)["shot_counter"], 4294967295u);
}

TEST(CliService, NoTerminalAndNoStdinPasswordIsAUsageError)
{
    // The test runs velkor without a controlling terminal.
    const ProcessResult r = Velkor({"--sim", "demo", "shots"});
    EXPECT_EQ(r.status, 2) << Describe(r);
    EXPECT_EQ(Lines(r.err).size(), 1u);
    EXPECT_NE(r.err.find("--password-stdin"), std::string::npos);
    EXPECT_LT(r.seconds, 1.5);
}

// --- waiting for a board, usage ---------------------------------------------

TEST(CliWait, GivesUpAfterTheTimeWhenNoBoardComes)
{
    TempDir dir;
    const std::string absent = Scenario(dir, "absent.json", {{"present", false}});
    Process program(kVelkor, {"--sim", absent, "--wait", "1", "program", kDemo});
    Process detect(kVelkor, {"--sim", absent, "--wait", "1", "detect"});
    Process present(kVelkor, {"--sim", "demo", "--wait", "5", "detect"});

    const ProcessResult q = present.Finish();
    EXPECT_EQ(q.status, 0) << Describe(q);
    EXPECT_LT(q.seconds, 0.8) << "a present board is not waited for";

    const ProcessResult p = program.Finish();
    EXPECT_EQ(p.status, 3) << Describe(p);
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.err, "No board detected within 1 s\n");
    EXPECT_GE(p.seconds, 0.95);
    EXPECT_LT(p.seconds, 2.0);

    const ProcessResult d = detect.Finish();
    EXPECT_EQ(d.status, 3) << Describe(d);
    EXPECT_EQ(d.out, "No board detected\n");
}

TEST(CliUsage, MistakesAreOneLineAndStatus2)
{
    TempDir dir;
    const std::string unknownKey = dir.Write("unknown.json", R"({"presnet": false})");
    const std::string notJson = dir.Write("garbage.json", "present = no");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"detect", "--bogus"},
        {"detect", "inspect"},
        {"program"},
        {"program", kDemo, kDemo},
        {"--wait", "-1", "detect"},
        {"--wait", "soon", "detect"},
        {"--sim", dir.Path("missing.json"), "detect"},
        {"--sim", unknownKey, "detect"},
        {"--sim", notJson, "detect"},
        {"--sim", "demo", "shots", "--set", "-1", "--password-stdin"},
        {"--sim", "demo", "shots", "--set", "4294967296", "--password-stdin"},
        {"--sim", "demo", "shots", "--set", "12x", "--password-stdin"},
        {"--sim", "demo", "program", std::string(300, 'x')},
    };
    for (const auto& args : cases) {
        std::string what;
        for (const auto& a : args)
            what += a.substr(0, 40) + " ";
        const ProcessResult r = Velkor(args, kPassword);
        EXPECT_EQ(r.status, 2) << what << "\n" << Describe(r);
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(Lines(r.err).size(), 1u) << what << "\n" << r.err;
    }
    EXPECT_NE(Velkor({"--sim", unknownKey, "detect"}).err.find("presnet"), std::string::npos);
}

TEST(CliUsage, VersionAndHelp)
{
    const ProcessResult version = Velkor({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "velkor " VELKOR_VERSION_TEXT "\n");

    const ProcessResult help = Velkor({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* example : {"velkor detect", "velkor program ", "velkor inspect ", "velkor shots ",
                                "velkor shots --set", "velkor pressure", "--sim demo"})
        EXPECT_NE(help.out.find(example), std::string::npos) << example;
}

}  // namespace
