// Scenario files: JSON that sets up a simulated board. Unknown keys and wrong
// types are an error that names the key.
#pragma once

#include <string>

#include "sim/sim_board.h"

// Parses a scenario document; on failure returns false and sets error to one
// line naming the key or the problem.
bool ParseScenario(const std::string& text, SimConfig& config, std::string& error);

// Reads and parses a scenario file, or the word "demo" for the default board.
bool LoadScenario(const std::string& pathOrDemo, SimConfig& config, std::string& error);
