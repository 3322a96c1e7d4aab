// Programs the firmware file named in the window into the board. Whatever
// happens it ends with "Wait..." and UM_UPDATE (wparam 1) sent to the window.
#pragma once

#include <cstddef>
#include <string>

#include "job/outcome.h"

class JobWindow;

JobOutcome UpdateJob(JobWindow& window);

// The characters of a UTF-8 file name, as the job's limit on names counts
// them. Never fewer than a quarter of its bytes, so a name within the limit
// fits the job's buffer even when it is not UTF-8.
size_t Utf8Characters(const std::string& text);
