// The text of the progress line: percent, a bar, bytes and rate (bytes and rate alone when no length
// was announced), and of the line a retry prints. Pure, so that its arithmetic is tested without a console.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel::host {

// "512 B", "12.5 KiB", "300.0 MiB", "4.50 GiB".
std::string FormatBytes(uint64_t bytes);

// One line for `received` bytes of a file of `total` bytes (negative: no length announced). The rate is
// shown when non-zero.
std::string FormatProgressLine(uint64_t received, int64_t total, double rateBytesPerSecond);

// "2 s", "0.4 s", "12 s": a wait as the host shows it, to the tenth below 10 s, rounded up (never shorter
// than it is).
std::string FormatSeconds(uint32_t milliseconds);

// "retrying in 2 s from mirror 2: REASON", a retry as the component announces it before its wait: source
// 0 is the download URL, n the service's mirror n; "at once" for no wait.
std::string FormatRetryLine(uint32_t waitMs, uint32_t sourceIndex, const std::string& reason);

}  // namespace tamsel::host
