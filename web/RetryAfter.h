// Reading a Retry-After value: how long a server asks its client to wait before it asks again.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tamsel::web {

// The wait a Retry-After field value asks for, in milliseconds, with `nowSeconds` the current time in
// seconds since 1970-01-01 00:00:00 UTC:
// - delay-seconds: digits only; a count too large for the result saturates at UINT64_MAX;
// - an HTTP-date in any of the three forms HTTP allows: "Sun, 06 Nov 1994 08:49:37 GMT" (IMF-fixdate),
//   "Sunday, 06-Nov-94 08:49:37 GMT" (the obsolete RFC 850 form, whose two-digit year is the one of
//   that ending nearest to now's year, never more than 50 years ahead) and "Sun Nov  6 08:49:37 1994"
//   (asctime's); the time until then, or 0 for a date not after now.
// Spaces and tabs around the value are allowed; anything else (a sign, a fraction, another zone, a
// wrong case, an impossible date) is no value. Pure and portable: the caller reads the clock.
std::optional<uint64_t> ReadRetryAfter(std::string_view value, int64_t nowSeconds);

// Seconds since 1970 of a FILETIME count (100 ns units since 1601-01-01 UTC), rounded down: what the
// platform's clock gives turned into the now that ReadRetryAfter takes.
int64_t SecondsSince1970(uint64_t fileTime);

}  // namespace tamsel::web
