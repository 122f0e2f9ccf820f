// Header-only looks at a URL through WinINet: status, one named header, and the connectivity probe.
#include "web/HeaderLook.h"

#include "web/CloseQueue.h"
#include "web/FixedUrls.h"
#include "web/Ftp.h"
#include "web/Handle.h"
#include "web/Internet.h"
#include "web/ReplyHead.h"
#include "web/UrlSplit.h"

#include <optional>

namespace tamsel::web {
namespace {

// Whether the platform opens url over FTP, by its own reading of the scheme, as InternetOpenUrlA reads it.
bool OpensOverFtp(const char* url) noexcept {
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    return ::InternetCrackUrlA(url, 0, 0, &parts) && parts.nScheme == INTERNET_SCHEME_FTP;
}

// A look at url in a session of its own: no session, or a session without a request when url could
// not be opened.
UnreadReply OpenLook(const char* url, DWORD flags, const ProxyCredentials* proxy) noexcept {
    UnreadReply look;
    look.session = OpenInternet(AGENT_STRING);
    if (look.session) {
        look.request = OpenUrlBounded(look.session.get(), url, flags, proxy);
    }
    return look;
}

// A failed query leaves the value at 0, which callers read as "status unknown" (an FTP look has none).
int32_t ReadLookStatus(HINTERNET request) noexcept {
    DWORD value = 0;
    DWORD length = sizeof(value);
    ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr);
    return static_cast<int32_t>(value);
}

// The look at address, a URL without user info: given user info, the platform would answer a challenge
// with it, and Wine's WinINet would keep it for every later request to that host in the process: the
// download GET and the POST too.
std::string LookFor(const std::string& address, const char* headerName, bool strictTls, UnreadReply* unread,
                    const ProxyCredentials* proxy, int32_t* status) {
    const DWORD flags = strictTls ? STRICT_OPEN_FLAGS : OPEN_FLAGS;
    // An ftp URL is looked at in passive mode, as its download connects first, since a server that refuses
    // PORT is common (the look's answer is the same either way: an FTP file has no Location).
    UnreadReply look = OpensOverFtp(address.c_str())
                           ? LookAtFtpUrl(address, flags | INTERNET_FLAG_PASSIVE, AGENT_STRING)
                           : OpenLook(address.c_str(), flags, proxy);
    if (!look.request) {
        return {};
    }
    std::string value = ReadReplyHeader(look.request.get(), headerName);
    if (status != nullptr) *status = ReadLookStatus(look.request.get());
    // The body is never read: a look at a large file leaves all of it still to come.
    if (unread != nullptr && MayHoldLongHttpBody(look.request.get())) {
        *unread = std::move(look);
    } else {
        CloseUnread(std::move(look));
    }
    return value;
}

}  // namespace

int32_t GetUrlStatus(const char* url, const ProxyCredentials* proxy) noexcept {
    const UnreadReply look = OpenLook(url, OPEN_FLAGS, proxy);
    if (!look.session) {
        return NO_INTERNET_SESSION;
    }
    if (!look.request) {
        return 502;
    }
    return ReadLookStatus(look.request.get());
}

std::string QueryUrlHeader(const char* url, const char* headerName, bool strictTls, UnreadReply* unread,
                           const ProxyCredentials* proxy, int32_t* status) {
    return LookFor(WithoutUserInfo(url), headerName, strictTls, unread, proxy, status);
}

std::string QueryUrlHeader(const Url& url, const char* headerName, bool strictTls, UnreadReply* unread,
                           const ProxyCredentials* proxy) {
    return LookFor(url.address, headerName, strictTls, unread, proxy, nullptr);
}

int32_t CheckInternet(const ProxyCredentials* proxy) noexcept {
    return GetUrlStatus(ProbeUrl, proxy);
}

}  // namespace tamsel::web
