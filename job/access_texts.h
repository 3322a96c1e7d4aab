// What a front end says when the system lists the board but this user may not
// open it: on Linux, the board's hidraw node without the udev rule
// (docs/linux-access.md).
#pragma once

constexpr const char kBoardAccessHint[] =
    "A board is attached but this user may not open it: install packaging/udev/70-velkor.rules "
    "into /etc/udev/rules.d and replug the board (see docs/linux-access.md)";
// After installing the rule by hand, udev takes it with these two.
constexpr const char kUdevReloadCommands[] = "sudo udevadm control --reload-rules && sudo udevadm trigger";
