// Header-only looks at a URL through WinINet: status, one named header, and the connectivity probe.
#include "web/Redirect.h"

#include "web/FixedUrls.h"
#include "web/Handle.h"
#include "web/Internet.h"
#include "web/UrlSplit.h"

namespace tamsel::web {
namespace {

InternetSession OpenSession() noexcept {
    return OpenInternet(AGENT_STRING);
}

InternetRequest OpenUrl(const InternetSession& session, const char* url) noexcept {
    return OpenUrlBounded(session.get(), url, OPEN_FLAGS);
}

InternetRequest LookAt(const InternetSession& session, const char* url, bool strictTls) {
    return OpenUrlBounded(session.get(), WithoutUserInfo(url).c_str(), strictTls ? STRICT_LOOK_FLAGS : LOOK_FLAGS);
}

}  // namespace

int32_t GetUrlStatus(const char* url, int32_t* status) noexcept {
    InternetSession session = OpenSession();
    if (!session) {
        return 0;
    }
    InternetRequest request = OpenUrl(session, url);
    if (!request) {
        *status = 502;
        return 0;
    }
    // A failed query leaves the value at 0, which callers read as "status unknown".
    DWORD value = 0;
    DWORD length = sizeof(value);
    ::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr);
    *status = static_cast<int32_t>(value);
    return *status;
}

std::string QueryUrlHeader(const char* url, const char* headerName, bool strictTls, UnreadReply* unread) {
    InternetSession session = OpenSession();
    if (!session) {
        return {};
    }
    InternetRequest request = LookAt(session, url, strictTls);
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
    int32_t status = -999;
    GetUrlStatus(ProbeUrl, &status);
    return status;
}

}  // namespace tamsel::web
