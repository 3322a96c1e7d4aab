// The simulated board driven with raw reports, built here byte for byte, so a
// mistake in the host's report building cannot hide one in the board.
#include "sim/sim_board.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "link/hid.h"

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVid = 0x04D8;
constexpr uint16_t kPid = 0xFC31;

// Report id 0, then the given bytes from byte 1, zero-filled to the size.
Bytes Short(std::initializer_list<uint8_t> bytes)
{
    Bytes report(9, 0);
    std::copy(bytes.begin(), bytes.end(), report.begin() + 1);
    return report;
}

Bytes Long(const Bytes& payload)
{
    Bytes report(73, 0);
    std::copy(payload.begin(), payload.end(), report.begin() + 1);
    return report;
}

const Bytes kIdentify = Short({0x00});
const Bytes kBoot = Short({0x01});
const Bytes kEnterLoader = Short({0x02});
const Bytes kInit = Short({0x06, 0x55, 0xAA});
const Bytes kComplete = Short({0x08});
const Bytes kStartDataUpload = Short({0xC0});

Bytes Erase(uint32_t a) { return Short({0xC2, 0x01, uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), 0xAA, 0x55}); }

Bytes ShotCounter(bool query, uint32_t v)
{
    return Short({0x40, uint8_t(query), uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24), 0xAA, 0x55});
}

Bytes Pressure(uint8_t selector) { return Short({0x90, selector}); }

Bytes CodeBlock(uint8_t seed)
{
    Bytes payload(72);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(seed + i);
    return Long(payload);
}

// Written from the published definition rather than shared with the board.
uint16_t Crc(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    while (n--) {
        crc ^= *p++;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

Bytes Upload(uint32_t a, const Bytes& data)
{
    Bytes report(73, 0);
    report[1] = 0x10;
    report[2] = 0x12;
    report[3] = static_cast<uint8_t>(data.size());
    report[4] = uint8_t(a);
    report[5] = uint8_t(a >> 8);
    report[6] = uint8_t(a >> 16);
    std::copy(data.begin(), data.end(), report.begin() + 7);
    const size_t n = std::min<size_t>(data.size(), 64);
    const uint16_t crc = Crc(report.data() + 1, 6 + n);
    report[7 + n] = uint8_t(crc);
    report[8 + n] = uint8_t(crc >> 8);
    return report;
}

SimConfig Fast()
{
    SimConfig config;
    config.readTimeoutMs = 20;
    return config;
}

// One open handle on a board, as the host backend would use it.
struct Host {
    SimBoard& board;
    int32_t handle;

    explicit Host(SimBoard& b) : board(b), handle(b.Open(kVid, kPid, 0)) {}

    int32_t Write(const Bytes& r)
    {
        const int32_t n = static_cast<int32_t>(r.size());
        return n == 9 ? board.WriteShort(handle, r.data(), n) : board.WriteLong(handle, r.data(), n);
    }
    // The next reply, or empty when the read fails.
    Bytes Read()
    {
        Bytes reply(9, 0xAB);
        return board.Read(handle, reply.data(), 9) >= 0 ? reply : Bytes();
    }
    Bytes Exchange(const Bytes& r)
    {
        EXPECT_GE(Write(r), 0);
        return Read();
    }
    // Reply code and status of one exchange.
    std::pair<int, int> Answer(const Bytes& r)
    {
        const Bytes reply = Exchange(r);
        return reply.empty() ? std::make_pair(-1, -1) : std::make_pair(int(reply[1]), int(reply[2]));
    }
};

std::pair<int, int> Ok(uint8_t code) { return {code, 0}; }
std::pair<int, int> Refused(uint8_t code, SimStatus status) { return {code, status}; }

TEST(SimBoardIdentity, ReportsTypeFlagsAndVersionInEachMode)
{
    SimBoard board(Fast());
    Host host(board);
    EXPECT_EQ(host.Exchange(kIdentify), (Bytes{0, 0x00, 0x43, 0, 0, 3, 2, 'b', 0}));
    EXPECT_EQ(host.Answer(kEnterLoader), Ok(0x02));
    EXPECT_EQ(host.Exchange(kIdentify)[2], 0xC3);

    SimConfig bare = Fast();
    bare.type = 5;
    bare.firmware = false;
    bare.loader = true;
    bare.versionLetter = '\0';
    SimBoard empty(bare);
    Host other(empty);
    EXPECT_EQ(other.Exchange(kIdentify), (Bytes{0, 0x00, 0x85, 0, 0, 3, 2, 0, 0}));
}

TEST(SimBoardIdentity, UnidentifiedBoardFailsOnlyTheIdentifyRead)
{
    SimConfig config;
    config.identifies = false;
    config.readTimeoutMs = 5000;
    SimBoard board(config);
    Host host(board);
    ASSERT_GE(host.handle, 0);
    const auto start = Clock::now();
    EXPECT_TRUE(host.Exchange(kIdentify).empty());
    EXPECT_LT(Clock::now() - start, milliseconds(1000));  // at once, no time-out
    EXPECT_EQ(host.Answer(Pressure(0)), Ok(0x90));
}

TEST(SimBoardModes, ApplicationToLoaderAndBack)
{
    SimBoard board(Fast());
    Host host(board);

    // Loader commands are refused by the application, and the other way round.
    EXPECT_EQ(host.Answer(kBoot), Refused(0x01, kSimWrongMode));
    EXPECT_EQ(host.Answer(kInit), Refused(0x06, kSimWrongMode));
    EXPECT_EQ(host.Answer(kComplete), Refused(0x08, kSimWrongMode));
    EXPECT_EQ(host.Answer(CodeBlock(1)), Refused(0x07, kSimWrongMode));

    EXPECT_EQ(host.Answer(kEnterLoader), Ok(0x02));
    EXPECT_TRUE(board.InLoader());
    EXPECT_EQ(host.Answer(kEnterLoader), Refused(0x02, kSimWrongMode));
    EXPECT_EQ(host.Answer(kStartDataUpload), Refused(0xC0, kSimWrongMode));
    EXPECT_EQ(host.Answer(Erase(0)), Refused(0xC2, kSimWrongMode));
    EXPECT_EQ(host.Answer(ShotCounter(true, 0)), Refused(0x40, kSimWrongMode));
    EXPECT_EQ(host.Answer(Pressure(0)), Refused(0x90, kSimWrongMode));
    // Even a report shaped like a data upload is a code block to the loader.
    EXPECT_EQ(host.Answer(Upload(0, {1})), Refused(0x07, kSimNotInitialised));
    EXPECT_EQ(host.Answer(CodeBlock(1)), Refused(0x07, kSimNotInitialised));
    EXPECT_EQ(host.Answer(Short({0x06, 0xAA, 0x55})), Refused(0x06, kSimBadArgument));
    EXPECT_FALSE(board.ProgrammingOpen());
    EXPECT_TRUE(board.CodeLog().empty());

    EXPECT_EQ(host.Answer(kInit), Ok(0x06));
    EXPECT_TRUE(board.ProgrammingOpen());
    EXPECT_EQ(host.Answer(CodeBlock(1)), Ok(0x07));
    EXPECT_EQ(host.Answer(CodeBlock(100)), Ok(0x07));
    ASSERT_EQ(board.CodeLog().size(), 2u);
    const Bytes sent = CodeBlock(100);
    EXPECT_EQ(board.CodeLog()[1], Bytes(sent.begin() + 1, sent.end()));

    EXPECT_EQ(host.Answer(kComplete), Ok(0x08));
    EXPECT_FALSE(board.ProgrammingOpen());
    EXPECT_EQ(host.Answer(kBoot), Ok(0x01));
    EXPECT_FALSE(board.InLoader());
    EXPECT_EQ(host.Exchange(kStartDataUpload), (Bytes{0, 0xC0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(host.Exchange(kIdentify)[2], 0x43);
    EXPECT_EQ(host.Answer(Short({0x33})), Refused(0x33, kSimUnknownCommand));
}

TEST(SimBoardModes, FirmwareOnlyFromCodeBlocksOfAClosedProcess)
{
    SimConfig config = Fast();
    config.firmware = false;
    config.loader = true;
    SimBoard board(config);
    Host host(board);

    EXPECT_EQ(host.Answer(kBoot), Refused(0x01, kSimNoFirmware));
    EXPECT_TRUE(board.InLoader());
    // Complete and boot are taken with programming closed or opened empty.
    EXPECT_EQ(host.Answer(kComplete), Ok(0x08));
    EXPECT_EQ(host.Answer(kInit), Ok(0x06));
    EXPECT_EQ(host.Answer(kComplete), Ok(0x08));
    EXPECT_FALSE(board.HasFirmware());

    EXPECT_EQ(host.Answer(kInit), Ok(0x06));
    EXPECT_EQ(host.Answer(CodeBlock(7)), Ok(0x07));
    EXPECT_FALSE(board.HasFirmware());  // not before the process completes
    EXPECT_EQ(host.Answer(kComplete), Ok(0x08));
    EXPECT_TRUE(board.HasFirmware());
    EXPECT_EQ(host.Answer(kBoot), Ok(0x01));
    EXPECT_EQ(host.Exchange(kIdentify)[2], 0x43);
}

TEST(SimBoardFlash, EraseWantsAnAlignedBlockAndItsMagic)
{
    SimBoard board(Fast());
    Host host(board);
    EXPECT_EQ(host.Exchange(Erase(0x12000)), (Bytes{0, 0xC2, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(host.Answer(Erase(0x12040)), Refused(0xC2, kSimBadArgument));
    EXPECT_EQ(host.Answer(Short({0xC2, 0x01, 0x00, 0x30, 0x00, 0x55, 0xAA})), Refused(0xC2, kSimBadArgument));
    EXPECT_EQ(host.Answer(Short({0xC2, 0x00, 0x00, 0x30, 0x00, 0xAA, 0x55})), Refused(0xC2, kSimBadArgument));

    const auto blocks = board.FlashBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks.begin()->first, 0x12000u);
    EXPECT_EQ(blocks.begin()->second, Bytes(4096, 0xFF));
}

TEST(SimBoardFlash, UploadProgramsLikeFlashAndChecksItsCrc)
{
    ASSERT_EQ(Crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xBB3D);  // the published check
    SimBoard board(Fast());
    Host host(board);

    // Across a block boundary; a second write can only clear bits.
    EXPECT_EQ(host.Exchange(Upload(0x0FFE, {0xF0, 0x3C, 0x81})), (Bytes{0, 0xC3, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(host.Answer(Upload(0x0FFE, {0x0F, 0xFF, 0x01})), Ok(0xC3));
    EXPECT_EQ(board.FlashByte(0x0FFE), 0x00);
    EXPECT_EQ(board.FlashByte(0x0FFF), 0x3C);
    EXPECT_EQ(board.FlashByte(0x1000), 0x01);
    EXPECT_EQ(board.FlashByte(0x1001), 0xFF);
    EXPECT_EQ(board.FlashBlocks().size(), 2u);

    Bytes corrupt = Upload(0x2000, {0x00});
    corrupt[8] ^= 1;
    EXPECT_EQ(host.Answer(corrupt), Refused(0xC3, kSimCrcError));
    Bytes tooLong = Upload(0x2000, Bytes(64, 0x00));
    tooLong[3] = 65;
    EXPECT_EQ(host.Answer(tooLong), Refused(0xC3, kSimBadArgument));
    EXPECT_EQ(board.FlashByte(0x2000), 0xFF);

    EXPECT_EQ(host.Answer(Upload(0x2000, Bytes(64, 0x5A))), Ok(0xC3));  // CRC in bytes 71, 72
    EXPECT_EQ(board.FlashByte(0x203F), 0x5A);
    EXPECT_EQ(host.Answer(Upload(0x3000, {})), Ok(0xC3));  // CRC in bytes 7, 8

    EXPECT_EQ(host.Answer(Erase(0x1000)), Ok(0xC2));
    EXPECT_EQ(board.FlashByte(0x1000), 0xFF);
    EXPECT_EQ(board.FlashByte(0x0FFF), 0x3C);
}

TEST(SimBoardService, ShotCounterAndPressure)
{
    SimBoard board(Fast());
    Host host(board);
    EXPECT_EQ(host.Exchange(ShotCounter(true, 0)), (Bytes{0, 0x40, 0, 0xE8, 0x03, 0, 0, 0, 0}));
    EXPECT_EQ(host.Exchange(ShotCounter(false, 0x80000001)), (Bytes{0, 0x40, 0, 0x01, 0, 0, 0x80, 0, 0}));
    EXPECT_EQ(board.ShotCounter(), 0x80000001u);
    EXPECT_EQ(host.Answer(Short({0x40, 0, 5, 0, 0, 0, 0x55, 0xAA})), Refused(0x40, kSimBadArgument));
    EXPECT_EQ(board.ShotCounter(), 0x80000001u);

    EXPECT_EQ(host.Exchange(Pressure(0)), (Bytes{0, 0x90, 0, 0x01, 0x02, 0x03, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(host.Exchange(Pressure(3)), (Bytes{0, 0x90, 0, 0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0}));
}

TEST(SimBoardFaults, StatusFaultHitsItsOccurrenceAndLeavesTheCommandUndone)
{
    SimBoard board(Fast());
    board.AddFault({SimFaultKind::kStatus, 0xC2, 2, 0x05});
    board.AddFault({SimFaultKind::kStatus, kSimKeyUploadData, 1, 0x66});
    board.AddFault({SimFaultKind::kStatus, -1, 3, 0x22});
    Host host(board);

    EXPECT_EQ(host.Answer(Erase(0x2000)), Ok(0xC2));
    EXPECT_EQ(host.Answer(Upload(0x2000, {0})), Refused(0xC3, SimStatus(0x66)));
    EXPECT_EQ(board.FlashByte(0x2000), 0xFF);
    EXPECT_EQ(host.Answer(Upload(0x2000, {0})), Ok(0xC3));
    EXPECT_EQ(host.Answer(Erase(0x2000)), Refused(0xC2, SimStatus(0x05)));
    EXPECT_EQ(board.FlashByte(0x2000), 0x00);
    EXPECT_EQ(host.Answer(Erase(0x2000)), Refused(0xC2, SimStatus(0x22)));  // 3rd of its kind
    EXPECT_EQ(host.Answer(Erase(0x2000)), Ok(0xC2));
    EXPECT_EQ(board.FlashByte(0x2000), 0xFF);

    // A code block is keyed 0x07 and answered with that code.
    board.AddFault({SimFaultKind::kStatus, kSimKeyCodeBlock, 0, 0x09});
    EXPECT_EQ(host.Answer(kEnterLoader), Ok(0x02));
    EXPECT_EQ(host.Answer(kInit), Ok(0x06));
    EXPECT_EQ(host.Answer(CodeBlock(0)), Refused(0x07, SimStatus(0x09)));
    EXPECT_TRUE(board.CodeLog().empty());
}

TEST(SimBoardFaults, LinkFaultsSilenceAndNoise)
{
    SimConfig config;
    config.readTimeoutMs = 400;
    SimBoard board(config);
    Host host(board);

    board.AddFault({SimFaultKind::kWriteFail, 0x40, 1, 0});
    EXPECT_EQ(host.Write(ShotCounter(false, 5)), -1);
    EXPECT_EQ(board.ShotCounter(), 1000u);  // the board saw nothing

    board.AddFault({SimFaultKind::kReadFail, 0x40, 2, 0});
    auto start = Clock::now();
    EXPECT_TRUE(host.Exchange(ShotCounter(false, 7)).empty());
    EXPECT_LT(Clock::now() - start, milliseconds(200));
    EXPECT_EQ(board.ShotCounter(), 7u);  // carried out, only the reply was lost
    EXPECT_EQ(host.Answer(ShotCounter(true, 0)), Ok(0x40));

    board.AddFault({SimFaultKind::kSilent, 0x40, 4, 0});
    start = Clock::now();
    EXPECT_TRUE(host.Exchange(ShotCounter(false, 9)).empty());
    EXPECT_GE(Clock::now() - start, milliseconds(390));
    EXPECT_EQ(board.ShotCounter(), 9u);

    board.AddFault({SimFaultKind::kNoise, 0x90, 0, 2});
    ASSERT_GE(host.Write(Pressure(0)), 0);
    EXPECT_EQ(host.Read()[1], 0xEE);
    EXPECT_EQ(host.Read()[1], 0xEE);
    EXPECT_EQ(host.Read()[1], 0x90);

    SimConfig noisy = Fast();
    noisy.noise = 1;
    SimBoard chatty(noisy);
    Host other(chatty);
    for (const Bytes& request : {kIdentify, Erase(0)}) {
        ASSERT_GE(other.Write(request), 0);
        EXPECT_EQ(other.Read()[1], 0xEE);
        EXPECT_EQ(other.Read()[1], request[1]);
    }
}

TEST(SimBoardLink, UnplugAfterReportsThenReplug)
{
    SimConfig config;
    config.readTimeoutMs = 2000;
    SimBoard board(config);
    Host host(board);
    board.SetUnplugAfter(3);  // identify out, its reply in, one more out
    EXPECT_EQ(host.Answer(kIdentify).first, 0x00);
    EXPECT_GE(host.Write(Erase(0x4000)), 0);
    EXPECT_EQ(board.FlashBlocks().count(0x4000), 1u);  // it arrived before the cable went
    const auto start = Clock::now();
    EXPECT_TRUE(host.Read().empty());
    EXPECT_LT(Clock::now() - start, milliseconds(1000));  // no waiting on a missing board
    EXPECT_EQ(host.Write(kIdentify), -1);
    EXPECT_EQ(board.Open(kVid, kPid, 0), -1);
    EXPECT_EQ(board.OpenHandles(), 1);

    board.SetPresent(true);
    EXPECT_EQ(host.Write(kIdentify), -1);  // a handle from before stays dead
    Host again(board);
    EXPECT_GE(again.handle, 0);
    EXPECT_NE(again.handle, host.handle);
    EXPECT_EQ(again.Answer(kIdentify).first, 0x00);
    EXPECT_EQ(board.Close(host.handle), 0);
    EXPECT_EQ(board.OpenHandles(), 1);

    board.SetPresent(false);
    EXPECT_EQ(again.Write(kIdentify), -1);
    SimConfig absent = Fast();
    absent.present = false;
    EXPECT_EQ(SimBoard(absent).Open(kVid, kPid, 0), -1);
}

// The cable comes back on its own a set time after it went, and a board that
// starts absent arrives the same way.
TEST(SimBoardLink, ReplugAfterATime)
{
    for (const bool startsAbsent : {false, true}) {
        SimConfig config = Fast();
        config.present = !startsAbsent;
        config.unplugAfter = 2;
        config.replugAfterMs = 500;
        SimBoard board(config);
        if (!startsAbsent) {
            Host host(board);
            EXPECT_EQ(host.Answer(kIdentify).first, 0x00);
        }
        EXPECT_EQ(board.Open(kVid, kPid, 0), -1) << startsAbsent;
        std::this_thread::sleep_for(milliseconds(520));
        Host later(board);
        EXPECT_GE(later.handle, 0) << startsAbsent;
    }
}

TEST(SimBoardLink, HandlesQueuesAndMalformedReports)
{
    SimBoard board(Fast());
    EXPECT_EQ(board.Open(0x04D8, 0x0001, 0), -1);
    Host a(board);
    Host b(board);
    ASSERT_GE(a.handle, 0);
    EXPECT_NE(a.handle, b.handle);
    EXPECT_EQ(board.OpenHandles(), 2);

    ASSERT_GE(a.Write(kIdentify), 0);
    ASSERT_GE(b.Write(Pressure(0)), 0);
    EXPECT_EQ(b.Read()[1], 0x90);
    EXPECT_EQ(a.Read()[1], 0x00);

    const Bytes id = kIdentify;
    uint8_t buf[9];
    EXPECT_EQ(board.WriteShort(a.handle, id.data(), 8), -1);
    EXPECT_EQ(board.WriteLong(a.handle, id.data(), 9), -1);
    EXPECT_EQ(board.WriteShort(a.handle, nullptr, 9), -1);
    EXPECT_EQ(board.WriteShort(a.handle, Short({0x00}).data(), 9), 9);
    Bytes wrongId = kIdentify;
    wrongId[0] = 1;
    EXPECT_EQ(board.WriteShort(a.handle, wrongId.data(), 9), -1);
    EXPECT_EQ(board.Read(a.handle, buf, 8), -1);
    EXPECT_EQ(board.Read(a.handle, nullptr, 9), -1);
    EXPECT_EQ(board.Read(a.handle, buf, 9), 9);  // the one good write's reply

    EXPECT_EQ(board.Close(a.handle), 0);
    EXPECT_EQ(board.Close(a.handle), -1);
    EXPECT_EQ(board.WriteShort(a.handle, id.data(), 9), -1);
    EXPECT_EQ(board.Read(a.handle, buf, 9), -1);
    EXPECT_EQ(board.WriteShort(12345, id.data(), 9), -1);
    EXPECT_EQ(board.OpenHandles(), 1);
}

TEST(SimBoardLink, TraceHoldsEveryReportByteExact)
{
    SimBoard board(Fast());
    Host host(board);
    board.AddFault({SimFaultKind::kWriteFail, 0x90, 0, 0});
    host.Exchange(kIdentify);
    host.Write(Pressure(1));
    host.Read();  // nothing queued: times out

    const auto trace = board.Trace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_TRUE(trace[0].fromHost && trace[0].ok);
    EXPECT_EQ(trace[0].bytes, kIdentify);
    EXPECT_FALSE(trace[1].fromHost);
    EXPECT_EQ(trace[1].bytes, (Bytes{0, 0x00, 0x43, 0, 0, 3, 2, 'b', 0}));
    EXPECT_TRUE(trace[2].fromHost && !trace[2].ok);
    EXPECT_EQ(trace[2].bytes, Pressure(1));
    EXPECT_FALSE(trace[3].fromHost || trace[3].ok);
    board.ClearTrace();
    EXPECT_TRUE(board.Trace().empty());
}

TEST(SimBoardDump, WrittenOnEveryClose)
{
    const auto dir = std::filesystem::temp_directory_path() / ("sim_dump_" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    SimConfig config = Fast();
    config.dumpPath = (dir / "board.json").string();
    SimBoard board(config);
    Host first(board);
    Host second(board);
    first.Exchange(Erase(0x3000));
    first.Exchange(Upload(0x3001, {0x12}));
    first.Exchange(ShotCounter(false, 42));
    first.Exchange(kEnterLoader);
    first.Exchange(kInit);
    first.Exchange(CodeBlock(0xA0));
    ASSERT_EQ(board.Close(first.handle), 0);

    const auto readDump = [&] {
        std::ifstream in(config.dumpPath);
        return nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    };
    nlohmann::json dump = readDump();
    EXPECT_EQ(dump["mode"], "loader");
    EXPECT_EQ(dump["shot_counter"], 42);
    EXPECT_EQ(dump["open_handles"], 1);
    ASSERT_EQ(dump["data"].size(), 1u);
    const std::string block = dump["data"]["0x003000"];
    EXPECT_EQ(block.size(), 8192u);
    EXPECT_EQ(block.substr(0, 8), "ff12ffff");
    ASSERT_EQ(dump["code"].size(), 1u);
    EXPECT_EQ(dump["code"][0].get<std::string>().substr(0, 8), "a0a1a2a3");
    EXPECT_EQ(dump["code"][0].get<std::string>().size(), 144u);

    ASSERT_EQ(board.Close(second.handle), 0);
    EXPECT_EQ(readDump()["open_handles"], 0);
    EXPECT_TRUE(board.DumpError().empty());
    EXPECT_FALSE(std::filesystem::exists(config.dumpPath + ".tmp"));

    config.dumpPath = (dir / "missing" / "board.json").string();
    SimBoard lost(config);
    Host host(lost);
    EXPECT_EQ(lost.Close(host.handle), 0);
    EXPECT_NE(lost.DumpError().find("missing"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(SimBoardTiming, UsbFullSpeedChargesOneFramePer64Bytes)
{
    SimBoard untimed(Fast());
    Host plain(untimed);
    plain.Exchange(kIdentify);
    EXPECT_EQ(untimed.LinkTime().count(), 0);

    SimConfig config = Fast();
    config.usbFullSpeedTiming = true;
    SimBoard board(config);
    Host host(board);
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i)
        host.Exchange(kIdentify);     // 1 + 1 frames
    host.Exchange(Upload(0, {1}));    // 2 + 1 frames
    host.Write(Short({0x00, 1}));     // 1 frame, never read
    EXPECT_EQ(board.LinkTime(), milliseconds(24));
    // The board takes a sleep's overrun off the next report, and clocks are
    // coarse on some systems: allow a millisecond below the link's time.
    EXPECT_GE(Clock::now() - start, milliseconds(23));
}

TEST(SimBoardThreads, InspectingWhileAWorkerExchanges)
{
    SimConfig config;
    config.readTimeoutMs = 5000;
    SimBoard board(config);
    Host host(board);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i)
            host.Exchange(i % 2 ? kIdentify : ShotCounter(false, uint32_t(i)));
        done = true;
    });
    while (!done) {
        board.ShotCounter();
        board.Trace();
        board.DumpJson();
    }
    worker.join();
    EXPECT_EQ(board.Trace().size(), 400u);

    // A read waiting on a silent board ends as soon as the cable goes.
    const auto start = Clock::now();
    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(50));
        board.SetPresent(false);
    });
    EXPECT_TRUE(host.Read().empty());
    unplug.join();
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
}

TEST(SimHidBackend, ForwardsToTheInstalledBoard)
{
    uint8_t buf[9] = {};
    const Bytes id = kIdentify;
    SetHidBackend(&kSimHidBackend);
    InstallSimBoard(nullptr);
    EXPECT_LT(HidOpen(kVid, kPid, 0), 0);
    EXPECT_LT(HidWriteShort(0, id.data(), 9), 0);
    EXPECT_LT(HidRead(0, buf, 9), 0);

    SimBoard board(Fast());
    InstallSimBoard(&board);
    const int32_t handle = HidOpen(kVid, kPid, 0);
    ASSERT_GE(handle, 0);
    EXPECT_GE(HidWriteShort(handle, id.data(), 9), 0);
    EXPECT_GE(HidRead(handle, buf, 9), 0);
    EXPECT_EQ(buf[2], 0x43);
    EXPECT_GE(HidWriteLong(handle, Upload(0, {0}).data(), 73), 0);
    EXPECT_GE(HidRead(handle, buf, 9), 0);
    EXPECT_EQ(buf[1], 0xC3);
    HidClose(handle);
    EXPECT_EQ(board.OpenHandles(), 0);
    InstallSimBoard(nullptr);
    SetHidBackend(nullptr);
}

}  // namespace
