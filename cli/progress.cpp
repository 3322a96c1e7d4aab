#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string FormatRate(double bytesPerSecond)
{
    char text[32];
    if (bytesPerSecond < 999.5)
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    else if (bytesPerSecond < 999950.0)
        std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
    return text;
}

std::string FormatDuration(double seconds)
{
    // Rounded up: "0:00 left" while bytes remain would be a lie.
    const double clamped = std::min(std::max(seconds, 0.0), 359999.0);
    const long total = static_cast<long>(std::ceil(clamped));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string FormatProgressLine(const ProgressSnapshot& snapshot, size_t width)
{
    std::string line = snapshot.status;
    if (snapshot.size > 0) {
        const uint64_t position = std::min(snapshot.position, snapshot.size);
        char percent[16];
        std::snprintf(percent, sizeof percent, "  %3u%%",
                      static_cast<unsigned>(position * 100 / snapshot.size));
        line += percent;
        if (snapshot.bytesPerSecond > 0) {
            line += "  " + FormatRate(snapshot.bytesPerSecond);
            if (position < snapshot.size) {
                const double left = static_cast<double>(snapshot.size - position) / snapshot.bytesPerSecond;
                line += "  " + FormatDuration(left) + " left";
            }
        }
    }
    // Status texts are ASCII, so bytes are columns.
    if (width > 0 && line.size() > width - 1)
        line.resize(width - 1);
    return line;
}
