// The whole update job over an arbitrary file against the simulated board.
// After every run: the board is closed, the job reported its end, and the
// board's data flash holds nothing the file did not put there.
#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <map>

#include "fuzz/fuzz_support.h"
#include "link/board_link.h"
#include "link/hid.h"
#include "sim/sim_setup.h"
#include "support/recording_window.h"
#include "update/firmware.h"
#include "update/update_job.h"

namespace {

using Allowed = std::map<uint32_t, std::bitset<256>>;

// The values each address may hold: erased (0xFF), or any AND of bytes that
// data blocks of the file put there, since programming only clears bits.
Allowed AllowedFlash(const uint8_t* data, size_t size)
{
    Allowed allowed;
    for (size_t at = 0; at + 2 <= size && at + 2 + data[at + 1] <= size; at += 2u + data[at + 1]) {
        if (data[at] != kTokenData && data[at] != kTokenCode)
            break;
        DataBlock block;
        if (data[at] != kTokenData || DecodeDataBlock(data + at + 2, data[at + 1], block) != DataBlockOutcome::kOk)
            continue;
        for (uint32_t i = 0; i < block.dataLength; ++i) {
            std::bitset<256>& set = allowed[(block.address + i) & 0xFFFFFF];
            set.set(0xFF);
            for (unsigned v = 0; v < 256; ++v)
                if (set.test(v))
                    set.set(v & block.data[i]);
        }
    }
    return allowed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ScratchFile scratch(data, size);
    SimConfig config;
    config.readTimeoutMs = 5;
    SimBoard board(config);
    RecordingWindow window;
    window.fileName = scratch.path();
    {
        const SimLinkSetup setup(&board, [](uint32_t) {});
        UpdateJob(window);
    }

    // A fault-free board always answers, so every run ends with one box: the
    // outcome, good or bad; then "Wait..." and the one end report.
    const auto& calls = window.calls;
    const auto isResult = [](const std::string& call) { return call.rfind("result: ", 0) == 0; };
    if (board.OpenHandles() != 0 || window.Boxes().size() != 1 || calls.size() < 2 || calls.end()[-2] != "status: Wait..." ||
        calls.back() != "result: 1027 1 0" || std::count_if(calls.begin(), calls.end(), isResult) != 1)
        std::abort();
    const Allowed allowed = AllowedFlash(data, size);
    for (const auto& [address, block] : board.FlashBlocks()) {
        for (uint32_t i = 0; i < block.size(); ++i) {
            const auto found = allowed.find(address + i);
            if (block[i] != 0xFF && (found == allowed.end() || !found->second.test(block[i])))
                std::abort();
        }
    }
    return 0;
}
