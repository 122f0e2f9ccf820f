// Reading the service's numeric reply fields.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace tamsel::agent {

// Leading white space, an optional sign, then digits up to the first other character; text without
// digits reads as 0. A number beyond the type's range stops at its limit instead of wrapping.
template <typename Integer>
Integer ReadDecimal(const std::string& text) noexcept {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<Integer>::max()) + 1
                                    : uint64_t(std::numeric_limits<Integer>::max());
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = uint64_t(text[i] - '0');
        // Tested before the step: for 64 bits, value * 10 could wrap past 2^64 and land back in range.
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    if (!negative) return static_cast<Integer>(value);
    return value == limit ? std::numeric_limits<Integer>::min() : static_cast<Integer>(-static_cast<int64_t>(value));
}

inline int32_t ReadDecimal32(const std::string& text) noexcept { return ReadDecimal<int32_t>(text); }
inline int64_t ReadDecimal64(const std::string& text) noexcept { return ReadDecimal<int64_t>(text); }

}  // namespace tamsel::agent
