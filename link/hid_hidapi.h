// What the hidapi backend can tell beyond the five HID operations.
#pragma once

// True when the system lists the board but it cannot be opened. On Linux this
// is nearly always a hidraw node the user may not read, which the front end
// reports as a permission problem rather than as a missing board.
bool HidapiBoardPresentButInaccessible();
