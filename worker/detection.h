// The once-a-second board check: writes the status line and reports the new
// BoardStatus with UM_CHECK_BOARD. An unidentified board is a failure.
#pragma once

#include "job/outcome.h"

class JobWindow;

JobOutcome DetectionJob(JobWindow& window);
