// Throughput of the firmware reader, the update job's own cost per record,
// and how close a whole update comes to the time the link itself needs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "job/job_window.h"
#include "link/board_link.h"
#include "link/commands.h"
#include "link/hid.h"
#include "sim/sim_setup.h"
#include "support/firmware_builder.h"
#include "support/quiet_window.h"
#include "update/firmware.h"
#include "update/sequencer.h"
#include "update/update_job.h"

namespace {

// records data blocks of 64 bytes; with mixed, every other one a full code
// block, so every record also switches the board's mode.
Bytes MakeFile(int records, bool mixed)
{
    FirmwareBuilder fw;
    for (int i = 0; i < records; ++i) {
        if (mixed && i % 2 == 1)
            fw.Code(Pattern(72, static_cast<uint8_t>(i)));
        else
            fw.Data(0x1000u * static_cast<uint32_t>(1 + i / 64) + 64u * static_cast<uint32_t>(i % 64),
                    Pattern(64, static_cast<uint8_t>(i)));
    }
    return fw.bytes();
}

void ReadAndCheck(benchmark::State& state)
{
    const Bytes contents = MakeFile(16384, true);  // about 1.2 MB
    const TempFile file(contents);
    uint8_t buffer[kRecordBufferSize];
    for (auto _ : state) {
        const FirmwareFile f = OpenFirmwareFile(file.path().c_str());
        FirmwareRecord record;
        DataBlock block;
        int ok = 0;
        while (ReadRecord(f, buffer, record) == RecordOutcome::kRecord) {
            if (record.token == kTokenData)
                ok += DecodeDataBlock(record.payload, record.length, block) == DataBlockOutcome::kOk;
        }
        CloseFirmwareFile(f);
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(contents.size()));
}
BENCHMARK(ReadAndCheck)->Unit(benchmark::kMillisecond);

struct Board {
    explicit Board(bool usbFs)
    {
        SimConfig config;
        config.usbFullSpeedTiming = usbFs;
        board = std::make_unique<SimBoard>(config);
        // The settle pauses are the board's, not the link's or the job's.
        setup.emplace(board.get(), [](uint32_t) {});
        ProgrammingState = -1;
        ProgrammingInitialised = 0;
    }
    std::unique_ptr<SimBoard> board;
    std::optional<SimLinkSetup> setup;
};

// The job and the simulated board together, with no link delay: an upper
// bound on what the job adds per record.
void UpdatePerRecord(benchmark::State& state)
{
    const int records = static_cast<int>(state.range(0));
    const TempFile file(MakeFile(records, state.range(1) != 0));
    for (auto _ : state) {
        state.PauseTiming();
        auto board = std::make_unique<Board>(false);
        QuietWindow window(file.path().c_str());
        state.ResumeTiming();
        UpdateJob(window);
        state.PauseTiming();
        if (!window.complete)
            state.SkipWithError("update failed");
        board.reset();
        state.ResumeTiming();
    }
    state.counters["per_record"] =
        benchmark::Counter(records, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(UpdatePerRecord)->ArgNames({"records", "mixed"})->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMillisecond);

// The simulated board's share of a data record: the one upload exchange,
// straight to the board. UpdatePerRecord less this and less ReadAndCheck's
// time per record is what the job itself adds.
void SimUploadExchange(benchmark::State& state)
{
    Board board(false);
    const int32_t handle = OpenBoard("");
    const Bytes data = Pattern(64);
    for (auto _ : state) {
        if (UploadData(handle, data.data(), 64, 0x1000) != 0)
            state.SkipWithError("upload failed");
        // The trace grows with every report; keep it from dominating.
        if (state.iterations() % 4096 == 0) {
            state.PauseTiming();
            board.board->ClearTrace();
            state.ResumeTiming();
        }
    }
    CloseBoard(handle);
}
BENCHMARK(SimUploadExchange);

// A whole update under the full-speed timing model, against the link time the
// model charged: what the host adds on top of the wire.
void UpdateOverLinkTime(benchmark::State& state)
{
    const TempFile file(MakeFile(static_cast<int>(state.range(0)), true));
    double measured = 0, link = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto board = std::make_unique<Board>(true);
        QuietWindow window(file.path().c_str());
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        UpdateJob(window);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.PauseTiming();
        if (!window.complete)
            state.SkipWithError("update failed");
        measured += elapsed.count();
        link += std::chrono::duration<double>(board->board->LinkTime()).count();
        board.reset();
        state.ResumeTiming();
    }
    state.counters["link_s"] = link / static_cast<double>(state.iterations());
    state.counters["ratio"] = link > 0 ? measured / link : 0;
}
BENCHMARK(UpdateOverLinkTime)->ArgNames({"records"})->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
