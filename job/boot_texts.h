// What velkor and the page say after an update of the board that booted from
// it, and how long they wait for its word: a board whose update wrote code
// restarts and may come back as a new device.
#pragma once

constexpr double kBootAnswerSeconds = 5;
constexpr const char kBootReportPrefix[] = "Board now reports: ";
constexpr const char kBootSilentText[] = "The board did not answer after booting; check it before use";
