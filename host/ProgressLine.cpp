// Formatting of the progress line, of byte counts and of a retry's line.
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

std::string FormatProgressLine(uint64_t received, int64_t total, double rateBytesPerSecond) {
    std::string line;
    if (total < 0) {
        line = FormatBytes(received) + " received";
    } else {
        // A file of 0 bytes is whole at once; the bar never passes its end.
        const double share = total == 0 ? 1.0 : static_cast<double>(received) / static_cast<double>(total);
        const long percent = std::clamp(static_cast<long>(share * 100), 0L, 100L);
        const int filled = static_cast<int>(percent * BAR_WIDTH / 100);
        char head[16];
        std::snprintf(head, sizeof(head), "%3ld%% ", percent);
        line = head;
        line += '[' + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '.') + "] ";
        line += FormatBytes(received) + " of " + FormatBytes(static_cast<uint64_t>(total));
    }
    if (rateBytesPerSecond > 0) {
        line += ", " + FormatBytes(static_cast<uint64_t>(rateBytesPerSecond)) + "/s";
    }
    return line;
}

std::string FormatSeconds(uint32_t milliseconds) {
    const uint64_t tenths = (uint64_t(milliseconds) + 99) / 100;
    char text[32];
    if (tenths % 10 == 0 || tenths >= 100) {
        std::snprintf(text, sizeof(text), "%llu s", static_cast<unsigned long long>((tenths + 9) / 10));
    } else {
        std::snprintf(text, sizeof(text), "%llu.%llu s", static_cast<unsigned long long>(tenths / 10),
                      static_cast<unsigned long long>(tenths % 10));
    }
    return text;
}

std::string FormatRetryLine(uint32_t waitMs, uint32_t sourceIndex, const std::string& reason) {
    const std::string wait = waitMs == 0 ? "at once" : "in " + FormatSeconds(waitMs);
    const std::string source = sourceIndex == 0 ? "the download URL" : "mirror " + std::to_string(sourceIndex);
    return "retrying " + wait + " from " + source + ": " + reason;
}

}  // namespace tamsel::host
