// Header-only looks at a URL through WinINet: status, one named header, and the connectivity probe.
#include "web/HeaderLook.h"

#include "web/CloseQueue.h"
#include "web/FixedUrls.h"
#include "web/Handle.h"
#include "web/Internet.h"
#include "web/UrlSplit.h"

namespace tamsel::web {
namespace {

// A look at url in a session of its own: no session, or a session without a request when url could
// not be opened.
UnreadReply OpenLook(const char* url, bool strictTls) noexcept {
    UnreadReply look;
    look.session = OpenInternet(AGENT_STRING);
    if (look.session) {
        look.request = OpenUrlBounded(look.session.get(), url, strictTls ? STRICT_OPEN_FLAGS : OPEN_FLAGS);
    }
    return look;
}

}  // namespace

int32_t GetUrlStatus(const char* url) noexcept {
    const UnreadReply look = OpenLook(url, false);
    if (!look.session) {
        return NO_INTERNET_SESSION;
    }
    if (!look.request) {
        return 502;
    }
    // A failed query leaves the value at 0, which callers read as "status unknown".
    DWORD value = 0;
    DWORD length = sizeof(value);
    ::HttpQueryInfoA(look.request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr);
    return static_cast<int32_t>(value);
}

std::string QueryUrlHeader(const char* url, const char* headerName, bool strictTls, UnreadReply* unread) {
    // Given user info, the platform would answer a challenge with it, and Wine's WinINet would keep it for
    // every later request to that host in the process: the download GET and the POST too.
    UnreadReply look = OpenLook(WithoutUserInfo(url).c_str(), strictTls);
    if (!look.request) {
        return {};
    }
    std::string value = ReadReplyHeader(look.request.get(), headerName);
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

int32_t CheckInternet() noexcept {
    return GetUrlStatus(ProbeUrl);
}

}  // namespace tamsel::web
