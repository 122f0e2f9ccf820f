// Bounds for tests of waits: a call given a time limit on a thread of its own, and shortened product waits.
#include "support/Bounded.h"

#include "base/Handle.h"
#include "web/Internet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace tamsel::test {
namespace {

DWORD WINAPI RunWork(void* argument) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
    (*work)();
    return 0;
}

}  // namespace

bool BoundedRun::Within(DWORD limitMs) {
    // The thread owns the work: it may outlive this object when the wait gives up.
    auto* owned = new std::function<void()>(std::move(m_work));
    const auto start = std::chrono::steady_clock::now();
    KernelHandle thread(::CreateThread(nullptr, 0, RunWork, owned, 0, nullptr));
    if (!thread) {
        delete owned;
        ADD_FAILURE() << "no thread for the bounded run";
        return false;
    }
    const bool ended = ::WaitForSingleObject(thread.get(), limitMs) == WAIT_OBJECT_0;
    elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                    .count();
    return ended;
}

ShortWaits::ShortWaits(uint32_t milliseconds) {
    web::SetExchangeTimeoutMs(milliseconds);
}

ShortWaits::~ShortWaits() {
    web::SetExchangeTimeoutMs(web::DEFAULT_EXCHANGE_TIMEOUT_MS);
}

}  // namespace tamsel::test
