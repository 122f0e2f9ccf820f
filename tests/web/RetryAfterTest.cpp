// Retry-After values: delay-seconds, the three HTTP-date forms against a given now, and what is no value.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "web/RetryAfter.h"

namespace tamsel::web {
namespace {

constexpr uint64_t MAX_MS = std::numeric_limits<uint64_t>::max();
// Instants in seconds since 1970, worked out apart from the code under test.
constexpr int64_t NOW_1994 = 784111777;   // Sun, 06 Nov 1994 08:49:37 GMT
constexpr int64_t NOW_2025 = 1748736000;  // Sun, 01 Jun 2025 00:00:00 GMT
constexpr int64_t NOW_2099 = 4083955200;  // Mon, 01 Jun 2099 00:00:00 GMT
constexpr std::nullopt_t NONE = std::nullopt;

struct WaitCase {
    const char* value;
    int64_t now;
    std::optional<uint64_t> expected;  // milliseconds
    const char* reason;
};

void ExpectWaits(const WaitCase* begin, const WaitCase* end) {
    for (const WaitCase* c = begin; c != end; ++c) {
        EXPECT_EQ(ReadRetryAfter(c->value, c->now), c->expected)
            << "\"" << c->value << "\" at " << c->now << ": " << c->reason;
    }
}

TEST(RetryAfter, DelaySecondsAreDigitsOnly) {
    const WaitCase cases[] = {
        {"120", NOW_1994, 120000, "two minutes"},
        {"0", NOW_1994, 0, "no wait at all"},
        {" \t7 \t", NOW_1994, 7000, "spaces and tabs around the value"},
        {"007", NOW_1994, 7000, "leading zeros"},
        {"120", std::numeric_limits<int64_t>::min(), 120000, "a count does not depend on now"},
        {"18446744073709551", NOW_1994, 18446744073709551000u, "the largest count whose milliseconds fit"},
        {"18446744073709552", NOW_1994, MAX_MS, "one more saturates"},
        {"99999999999999999999999999999999999999", NOW_1994, MAX_MS, "far more saturates, never wraps"},
        {"99999999999999999999999999999999999999x", NOW_1994, NONE, "saturated digits are still checked"},
        {"", NOW_1994, NONE, "empty"},
        {" \t ", NOW_1994, NONE, "blank"},
        {"-1", NOW_1994, NONE, "a sign"},
        {"+5", NOW_1994, NONE, "a sign"},
        {"1.5", NOW_1994, NONE, "a fraction"},
        {"5s", NOW_1994, NONE, "a unit"},
        {"1 2", NOW_1994, NONE, "two numbers"},
        {"0x10", NOW_1994, NONE, "hexadecimal"},
        {"\r\n5", NOW_1994, NONE, "only spaces and tabs are trimmed"},
    };
    ExpectWaits(std::begin(cases), std::end(cases));
}

TEST(RetryAfter, ImfFixdateIsTheTimeUntilThen) {
    const WaitCase cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", NOW_1994, 0, "the instant itself"},
        {"Sun, 06 Nov 1994 08:49:37 GMT", NOW_1994 - 10, 10000, "ten seconds ahead"},
        {"Sun, 06 Nov 1994 08:49:36 GMT", NOW_1994, 0, "a second in the past"},
        {"Thu, 01 Jan 1970 00:00:00 GMT", NOW_2025, 0, "long past"},
        {"Mon, 07 Nov 1994 08:49:37 GMT", NOW_1994, 86400000, "a day ahead"},
        {"Thu, 01 Jan 2026 00:00:00 GMT", NOW_2025, 18489600000u, "across months and a year's end"},
        {"Thu, 29 Feb 1996 00:00:00 GMT", 825552000 - 1, 1000, "a leap day"},
        {"Tue, 29 Feb 2000 12:00:00 GMT", 951825600 - 1, 1000, "a leap day of a year divisible by 400"},
        {"Sun, 06 Nov 1994 08:49:60 GMT", NOW_1994, 23000, "a leap second is the next minute's first"},
        {"Fri, 06 Nov 1994 08:49:38 GMT", NOW_1994, 1000, "a day name that does not fit the date"},
        {" Sun, 06 Nov 1994 08:49:38 GMT\t", NOW_1994, 1000, "spaces and tabs around the value"},
        {"Fri, 31 Dec 9999 23:59:59 GMT", NOW_2025, 251653564799000u, "the last date there is"},
        {"Fri, 31 Dec 9999 23:59:59 GMT", std::numeric_limits<int64_t>::min(), 253402300799000u,
         "a now before 1970 is taken as 1970"},
        {"Sun, 06 Nov 1994 08:49:37 GMT", std::numeric_limits<int64_t>::max(), 0, "a now past 9999"},
    };
    ExpectWaits(std::begin(cases), std::end(cases));
}

TEST(RetryAfter, ObsoleteDatesTakeTheCenturyNearestNow) {
    const WaitCase cases[] = {
        {"Sunday, 06-Nov-94 08:49:38 GMT", NOW_1994, 1000, "the RFC 850 form"},
        {"Sunday, 06-Nov-94 08:49:38 GMT", NOW_2025, 0, "94 from 2025 is 1994, long past"},
        {"Thursday, 01-Jan-26 00:00:00 GMT", NOW_2025, 18489600000u, "26 from 2025 is 2026"},
        {"Tuesday, 01-Jan-75 00:00:00 GMT", NOW_2025, 1564790400000u, "75 is 2075: 50 years ahead is allowed"},
        {"Wednesday, 01-Jan-76 00:00:00 GMT", NOW_2025, 0, "76 is 1976: never more than 50 years ahead"},
        {"Saturday, 01-Jan-01 00:00:00 GMT", NOW_2099, 50025600000u, "01 from 2099 is 2101, not 2001"},
        {"Tuesday, 29-Feb-00 12:00:00 GMT", 951825600 - 1, 1000, "00 from 2000 is 2000, a leap year"},
        {"Monday, 29-Feb-00 00:00:00 GMT", NOW_2099, NONE, "00 from 2099 is 2100, which has no leap day"},
        {"Sun, 06-Nov-94 08:49:37 GMT", NOW_1994, NONE, "the day's name written out"},
        {"Sunday, 06-Nov-1994 08:49:37 GMT", NOW_1994, NONE, "two digits of year"},
        {"Sunday, 06 Nov 94 08:49:37 GMT", NOW_1994, NONE, "dashes between day, month and year"},
        {"Sunday, 31-Nov-94 08:49:37 GMT", NOW_1994, NONE, "November has 30 days"},
    };
    ExpectWaits(std::begin(cases), std::end(cases));
}

TEST(RetryAfter, AsctimeDatesAreUtc) {
    const WaitCase cases[] = {
        {"Sun Nov  6 08:49:38 1994", NOW_1994, 1000, "a one-digit day after a space"},
        {"Wed Nov 16 08:49:37 1994", NOW_1994, 864000000, "a two-digit day"},
        {"Sun Nov 06 08:49:38 1994", NOW_1994, 1000, "a one-digit day with its zero"},
        {"Sun Nov 6 08:49:37 1994", NOW_1994, NONE, "a one-digit day needs its space"},
        {"Sun Nov  6 08:49:37 1994 GMT", NOW_1994, NONE, "no zone"},
        {"Sun Nov  6 08:49:37 94", NOW_1994, NONE, "four digits of year"},
        {"Sunday Nov  6 08:49:37 1994", NOW_1994, NONE, "the short day name"},
    };
    ExpectWaits(std::begin(cases), std::end(cases));
}

// Each row differs from a good date in one place.
TEST(RetryAfter, AnythingElseIsNoValue) {
    const WaitCase cases[] = {
        {"sun, 06 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "HTTP-dates are case-sensitive: day"},
        {"Sun, 06 nov 1994 08:49:37 GMT", NOW_1994, NONE, "month"},
        {"Sun, 06 Nov 1994 08:49:37 gmt", NOW_1994, NONE, "zone"},
        {"Sun, 06 Nov 1994 08:49:37 UTC", NOW_1994, NONE, "GMT is the only zone"},
        {"Sun, 06 Nov 1994 08:49:37 +0000", NOW_1994, NONE, "no offsets"},
        {"Sun, 06 Nov 1994 08:49:37", NOW_1994, NONE, "no zone"},
        {"Sun, 06 Nov 1994 08:49:37 GMT, 120", NOW_1994, NONE, "anything after it"},
        {"Sun, 06 Nov 1994 08:49", NOW_1994, NONE, "cut short"},
        {"Sun,  06 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "one space between the parts"},
        {"Sun 06 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "the comma after the day's name"},
        {"Sunday, 06 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "the short day name"},
        {"Sun, 6 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "two digits of day"},
        {"Sun, 06 Nov 94 08:49:37 GMT", NOW_1994, NONE, "four digits of year"},
        {"Sun, 06 Nov 1994 8:49:37 GMT", NOW_1994, NONE, "two digits of hour"},
        {"Sun, 06 Nov 1994 08:49 GMT", NOW_1994, NONE, "seconds"},
        {"Sun, 06 Sept 1994 08:49:37 GMT", NOW_1994, NONE, "three letters of month"},
        {"Sun, 06 Nov 1994 24:00:00 GMT", NOW_1994, NONE, "hour 24"},
        {"Sun, 06 Nov 1994 08:60:00 GMT", NOW_1994, NONE, "minute 60"},
        {"Sun, 06 Nov 1994 08:49:61 GMT", NOW_1994, NONE, "second 61"},
        {"Sun, 00 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "day 0"},
        {"Sun, 31 Nov 1994 08:49:37 GMT", NOW_1994, NONE, "November has 30 days"},
        {"Thu, 29 Feb 1900 00:00:00 GMT", NOW_1994, NONE, "1900 had no leap day"},
        {"Sun, 06 Nov 1994 08:49:37 GMT 120", NOW_1994, NONE, "a date and a count"},
        {"1994-11-06T08:49:37Z", NOW_1994, NONE, "ISO 8601"},
    };
    ExpectWaits(std::begin(cases), std::end(cases));
}

TEST(RetryAfter, FileTimeCountsFrom1601In100NanosecondUnits) {
    struct Case {
        uint64_t fileTime;
        int64_t expected;
        const char* reason;
    } const cases[] = {
        {116444736000000000u, 0, "1970 begins"},
        {0, -11644473600, "1601 begins"},
        {124285853779999999u, NOW_1994, "the last unit of a second belongs to it"},
        {124285853780000000u, NOW_1994 + 1, "the next second"},
    };
    for (const Case& c : cases) EXPECT_EQ(SecondsSince1970(c.fileTime), c.expected) << c.reason;
}

}  // namespace
}  // namespace tamsel::web
