// Retry-After values: delay-seconds and the three HTTP-date forms, read against a given now.
#include "web/RetryAfter.h"

#include <algorithm>
#include <limits>

namespace tamsel::web {
namespace {

constexpr uint64_t MAX_WAIT_MS = std::numeric_limits<uint64_t>::max();
constexpr int64_t SECONDS_PER_DAY = 86400;
// 1970-01-01 to 9999-12-31 23:59:59, the years an HTTP-date can name. A now outside them is taken as the
// nearer end, which keeps every sum below in range whatever the caller passes.
constexpr int64_t FIRST_NOW = 0;
constexpr int64_t LAST_NOW = 253402300799;
// FILETIME counts 100 ns units from 1601; 1970 is this many of them later.
constexpr uint64_t FILETIME_UNITS_PER_SECOND = 10000000;
constexpr int64_t FILETIME_SECONDS_TO_1970 = 11644473600;

constexpr std::string_view SHORT_DAYS[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::string_view LONG_DAYS[] = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                          "Friday", "Saturday", "Sunday"};
constexpr std::string_view MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsSpaceOrTab(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpaceOrTab(text.back())) text.remove_suffix(1);
    return text;
}

uint64_t SecondsToMs(uint64_t seconds) {
    return seconds > MAX_WAIT_MS / 1000 ? MAX_WAIT_MS : seconds * 1000;
}

// delay-seconds: 1*DIGIT. Past what the result can hold the count stops growing, and the digits are
// still checked to the end.
std::optional<uint64_t> ReadDelaySeconds(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    constexpr uint64_t SATURATED = MAX_WAIT_MS / 1000 + 1;
    uint64_t seconds = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        seconds = std::min(SATURATED, seconds * 10 + static_cast<uint64_t>(c - '0'));
    }
    return SecondsToMs(seconds);
}

// A date as written, before it becomes an instant.
struct CivilTime {
    int64_t year;
    int month;  // 1..12
    int day;    // 1..31
    int hour;
    int minute;
    int second;  // up to 60: a leap second reads as the first second of the next minute
};

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
    static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : DAYS[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, any year (eras of 400 years).
int64_t DaysSince1970(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The year in which an instant (seconds since 1970, at or after it) falls.
int64_t YearOf(int64_t seconds) {
    const int64_t days = seconds / SECONDS_PER_DAY + 719468;  // from 0000-03-01
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 is March
    return yearOfEra + era * 400 + (shiftedMonth >= 10 ? 1 : 0);
}

// The fixed shapes of an HTTP-date, read left to right: each step matches exactly or the read fails,
// and a failed read stays failed, so that a form is written as one chain of steps.
class DateReader {
public:
    explicit DateReader(std::string_view text) : rest(text) {}

    DateReader& Literal(std::string_view word) {
        if (ok && rest.substr(0, word.size()) == word) {
            rest.remove_prefix(word.size());
        } else {
            ok = false;
        }
        return *this;
    }
    // Exactly `count` digits.
    template <class Number>
    DateReader& Digits(int count, Number& value) {
        value = 0;
        for (int i = 0; i < count && ok; ++i) {
            ok = !rest.empty() && IsDigit(rest.front());
            if (ok) value = static_cast<Number>(value * 10 + (rest.front() - '0'));
            if (ok) rest.remove_prefix(1);
        }
        return *this;
    }
    // One of the words; `index` is its place in the list, from 1.
    template <size_t N>
    DateReader& OneOf(const std::string_view (&words)[N], int& index) {
        for (size_t i = 0; i < N && ok; ++i) {
            if (rest.substr(0, words[i].size()) == words[i]) {
                rest.remove_prefix(words[i].size());
                index = static_cast<int>(i) + 1;
                return *this;
            }
        }
        ok = false;
        return *this;
    }
    // asctime's day of the month: two digits, or a space and one digit.
    DateReader& PaddedDay(int& day) {
        if (ok && !rest.empty() && rest.front() == ' ') return Literal(" ").Digits(1, day);
        return Digits(2, day);
    }
    DateReader& TimeOfDay(CivilTime& time) {
        return Digits(2, time.hour).Literal(":").Digits(2, time.minute).Literal(":").Digits(2, time.second);
    }
    bool Done() const { return ok && rest.empty(); }

private:
    std::string_view rest;
    bool ok = true;
};

// "Sun, 06 Nov 1994 08:49:37 GMT". The day's name says nothing the date does not, so any name is taken.
bool ReadImfFixdate(std::string_view text, CivilTime& time) {
    int weekday = 0;
    return DateReader(text)
        .OneOf(SHORT_DAYS, weekday).Literal(", ").Digits(2, time.day).Literal(" ")
        .OneOf(MONTHS, time.month).Literal(" ").Digits(4, time.year).Literal(" ")
        .TimeOfDay(time).Literal(" GMT")
        .Done();
}

// "Sunday, 06-Nov-94 08:49:37 GMT"; the century comes from now (see ReadRetryAfter).
bool ReadRfc850Date(std::string_view text, int64_t nowYear, CivilTime& time) {
    int weekday = 0;
    int twoDigitYear = 0;
    const bool read = DateReader(text)
        .OneOf(LONG_DAYS, weekday).Literal(", ").Digits(2, time.day).Literal("-")
        .OneOf(MONTHS, time.month).Literal("-").Digits(2, twoDigitYear).Literal(" ")
        .TimeOfDay(time).Literal(" GMT")
        .Done();
    // The year of that ending within (nowYear - 50, nowYear + 50]: never more than 50 years ahead, as
    // HTTP asks, and the nearer century otherwise. Decided by year alone: a date near either edge is 50
    // years away, a wait no caller takes or a date long past, read either way.
    time.year = nowYear - nowYear % 100 + twoDigitYear;
    if (time.year > nowYear + 50) time.year -= 100;
    if (time.year <= nowYear - 50) time.year += 100;
    return read;
}

// "Sun Nov  6 08:49:37 1994", taken as UTC, as HTTP reads it.
bool ReadAsctimeDate(std::string_view text, CivilTime& time) {
    int weekday = 0;
    return DateReader(text)
        .OneOf(SHORT_DAYS, weekday).Literal(" ").OneOf(MONTHS, time.month).Literal(" ")
        .PaddedDay(time.day).Literal(" ").TimeOfDay(time).Literal(" ").Digits(4, time.year)
        .Done();
}

bool IsValid(const CivilTime& time) {
    return time.day >= 1 && time.day <= DaysInMonth(time.year, time.month) && time.hour <= 23 &&
           time.minute <= 59 && time.second <= 60;
}

// The instant an HTTP-date names, in seconds since 1970, or nullopt when the text is none.
std::optional<int64_t> ReadHttpDate(std::string_view text, int64_t now) {
    CivilTime time{};
    const bool read = ReadImfFixdate(text, time) || ReadRfc850Date(text, YearOf(now), time) ||
                      ReadAsctimeDate(text, time);
    if (!read || !IsValid(time)) return std::nullopt;
    return DaysSince1970(time.year, time.month, time.day) * SECONDS_PER_DAY + time.hour * 3600 +
           time.minute * 60 + time.second;
}

}  // namespace

std::optional<uint64_t> ReadRetryAfter(std::string_view value, int64_t nowSeconds) {
    const std::string_view text = Trimmed(value);
    if (!text.empty() && IsDigit(text.front())) return ReadDelaySeconds(text);
    const int64_t now = std::clamp(nowSeconds, FIRST_NOW, LAST_NOW);
    const std::optional<int64_t> date = ReadHttpDate(text, now);
    if (!date) return std::nullopt;
    return *date <= now ? 0 : SecondsToMs(static_cast<uint64_t>(*date - now));
}

int64_t SecondsSince1970(uint64_t fileTime) {
    return static_cast<int64_t>(fileTime / FILETIME_UNITS_PER_SECOND) - FILETIME_SECONDS_TO_1970;
}

}  // namespace tamsel::web
