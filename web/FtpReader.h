// Reading an FTP file on a worker thread, so that the caller waits for each read with a bound of its own.
#pragma once

#include "web/Internet.h"

#include <windows.h>

namespace tamsel::web {

// Wine's WinINet reads an FTP file with a plain blocking receive on its data connection: no timeout
// option reaches that socket, closing the handle waits for the read, and nothing cancels it. A server
// that keeps the data connection open and silent would hold the reading thread for as long as it likes.
// So the reads run on a worker thread of their own and the caller waits for each with its own bound. A
// read given up is left to the worker, which closes the file's handles once the read returns (a server
// that never closes the connection keeps that worker, and with it the module, for good).
class FtpReader {
public:
    static constexpr DWORD MAX_READ = 1024 * 1024;

    // Takes the file's handles (session, connection, file) when its worker starts; otherwise leaves them
    // where they are, and the reader is empty.
    explicit FtpReader(UnreadReply& handles) noexcept;
    ~FtpReader() { Finish(false); }
    FtpReader(const FtpReader&) = delete;
    FtpReader& operator=(const FtpReader&) = delete;
    explicit operator bool() const noexcept { return m_shared != nullptr; }

    // One read of at most room bytes (MAX_READ at most); `got` 0 at the end of the file. False when the
    // read failed, or had not returned by deadline (then every later read fails too).
    bool Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept;

    // No more reads: the worker closes the handles. With wait (a transfer that ended well, whose close
    // takes the server's last reply at once) the caller waits for that, as it would have closed them itself.
    void Finish(bool wait) noexcept;

private:
    struct Shared;
    static void ReadWhenAsked(void* argument) noexcept;
    static void LetGo(Shared* shared) noexcept;

    Shared* m_shared = nullptr;
    ThreadHandle m_thread;
    bool m_abandoned = false;
};

}  // namespace tamsel::web
