// The real board on USB, through this platform's HID backend
// (usb_board_hidapi.cpp, usb_board_win32.cpp).
#pragma once

struct HidBackend;

const HidBackend* UsbHidBackend();

// True when the system lists the board but this user may not open it, which
// is reported as a permission problem rather than as a missing board.
bool UsbBoardInaccessible();
