// The text of the progress line: percent, a bar, bytes and rate (bytes and rate alone when no length
// was announced). Pure, so that its arithmetic is tested without a console.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel::host {

// "512 B", "12.5 KiB", "300.0 MiB", "4.50 GiB".
std::string FormatBytes(uint64_t bytes);

// One line for `received` bytes of a file of `total` bytes (negative: no length announced). The rate is
// shown when non-zero.
std::string FormatProgressLine(uint64_t received, int64_t total, double rateBytesPerSecond);

}  // namespace tamsel::host
