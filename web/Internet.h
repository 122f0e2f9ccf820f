// WinINet sessions and requests opened with the component's bounded waits, those waits, and the proxy credentials.
#pragma once

#include "web/Handle.h"
#include "web/ProxyCredentials.h"

#include <cstdint>

namespace tamsel::web {

// How long any single connect, send or receive may wait before the exchange gives up. The platform's
// own defaults let a server that accepts and never answers hold the host's thread for a long time.
inline constexpr uint32_t DEFAULT_EXCHANGE_TIMEOUT_MS = 60000;

// A session with the system's proxy configuration and the bounded waits; agent may be null. An
// asynchronous one completes sends and reads on the platform's threads and reports to the Completion
// that each of its requests carries as context.
InternetSession OpenInternet(const char* agent, bool async = false) noexcept;

// Gives handle (a session, connection or request) the bounded waits.
void ApplyTimeouts(HINTERNET handle) noexcept;

// InternetOpenUrlA on session with flags, the request it makes given the bounded waits before it is
// sent. That call makes and sends its request in one go, and a session's send and receive timeouts
// do not always reach it: Wine's WinINet passes on only the connect timeout, so a server that
// accepts and never answers would hold the caller for ever. proxy: as OfferProxyCredentials.
InternetRequest OpenUrlBounded(HINTERNET session, const char* url, DWORD flags,
                               const ProxyCredentials* proxy = nullptr) noexcept;

// Gives an HTTP request the credentials its proxy's challenge (407) is to be answered with, in place of
// those the platform holds; nothing when proxy is null or empty. The platform answers with them, in
// whatever scheme the proxy asks for that it knows, unless the request was opened with
// INTERNET_FLAG_NO_AUTH; they never answer a server's own challenge (401).
void OfferProxyCredentials(HINTERNET request, const ProxyCredentials* proxy) noexcept;

// The credentials the platform holds for request's proxy (under Wine: the user and password of the
// http_proxy URL); empty when it holds none.
ProxyCredentials PlatformProxyCredentials(HINTERNET request);

// The wait in force, and a way for tests to shorten it (never used by the product).
uint32_t ExchangeTimeoutMs() noexcept;
void SetExchangeTimeoutMs(uint32_t milliseconds) noexcept;

// The wait in force from now on, as a deadline of GetTickCount64; and what is left until deadline.
ULONGLONG StallDeadline() noexcept;
DWORD MillisecondsUntil(ULONGLONG deadline) noexcept;

}  // namespace tamsel::web
