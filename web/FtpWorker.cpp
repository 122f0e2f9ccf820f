// An FTP exchange's platform calls on a worker thread of its own, so that the caller waits for each with a bound.
#include "web/FtpWorker.h"

#include "web/Worker.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace tamsel::web {
namespace {

DWORD MillisecondsUntil(ULONGLONG deadline) noexcept {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

ULONGLONG StallDeadline() noexcept {
    return ::GetTickCount64() + ExchangeTimeoutMs();
}

}  // namespace

// What the caller and the worker share; the last of the two to let go deletes it. The caller writes a
// call's arguments and reads its answers only while the worker waits to be asked.
struct FtpWorker::Shared {
    UnreadReply handles;
    void (*call)(Shared&) noexcept = nullptr;
    bool succeeded = false;
    std::string text;  // the call's URL, server, path or command
    const char* agent = nullptr;
    DWORD flags = 0;
    INTERNET_PORT port = 0;
    WIN32_FIND_DATAA found = {};
    std::unique_ptr<char[]> buffer;
    DWORD room = 0;
    DWORD got = 0;
    KernelHandle asked;  // auto-reset: a call is asked for, or stop is set
    KernelHandle done;   // auto-reset: the call asked for has returned
    std::atomic<bool> stop{false};
    std::atomic<long> owners{2};
};

void FtpWorker::LetGo(Shared* shared) noexcept {
    if (shared->owners.fetch_sub(1, std::memory_order_acq_rel) == 1) delete shared;
}

void FtpWorker::Close(Shared& shared) noexcept {
    CloseFtpFile(shared.handles.request);  // and the copy the platform made of it
    shared.handles.connection.reset();
    shared.handles.session.reset();
}

// Makes each call the caller asks for, until it says stop; then closes the handles, newest first.
void FtpWorker::RunWhenAsked(void* argument) noexcept {
    auto* shared = static_cast<Shared*>(argument);
    while (::WaitForSingleObject(shared->asked.get(), INFINITE) == WAIT_OBJECT_0 && !shared->stop.load()) {
        shared->call(*shared);
        ::SetEvent(shared->done.get());
    }
    Close(*shared);
    LetGo(shared);
}

FtpWorker::FtpWorker() noexcept {
    std::unique_ptr<Shared> shared(new (std::nothrow) Shared);
    if (!shared) return;
    shared->asked.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    shared->done.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (shared->asked && shared->done) m_thread = StartWorker(RunWhenAsked, shared.get());
    if (!m_thread) shared->owners = 1;  // no worker: the calls run here, and the state is the caller's alone
    m_shared = shared.release();
}

FtpWorker::Shared* FtpWorker::Idle() const noexcept {
    return m_abandoned ? nullptr : m_shared;
}

bool FtpWorker::Ask(void (*call)(Shared&) noexcept, ULONGLONG deadline) noexcept {
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    shared->call = call;
    shared->succeeded = false;
    if (!m_thread) {
        call(*shared);
        return shared->succeeded;
    }
    ::SetEvent(shared->asked.get());
    if (::WaitForSingleObject(shared->done.get(), MillisecondsUntil(deadline)) != WAIT_OBJECT_0) {
        m_abandoned = true;  // the call, and the close after it, are the worker's now
        return false;
    }
    return shared->succeeded;
}

bool FtpWorker::OpenUrl(const std::string& url, DWORD flags, const char* agent) {
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    shared->text = url;
    shared->flags = flags;
    shared->agent = agent;
    return Ask([](Shared& s) noexcept {
        s.handles.session = OpenInternet(s.agent);
        if (s.handles.session) s.handles.request = OpenUrlBounded(s.handles.session.get(), s.text.c_str(), s.flags);
        s.succeeded = static_cast<bool>(s.handles.request);
    }, StallDeadline());
}

bool FtpWorker::Connect(const std::string& server, INTERNET_PORT port, bool passive) {
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    shared->text = server;
    shared->port = port;
    shared->flags = passive ? INTERNET_FLAG_PASSIVE : 0;
    return Ask([](Shared& s) noexcept {
        s.handles.connection.reset();
        if (!s.handles.session) s.handles.session = OpenInternet(nullptr);
        if (!s.handles.session) return;
        s.handles.connection.reset(::InternetConnectA(s.handles.session.get(), s.text.c_str(), s.port, "", "",
                                                      INTERNET_SERVICE_FTP, s.flags, 0));
        s.succeeded = static_cast<bool>(s.handles.connection);
    }, StallDeadline());
}

bool FtpWorker::Find(const std::string& path, DWORD flags, WIN32_FIND_DATAA& found) {
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    shared->text = path;
    shared->flags = flags;
    const bool listed = Ask([](Shared& s) noexcept {
        s.found = {};
        const FtpFile search(
            ::FtpFindFirstFileA(s.handles.connection.get(), s.text.c_str(), &s.found, s.flags, 0));
        s.succeeded = static_cast<bool>(search);
    }, StallDeadline());
    if (listed) found = shared->found;
    return listed;
}

bool FtpWorker::Command(const std::string& command) {
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    shared->text = command;
    return Ask([](Shared& s) noexcept {
        s.succeeded = ::FtpCommandA(s.handles.connection.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, s.text.c_str(), 0,
                                    nullptr) != FALSE;
    }, StallDeadline());
}

// Wine's WinINet hands out a reply's text only while the thread's last WinINet error is set, and a
// command that succeeds leaves that alone: an empty command, refused before anything is sent, sets one
// first. The text is the thread's, so the worker reads it.
std::optional<std::string> FtpWorker::Reply(const std::string& command, const char* code) {
    Shared* shared = Idle();
    if (shared == nullptr) return std::nullopt;
    shared->text = command;
    const bool answered = Ask([](Shared& s) noexcept {
        HINTERNET connection = s.handles.connection.get();
        ::FtpCommandA(connection, FALSE, FTP_TRANSFER_TYPE_BINARY, "", 0, nullptr);
        if (!::FtpCommandA(connection, FALSE, FTP_TRANSFER_TYPE_BINARY, s.text.c_str(), 0, nullptr)) return;
        // Below Wine's own reply buffer (1460 bytes), which it copies as much of as the buffer is long.
        char text[1024] = {};
        DWORD error = 0;
        DWORD length = sizeof(text) - 1;
        if (!::InternetGetLastResponseInfoA(&error, text, &length)) return;
        try {
            s.text.assign(text, ::strnlen(text, sizeof(text) - 1));
            s.succeeded = true;
        } catch (...) {
        }
    }, StallDeadline());
    if (!answered) return std::nullopt;
    const std::string& reply = shared->text;
    const size_t at = reply.rfind(std::string(code) + " ");
    if (at == std::string::npos || (at != 0 && reply[at - 1] != '\n')) return std::nullopt;
    const size_t end = reply.find_first_of("\r\n", at);
    return reply.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
}

bool FtpWorker::Open(const std::string& path, DWORD flags) {
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    shared->text = path;
    shared->flags = flags;
    return Ask([](Shared& s) noexcept {
        s.handles.request.reset(
            ::FtpOpenFileA(s.handles.connection.get(), s.text.c_str(), GENERIC_READ, s.flags, 0));
        s.succeeded = static_cast<bool>(s.handles.request);
    }, StallDeadline());
}

bool FtpWorker::Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept {
    got = 0;
    Shared* shared = Idle();
    if (shared == nullptr) return false;
    if (!shared->buffer) shared->buffer.reset(new (std::nothrow) char[MAX_READ]);
    if (!shared->buffer) return false;
    shared->room = std::min(room, MAX_READ);
    const bool read = Ask([](Shared& s) noexcept {
        s.got = 0;
        s.succeeded = ::InternetReadFile(s.handles.request.get(), s.buffer.get(), s.room, &s.got) != FALSE;
    }, deadline);
    if (m_abandoned) return false;
    got = shared->got;
    std::memcpy(into, shared->buffer.get(), got);
    return read;
}

HINTERNET FtpWorker::File() const noexcept {
    const Shared* shared = Idle();
    return shared != nullptr ? shared->handles.request.get() : nullptr;
}

UnreadReply FtpWorker::TakeHandles() noexcept {
    Shared* shared = Idle();
    return shared != nullptr ? std::move(shared->handles) : UnreadReply{};
}

void FtpWorker::Finish(bool wait) noexcept {
    if (m_shared == nullptr) return;
    if (!m_thread) {
        Close(*m_shared);
    } else {
        m_shared->stop.store(true);
        ::SetEvent(m_shared->asked.get());
        if (wait && !m_abandoned) ::WaitForSingleObject(m_thread.get(), ExchangeTimeoutMs());
    }
    LetGo(m_shared);
    m_shared = nullptr;
}

}  // namespace tamsel::web
