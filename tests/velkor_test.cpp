// velkor and make_firmware as a user or a script runs them: arguments and
// stdin in; stdout, stderr and the exit status out; the simulated board's dump
// as the proof of what reached the board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/console.h"
#include "cli/progress.h"
#include "job/messages.h"
#include "link/board_path.h"
#include "velkor_version.h"
#include "support/firmware_builder.h"
#include "support/sim_fixture.h"
#include "update/update_job.h"
#include "worker/detection.h"
#include "worker/service.h"

namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

const std::string kVelkor = VELKOR_BINARY;
const std::string kTool = MAKE_FIRMWARE_BINARY;
const std::string kDemo = std::string(VELKOR_SOURCE_DIR) + "/examples/demo.enc";
const std::string kPw = "zephyr\n";

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A fresh temporary directory, removed with everything in it when this goes.
struct TempDir {
    std::string path = (std::filesystem::temp_directory_path() / "velkor-cli-XXXXXX").string();
    TempDir() { EXPECT_NE(mkdtemp(path.data()), nullptr); }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string Path(const std::string& name) const { return path + "/" + name; }
    std::string Write(const std::string& name, const std::string& contents) const
    {
        std::ofstream(Path(name), std::ios::binary) << contents;
        return Path(name);
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

std::string Quote(const std::string& word)
{
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Command(const std::string& program, const Args& args)
{
    std::string line = Quote(program);
    for (const std::string& a : args)
        line += " " + Quote(a);
    return line;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs shell command lines side by side, without a controlling terminal, as
// under a scheduler or in CI; each one's stdout, stderr and exit status. In a
// line, $OUT and $ERR name the files its output goes to.
std::vector<Result> Shell(const TempDir& dir, const std::vector<std::string>& lines)
{
    std::string script;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string n = Quote(dir.Path(std::to_string(i)));
        script += "{ OUT=" + n + ".out ERR=" + n + ".err; (" + lines[i] + ") >" + n + ".out 2>" + n +
                  ".err; echo $? >" + n + ".status; } &\n";
    }
    const std::string waitFor =  // WaitFor FILE TEXT: up to 10 s
        "WaitFor() { for i in $(seq 500); do grep -qF \"$2\" \"$1\" 2>/dev/null && return; sleep 0.02; done; }\n";
    if (std::system(("setsid -w sh " + Quote(dir.Write("run.sh", waitFor + script + "wait\n"))).c_str()) != 0)
        ADD_FAILURE() << "cannot run " << dir.Path("run.sh");
    std::vector<Result> results(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string n = std::to_string(i);
        std::string status = dir.Read(n + ".status");
        results[i] = {status.empty() ? -1 : std::stoi(status), dir.Read(n + ".out"), dir.Read(n + ".err")};
    }
    return results;
}

Result RunOne(const std::string& program, const Args& args)
{
    TempDir dir;
    return Shell(dir, {Command(program, args) + " </dev/null"})[0];
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const std::string kIncomplete = "Aborted: the board holds an incomplete firmware; program it again before use\n";

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Describe(const Result& r)
{
    return "exit " + std::to_string(r.status) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
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
    fw.Data(0, Pattern(64)).Data(64, Pattern(64)).Code(Pattern(8)).Data(0xABCE0, Pattern(8)).Code({0xAF});
    FirmwareBuilder bad = fw;
    bad.BadCrcData(128, Pattern(64));
    const std::string file = dir.Write("fw.enc", Text(fw.bytes())), badFile = dir.Write("bad.enc", Text(bad.bytes()));
    const std::string dump = dir.Path("dump.json"), setDump = dir.Path("set.json");
    std::string wide;  // a path over 258 bytes, not characters
    for (int i = 0; i < 80; ++i)
        wide += "固";
    const std::string stray = dir.Write("stray.enc", Text(FirmwareBuilder().Data(0, Pattern(16)).Raw({'D'}).bytes()));
    const std::string tooLong = dir.Write("long.enc", Text(FirmwareBuilder().Data(0x1000, Pattern(65)).bytes()));
    const std::string absent = scenario({{"present", false}});
    // A board listed under a real path, named through a symlink to it.
    const std::string node = std::filesystem::canonical(dir.Write("hidraw7", "")).string();
    std::filesystem::create_symlink(node, dir.Path("velkor-board"));
    const std::string listing =
        "     0  0x000000  D 0x44      72  data at 0x000000, 64 bytes, check ok, erase first\n"
        "     1  0x00004a  D 0x44      72  data at 0x000040, 64 bytes, check ok\n"
        "     2  0x000094  E 0x45       8  code, first byte 0x00\n"
        "     3  0x00009e  D 0x44      16  data at 0x0abce0, 8 bytes, check ok\n"
        "     4  0x0000b0  E 0x45       1  code, first byte 0xaf\n"
        "\nrecords: 2 code, 3 data\ndata bytes: 136, addresses 0x000000 to 0x0abce7\nerases: 1\n";
    const Case cases[] = {
        // detect: the status line and the exit by board state
        {{"--sim", "demo", "detect"}, "", "Connected: Ferrit XR, version 3.02b\n", "", 0},
        {{"--sim", scenario({{"identifies", false}}), "detect"}, "", "Connected: unidentified device\n", "", 1},
        {{"--sim", absent, "detect"}, "", "No board detected\n", "", 3},
        {{"--sim", scenario({{"chatter_ms", 1}, {"latency", "usb-fs"}}), "detect"}, "", "Connected: Ferrit XR", "", 0},
        {{"--sim", "demo", "--device", "/dev/hidraw0", "detect"}, "", "No board detected\n", "", 3},
        {{"--sim", scenario({{"device_path", node}}), "--device", dir.Path("velkor-board"), "detect"}, "", "Connected: Ferrit XR", "", 0},
        // listed as the board, but its node now leads to another device
        {{"--sim", scenario({{"opened_ids", "04d8:000a"}}), "detect"}, "", "No board detected\n", "", 3},
        {{"--sim", scenario({{"spare_reply_bytes", 0xAB}}), "--verbose", "detect"}, "", "Connected: Ferrit XR",
         "write 00 00 00 00 00 00 00 00 00\nread  00 00 63 ab ab 03 02 62 ab\n", 0},
        {{"--sim", absent, "--wait", "1", "program", file}, "", "", "No board detected within 1 s\n", 3},
        // program: success, and every failure on one stderr line
        {{"--sim", scenario({{"dump", dump}}), "program", file}, "",
         "Done.\nUpdate complete!\nWait...\nBoard now reports: Connected: Ferrit XR, version 3.02b\n", "", 0},
        {{"--sim", scenario({{"silent_after_boot", true}}), "program", file}, "", "Update complete!\nWait...\n",
         "The board did not answer after booting; check it before use\n", 4},
        {{"--sim", "demo", "program", kDemo}, "", "Update complete!\nWait...\n", "", 0},
        {{"--sim", absent, "program", file}, "", "Wait...\n", "Could not connect to device\n", 3},
        {{"--sim", "demo", "program", badFile}, "", "Wait...\n", "CRC error in block 5\n", 1},
        {{"--sim", "demo", "program", std::string(259, 'x')}, "", "", "*", 2},
        // --each: a bad file is refused before any board; it takes no --device
        {{"--sim", scenario({{"dump", dir.Path("each.json")}}), "program", "--each", badFile}, "", "", "CRC error in block 5\n", 1},
        {{"--sim", "demo", "--device", "x", "program", "--each", file}, "", "", "*", 2},
        {{"--sim", "demo", "program", dir.Write(wide + ".enc", Text(fw.bytes()))}, "", "Update complete!\n", "", 0},
        // inspect: the listing, and the record the update would refuse the file for
        {{"inspect", file}, "", listing + "no problems: the update would program the whole file\n", "", 0},
        {{"inspect", badFile}, "", "problems: 1\nthe update would refuse the file at record 5: CRC error in block 5\n", "", 1},
        {{"inspect", tooLong}, "", "the update would refuse the file at record 0: Error -1 uploading data\n", "", 1},
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
        // an error, then the readout's box: still a failure
        {{"--sim", scenario({{"loader", true}, {"status", {{"0xC0", 5}}}}), "pressure", "--password-stdin"}, kPw,
         "1D = 010203", "Error -5 starting data upload\n", 1},
        {{"--sim", "demo", "shots"}, "", "", "*", 2},  // no terminal to ask on
        // usage mistakes: one line and status 2
        {{}, "", "", "*", 2},
        {{"frobnicate"}, "", "", "velkor: unknown command \"frobnicate\" (see velkor --help)\n", 2},
        {{"detect", "--bogus"}, "", "", "*", 2},
        {{"--sim", dir.Write("typo.json", R"({"presnet": false})"), "detect"}, "", "", "*", 2},
        {{"--sim", "demo", "shots", "--set", "4294967296", "--password-stdin"}, kPw, "", "*", 2},
        {{"--sim", "demo", "shots", "--set", "12x", "--password-stdin"}, kPw, "", "*", 2},
        {{"--version"}, "", "velkor " VELKOR_VERSION_TEXT "\n", "", 0},
        {{"--help"}, "", "velkor shots --set", "", 0},
    };
    // Side by side, the password pauses and mode switches cost the time of one.
    std::vector<std::string> lines;
    for (const Case& c : cases)
        lines.push_back(Command(kVelkor, c.args) + " <" + Quote(dir.Write("in" + std::to_string(lines.size()), c.input)));
    // With stdout on a full disk: a result that is output fails; an update
    // is judged by the board alone.
    const Args toFull[] = {{"--sim", "demo", "detect"}, {"inspect", file}, {"--sim", "demo", "shots", "--password-stdin"},
                           {"--sim", "demo", "pressure", "--password-stdin"}, {"--version"}, {"--help"},
                           {"--sim", "demo", "program", file}};
    const std::string pw = Quote(dir.Write("pw", kPw));
    for (const Args& args : toFull)
        lines.push_back(Command(kVelkor, args) + " <" + pw + " >/dev/full");
    const std::vector<Result> results = Shell(dir, lines);
    for (size_t i = 0; i < std::size(toFull); ++i) {
        const Result& r = results[std::size(cases) + i];
        const bool program = i + 1 == std::size(toFull);
        EXPECT_EQ(r.status, program ? 0 : 1) << "to /dev/full " << i << "\n" << Describe(r);
        EXPECT_EQ(r.err, program ? "" : "velkor: could not write the output: No space left on device\n") << i;
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Result& r = results[i];
        const std::string what = "case " + std::to_string(i) + "\n" + Describe(r);
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_TRUE(c.out.empty() ? r.out.empty() : r.out.find(c.out) != std::string::npos) << what;
        EXPECT_TRUE(c.err == "*" ? Count(r.err, "\n") == 1 : r.err == c.err) << what;
        EXPECT_TRUE(c.status == 0 || c.status == 4 || Count(r.out, "Update complete!") == 0) << what;
    }
    // Which bytes the job sends is the jobs' tables' business; here, that the
    // process got through the whole file and closed the board.
    const json board = json::parse(std::ifstream(dump), nullptr, false);
    ASSERT_TRUE(board.is_object());
    EXPECT_EQ(board["data"].size(), fw.flash.size());
    EXPECT_TRUE(board["data"].contains("0x0ab000"));
    EXPECT_EQ(board["code"].size(), fw.code.size());
    EXPECT_EQ(board["mode"], "application");
    EXPECT_EQ(board["open_handles"], 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("each.json"))) << "--each opened a board for a bad file";
    EXPECT_EQ(json::parse(std::ifstream(setDump), nullptr, false)["shot_counter"], 4294967295u);
    // --device hidraw3 is /dev/hidraw3.
    EXPECT_EQ(ResolveBoardPath("null"), "/dev/null");
}

// Every job kind appends its record to one log; a log that takes no writes
// stops the run before the board is opened.
TEST(Velkor, Log)
{
    const std::string kFilled = json{{"earlier", std::string(400, '.')}}.dump() + "\n";
    TempDir dir;
    const std::string pw = Quote(dir.Write("pw", kPw)), dump = dir.Path("dump.json");
    const auto velkor = [&](const std::string& args) {
        return Command(kVelkor, {"--log", dir.Path("log")}) + " " + args + " <" + pw + " >/dev/null 2>&1; ";
    };
    const std::string erase = Quote(std::string(VELKOR_SOURCE_DIR) + "/examples/scenarios/erase-fails.json");
    const std::vector<Result> r = Shell(dir, {
        velkor("--sim demo detect") + velkor("--sim demo program " + Quote(kDemo)) +
            velkor("--sim demo shots --password-stdin") + velkor("--sim demo shots --set 7 --password-stdin") +
            velkor("--sim demo pressure --password-stdin") + velkor("--sim " + erase + " program " + Quote(kDemo)) +
            // Killed mid-update: no record, and none cut short.
            Command(kVelkor, {"--log", dir.Path("log"), "--sim", dir.Write("u.json", R"({"latency": "usb-fs"})"), "program", kDemo}) +
            " >k & p=$!; WaitFor k 'Uploading data'; kill -KILL $p; wait $p; sha256sum " + Quote(kDemo),
        Command(kVelkor, {"--log", "/dev/full", "--sim", dir.Write("d.json", json{{"dump", dump}}.dump()), "program", kDemo}),
        // A full disk, which takes an empty write.
        "mkdir " + Quote(dir.Path("full")) + " && unshare -rm sh -c 'mount -t tmpfs -o size=64k none \"$0\" && " +
            "cat /dev/zero >\"$0/fill\" 2>/dev/null; exec \"$@\"' " + Quote(dir.Path("full")) + " " +
            Command(kVelkor, {"--log", dir.Path("full/log"), "--sim", dir.Path("d.json"), "program", kDemo}),
        // A disk that fills up within the record (sh counts 512-byte blocks).
        "ulimit -f 1; " + Command(kVelkor, {"--log", dir.Write("small", kFilled), "--sim", "demo", "detect"}),
    });
    std::istringstream lines(dir.Read("log"));
    std::vector<json> records;
    for (std::string line; std::getline(lines, line);)
        records.push_back(json::parse(line, nullptr, false));
    ASSERT_EQ(records.size(), 6u) << dir.Read("log");
    const char* jobs[] = {"detect", "program", "shots", "shots", "pressure", "program"};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["job"], jobs[i]) << i;
        EXPECT_EQ(records[i]["exit"], i == 5 ? 1 : 0) << i;
        EXPECT_EQ(records[i]["board"]["identity"], "Connected: Ferrit XR, version 3.02b") << i;
    }
    EXPECT_EQ(records[1]["file"]["sha256"], r[0].out.substr(0, 64));
    EXPECT_EQ(records[1]["identity_after"], "Connected: Ferrit XR, version 3.02b");
    EXPECT_EQ(records[2]["shots"], 1000);
    EXPECT_EQ(records[3]["set"], 7);
    EXPECT_EQ(records[4]["pressure"], "1D = 010203  1B = 0A0B0C\n2D = 102030  2B = A0B0C0\n");
    EXPECT_EQ(records[5]["outcome"], "failed");
    EXPECT_EQ(records[5]["text"], "Error 5 erasing 0x000000");
    EXPECT_EQ(r[1].status, 2);
    EXPECT_EQ(r[1].err, "velkor: cannot append to the log /dev/full: No space left on device\n");
    EXPECT_FALSE(std::filesystem::exists(dump)) << "the board was opened";
    EXPECT_EQ(r[2].status, 2);
    EXPECT_EQ(r[2].err, "velkor: cannot append to the log " + dir.Path("full/log") + ": No space left on device\n");
    EXPECT_EQ(r[3].err, "velkor: could not write the log: no room for the whole line\n");
    EXPECT_EQ(dir.Read("small"), kFilled);
}

// A file of data blocks only: the transfer starts without mode switches.
std::string DataFile(const TempDir& dir, uint32_t blocks)
{
    FirmwareBuilder fw;
    for (uint32_t a = 0; a < blocks * 4096; a += 64)
        fw.Data(a, Pattern(64, static_cast<uint8_t>(a >> 6)));
    return dir.Write("data.enc", Text(fw.bytes()));
}

TEST(Velkor, CtrlCAndTerminals)
{
    TempDir dir;
    const std::string dump = dir.Path("dump.json"), file = DataFile(dir, 4);
    const std::string usb = dir.Write("usb.json", json{{"latency", "usb-fs"}, {"dump", dump}}.dump());
    const std::string program = Command(kVelkor, {"--sim", usb, "program", file});
    // Started in the background, as a terminal's Ctrl+C would find it.
    const std::string started = "env --default-signal=INT " + program + " & p=$!; WaitFor $OUT 'Uploading data'; ";
    const std::vector<Result> r = Shell(dir, {
        started + "kill -INT $p; wait $p",
        // The board never answers the first upload: the job sits in the read.
        "env --default-signal=INT " + Command(kVelkor, {"--sim", dir.Write("s.json", R"({"silent": ["0x10"], "read_timeout_ms": 30000})"), "program", file}) +
            " & p=$!; WaitFor $OUT 'Uploading data'; kill -INT $p; WaitFor $ERR Stopping; kill -INT $p; wait $p",
        // On a terminal: the password is not echoed, the progress line redraws.
        "{ WaitFor $OUT 'Password: '; echo zephyr; } | script -qefc " + Quote(Command(kVelkor, {"--sim", "demo", "shots"})) + " /dev/null",
        "script -qefc " + Quote(Command(kVelkor, {"--sim", dir.Write("b.json", R"({"latency": "usb-fs"})"), "program", DataFile(dir, 3)})) + " /dev/null </dev/null",
    });
    EXPECT_EQ(r[0].status, 1) << Describe(r[0]);
    EXPECT_EQ(r[0].err, "Stopping after the current record (Ctrl+C again to quit at once)\n" + kIncomplete);
    const json board = json::parse(std::ifstream(dump), nullptr, false);
    EXPECT_EQ(board["open_handles"], 0);
    EXPECT_LT(board["data"].size(), 4u);
    EXPECT_EQ(r[1].status, 130) << Describe(r[1]);
    EXPECT_TRUE(EndsWith(r[1].err, kIncomplete)) << r[1].err;

    EXPECT_EQ(r[2].status, 0) << r[2].out;
    EXPECT_EQ(Count(r[2].out, "zephyr"), 0u) << "the password was echoed:\n" << r[2].out;
    EXPECT_NE(r[2].out.find("1000\r\n"), std::string::npos) << r[2].out;
    // Statuses redraw one line in place; the message gets a line of its own
    // and the progress line is gone at the end.
    ASSERT_EQ(r[3].status, 0) << r[3].out;
    EXPECT_EQ(Count(r[3].out, "Uploading data\r\n"), 0u);
    EXPECT_GE(Count(r[3].out, "\rUploading data  "), 3u);
    EXPECT_NE(r[3].out.find(" left\x1b[K"), std::string::npos);
    EXPECT_NE(r[3].out.find("\r\x1b[KUpdate complete!\r\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(r[3].out, "\r\x1b[KBoard now reports: Connected: Ferrit XR, version 3.02b\r\n")) << r[3].out;
}

// One board for two processes; a reader, a terminal or a session that goes
// away mid-update; a board that never stops talking.
TEST(Velkor, SharedBoardAndSignals)
{
    TempDir dir;
    const std::string prog = "program " + Quote(DataFile(dir, 16)), shared = dir.Write("dev", "");
    const auto velkor = [&](const std::string& name, json s, const std::string& args) {
        s["dump"] = dir.Path(name + ".json");
        return Command(kVelkor, {"--sim", dir.Write(name + ".scenario", s.dump())}) + " " + args;
    };
    const auto dump = [&](const std::string& name) {
        return json::parse(std::ifstream(dir.Path(name + ".json")), nullptr, false);
    };
    const json usb = {{"latency", "usb-fs"}}, onShared = {{"device_path", shared}};
    const std::string during = "WaitFor " + Quote(dir.Path("0.out")) + " 'Uploading data'; ";
    const std::string started = " & p=$!; WaitFor $OUT 'Uploading data'; kill -";
    const std::vector<Result> r = Shell(dir, {
        velkor("first", {{"latency", "usb-fs"}, {"device_path", shared}}, prog),
        during + velkor("second", onShared, prog),
        during + velkor("second", onShared, "detect"),
        during + velkor("waited", onShared, "--wait 30 " + prog),
        "{ " + velkor("piped", usb, prog) + "; echo $? >" + Quote(dir.Path("piped.status")) + "; } | head -1",
        // A session's end: hangup and termination together, repeated unless
        // velkor has stopped already.
        velkor("hup", usb, prog) + started + "HUP $p; { kill -TERM $p; kill -HUP $p; kill -TERM $p; } 2>/dev/null; wait $p",
        velkor("term", usb, prog) + started + "TERM $p; kill -TERM $p 2>/dev/null; wait $p",
        "timeout -k 1 3 " + velkor("chatter", {{"chatter_ms", 5}, {"silent", {"0xC2"}}, {"read_timeout_ms", 300}}, prog),
    });
    const json full = dump("first");
    EXPECT_EQ(r[0].status, 0) << Describe(r[0]);
    EXPECT_EQ(full["data"].size(), 16u);
    for (int i : {1, 2}) {
        EXPECT_EQ(r[i].status, 3) << Describe(r[i]);
        EXPECT_EQ(r[i].err, "Board in use by another program\n");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path("second.json"))) << "the busy board was opened";
    EXPECT_EQ(r[3].status, 0) << Describe(r[3]);
    EXPECT_EQ(dump("waited")["data"], full["data"]);
    EXPECT_EQ(dir.Read("piped.status"), "0\n") << r[4].err;
    EXPECT_EQ(dump("piped")["data"], full["data"]);
    for (int i : {5, 6}) {
        const json part = dump(i == 5 ? "hup" : "term");
        EXPECT_EQ(r[i].status, 1) << Describe(r[i]);
        EXPECT_EQ(r[i].err, "Stopping after the current record\n" + kIncomplete);
        EXPECT_EQ(part["open_handles"], 0);
        EXPECT_NE(part["data"], full["data"]);
        // Whole records: each block as the full run wrote it up to a record's
        // end, erased after it.
        for (const auto& [at, hex] : part["data"].items()) {
            const std::string got = hex, want = full["data"][at];
            size_t same = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
            EXPECT_EQ(got.find_first_not_of('f', same - same % 128), std::string::npos) << at;
        }
    }
    EXPECT_EQ(r[7].status, 1) << Describe(r[7]);
    EXPECT_EQ(r[7].err, "Error -1 erasing 0x000000\n");
}

// The third field of each "PATH | BEFORE | OUTCOME | AFTER | TIME" line.
std::vector<std::string> Verdicts(const std::string& out)
{
    std::vector<std::string> words;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(" | Connected: Ferrit XR, version 3.02b | ");
        if (at != std::string::npos)
            words.push_back(line.substr(at + 41, line.find(" | ", at + 41) - at - 41));
    }
    return words;
}

// Board after board: each its own dump and line; Ctrl+C between boards ends
// the run at once, during an update after the record.
TEST(Velkor, EachBoard)
{
    TempDir dir;
    const std::string big = dir.Write("big.enc", dir.Read(std::filesystem::path(DataFile(dir, 4)).filename()));
    const std::string file = DataFile(dir, 2);
    // Gaps well over the second in which a board that shows up is taken for
    // the last one coming back.
    json boards = json::array();
    for (int i = 0; i < 3; ++i)
        boards.push_back({{"dump", dir.Path("b" + std::to_string(i) + ".json")}, {"attached_ms", 500}, {"gap_ms", 2000}});
    boards[0]["gap_ms"] = 0;
    boards[1]["status"] = {{"0xC2", {{"status", 5}, {"occurrence", 2}}}};
    const std::string lineup = dir.Write("lineup.json", json{{"boards", boards}}.dump());
    boards.erase(1);
    boards[0]["dump"] = dir.Path("c0.json");
    boards[1]["dump"] = dir.Path("c1.json");
    const std::string lineup2 = dir.Write("lineup2.json", json{{"boards", boards}}.dump());
    const std::string log2 = Quote(dir.Path("log2"));
    const std::string usb = dir.Write("usb.json", json{{"latency", "usb-fs"}}.dump());
    const std::string each = " program --each " + Quote(file);
    const std::string ctrlC = " & p=$!; WaitFor $";
    const std::vector<Result> r = Shell(dir, {
        // The file rewritten once the first board is done: the rest still
        // get, and the log still names, the file as it was checked.
        Command(kVelkor, {"--log", dir.Path("log"), "--wait", "2", "--sim", lineup}) + each + " & p=$!; WaitFor $OUT Unplug; cat " +
            Quote(big) + " >" + Quote(file) + "; wait $p",
        // timeout passes the Ctrl+C on (to velkor alone: --foreground), and
        // ends a run that ignored it.
        "env --default-signal=INT timeout --foreground -s KILL 20 " + Command(kVelkor, {"--sim", "demo"}) + each + ctrlC +
            "OUT Unplug; kill -INT $p; wait $p",
        "env --default-signal=INT timeout --foreground -s KILL 20 " + Command(kVelkor, {"--verbose", "--sim", usb, "program", "--each", big}) +
            ctrlC + "ERR 'write 00 c2'; kill -INT $p; wait $p",
        // The log gone unwritable after the first board: the next is left alone.
        Command(kVelkor, {"--log", dir.Path("log2"), "--sim", lineup2}) + each + ctrlC + "OUT Unplug; rm " + log2 + "; mkdir " + log2 +
            "; wait $p",
    });
    EXPECT_EQ(r[0].status, 1) << Describe(r[0]);
    EXPECT_EQ(Verdicts(r[0].out), (std::vector<std::string>{"updated", "failed", "updated"})) << r[0].out;
    EXPECT_EQ(Count(r[0].out, "Unplug the board to go on\n"), 3u) << r[0].out;
    EXPECT_TRUE(EndsWith(r[0].out, "3 boards: 2 updated, 1 failed\n")) << r[0].out;
    EXPECT_EQ(r[0].err, "Error 5 erasing 0x001000\nNo board detected within 2 s\n");
    const auto dump = [&](int i) { return json::parse(std::ifstream(dir.Path("b" + std::to_string(i) + ".json")), nullptr, false); };
    EXPECT_EQ(dump(0)["data"].size(), 2u);
    EXPECT_EQ(dump(2)["data"], dump(0)["data"]);
    EXPECT_EQ(dump(1)["data"].size(), 1u) << "the second erase failed";
    EXPECT_EQ(dump(1)["data"]["0x000000"], dump(0)["data"]["0x000000"]);
    std::istringstream log(dir.Read("log"));
    std::vector<int> exits;
    std::set<std::string> sums;
    for (std::string line; std::getline(log, line);) {
        exits.push_back(json::parse(line)["exit"]);
        sums.insert(json::parse(line)["file"]["sha256"].get<std::string>());
    }
    EXPECT_EQ(exits, (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(sums.size(), 1u);

    EXPECT_EQ(r[1].status, 0) << Describe(r[1]);
    EXPECT_TRUE(EndsWith(r[1].out, "Unplug the board to go on\n1 board: 1 updated, 0 failed\n")) << r[1].out;
    EXPECT_EQ(r[1].err, "");
    EXPECT_EQ(r[2].status, 1) << Describe(r[2]);
    EXPECT_EQ(Verdicts(r[2].out), std::vector<std::string>{"stopped"});
    EXPECT_TRUE(EndsWith(r[2].out, "1 board: 0 updated, 1 failed\n")) << r[2].out;
    EXPECT_EQ(Count(r[2].err, "Stopping after the current record (Ctrl+C again to quit at once)\n"), 1u);
    EXPECT_TRUE(EndsWith(r[2].err, kIncomplete)) << r[2].err;
    EXPECT_EQ(r[3].status, 2) << Describe(r[3]);
    EXPECT_TRUE(EndsWith(r[3].out, "1 board: 1 updated, 0 failed\n")) << r[3].out;
    EXPECT_TRUE(std::filesystem::exists(dir.Path("c0.json")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("c1.json"))) << "the board after the log went was opened";
}

TEST(Velkor, ProgressLineText)
{
    const auto line = [](uint64_t position, uint64_t size, double rate, size_t width = 100) {
        return FormatProgressLine({"Uploading data", position, size, rate}, width);
    };
    EXPECT_EQ(line(4200, 10000, 1460), "Uploading data   42%  1.5 kB/s  0:04 left");
    EXPECT_EQ(line(4200, 10000, -1), "Uploading data   42%");
    EXPECT_EQ(line(0, 0, 500), "Uploading data");
    EXPECT_EQ(line(4200, 10000, 1460, 20).size(), 19u) << "the last column stays free";
    EXPECT_EQ(FormatDuration(0.2), "0:01");
}

using ConsoleJobs = SimFixture;

// A board the system lists but this user may not open: the hint takes the
// place of each job's words for a missing board, and only of those.
TEST_F(ConsoleJobs, PermissionHint)
{
    SimConfig absent;
    absent.present = false;
    Reset(absent);
    const TempFile file(FirmwareBuilder().Code({1}).bytes());
    Console console(false, true);
    ConsoleWindow consoleWindow(console, file.path());
    consoleWindow.boardInaccessible = [] { return true; };
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    DetectionJob(consoleWindow);
    UpdateJob(consoleWindow);
    ServiceJob(consoleWindow, SVC_PRESSURE_VALUES, 0);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string hint = BoardAccessHint() + std::string("\n");
    EXPECT_EQ(err, hint + hint + hint);
    EXPECT_EQ(out, "Connecting...\nWait...\n");
}

TEST(MakeFirmware, DescriptionsInFilesOut)
{
    TempDir dir;
    const std::string data(260, 'a');  // 130 bytes
    const std::string out = dir.Path("out.enc");
    const Result made = RunOne(kTool, {dir.Write("in.fw", "# comment\ncode 0102 03  # note\ndata 0x0fc0 " +
                                                                         data + "\nfill 8192 100 ramp\nfill 0x3000 3 0x5A\n"),
                                                  out});
    ASSERT_EQ(made.status, 0) << made.err;
    const Result listed = RunOne(kVelkor, {"inspect", out});
    EXPECT_EQ(listed.status, 0) << listed.out;
    for (const char* line : {"data at 0x000fc0, 64 bytes, check ok\n", "data at 0x001000, 64 bytes, check ok, erase first",
                             "data at 0x002040, 36 bytes", "data at 0x003000, 3 bytes", "records: 1 code, 6 data"})
        EXPECT_NE(listed.out.find(line), std::string::npos) << line << "\n" << listed.out;

    const std::pair<std::string, std::string> bad[] = {
        {"\n\ncode 123", ":3: expected hex bytes"},
        {"data 0xfffffe 010203", ":1: data reaches past the 24-bit address range"},
        {"erase 0x1000", ":1: unknown directive \"erase\""},
    };
    for (const auto& [text, message] : bad) {
        const Result r = RunOne(kTool, {dir.Write("bad.fw", text + "\n"), dir.Path("bad.enc")});
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_NE(r.err.find(message), std::string::npos) << text << "\n" << r.err;
        EXPECT_FALSE(std::ifstream(dir.Path("bad.enc")).good()) << text;
    }
    EXPECT_EQ(RunOne(kTool, {"--check", dir.Path("in.fw"), out}).status, 0);
    const Result stale = RunOne(kTool, {"--check", dir.Write("one.fw", "code 01\n"), out});
    EXPECT_EQ(stale.status, 1);
    EXPECT_NE(stale.err.find("make_firmware " + dir.Path("one.fw") + " " + out), std::string::npos) << stale.err;
}

}  // namespace
