// Header-only looks at a URL through WinINet: status, one named header, and the connectivity probe.
#include "web/Redirect.h"

#include "web/FixedUrls.h"
#include "web/Handle.h"
#include "web/Internet.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tamsel::web {
namespace {

InternetSession OpenSession() noexcept {
    return OpenInternet(AgentString);
}

InternetRequest OpenUrl(const InternetSession& session, const char* url) noexcept {
    return OpenUrlBounded(session.get(), url, OpenFlags);
}

constexpr DWORD FirstHeaderBufferSize = 2048;

// Wine's WinINet keeps at most this many bytes of a reply header line and drops the rest without a
// word. A value whose "Name: value" line reaches it may have lost its end: it is no answer at all.
constexpr size_t HeaderLineLimit = 4095;

bool MayHaveBeenCut(const char* headerName, const std::string& value) noexcept {
    return std::strlen(headerName) + 2 + value.size() >= HeaderLineLimit;
}

// The first header called headerName, or empty. HTTP_QUERY_CUSTOM takes the header's name in the
// buffer it answers in; the buffer grows to the length the platform asks for, as often as it asks.
std::string ReadHeader(HINTERNET request, const char* headerName) {
    const size_t nameSize = std::strlen(headerName) + 1;
    std::vector<char> buffer(std::max<size_t>(FirstHeaderBufferSize, nameSize));
    for (;;) {
        std::memcpy(buffer.data(), headerName, nameSize);
        DWORD length = static_cast<DWORD>(buffer.size());
        if (::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr)) {
            std::string value(buffer.data(), strnlen(buffer.data(), buffer.size()));
            return MayHaveBeenCut(headerName, value) ? std::string() : value;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= buffer.size()) {
            return {};
        }
        buffer.assign(std::max<size_t>(length, nameSize), '\0');
    }
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

std::string QueryUrlHeader(const char* url, const char* headerName) {
    InternetSession session = OpenSession();
    if (!session) {
        return {};
    }
    InternetRequest request = OpenUrl(session, url);
    if (!request) {
        return {};
    }
    std::string value = ReadHeader(request.get(), headerName);
    // The body is never read: a look at a large file leaves all of it still to come.
    CloseUnread({std::move(session), {}, std::move(request)});
    return value;
}

int32_t CheckInternet() noexcept {
    int32_t status = -999;
    GetUrlStatus(ProbeUrl, &status);
    return status;
}

}  // namespace tamsel::web
