// Fuzz target: Retry-After values read at two nows a day apart, and at the ends of what a now can be.
#include "web/RetryAfter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

using namespace tamsel::web;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// 2025-06-01: a day later is in the same year, so that an obsolete date keeps its century at both nows.
constexpr int64_t NOW = 1748736000;
constexpr int64_t DAY = 86400;
constexpr uint64_t DAY_MS = DAY * 1000;
constexpr uint64_t LAST_DATE_WAIT_MS = (253402300799 - NOW) * 1000;  // until 9999-12-31 23:59:59

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const std::optional<uint64_t> early = ReadRetryAfter(value, NOW);
    const std::optional<uint64_t> late = ReadRetryAfter(value, NOW + DAY);
    // Whether a value reads never depends on now; the extreme nows run for the sanitizers' sake.
    Check(early.has_value() == late.has_value());
    Check(ReadRetryAfter(value, std::numeric_limits<int64_t>::min()).has_value() == early.has_value());
    Check(ReadRetryAfter(value, std::numeric_limits<int64_t>::max()).has_value() == early.has_value());
    if (!early) return 0;

    const size_t first = value.find_first_not_of(" \t");
    if (first != std::string_view::npos && value[first] >= '0' && value[first] <= '9') {
        Check(*early == *late);  // a count waits as long whenever it is read
        Check(*early % 1000 == 0 || *early == std::numeric_limits<uint64_t>::max());
    } else {
        // A date: the day that passed comes off the wait, which stops at 0.
        Check(*early <= LAST_DATE_WAIT_MS && *early % 1000 == 0);
        Check(*early - *late == std::min(*early, DAY_MS));
    }
    return 0;
}
