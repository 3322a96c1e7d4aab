// The whole update job over an arbitrary file against the simulated board.
// After every run: the board is closed, the job reported its end, and the
// board's data flash holds nothing the file did not put there.
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/board_link.h"
#include "link/hid.h"
#include "sim/sim_board.h"
#include "update/firmware.h"
#include "update/update_job.h"
#include "worker/job_window.h"
#include "worker/messages.h"

namespace {

class FuzzWindow : public JobWindow {
public:
    std::string fileName;
    std::vector<std::string> statuses;
    std::vector<uint32_t> results;  // message, wparam, lparam, in turn
    int boxes = 0;

    void SetStatus(const char* text) override { statuses.emplace_back(text); }
    void SetProgressRange(uint32_t) override {}
    void SetProgressPos(uint32_t) override {}
    int ShowMessage(const char*, const char*, MessageIcon) override
    {
        ++boxes;
        return kButtonOk;
    }
    void SendResult(uint32_t message, uint32_t wparam, int32_t lparam) override
    {
        results.push_back(message);
        results.push_back(wparam);
        results.push_back(static_cast<uint32_t>(lparam));
    }
    void ReadFileName(char* buf, size_t size) override
    {
        std::snprintf(buf, size, "%s", fileName.c_str());
    }
    bool TakeAbort() override { return false; }
};

using Allowed = std::map<uint32_t, std::bitset<256>>;

// The values each address may hold: erased (0xFF), or any AND of bytes that
// data blocks of the file put there, since programming only clears bits.
Allowed AllowedFlash(const uint8_t* data, size_t size)
{
    Allowed allowed;
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t token = data[at];
        const uint8_t length = data[at + 1];
        if (token != kTokenData && token != kTokenCode)
            break;
        if (at + 2 + length > size)
            break;
        DataBlock block;
        if (token == kTokenData && DecodeDataBlock(data + at + 2, length, block) == DataBlockOutcome::kOk) {
            for (uint32_t i = 0; i < block.dataLength; ++i) {
                std::bitset<256>& set = allowed[(block.address + i) & 0xFFFFFF];
                set.set(0xFF);
                std::bitset<256> next = set;
                for (unsigned v = 0; v < 256; ++v)
                    if (set.test(v))
                        next.set(v & block.data[i]);
                set = next;
            }
        }
        at += 2u + length;
    }
    return allowed;
}

void NoSleep(uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ScratchFile scratch(data, size);
    SimConfig config;
    config.readTimeoutMs = 5;
    SimBoard board(config);
    InstallSimBoard(&board);
    SetHidBackend(&kSimHidBackend);
    SetBoardSleep(NoSleep);

    FuzzWindow window;
    window.fileName = scratch.path();
    UpdateJob(window);

    SetHidBackend(nullptr);
    InstallSimBoard(nullptr);
    SetBoardSleep(nullptr);

    if (board.OpenHandles() != 0)
        std::abort();
    if (window.statuses.empty() || window.statuses.back() != "Wait...")
        std::abort();
    if (window.results != std::vector<uint32_t>{UM_UPDATE, 1, 0})
        std::abort();
    // A fault-free board always gets an answer, so every run ends with one box:
    // the outcome, good or bad.
    if (window.boxes != 1)
        std::abort();

    const Allowed allowed = AllowedFlash(data, size);
    for (const auto& entry : board.FlashBlocks()) {
        for (uint32_t i = 0; i < entry.second.size(); ++i) {
            const uint8_t value = entry.second[i];
            if (value == 0xFF)
                continue;
            const auto found = allowed.find(entry.first + i);
            if (found == allowed.end() || !found->second.test(value))
                std::abort();
        }
    }
    return 0;
}
