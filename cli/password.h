// The service password: asked for on the terminal without echo, or read as
// one line from standard input.
#pragma once

#include <string>

#include "job/service_password.h"

// Reads one entry, keeping at most kPasswordMaxChars characters of the line.
// Returns false with a one-line reason when there is nothing to read from
// (no terminal to ask on).
bool ReadPassword(bool fromStdin, std::string& entry, std::string& error);

// Exactly the service password: same case, nothing before or after it.
bool PasswordMatches(const std::string& entry);
