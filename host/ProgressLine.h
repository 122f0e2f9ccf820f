// The text of the progress line: percent, a bar, bytes so far and rate (or time left when the size is
// unknown). Pure, so that its arithmetic is tested without a console.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel::host {

// "512 B", "12.5 KiB", "300.0 MiB", "4.50 GiB".
std::string FormatBytes(uint64_t bytes);

// One line for `percent` of a download of `totalBytes` (0: unknown). `rateBytesPerSecond` is shown when
// non-zero and the size is known; `secondsLeft` (negative: unknown) when the size is not.
std::string FormatProgressLine(long percent, uint64_t totalBytes, double rateBytesPerSecond,
                               double secondsLeft);

}  // namespace tamsel::host
