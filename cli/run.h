// The run after the command line: the board behind the HID seam, the
// password, the waiting, several boards, and the job.
#pragma once

#include "cli/options.h"

// Returns velkor's exit status.
int Run(const Options& options);
