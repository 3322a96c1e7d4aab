// The page lists the devices the browser granted under names of its own.
#include "link/board_path.h"

std::string ResolveBoardPath(const std::string& name)
{
    return name;
}
