// WinINet sessions: opening them with the component's bounded waits, and what a reply's handles are.
#include "web/Internet.h"

#include "web/Completion.h"

#include <algorithm>
#include <cwchar>
#include <atomic>
#include <cstring>
#include <vector>

namespace tamsel::web {
namespace {

std::atomic<uint32_t> timeoutMs{DEFAULT_EXCHANGE_TIMEOUT_MS};

// WinINet calls a status callback only for handles with a nonzero context.
constexpr DWORD_PTR BOUNDED_URL_CONTEXT = 1;

// The credentials that the request InternetOpenUrlA is making on this thread offers its proxy. Not the
// context: the request keeps its context, and the callback, for its whole life, long after the call.
thread_local const ProxyCredentials* openingWith = nullptr;

// Runs on the caller's thread, inside InternetOpenUrlA, with the request it has just made: before it
// connects (a proxy's answer to CONNECT is waited for too) and before every send (a kept connection
// is not connected again).
void CALLBACK BoundBeforeSending(HINTERNET handle, DWORD_PTR context, DWORD status, void*, DWORD) {
    if (context == BOUNDED_URL_CONTEXT &&
        (status == INTERNET_STATUS_CONNECTING_TO_SERVER || status == INTERNET_STATUS_SENDING_REQUEST)) {
        ApplyTimeouts(handle);
        OfferProxyCredentials(handle, openingWith);
    }
}

// A string option of request, wiped where it was read.
SecretText<wchar_t> QueryText(HINTERNET request, DWORD option) {
    wchar_t text[256] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    SecretText<wchar_t> value;
    if (::InternetQueryOptionW(request, option, text, &size)) value = SecretText<wchar_t>(text, wcsnlen(text, 255));
    ::SecureZeroMemory(text, sizeof(text));
    return value;
}

constexpr DWORD FIRST_HEADER_BUFFER_SIZE = 2048;

// Wine's WinINet keeps at most this many bytes of a reply header line and drops the rest without a
// word. A value whose "Name: value" line reaches it may have lost its end: it is no answer at all.
constexpr size_t HEADER_LINE_LIMIT = 4095;

bool MayHaveBeenCut(const char* headerName, const std::string& value) noexcept {
    return std::strlen(headerName) + 2 + value.size() >= HEADER_LINE_LIMIT;
}

}  // namespace

uint32_t ExchangeTimeoutMs() noexcept {
    return timeoutMs.load(std::memory_order_relaxed);
}

void SetExchangeTimeoutMs(uint32_t milliseconds) noexcept {
    timeoutMs.store(milliseconds, std::memory_order_relaxed);
}

void ApplyTimeouts(HINTERNET handle) noexcept {
    DWORD value = ExchangeTimeoutMs();
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                         INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
        ::InternetSetOptionA(handle, option, &value, sizeof(value));
    }
}

InternetRequest OpenUrlBounded(HINTERNET session, const char* url, DWORD flags,
                               const ProxyCredentials* proxy) noexcept {
    openingWith = proxy;
    ::InternetSetStatusCallbackA(session, BoundBeforeSending);
    InternetRequest request(::InternetOpenUrlA(session, url, nullptr, 0, flags, BOUNDED_URL_CONTEXT));
    openingWith = nullptr;
    ::InternetSetStatusCallbackA(session, nullptr);
    return request;
}

// The platform copies both strings and never wipes its copies: they last as long as the session.
void OfferProxyCredentials(HINTERNET request, const ProxyCredentials* proxy) noexcept {
    if (proxy == nullptr || proxy->Empty()) return;
    try {
        const SecretText<wchar_t> user = proxy->User().Terminated();
        const SecretText<wchar_t> password = proxy->Password().Terminated();
        ::InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(user.Data()),
                             static_cast<DWORD>(user.Size() - 1));
        ::InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(password.Data()),
                             static_cast<DWORD>(password.Size() - 1));
    } catch (...) {
        // Out of memory: the platform's own credentials answer, as without any.
    }
}

ProxyCredentials PlatformProxyCredentials(HINTERNET request) {
    const SecretText<wchar_t> user = QueryText(request, INTERNET_OPTION_PROXY_USERNAME).Terminated();
    const SecretText<wchar_t> password = QueryText(request, INTERNET_OPTION_PROXY_PASSWORD).Terminated();
    return ProxyCredentials(user.Data(), password.Data());
}

InternetSession OpenInternet(const char* agent, bool async) noexcept {
    InternetSession session(
        ::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, async ? INTERNET_FLAG_ASYNC : 0));
    if (session) {
        ApplyTimeouts(session.get());
    }
    if (session && async) {
        ::InternetSetStatusCallbackA(session.get(), Completion::OnStatus);
    }
    return session;
}

std::optional<uint64_t> QueryContentLength(HINTERNET request) noexcept {
    char text[32] = {};
    DWORD length = sizeof(text) - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        if (value > (UINT64_MAX - 9) / 10) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    return value;
}

// HTTP_QUERY_CUSTOM takes the header's name in the buffer it answers in; the buffer grows to the length
// the platform asks for, as often as it asks.
std::string ReadReplyHeader(HINTERNET request, const char* headerName) {
    const size_t nameSize = std::strlen(headerName) + 1;
    std::vector<char> buffer(std::max<size_t>(FIRST_HEADER_BUFFER_SIZE, nameSize));
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

bool IsFtpFile(HINTERNET handle) noexcept {
    DWORD type = 0;
    DWORD size = sizeof(type);
    return ::InternetQueryOptionA(handle, INTERNET_OPTION_HANDLE_TYPE, &type, &size) &&
           type == INTERNET_HANDLE_TYPE_FTP_FILE;
}

// The copy's name is asked for while the file is open; the copy can go only once the platform has
// closed it with the file, since it holds it open without sharing it for deletion.
void CloseFtpFile(FtpFile& file) noexcept {
    wchar_t copy[MAX_PATH + 1] = {};
    DWORD size = sizeof(copy) - sizeof(wchar_t);
    const bool named = ::InternetQueryOptionW(file.get(), INTERNET_OPTION_DATAFILE_NAME, copy, &size) &&
                       copy[0] != L'\0';
    file.reset();
    if (named) {
        ::DeleteFileW(copy);
    }
}

}  // namespace tamsel::web
