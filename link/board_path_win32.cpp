// Windows lists device interface paths, which name no file to resolve.
#include "link/board_path.h"

std::string ResolveBoardPath(const std::string& name)
{
    return name;
}
