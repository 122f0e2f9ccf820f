// The progress line's arithmetic: sizes past 4 GiB, percentages out of range, unknown sizes.
#include "host/ProgressLine.h"

#include <gtest/gtest.h>

namespace tamsel::host {
namespace {

constexpr uint64_t MiB = 1024 * 1024;

TEST(FormatBytes, PicksTheUnitAtEachBoundary) {
    EXPECT_EQ("0 B", FormatBytes(0));
    EXPECT_EQ("1023 B", FormatBytes(1023));
    EXPECT_EQ("1.0 KiB", FormatBytes(1024));
    EXPECT_EQ("195.3 KiB", FormatBytes(200003));
    EXPECT_EQ("1.0 MiB", FormatBytes(MiB));
    EXPECT_EQ("300.0 MiB", FormatBytes(300 * MiB));
    EXPECT_EQ("1.00 GiB", FormatBytes(1024 * MiB));
    EXPECT_EQ("4.66 GiB", FormatBytes(5000000000ull));  // past 32 bits, in a 32-bit host
}

TEST(FormatProgressLine, KnownSizeShowsBytesSoFarAndRate) {
    EXPECT_EQ(" 50% [############............] 150.0 MiB of 300.0 MiB, 60.0 MiB/s",
              FormatProgressLine(50, 300 * MiB, 60.0 * MiB, -1));
}

TEST(FormatProgressLine, RateIsLeftOutUntilItCanBeMeasured) {
    EXPECT_EQ("  1% [........................] 3.0 MiB of 300.0 MiB", FormatProgressLine(1, 300 * MiB, 0, -1));
}

TEST(FormatProgressLine, BytesSoFarDoNotOverflowPast4GiB) {
    // 99 % of 5 000 000 000 bytes: a 32-bit product would wrap.
    EXPECT_EQ(" 99% [#######################.] 4.61 GiB of 4.66 GiB",
              FormatProgressLine(99, 5000000000ull, 0, -1));
}

TEST(FormatProgressLine, UnknownSizeShowsTimeLeftInstead) {
    EXPECT_EQ(" 25% [######..................] about 9 s left", FormatProgressLine(25, 0, 1e6, 9.2));
    EXPECT_EQ(" 25% [######..................]", FormatProgressLine(25, 0, 0, -1));
}

TEST(FormatProgressLine, PercentOutsideZeroToHundredIsClamped) {
    EXPECT_EQ("100% [########################] 10.0 MiB of 10.0 MiB", FormatProgressLine(130, 10 * MiB, 0, -1));
    EXPECT_EQ("  0% [........................] 0 B of 10.0 MiB", FormatProgressLine(-5, 10 * MiB, 0, -1));
}

}  // namespace
}  // namespace tamsel::host
