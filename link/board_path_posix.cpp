// hidraw nodes are listed by their real paths under /dev; udev's symlinks and
// the user's own lead there. macOS lists IOService names, which are no files
// and stay as given.
#include <climits>
#include <cstdlib>
#include <unistd.h>

#include "link/board_path.h"

std::string ResolveBoardPath(const std::string& name)
{
    std::string path = name;
    if (name.find('/') == std::string::npos && access(name.c_str(), F_OK) != 0)
        path = "/dev/" + name;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr)
        return name;
    return resolved;
}
