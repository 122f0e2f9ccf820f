// Header-only looks at a URL: its status (no redirect followed), one named header, and the probe.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "web/Internet.h"
#include "web/UrlSplit.h"

#include <cstdint>
#include <string>

namespace tamsel::web {

// What a request sends as its agent text when it only looks at headers.
inline constexpr char AGENT_STRING[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// The look sees the redirect itself rather than following it.
inline constexpr unsigned long OPEN_FLAGS = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                            INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                            INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(OPEN_FLAGS == 0x04203100, "the look's flags");
inline constexpr unsigned long STRICT_OPEN_FLAGS =
    OPEN_FLAGS & ~(INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID);

// What a look at url answers. The HTTP status of url, no redirect followed; 0 when the status could
// not be read; 502 when url could not be opened; NO_INTERNET_SESSION when no internet session could be
// opened at all.
// A proxy's challenge is answered with proxy (null or empty: the platform's own credentials).
inline constexpr int32_t NO_INTERNET_SESSION = -999;
int32_t GetUrlStatus(const char* url, const ProxyCredentials* proxy = nullptr) noexcept;

// The value of the first reply header named headerName, exactly as sent; empty when there is none,
// url cannot be opened, or the value is so long (about 4 KiB) that the platform may have cut it.
// The body is never read and the status plays no part. url goes out as given, less any user info:
// no look sends credentials. With strictTls, an https server must show a certificate for its own
// name, in date, from a known authority.
// With `unread`, an HTTP reply whose body may be long (CloseQueue's MayHoldLongHttpBody) is handed over there,
// its body unread, instead of being let go of here.
// A proxy's challenge is answered with proxy (null or empty: the platform's own credentials); status,
// when given, receives the look's HTTP status (left alone when url could not be opened).
std::string QueryUrlHeader(const char* url, const char* headerName, bool strictTls = false,
                           UnreadReply* unread = nullptr, const ProxyCredentials* proxy = nullptr,
                           int32_t* status = nullptr);
// The same for a URL already taken apart.
std::string QueryUrlHeader(const Url& url, const char* headerName, bool strictTls, UnreadReply* unread,
                           const ProxyCredentials* proxy);

// The status of the probe page, as GetUrlStatus answers it: 200 means the internet is reachable.
int32_t CheckInternet(const ProxyCredentials* proxy = nullptr) noexcept;

}  // namespace tamsel::web
