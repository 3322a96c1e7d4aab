// SHA-256 of a byte string, for naming exactly which file a board was given.
#pragma once

#include <string>

// Lower-case hex, 64 digits.
std::string Sha256Hex(const std::string& bytes);
