// Waiting for WinINet's asynchronous operations on a request, told by the status callback, with the caller's bound.
#include "web/Completion.h"

#include <new>

namespace tamsel::web {

Completion* Completion::Create() noexcept {
    auto* completion = new (std::nothrow) Completion;
    if (completion == nullptr) return nullptr;
    // Auto-reset: a wait takes the signal it was given, so nothing needs resetting between operations
    // (each reset would be a round trip to the wineserver, once per read of a download).
    completion->m_event.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!completion->m_event) {
        delete completion;
        return nullptr;
    }
    return completion;
}

void Completion::Discard() noexcept {
    delete this;
}

char* Completion::Buffer(size_t size) {
    if (m_bufferSize < size) {
        m_buffer.reset(new char[size]);
        m_bufferSize = size;
    }
    return m_buffer.get();
}

void Completion::Arm() noexcept {
    m_error.store(0, std::memory_order_relaxed);
}

bool Completion::Wait(DWORD milliseconds) noexcept {
    return ::WaitForSingleObject(m_event.get(), milliseconds) == WAIT_OBJECT_0;
}

void CALLBACK Completion::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD) {
    auto* completion = reinterpret_cast<Completion*>(context);
    if (completion == nullptr) return;
    switch (status) {
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
            completion->m_error.store(result != nullptr && !result->dwResult ? result->dwError : 0,
                                      std::memory_order_release);
            ::SetEvent(completion->m_event.get());
            break;
        }
        case INTERNET_STATUS_HANDLE_CLOSING:
            completion->Discard();
            break;
        default:
            break;
    }
}

}  // namespace tamsel::web
