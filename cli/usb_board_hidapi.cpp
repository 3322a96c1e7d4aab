#include "cli/usb_board.h"

#include "link/hid.h"
#include "link/hid_hidapi.h"

const HidBackend* UsbHidBackend()
{
    return &kHidapiBackend;
}

bool UsbBoardInaccessible()
{
    return HidapiBoardPresentButInaccessible();
}
