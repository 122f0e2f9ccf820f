// Reading an FTP file on a worker thread, so that the caller waits for each read with a bound of its own.
#include "web/FtpReader.h"

#include "web/Worker.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace tamsel::web {

using EventHandle = UniqueHandle<NullIsInvalid<HANDLE, ::CloseHandle>>;

// What the caller and the worker share; the last of the two to let go deletes it.
struct FtpReader::Shared {
    UnreadReply handles;
    std::unique_ptr<char[]> buffer;
    EventHandle asked;  // auto-reset: a read is asked for, or stop is set
    EventHandle done;   // auto-reset: the read asked for has returned
    DWORD room = 0;
    DWORD got = 0;
    bool readWell = false;
    std::atomic<bool> stop{false};
    std::atomic<long> owners{2};
};

void FtpReader::LetGo(Shared* shared) noexcept {
    if (shared->owners.fetch_sub(1, std::memory_order_acq_rel) == 1) delete shared;
}

// Reads whenever the caller asks, until it says stop; then closes the file's handles, newest first.
void FtpReader::ReadWhenAsked(void* argument) noexcept {
    auto* shared = static_cast<Shared*>(argument);
    while (::WaitForSingleObject(shared->asked.get(), INFINITE) == WAIT_OBJECT_0 && !shared->stop.load()) {
        shared->got = 0;
        shared->readWell = ::InternetReadFile(shared->handles.request.get(), shared->buffer.get(), shared->room,
                                              &shared->got) != FALSE;
        ::SetEvent(shared->done.get());
    }
    CloseFtpFile(shared->handles.request);  // and the copy the platform made of it
    shared->handles.connection.reset();
    shared->handles.session.reset();
    LetGo(shared);
}

FtpReader::FtpReader(UnreadReply& handles) noexcept {
    std::unique_ptr<Shared> shared(new (std::nothrow) Shared);
    if (!shared) return;
    shared->buffer.reset(new (std::nothrow) char[MAX_READ]);
    shared->asked.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    shared->done.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!shared->buffer || !shared->asked || !shared->done) return;
    shared->handles = std::move(handles);
    m_thread = StartWorker(ReadWhenAsked, shared.get());
    if (!m_thread) {
        handles = std::move(shared->handles);  // no worker: the caller reads, as it always could
        return;
    }
    m_shared = shared.release();
}

bool FtpReader::Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept {
    got = 0;
    if (m_abandoned) return false;
    m_shared->room = std::min(room, MAX_READ);
    ::SetEvent(m_shared->asked.get());
    const ULONGLONG now = ::GetTickCount64();
    const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    if (::WaitForSingleObject(m_shared->done.get(), wait) != WAIT_OBJECT_0) {
        m_abandoned = true;  // the read, and closing after it, are the worker's now
        return false;
    }
    got = m_shared->got;
    std::memcpy(into, m_shared->buffer.get(), got);
    return m_shared->readWell;
}

void FtpReader::Finish(bool wait) noexcept {
    if (m_shared == nullptr) return;
    m_shared->stop.store(true);
    ::SetEvent(m_shared->asked.get());
    if (wait && !m_abandoned) ::WaitForSingleObject(m_thread.get(), INFINITE);
    LetGo(m_shared);
    m_shared = nullptr;
}

}  // namespace tamsel::web
