// Header-only looks at a URL through WinINet: status, one named header, and the connectivity probe.
#include "web/HeaderLook.h"

#include "web/CloseQueue.h"
#include "web/FixedUrls.h"
#include "web/Handle.h"
#include "web/Internet.h"
#include "web/UrlSplit.h"

namespace tamsel::web {
namespace {

InternetSession OpenSession() noexcept {
    return OpenInternet(AGENT_STRING);
}

InternetRequest OpenUrl(const InternetSession& session, const char* url, bool strictTls = false) noexcept {
    return OpenUrlBounded(session.get(), url, strictTls ? STRICT_OPEN_FLAGS : OPEN_FLAGS);
}

}  // namespace

int32_t GetUrlStatus(const char* url) noexcept {
    InternetSession session = OpenSession();
    if (!session) {
        return NO_INTERNET_SESSION;
    }
    InternetRequest request = OpenUrl(session, url);
    if (!request) {
        return 502;
    }
    // A failed query leaves the value at 0, which callers read as "status unknown".
    DWORD value = 0;
    DWORD length = sizeof(value);
    ::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr);
    return static_cast<int32_t>(value);
}

std::string QueryUrlHeader(const char* url, const char* headerName, bool strictTls, UnreadReply* unread) {
    InternetSession session = OpenSession();
    if (!session) {
        return {};
    }
    // Given user info, the platform would answer a challenge with it, and Wine's WinINet would keep it for
    // every later request to that host in the process: the download GET and the POST too.
    InternetRequest request = OpenUrl(session, WithoutUserInfo(url).c_str(), strictTls);
    if (!request) {
        return {};
    }
    std::string value = ReadReplyHeader(request.get(), headerName);
    if (IsFtpFile(request.get())) {
        CloseFtpFile(request);  // an FTP look's data connection ends with it: nothing to hand over
        return value;
    }
    // The body is never read: a look at a large file leaves all of it still to come.
    UnreadReply reply{std::move(session), {}, std::move(request)};
    if (unread != nullptr) {
        *unread = std::move(reply);
    } else {
        CloseUnread(std::move(reply));
    }
    return value;
}

int32_t CheckInternet() noexcept {
    return GetUrlStatus(ProbeUrl);
}

}  // namespace tamsel::web
