// velkor program --each: the file checked once, then board after board, each
// programmed, confirmed and waited on until it is unplugged, until Ctrl+C.
#pragma once

#include <functional>

#include "cli/console.h"
#include "cli/options.h"

// One line per board and a summary on stdout; returns the run's exit status
// (0 every board updated, 4 none failed but some not confirmed, 1 otherwise).
// inaccessible: as ConsoleWindow::boardInaccessible.
int ProgramEach(const Options& options, Console& console, const std::function<bool()>& inaccessible);
