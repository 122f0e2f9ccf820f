// Opening WinINet sessions with the component's bounded waits.
#include "web/Internet.h"

#include <atomic>

namespace tamsel::web {
namespace {

std::atomic<uint32_t> timeoutMs{DefaultExchangeTimeoutMs};

// WinINet calls a status callback only for handles with a nonzero context.
constexpr DWORD_PTR BoundedUrlContext = 1;

// Runs on the caller's thread, inside InternetOpenUrlA, with the request it has just made: before it
// connects (a proxy's answer to CONNECT is waited for too) and before every send (a kept connection
// is not connected again).
void CALLBACK BoundBeforeSending(HINTERNET handle, DWORD_PTR context, DWORD status, void*, DWORD) {
    if (context == BoundedUrlContext &&
        (status == INTERNET_STATUS_CONNECTING_TO_SERVER || status == INTERNET_STATUS_SENDING_REQUEST)) {
        ApplyTimeouts(handle);
    }
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

InternetRequest OpenUrlBounded(HINTERNET session, const char* url, DWORD flags) noexcept {
    ::InternetSetStatusCallbackA(session, BoundBeforeSending);
    InternetRequest request(::InternetOpenUrlA(session, url, nullptr, 0, flags, BoundedUrlContext));
    ::InternetSetStatusCallbackA(session, nullptr);
    return request;
}

InternetSession OpenInternet(const char* agent) noexcept {
    InternetSession session(::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session) {
        ApplyTimeouts(session.get());
    }
    return session;
}

}  // namespace tamsel::web
