// `velkor inspect`: what an update would do with a firmware file, and where it
// would refuse, without a board.
#pragma once

#include <cstdio>
#include <string>

// Lists the records, totals and problems on out; a file that cannot be opened
// is one line on err. Returns the exit status: 0 when the update would run
// through, 1 when it would refuse the file or the file cannot be read.
int InspectFirmware(const std::string& path, std::FILE* out, std::FILE* err);
