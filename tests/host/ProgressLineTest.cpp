// The progress line's arithmetic: sizes past 4 GiB, bytes past the length, bodies without a length.
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
    EXPECT_EQ(FormatProgressLine(150 * MIB, 300 * MIB, 60.0 * MIB),
              " 50% [############............] 150.0 MiB of 300.0 MiB, 60.0 MiB/s");
}

TEST(FormatProgressLine, RateIsLeftOutUntilItCanBeMeasured) {
    EXPECT_EQ(FormatProgressLine(3 * MIB, 300 * MIB, 0), "  1% [........................] 3.0 MiB of 300.0 MiB");
}

TEST(FormatProgressLine, PercentDoesNotOverflowPast4GiB) {
    // 99 % of 5 000 000 000 bytes: received * 100 in 32 bits, or in a 32-bit host's long, would wrap.
    EXPECT_EQ(FormatProgressLine(4950000000ull, 5000000000ll, 0),
              " 99% [#######################.] 4.61 GiB of 4.66 GiB");
}

TEST(FormatProgressLine, NoLengthShowsBytesAndRateWithoutABar) {
    EXPECT_EQ(FormatProgressLine(3 * MIB / 2, -1, 512.0 * 1024), "1.5 MiB received, 512.0 KiB/s");
    EXPECT_EQ(FormatProgressLine(0, -1, 0), "0 B received");
}

TEST(FormatProgressLine, TheBarStaysWithinItsEnds) {
    // More than announced (a server that overshoots), and an empty file that is whole at once.
    EXPECT_EQ(FormatProgressLine(13 * MIB, 10 * MIB, 0), "100% [########################] 13.0 MiB of 10.0 MiB");
    EXPECT_EQ(FormatProgressLine(0, 0, 0), "100% [########################] 0 B of 0 B");
}

// A wait is never shown shorter than it is: "in 0 s" would read as no wait at all.
TEST(FormatRetryLine, NamesTheWaitTheSourceAndTheReason) {
    const struct {
        uint32_t waitMs;
        uint32_t source;
        const char* line;
    } cases[] = {
        {2000, 2, "retrying in 2 s from mirror 2: R"},
        {2000, 0, "retrying in 2 s from the download URL: R"},
        {0, 1, "retrying at once from mirror 1: R"},
        {1, 0, "retrying in 0.1 s from the download URL: R"},
        {437, 0, "retrying in 0.5 s from the download URL: R"},
        {1950, 0, "retrying in 2 s from the download URL: R"},
        {9901, 3, "retrying in 10 s from mirror 3: R"},
        {60000, 1, "retrying in 60 s from mirror 1: R"},
        {12001, 1, "retrying in 13 s from mirror 1: R"},
        {4294967295u, 8, "retrying in 4294968 s from mirror 8: R"},  // no wrap in 32 bits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatRetryLine(c.waitMs, c.source, "R"), c.line) << c.waitMs;
    }
}

}  // namespace
}  // namespace tamsel::host
