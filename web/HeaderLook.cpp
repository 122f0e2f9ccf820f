// Header-only looks at a URL through WinINet: status, one named header, and the connectivity probe.
#include "web/HeaderLook.h"

#include "web/CloseQueue.h"
#include "web/FixedUrls.h"
#include "web/Handle.h"
#include "web/Internet.h"
#include "web/UrlSplit.h"

#include <optional>

namespace tamsel::web {
namespace {

// The look's flags for url: an ftp URL is looked at in passive mode, as its download connects, since a
// server that refuses PORT is common (the look's answer is the same either way: an FTP file has no
// Location).
DWORD LookFlags(const char* url, bool strictTls) {
    const std::optional<UrlParts> parts = SplitUrl(url);
    const bool ftp = parts && parts->service == SERVICE_FTP;
    return (strictTls ? STRICT_OPEN_FLAGS : OPEN_FLAGS) | (ftp ? INTERNET_FLAG_PASSIVE : 0);
}

// A look at url in a session of its own: no session, or a session without a request when url could
// not be opened.
UnreadReply OpenLook(const char* url, bool strictTls, const ProxyCredentials* proxy) noexcept {
    UnreadReply look;
    look.session = OpenInternet(AGENT_STRING);
    if (look.session) {
        look.request = OpenUrlBounded(look.session.get(), url, LookFlags(url, strictTls), proxy);
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

}  // namespace

int32_t GetUrlStatus(const char* url, const ProxyCredentials* proxy) noexcept {
    const UnreadReply look = OpenLook(url, false, proxy);
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
    // Given user info, the platform would answer a challenge with it, and Wine's WinINet would keep it for
    // every later request to that host in the process: the download GET and the POST too.
    UnreadReply look = OpenLook(WithoutUserInfo(url).c_str(), strictTls, proxy);
    if (!look.request) {
        return {};
    }
    std::string value = ReadReplyHeader(look.request.get(), headerName);
    if (status != nullptr) *status = ReadLookStatus(look.request.get());
    if (IsFtpFile(look.request.get())) {
        CloseFtpFile(look.request);  // an FTP look's data connection ends with it: nothing to hand over
        return value;
    }
    // The body is never read: a look at a large file leaves all of it still to come.
    if (unread != nullptr) {
        *unread = std::move(look);
    } else {
        CloseUnread(std::move(look));
    }
    return value;
}

int32_t CheckInternet(const ProxyCredentials* proxy) noexcept {
    return GetUrlStatus(ProbeUrl, proxy);
}

}  // namespace tamsel::web
