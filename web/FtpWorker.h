// An FTP exchange's platform calls on a worker thread of its own, so that the caller waits for each with a bound.
#pragma once

#include "web/Internet.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel::web {

// Wine's WinINet speaks FTP with plain blocking socket calls: it waits up to 30 s for each control reply,
// and for as long as the server likes for a listing's or a file's data connection to be opened, to carry
// bytes and to close. No timeout option reaches those sockets, closing a handle waits for the call that
// uses it, and nothing cancels one. So every call of an FTP exchange, from the connect to the close, runs
// on a worker thread of its own, one after the other, and the caller waits for each at most until its
// deadline (the stall bound, ExchangeTimeoutMs, from when it was asked; a read's own deadline). A call
// given up is left to the worker, which closes the exchange's handles once it returns (a server that never
// closes the connection keeps that worker, and with it the module, for good); every later call then fails
// at once. When no worker can start, the calls run on the caller's thread, as they always could.
class FtpWorker {
public:
    static constexpr DWORD MAX_READ = 1024 * 1024;

    FtpWorker() noexcept;
    ~FtpWorker() { Finish(false); }
    FtpWorker(const FtpWorker&) = delete;
    FtpWorker& operator=(const FtpWorker&) = delete;

    // Each true when the platform call succeeded in time; false when it failed, or was given up.

    // InternetOpenUrlA of url with flags, in a session of its own with agent (a string that outlives the
    // worker) and the bounded waits: for an ftp URL, a login and the file opened.
    bool OpenUrl(const std::string& url, DWORD flags, const char* agent);
    // A session without agent text, and a connection to server at port in passive or active mode, logged
    // in with empty credentials; a connection made before is closed first.
    bool Connect(const std::string& server, INTERNET_PORT port, bool passive);
    // The listing's entry for path, into found; the search closed at once, since an FTP connection runs one
    // transfer at a time.
    bool Find(const std::string& path, DWORD flags, WIN32_FIND_DATAA& found);
    // A command whose reply carries no data, such as REST.
    bool Command(const std::string& command);
    // The text after "code " in the server's reply to command, such as SIZE's; nothing when the server
    // refused it or answered another code.
    std::optional<std::string> Reply(const std::string& command, const char* code);
    // The file at path opened for reading.
    bool Open(const std::string& path, DWORD flags);
    // One read of at most room bytes (MAX_READ at most) of the opened file; `got` 0 at the end of the file.
    bool Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept;

    // The opened file (or request, for OpenUrl), for queries between calls; null when a call was given up.
    HINTERNET File() const noexcept;
    // The handles, taken from the worker, which is left with nothing to close (a request that a proxy
    // made of an ftp URL is an HTTP one, and goes where such requests go). Empty when a call was given up.
    UnreadReply TakeHandles() noexcept;

    // No more calls: the worker closes the handles, the file first. With wait (an exchange that ended well,
    // whose close takes the server's last reply at once) the caller waits for that, within the stall bound.
    void Finish(bool wait) noexcept;

private:
    struct Shared;
    static void RunWhenAsked(void* argument) noexcept;
    static void Close(Shared& shared) noexcept;
    static void LetGo(Shared* shared) noexcept;
    // The shared state while the worker waits to be asked; null when there is none or a call was given up.
    Shared* Idle() const noexcept;
    bool Ask(void (*call)(Shared&) noexcept, ULONGLONG deadline) noexcept;

    Shared* m_shared = nullptr;
    KernelHandle m_thread;
    bool m_abandoned = false;
};

}  // namespace tamsel::web
