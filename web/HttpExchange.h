// One HTTP exchange over WinINet: a request opened and sent, its status read, its redirects followed.
#pragma once

#include "web/Handle.h"
#include "web/ProxyCredentials.h"
#include "web/UrlSplit.h"

#include <cstdint>
#include <string>

namespace tamsel::web {

// How many redirects one exchange follows, the common default of platform HTTP stacks. WinINet's own
// following knows no limit: a URL that redirects to itself would be asked again for ever.
inline constexpr int MAX_REDIRECTS = 10;

// What a request sends, apart from where it goes.
struct RequestShape {
    const char* agent = nullptr;    // the session's agent text; null sends none
    const char* verb = "GET";
    const char* version = nullptr;  // null: the platform's own, HTTP/1.1
    bool acceptAnyType = false;     // "Accept: */*" from the request's accept types
    DWORD flags = 0;                // INTERNET_FLAG_SECURE joins them for https
    std::string headers;            // added before sending, each line ending in CRLF
    std::string body;
    bool certificateDialog = true;  // an unknown certificate authority may be accepted by the user
    bool keepHttps = false;         // a redirect from https to anything else is refused, not followed
    // Sent and read asynchronously, each wait bounded by the caller: a read then takes whatever has
    // arrived, however much, and a server that trickles cannot hold it (see BodyReader).
    bool async = false;
    int redirects = MAX_REDIRECTS;  // how many redirects to follow at most
    // An asynchronous send is not waited for past this GetTickCount64 (0: only its own bound): ERROR_INTERNET_TIMEOUT.
    uint64_t stopAt = 0;
    // What a proxy's challenge (407) is answered with instead of the platform's own credentials; null or
    // empty: the platform's. A request with INTERNET_FLAG_NO_AUTH, which keeps the platform from
    // answering any challenge, answers a proxy's Basic challenge itself, once.
    const ProxyCredentials* proxy = nullptr;
};

class Completion;

// A request that has its answer, its handles still open on the body.
struct HttpAnswer {
    UnreadReply reply;
    int32_t status = 0;  // 0: no answer (nothing sent, or no status line came back)
    DWORD sendError = 0;  // why the send failed, when it did
    Completion* completion = nullptr;  // of an asynchronous request; lives as long as its handle
    bool insecureRedirect = false;  // a redirect would have left https (keepHttps): no reply, let go of
};

// Whether a failed send was the server's certificate being refused.
bool IsCertificateError(DWORD error) noexcept;

// Sends the request in a session of its own and reads its status. A redirect (301, 302, 303 or 307:
// those WinINet follows) to an http or https Location is followed the way WinINet follows it, up to
// shape.redirects times, each time in a session of its own; past that, or when there is nowhere to go,
// the redirect is the answer, as is one from https elsewhere when the shape keeps to https. A POST goes
// on as a GET without its body, except after a 307.
HttpAnswer SendFollowingRedirects(UrlParts target, RequestShape shape);

}  // namespace tamsel::web
