// Waiting for WinINet's asynchronous operations on a request, told by the status callback, with the caller's bound.
#pragma once

#include "base/Handle.h"
#include "base/ModuleLife.h"

#include <wininet.h>

#include <atomic>
#include <cstddef>
#include <memory>

namespace tamsel::web {

// Lives as long as the request handle it is the context of: the platform says when that handle is gone
// (INTERNET_STATUS_HANDLE_CLOSING), possibly on a thread of its own and after the caller stopped waiting,
// and the completion then deletes itself. Until then the platform may call this module's status callback,
// so the completion holds the module lock.
class Completion {
public:
    // A new completion, or null when none can be made. The caller passes it as the context of exactly
    // one request handle, or deletes it with Discard when that handle could not be opened.
    static Completion* Create() noexcept;
    void Discard() noexcept;

    // Makes ready for the next operation; call before starting it. Only an operation that went
    // pending signals its completion, and a wait takes the signal.
    void Arm() noexcept;
    // True when the operation completed within milliseconds; then Error() tells how it went.
    bool Wait(DWORD milliseconds) noexcept;
    DWORD Error() const noexcept { return m_error.load(std::memory_order_acquire); }

    DWORD_PTR Context() noexcept { return reinterpret_cast<DWORD_PTR>(this); }

    // A buffer of at least size bytes that lives as long as the completion: a read given up while still
    // pending goes on writing into its buffer until the platform lets go of the request.
    char* Buffer(size_t size);

    // The status callback of every asynchronous session.
    static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, void* information,
                                  DWORD length);

private:
    Completion() noexcept = default;
    ~Completion() = default;

    ModuleLock m_moduleLock;  // first, so that it goes last
    KernelHandle m_event;
    std::unique_ptr<char[]> m_buffer;
    size_t m_bufferSize = 0;
    std::atomic<DWORD> m_error{0};
};

}  // namespace tamsel::web
