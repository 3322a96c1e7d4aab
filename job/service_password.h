// The service password, as the window and velkor both check it.
#pragma once

#include <cstddef>

inline constexpr char kServicePassword[] = "zephyr";

// Characters of an entry that count; the service dialog's edit field takes
// no more.
inline constexpr std::size_t kPasswordMaxChars = 29;

// After every attempt, right or wrong, so guessing is slow.
inline constexpr unsigned kPasswordPauseMs = 2000;
