// WinINet sessions and requests opened with the component's bounded waits, those waits, and the proxy credentials.
#include "web/Internet.h"

#include "web/Completion.h"

#include <atomic>
#include <cwchar>

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

}  // namespace

uint32_t ExchangeTimeoutMs() noexcept {
    return timeoutMs.load(std::memory_order_relaxed);
}

void SetExchangeTimeoutMs(uint32_t milliseconds) noexcept {
    timeoutMs.store(milliseconds, std::memory_order_relaxed);
}

ULONGLONG StallDeadline() noexcept {
    return ::GetTickCount64() + ExchangeTimeoutMs();
}

DWORD MillisecondsUntil(ULONGLONG deadline) noexcept {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
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

}  // namespace tamsel::web
