#include "cli/usb_board.h"

#include "link/hid.h"

const HidBackend* UsbHidBackend()
{
    return &kWin32HidBackend;
}

bool UsbBoardInaccessible()
{
    // Windows lets any user open a HID board: there is no permission to explain.
    return false;
}
