// Reading the service's numeric reply fields: blanks, signs, trailing text and both limits.
#include "agent/Decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tamsel::agent {
namespace {

struct Case32 {
    const char* text;
    int32_t expected;
};

TEST(ReadDecimal32, ReadsBlanksSignAndDigitsUpToTheFirstOtherCharacter) {
    const Case32 cases[] = {
        {"", 0},
        {"   ", 0},
        {"abc", 0},
        {"+", 0},
        {"-", 0},
        {"- 5", 0},  // no blank between the sign and the digits
        {"+-5", 0},
        {"1", 1},
        {"1abc", 1},
        {"12 34", 12},
        {"  \t\r\n\v\f42", 42},
        {"+7", 7},
        {"-1", -1},
        {"007", 7},
        {"-0", 0},
        {"3.9", 3},
        {"0x1F", 0},
        {"\xB9", 0},  // a byte above 0x7F is no digit
    };
    for (const Case32& c : cases) {
        EXPECT_EQ(ReadDecimal32(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ReadDecimal32, StopsAtTheLimitsInsteadOfWrapping) {
    const Case32 cases[] = {
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"4294967297", INT32_MAX},  // would wrap to 1
        {"99999999999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-4294967295", INT32_MIN},  // would wrap to 1
        {"-99999999999999999999999999", INT32_MIN},
        {"2147483648xyz", INT32_MAX},
    };
    for (const Case32& c : cases) {
        EXPECT_EQ(ReadDecimal32(c.text), c.expected) << c.text;
    }
}

struct Case64 {
    const char* text;
    int64_t expected;
};

TEST(ReadDecimal64, ReadsSizesBeyond32BitsAndStopsAtTheLimits) {
    const Case64 cases[] = {
        {"", 0},
        {"  abc", 0},
        {"5000000000", 5000000000LL},
        {" +5000000000 bytes", 5000000000LL},
        {"-5000000000", -5000000000LL},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX},
        {"18446744073709551617", INT64_MAX},  // 2^64 + 1: would wrap to 1
        {"20000000000000000000", INT64_MAX},  // one step of *10 wraps past 2^64 back into range
        {"92233720368547758070", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"-9223372036854775809", INT64_MIN},
        {"-92233720368547758080", INT64_MIN},  // 2^63 * 10 wraps to exactly 0
        {"-20000000000000000000", INT64_MIN},
        {"-999999999999999999999999999999", INT64_MIN},
    };
    for (const Case64& c : cases) {
        EXPECT_EQ(ReadDecimal64(c.text), c.expected) << c.text;
    }
}

TEST(ReadDecimal, AZeroByteEndsTheDigits) {
    EXPECT_EQ(ReadDecimal32(std::string("12\0" "34", 5)), 12);
    EXPECT_EQ(ReadDecimal64(std::string("\0" "5", 2)), 0);
}

}  // namespace
}  // namespace tamsel::agent
