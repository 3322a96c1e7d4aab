// HID backend for tests and demo builds: the installed simulated board stands
// in for the device. With none installed there is no board to list.
#include "link/hid.h"

#include "sim/sim_board.h"

namespace {

std::vector<std::string> SimList(uint16_t vendorId, uint16_t productId)
{
    SimBoard* board = InstalledSimBoard();
    if (board == nullptr || vendorId != 0x04D8 || productId != 0xFC31 || !board->Listed())
        return {};
    return {board->Path()};
}

int32_t SimOpen(const char* path)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->Open(path) : -1;
}

int32_t SimWriteShort(int32_t handle, const uint8_t* report, int32_t length)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->WriteShort(handle, report, length) : -1;
}

int32_t SimRead(int32_t handle, uint8_t* buf, int32_t length, int32_t timeoutMs)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->Read(handle, buf, length, timeoutMs) : -1;
}

int32_t SimWriteLong(int32_t handle, const uint8_t* report, int32_t length)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->WriteLong(handle, report, length) : -1;
}

int32_t SimClose(int32_t handle)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->Close(handle) : -1;
}

bool SimIds(int32_t handle, uint16_t& vendorId, uint16_t& productId)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr && board->Ids(handle, vendorId, productId);
}

}  // namespace

extern const HidBackend kSimHidBackend = {SimList,      SimOpen,  SimWriteShort, SimRead,
                                          SimWriteLong, SimClose, SimIds};
