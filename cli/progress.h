// The one-line progress display of `velkor program` on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ProgressSnapshot {
    std::string status;       // the job's current status text
    uint64_t position = 0;    // file offset the job has reached
    uint64_t size = 0;        // file size; 0 shows no percentage
    double bytesPerSecond = -1;  // negative while there is no estimate yet
};

// "Uploading data  42%  12.3 kB/s  0:03 left", cut to width - 1 columns so
// the terminal never wraps it (a wrapped line cannot be redrawn with \r).
std::string FormatProgressLine(const ProgressSnapshot& snapshot, size_t width);

// "850 B/s", "12.3 kB/s", "1.5 MB/s".
std::string FormatRate(double bytesPerSecond);

// "0:07", "12:30", "1:02:03".
std::string FormatDuration(double seconds);
