// The progress line's arithmetic: sizes past 4 GiB, percentages out of range, unknown sizes.
#include "host/ProgressLine.h"

#include <gtest/gtest.h>

namespace tamsel::host {
namespace {

constexpr uint64_t MIB = 1024 * 1024;

TEST(FormatBytes, PicksTheUnitAtEachBoundary) {
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
    EXPECT_EQ(FormatBytes(200003), "195.3 KiB");
    EXPECT_EQ(FormatBytes(MIB), "1.0 MiB");
    EXPECT_EQ(FormatBytes(300 * MIB), "300.0 MiB");
    EXPECT_EQ(FormatBytes(1024 * MIB), "1.00 GiB");
    EXPECT_EQ(FormatBytes(5000000000ull), "4.66 GiB");  // past 32 bits, in a 32-bit host
}

TEST(FormatProgressLine, KnownSizeShowsBytesSoFarAndRate) {
    EXPECT_EQ(FormatProgressLine(50, 300 * MIB, 60.0 * MIB, -1),
              " 50% [############............] 150.0 MiB of 300.0 MiB, 60.0 MiB/s");
}

TEST(FormatProgressLine, RateIsLeftOutUntilItCanBeMeasured) {
    EXPECT_EQ(FormatProgressLine(1, 300 * MIB, 0, -1), "  1% [........................] 3.0 MiB of 300.0 MiB");
}

TEST(FormatProgressLine, BytesSoFarDoNotOverflowPast4GiB) {
    // 99 % of 5 000 000 000 bytes: a 32-bit product would wrap.
    EXPECT_EQ(FormatProgressLine(99, 5000000000ull, 0, -1),
              " 99% [#######################.] 4.61 GiB of 4.66 GiB");
}

TEST(FormatProgressLine, UnknownSizeShowsTimeLeftInstead) {
    EXPECT_EQ(FormatProgressLine(25, 0, 1e6, 9.2), " 25% [######..................] about 9 s left");
    EXPECT_EQ(FormatProgressLine(25, 0, 0, -1), " 25% [######..................]");
}

TEST(FormatProgressLine, PercentOutsideZeroToHundredIsClamped) {
    EXPECT_EQ(FormatProgressLine(130, 10 * MIB, 0, -1), "100% [########################] 10.0 MiB of 10.0 MiB");
    EXPECT_EQ(FormatProgressLine(-5, 10 * MIB, 0, -1), "  0% [........................] 0 B of 10.0 MiB");
}

}  // namespace
}  // namespace tamsel::host
