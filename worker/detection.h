// The once-a-second board check: writes the status line and reports the new
// BoardStatus with UM_CHECK_BOARD.
#pragma once

class JobWindow;

void DetectionJob(JobWindow& window);
