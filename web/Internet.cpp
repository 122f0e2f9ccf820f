// Opening WinINet sessions with the component's bounded waits.
#include "web/Internet.h"

#include <atomic>

namespace tamsel::web {
namespace {

std::atomic<uint32_t> timeoutMs{DefaultExchangeTimeoutMs};

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

InternetSession OpenInternet(const char* agent) noexcept {
    InternetSession session(::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session) {
        ApplyTimeouts(session.get());
    }
    return session;
}

}  // namespace tamsel::web
