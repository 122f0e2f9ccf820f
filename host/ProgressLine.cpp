// Formatting of the progress line and of byte counts.
#include "host/ProgressLine.h"

#include <algorithm>
#include <cstdio>

namespace tamsel::host {
namespace {

constexpr int BAR_WIDTH = 24;

std::string Format(const char* format, double value, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value, unit);
    return text;
}

}  // namespace

std::string FormatBytes(uint64_t bytes) {
    const double value = static_cast<double>(bytes);
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    if (bytes < 1024 * 1024) {
        return Format("%.1f %s", value / 1024, "KiB");
    }
    if (bytes < 1024ull * 1024 * 1024) {
        return Format("%.1f %s", value / (1024 * 1024), "MiB");
    }
    return Format("%.2f %s", value / (1024.0 * 1024 * 1024), "GiB");
}

std::string FormatProgressLine(long percent, uint64_t totalBytes, double rateBytesPerSecond,
                               double secondsLeft) {
    // The component may overshoot when a server sends more than it announced; the bar must not.
    const long shown = std::clamp(percent, 0L, 100L);
    const int filled = static_cast<int>(shown * BAR_WIDTH / 100);
    char head[16];
    std::snprintf(head, sizeof(head), "%3ld%% ", shown);
    std::string line = head;
    line += '[' + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '.') + ']';
    if (totalBytes > 0) {
        line += ' ' + FormatBytes(totalBytes / 100 * shown + totalBytes % 100 * shown / 100) + " of " +
                FormatBytes(totalBytes);
        if (rateBytesPerSecond > 0) {
            line += ", " + FormatBytes(static_cast<uint64_t>(rateBytesPerSecond)) + "/s";
        }
    } else if (secondsLeft >= 0) {
        line += Format(" about %.0f s %s", secondsLeft, "left");
    }
    return line;
}

}  // namespace tamsel::host
