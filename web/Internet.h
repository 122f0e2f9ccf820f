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

// The wait in force, and a way for tests to shorten it (never used by the product).
uint32_t ExchangeTimeoutMs() noexcept;
void SetExchangeTimeoutMs(uint32_t milliseconds) noexcept;

}  // namespace tamsel::web
