// HID backend for tests and demo builds: the installed simulated board stands
// in for the device. With none installed there is no board to open.
#include "link/hid.h"

#include "sim/sim_board.h"

namespace {

int32_t SimOpen(uint16_t vendorId, uint16_t productId, int32_t reserved)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->Open(vendorId, productId, reserved) : -1;
}

int32_t SimWriteShort(int32_t handle, const uint8_t* report, int32_t length)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->WriteShort(handle, report, length) : -1;
}

int32_t SimRead(int32_t handle, uint8_t* buf, int32_t length)
{
    SimBoard* board = InstalledSimBoard();
    return board != nullptr ? board->Read(handle, buf, length) : -1;
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

}  // namespace

extern const HidBackend kSimHidBackend = {SimOpen, SimWriteShort, SimRead, SimWriteLong, SimClose};
