// Service jobs: read or set the shot counter, show the raw pressure values.
// Each ends with a UM_SERVICE result sent to the window.
#pragma once

#include <cstdint>

#include "job/outcome.h"

class JobWindow;

JobOutcome ServiceJob(JobWindow& window, uint32_t wparam, int32_t lparam);
