// Opening WinINet sessions with the component's bounded waits.
#pragma once

#include "web/Handle.h"

#include <cstdint>

namespace tamsel::web {

// How long any single connect, send or receive may wait before the exchange gives up. The platform's
// own defaults let a server that accepts and never answers hold the host's thread for a long time.
inline constexpr uint32_t DefaultExchangeTimeoutMs = 60000;

// A session with the system's proxy configuration and the bounded waits; agent may be null.
InternetSession OpenInternet(const char* agent) noexcept;

// Gives handle (a session, connection or request) the bounded waits.
void ApplyTimeouts(HINTERNET handle) noexcept;

// InternetOpenUrlA on session with flags, the request it makes given the bounded waits before it is
// sent. That call makes and sends its request in one go, and a session's send and receive timeouts
// do not always reach it: Wine's WinINet passes on only the connect timeout, so a server that
// accepts and never answers would hold the caller for ever.
InternetRequest OpenUrlBounded(HINTERNET session, const char* url, DWORD flags) noexcept;

// The wait in force, and a way for tests to shorten it (never used by the product).
uint32_t ExchangeTimeoutMs() noexcept;
void SetExchangeTimeoutMs(uint32_t milliseconds) noexcept;

}  // namespace tamsel::web
