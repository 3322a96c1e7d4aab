// The simulated board driven directly by arbitrary operations: opens, writes
// of any bytes and length, reads, closes, faults, unplugging. It must answer
// without crashing, hanging or leaking, and every handle it gave out must
// close.
#include <cstdlib>
#include <vector>

#include "sim/sim_board.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The input read byte by byte, zeros past its end.
    size_t at = 0;
    const auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    SimConfig config;
    const uint8_t setup = byte();
    config.loader = (setup & 1) != 0;
    config.firmware = (setup & 2) != 0;
    config.identifies = (setup & 4) == 0;
    config.noise = (setup >> 3) & 3;
    config.readTimeoutMs = 0;  // a silent board must not stall the run
    SimBoard board(config);

    std::vector<int32_t> handles;
    const auto pick = [&](uint8_t selector) -> int32_t {
        if (handles.empty() || selector == 0xFF)
            return static_cast<int32_t>(selector) - 2;  // invalid handles too
        return handles[selector % handles.size()];
    };

    while (at < size) {
        const uint8_t op = byte();
        switch (op % 10) {
        case 0: {
            const bool right = (op & 0x10) == 0;
            const int32_t h = board.Open(right ? 0x04D8 : 0x1234, right ? 0xFC31 : 0x5678, 0);
            if (h >= 0)
                handles.push_back(h);
            break;
        }
        case 1:
        case 2: {
            // Mostly well-formed reports, now and then any length.
            const bool isShort = op % 10 == 1;
            const int32_t h = pick(byte());
            int32_t length = isShort ? 9 : 73;
            if ((op & 0x80) != 0)
                length = static_cast<int32_t>(byte()) % 80;
            std::vector<uint8_t> report(static_cast<size_t>(length));
            for (uint8_t& b : report)
                b = byte();
            if ((op & 0x40) == 0 && !report.empty())
                report[0] = 0;
            const uint8_t* bytes = (op & 0x20) != 0 && length == 0 ? nullptr : report.data();
            if (isShort)
                board.WriteShort(h, bytes, length);
            else
                board.WriteLong(h, bytes, length);
            break;
        }
        case 3: {
            uint8_t buf[80];
            const int32_t length = (op & 0x80) != 0 ? byte() % 80 : 9;
            board.Read(pick(byte()), buf, length);
            break;
        }
        case 4:
            board.Close(pick(byte()));
            break;
        case 5: {
            const auto kind = static_cast<SimFaultKind>(byte() % 6);
            const uint8_t command = byte();
            board.AddFault({kind, command == 0xFF ? -1 : command, byte() % 8, byte()});  // read in this order
            break;
        }
        case 6:
            board.ClearFaults();
            break;
        case 7:
            board.SetUnplugAfter(static_cast<int8_t>(byte()));
            break;
        case 8:
            board.SetPresent((op & 0x10) != 0);
            break;
        case 9:
            // What tests look at must be readable at any point.
            board.DumpJson();
            board.FlashBlocks();
            board.CodeLog();
            board.Trace();
            break;
        }
    }

    for (const int32_t h : handles)
        board.Close(h);
    if (board.OpenHandles() != 0)
        std::abort();
    return 0;
}
