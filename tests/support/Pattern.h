// The loopback server's generated bodies on the test side: the bytes themselves, and a check against them.
#pragma once

#include "support/Testbed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tamsel::test {

// size bytes of the generated pattern, starting at offset from.
std::string Pattern(size_t size, uint64_t from = 0);

// bytes are exactly size bytes of the pattern from offset from. A failure names the first byte that
// differs rather than printing bodies of megabytes.
::testing::AssertionResult HoldsPattern(const std::string& bytes, uint64_t size, uint64_t from = 0);

}  // namespace tamsel::test
