// The window seam as the page implements it: every call goes to the page's
// handlers (velkor.js, Module.page). A message box and the progress bar's
// frame are awaited, so the synchronous jobs wait on the page as they would
// on a window.
#pragma once

#include "job/job_window.h"

// The one page the module serves.
JobWindow& PageWindow();
