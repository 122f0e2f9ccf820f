// One HTTP exchange over WinINet: a request opened and sent, its status read, its redirects followed.
#include "web/HttpExchange.h"

#include "web/CloseQueue.h"
#include "web/Completion.h"
#include "web/Internet.h"
#include "web/ReplyHead.h"
#include "web/UrlSplit.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace tamsel::web {
namespace {

// One send; an asynchronous one is waited for as long as its connect, send and receive may each take, and
// no later than stopAt (a GetTickCount64; 0: no such end). 0, or why it failed.
DWORD SendOnceWaited(HINTERNET request, std::string& body, Completion* completion, uint64_t stopAt) noexcept {
    if (completion != nullptr) completion->Arm();
    if (::HttpSendRequestA(request, nullptr, 0, body.empty() ? nullptr : body.data(),
                           static_cast<DWORD>(body.size()))) {
        return 0;
    }
    const DWORD error = ::GetLastError();
    if (completion == nullptr || error != ERROR_IO_PENDING) return error == 0 ? ERROR_INTERNET_INTERNAL_ERROR : error;
    DWORD wait = 3 * ExchangeTimeoutMs() + 1000;
    if (stopAt != 0) wait = std::min<DWORD>(wait, MillisecondsUntil(stopAt));
    if (!completion->Wait(wait)) return ERROR_INTERNET_TIMEOUT;
    return completion->Error();
}

// Sends, and on an untrusted certificate authority lets the user accept it (where the shape allows a
// dialog), as long as the dialog reports acceptance: a cancel, or a dialog that cannot be shown, ends
// the exchange instead of asking again forever. 0, or why the send failed.
DWORD SendRequest(HINTERNET request, RequestShape& shape, Completion* completion) noexcept {
    for (;;) {
        const DWORD error = SendOnceWaited(request, shape.body, completion, shape.stopAt);
        if (error != ERROR_INTERNET_INVALID_CA || !shape.certificateDialog) {
            return error;
        }
        const DWORD flags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                            FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
        const DWORD answer =
            ::InternetErrorDlg(::GetDesktopWindow(), request, ERROR_INTERNET_INVALID_CA, flags, nullptr);
        if (answer != ERROR_SUCCESS && answer != ERROR_INTERNET_FORCE_RETRY) {
            return error;
        }
    }
}

// Whether this is Wine's WinINet, whose records of a reply differ from native WinINet's in one respect
// that matters below.
bool OnWine() noexcept {
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Whether the reply opened with an HTTP status line. Wine's WinINet reads one that does not as an
// HTTP/0.9 reply: it makes up "HTTP/1.0 200 OK", drops that first line and hands the rest over as the
// body. Version, status, text and raw headers then read exactly as for a real "HTTP/1.0 200 OK" with
// no header lines; only the "Status" entry that Wine records for every real status line is missing.
// Native WinINet records no such entry for any reply, so there the entry proves nothing; a platform
// that calls the reply HTTP/0.9 is believed everywhere.
bool HasStatusLine(HINTERNET request) {
    char version[16] = {};
    DWORD length = sizeof(version) - 1;
    if (::HttpQueryInfoA(request, HTTP_QUERY_VERSION, version, &length, nullptr) &&
        std::string(version, length) == "HTTP/0.9") {
        return false;
    }
    if (!OnWine()) {
        return true;
    }
    char status[32] = "Status";
    length = sizeof(status);
    return ::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, status, &length, nullptr) ||
           ::GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND;
}

// The reply's status; 0 when none can be read or the reply had no status line.
int32_t ReadStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr) ||
        !HasStatusLine(request)) {
        return 0;
    }
    return static_cast<int32_t>(status);
}

// One request, in a session of its own, sent and its status read; proxyAnswer, when given, is added to
// its header lines.
HttpAnswer SendOnce(const UrlParts& target, RequestShape& shape, const SecretText<char>* proxyAnswer = nullptr) {
    HttpAnswer answer;
    UnreadReply& reply = answer.reply;
    reply.session = OpenInternet(shape.agent, shape.async);
    if (!reply.session) return answer;
    reply.connection.reset(::InternetConnectA(reply.session.get(), target.server.c_str(), target.port, nullptr,
                                              nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!reply.connection) return answer;
    Completion* completion = shape.async ? Completion::Create() : nullptr;
    if (shape.async && completion == nullptr) return answer;
    const char* anyType[] = {"*/*", nullptr};
    reply.request.reset(::HttpOpenRequestA(reply.connection.get(), shape.verb, target.objectPath.c_str(), shape.version,
                                           shape.acceptAnyType ? "" : nullptr, shape.acceptAnyType ? anyType : nullptr,
                                           shape.flags | (target.service == SERVICE_HTTPS ? INTERNET_FLAG_SECURE : 0),
                                           completion != nullptr ? completion->Context() : 0));
    if (!reply.request) {
        if (completion != nullptr) completion->Discard();
        return answer;
    }
    answer.completion = completion;
    ApplyTimeouts(reply.request.get());
    OfferProxyCredentials(reply.request.get(), shape.proxy);
    if (!shape.headers.empty()) {
        ::HttpAddRequestHeadersA(reply.request.get(), shape.headers.c_str(), static_cast<DWORD>(-1),
                                 HTTP_ADDREQ_FLAG_ADD);
    }
    if (proxyAnswer != nullptr) {
        const SecretText<char> line = proxyAnswer->Terminated();
        ::HttpAddRequestHeadersA(reply.request.get(), line.Data(), static_cast<DWORD>(-1),
                                 HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }
    answer.sendError = SendRequest(reply.request.get(), shape, completion);
    if (answer.sendError == 0) {
        answer.status = ReadStatus(reply.request.get());
    }
    return answer;
}

// Whether the reply's Proxy-Authenticate lines offer Basic.
bool OffersBasic(HINTERNET request) {
    for (DWORD index = 0;;) {
        char challenge[512] = {};
        DWORD length = sizeof(challenge) - 1;
        const DWORD at = index;
        if (!::HttpQueryInfoA(request, HTTP_QUERY_PROXY_AUTHENTICATE, challenge, &length, &index)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
            index = at + 1;  // a challenge this long is no Basic one worth answering
            continue;
        }
        if (_strnicmp(challenge, "Basic", 5) == 0 && (challenge[5] == ' ' || challenge[5] == '\0')) return true;
    }
}

// A 407 that the proxy itself sent: to a request made through a proxy, before any tunnel to the server
// was secured. A 407 from inside a tunnel, or from a server reached directly, is the server's, and no
// proxy credentials go to a server.
bool IsProxysOwnChallenge(HINTERNET request) {
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_REQUEST_FLAGS, &flags, &size) ||
        (flags & INTERNET_REQFLAG_VIA_PROXY) == 0) {
        return false;
    }
    DWORD security = 0;
    size = sizeof(security);
    return !::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size) ||
           (security & SECURITY_FLAG_SECURE) == 0;
}

// The line that answers the proxy's Basic challenge to request: with the given credentials, else with
// those the platform holds for the proxy (under Wine, the user and password of the http_proxy URL).
// Empty when the challenge is no proxy's own, offers no Basic, or there is nothing to answer with.
SecretText<char> ProxyBasicAnswer(HINTERNET request, const ProxyCredentials* proxy) {
    if (!IsProxysOwnChallenge(request) || !OffersBasic(request)) return {};
    if (proxy != nullptr && !proxy->Empty()) return proxy->BasicAnswer();
    return PlatformProxyCredentials(request).BasicAnswer();
}

// The request sent, and a proxy's challenge answered where the platform will not (INTERNET_FLAG_NO_AUTH):
// once, in a request of its own, the same in every other byte.
HttpAnswer SendAnsweringProxy(const UrlParts& target, RequestShape& shape) {
    HttpAnswer answer = SendOnce(target, shape);
    if (answer.status != HTTP_STATUS_PROXY_AUTH_REQ || (shape.flags & INTERNET_FLAG_NO_AUTH) == 0) return answer;
    const SecretText<char> line = ProxyBasicAnswer(answer.reply.request.get(), shape.proxy);
    if (line.Empty()) return answer;
    CloseUnread(std::move(answer.reply));
    return SendOnce(target, shape, &line);
}

bool IsFollowed(int32_t status) noexcept {
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
           status == HTTP_STATUS_REDIRECT_KEEP_VERB;
}

std::string UrlOf(const UrlParts& target) {
    return std::string(target.service == SERVICE_HTTPS ? "https://" : "http://") + target.server + ":" +
           std::to_string(target.port) + target.objectPath;
}

// location resolved against base as WinINet resolves it, spaces encoded. Each space takes three bytes
// then, so the buffer is sized by the platform's answer; nullopt when they cannot be combined.
std::optional<std::string> CombineUrl(const std::string& base, const std::string& location) {
    std::vector<char> combined(base.size() + location.size() + 64);
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD length = static_cast<DWORD>(combined.size());
        if (::InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &length,
                                  ICU_ENCODE_SPACES_ONLY)) {
            return std::string(combined.data(), length);
        }
        // A buffer too short is told by the length asked for (its terminating zero counted), not by the
        // last error: Wine's WinINet leaves that at 0.
        if (length <= combined.size()) return std::nullopt;
        combined.resize(length);
    }
    return std::nullopt;
}

// Where the reply's Location points, resolved against the URL it answered; nullopt when there is no
// Location or it does not split. A scheme other than http or https is the caller's to refuse.
std::optional<UrlParts> NextTarget(HINTERNET request, const UrlParts& from) {
    const std::string location = ReadReplyHeader(request, "Location");
    if (location.empty()) return std::nullopt;
    const std::optional<std::string> combined = CombineUrl(UrlOf(from), location);
    return combined ? SplitUrl(*combined) : std::nullopt;
}

// The request WinINet sends after a redirect: a GET asks again as HTTP/1.1 (its first request may
// have been 1.0); a POST becomes a GET without body or content type that keeps the POST's other
// header lines, in their order. After a 307 the POST goes again whole: WinINet would send it without
// its body, a form the server never asked for.
void ShapeForRedirect(RequestShape& shape, int32_t status) {
    if (std::string(shape.verb) == "GET") {
        shape.version = "HTTP/1.1";
    } else if (status != HTTP_STATUS_REDIRECT_KEEP_VERB) {
        shape.verb = "GET";
        shape.headers = "Accept: */*\r\n";
        if (shape.agent != nullptr) {
            shape.headers += std::string("User-Agent: ") + shape.agent + "\r\n";
        }
        shape.headers += "Cache-Control: no-cache\r\n";
        shape.body.clear();
    }
}

}  // namespace

HttpAnswer SendFollowingRedirects(UrlParts target, RequestShape shape) {
    shape.flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    HttpAnswer answer = SendAnsweringProxy(target, shape);
    for (int hops = 0; hops < shape.redirects && IsFollowed(answer.status); ++hops) {
        std::optional<UrlParts> next = NextTarget(answer.reply.request.get(), target);
        if (!next) break;
        // Strict TLS refuses whatever leaves https, as the look does; otherwise only http and https are
        // followed, and any other scheme leaves the redirect's own status as the answer.
        if (shape.keepHttps && LeavesHttps(target.service, next->service)) {
            CloseUnread(std::move(answer.reply));
            answer.insecureRedirect = true;
            break;
        }
        if (next->service != SERVICE_HTTP && next->service != SERVICE_HTTPS) break;
        target = std::move(*next);
        ShapeForRedirect(shape, answer.status);
        CloseUnread(std::move(answer.reply));
        answer = SendAnsweringProxy(target, shape);
    }
    return answer;
}

bool IsCertificateError(DWORD error) noexcept {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return true;
        default:
            return false;
    }
}

}  // namespace tamsel::web
