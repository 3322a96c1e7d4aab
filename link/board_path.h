// What a board's name given by the user (velkor --device) stands for among
// the paths the HID backend lists. One file per platform:
// board_path_posix.cpp (Linux, macOS), board_path_win32.cpp, board_path_web.cpp.
#pragma once

#include <string>

// The listed form of name: on Linux a symlink, a relative path or a bare
// node name ("hidraw3" for /dev/hidraw3) becomes the node's real path. A name
// that is no file comes back as given.
std::string ResolveBoardPath(const std::string& name);
