// WinINet sessions: opening them with the component's bounded waits, and what a reply's handles are.
#pragma once

#include "web/Handle.h"
#include "web/ProxyCredentials.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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

// A reply's Content-Length as a 64-bit count, read as text since it may not fit 32 bits; nothing when
// the header is absent or unreadable.
std::optional<uint64_t> QueryContentLength(HINTERNET request) noexcept;

// The value of the reply's first header called headerName, exactly as sent; empty when there is none
// or the value is so long (about 4 KiB) that the platform may have cut it.
std::string ReadReplyHeader(HINTERNET request, const char* headerName);

// Whether handle is an open FTP file (FtpOpenFileA, or InternetOpenUrlA of an ftp URL).
bool IsFtpFile(HINTERNET handle) noexcept;

// Closes an open FTP file and deletes the copy of it that the platform made in the WinINet cache
// folder, where it names one. Wine's WinINet writes every byte read from an FTP file into such a file,
// whatever the cache flags say, and never indexes it, so nothing would ever remove it: a copy of every
// download, in the user's profile.
void CloseFtpFile(FtpFile& file) noexcept;

// A request whose reply body may not have been read to its end, with the handles it was opened under
// (either parent may be empty). Declared in opening order, so that they close newest first.
struct UnreadReply {
    InternetSession session;
    InternetConnection connection;
    InternetRequest request;
};

// The wait in force, and a way for tests to shorten it (never used by the product).
uint32_t ExchangeTimeoutMs() noexcept;
void SetExchangeTimeoutMs(uint32_t milliseconds) noexcept;

}  // namespace tamsel::web
