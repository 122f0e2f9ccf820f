// FTP, whole: the download (listing, validator, passive then active), the look at an ftp URL, the worker they run on.
#include "web/Ftp.h"

#include "web/BodyReader.h"
#include "web/Internet.h"
#include "web/Worker.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace tamsel::web {
namespace {

// Nothing the component asks for is written to the user's WinINet cache: it keeps no files.
constexpr DWORD FTP_FIND_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD FTP_OPEN_FLAGS = FTP_FIND_FLAGS | FTP_TRANSFER_TYPE_BINARY;
// The word the download sent before the cache flag joined it: everything else is unchanged.
static_assert((FTP_OPEN_FLAGS & ~INTERNET_FLAG_NO_CACHE_WRITE) == 0x80000002, "FTP flags");

// Whether handle is an open FTP file (FtpOpenFileA, or InternetOpenUrlA of an ftp URL).
bool IsFtpFile(HINTERNET handle) noexcept {
    DWORD type = 0;
    DWORD size = sizeof(type);
    return ::InternetQueryOptionA(handle, INTERNET_OPTION_HANDLE_TYPE, &type, &size) &&
           type == INTERNET_HANDLE_TYPE_FTP_FILE;
}

// Closes an open FTP file and deletes the copy of it that the platform made in the WinINet cache
// folder, where it names one. Wine's WinINet writes every byte read from an FTP file into such a file,
// whatever the cache flags say, and never indexes it, so nothing would ever remove it: a copy of every
// download, in the user's profile. The copy's name is asked for while the file is open; the copy can go
// only once the platform has closed it with the file, since it holds it open without sharing it for
// deletion.
void CloseFtpFile(FtpFile& file) noexcept {
    wchar_t copy[MAX_PATH + 1] = {};
    DWORD size = sizeof(copy) - sizeof(wchar_t);
    const bool named = ::InternetQueryOptionW(file.get(), INTERNET_OPTION_DATAFILE_NAME, copy, &size) &&
                       copy[0] != L'\0';
    file.reset();
    if (named) {
        ::DeleteFileW(copy);
    }
}

// Wine's WinINet speaks FTP with plain blocking socket calls: it waits up to 30 s for each control reply,
// and for as long as the server likes for a listing's or a file's data connection to be opened, to carry
// bytes and to close. No timeout option reaches those sockets, closing a handle waits for the call that
// uses it, and nothing cancels one. So every call of an FTP exchange, from the connect to the close, runs
// on a worker thread of its own, one after the other, and the caller waits for each at most until its
// deadline (the stall bound, ExchangeTimeoutMs, from when it was asked; a read's own deadline). A call
// given up is left to the worker, which closes the exchange's handles once it returns (a server that never
// closes the connection keeps that worker, and with it the module, for good); every later call then fails
// at once. When no worker can start, the calls run on the caller's thread, as they always could.
class FtpWorker final : public BodySource {
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
    bool Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept override;

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

// Wine's FTP listing gives no size above 2 GiB - 1.
constexpr uint64_t WINE_LISTING_CAP = 0x7FFFFFFF;

// What the directory listing says of a file: its size, and its size and time as a validator that only a
// digest of the whole file may rely on (see FtpValidator). The search handle is closed at once, since an
// FTP connection runs one transfer at a time.
struct FtpListing {
    uint64_t size = 0;
    std::string validator;
};

std::optional<FtpListing> ListFtpFile(FtpWorker& ftp, const std::string& path) {
    WIN32_FIND_DATAA found = {};
    if (!ftp.Find(path, FTP_FIND_FLAGS, found)) return std::nullopt;
    const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    const uint64_t time =
        (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
    return FtpListing{size, "ftp list " + std::to_string(size) + " " + std::to_string(time)};
}

// Passive mode first: many servers, and the firewalls in front of clients, refuse the server's
// connection back that PORT asks for. Active mode once more only when the logged-in passive connection
// could not list the file (the server refused PASV, or its data address could not be reached); a server
// that answers PASV with 550, as some do when passive is off, reads like a missing file, so a missing
// file is asked for twice. A step given up ends it: the worker is gone.
std::optional<FtpListing> StartFtp(FtpWorker& ftp, const HttpRequest& request) {
    for (const bool passive : {true, false}) {
        if (!ftp.Connect(request.server, request.port, passive)) return std::nullopt;
        std::optional<FtpListing> listing = ListFtpFile(ftp, request.objectPath);
        if (listing) return listing;
    }
    return std::nullopt;
}

// MDTM's "YYYYMMDDHHMMSS", perhaps with a fraction: a time to the second.
bool IsTimeToTheSecond(const std::string& time) {
    if (time.size() < 14) return false;
    for (size_t i = 0; i < 14; ++i) {
        if (time[i] < '0' || time[i] > '9') return false;
    }
    return time.size() == 14 || time[14] == '.';
}

// What tells a later attempt that the server still has the very same file: its SIZE and its MDTM, which
// has seconds (asked in binary mode, where SIZE counts the bytes a download gets). A server without them
// gives none, unless a digest will prove the whole file: then the listing's size and time do, which a
// same-size file replaced within the same minute (within the same day, for files older than six months)
// passes.
std::string FtpValidator(FtpWorker& ftp, const HttpRequest& request, const FtpListing& listing,
                         const DownloadAsk& ask) {
    if (!ask.wantsValidator) return {};
    const std::string& path = request.objectPath;
    std::optional<std::string> size;
    if (ftp.Command("TYPE I")) size = ftp.Reply("SIZE " + path, "213");
    const std::optional<std::string> time = size ? ftp.Reply("MDTM " + path, "213") : std::nullopt;
    if (time && IsTimeToTheSecond(*time)) return "ftp mdtm " + *size + " " + *time;
    return ask.digestProvesWhole ? listing.validator : std::string();
}

// An FTP file has no status: an opened one is a 200, one that the server agreed to start at offset (above
// 0) a 206 whose range starts there. The listed size guides progress and tells a cut transfer; it binds
// nothing (Wine's listing stops at 2 GiB - 1).
ReplyHead FtpHead(const FtpListing& listing, uint64_t offset) {
    ReplyHead head;
    head.status = offset > 0 ? HTTP_STATUS_PARTIAL_CONTENT : HTTP_STATUS_OK;
    head.lastModified = listing.validator;
    if (listing.size < WINE_LISTING_CAP) {
        head.length = listing.size;  // at the cap the listing says only "at least"
    }
    if (offset > 0) {
        head.rangeFirst = offset;
        head.rangeWhole = listing.size;
    }
    head.bodyStart = offset;
    head.fileLength = listing.size;
    return head;
}

}  // namespace

// Only a transfer that ended well, or a reply the consumer declined, is waited for while it closes: the
// close of any other may wait for a server that no longer answers.
DownloadResult GetFtp(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer) {
    FtpWorker ftp;
    const std::optional<FtpListing> listing = StartFtp(ftp, request);
    if (!listing) return {};
    const std::string validator = FtpValidator(ftp, request, *listing, ask);
    const bool restarted = ask.resumeFrom > 0 && ask.resumeFrom < listing->size && !validator.empty() &&
                           ask.ifRange == validator && ftp.Command("REST " + std::to_string(ask.resumeFrom));
    if (!ftp.Open(request.objectPath, FTP_OPEN_FLAGS)) return {};
    const uint64_t offset = restarted ? ask.resumeFrom : 0;
    ReplyHead head = FtpHead(*listing, offset);
    head.lastModified = validator;
    head.weakValidator = !validator.empty() && validator == listing->validator;
    if (!consumer.StartReply(head)) {
        ftp.Finish(true);
        return {head.status, TransferEnd::Declined};
    }
    const BodySize size{listing->size - offset, false, LimitFor(ask.expectedSize, offset)};
    const TransferEnd end = ReadBody(ftp, size, consumer, ask.pace);
    ftp.Finish(end == TransferEnd::Complete);
    return {head.status, end};
}

UnreadReply LookAtFtpUrl(const std::string& url, DWORD flags, const char* agent) {
    FtpWorker look;
    if (!look.OpenUrl(url, flags, agent)) return {};
    if (IsFtpFile(look.File())) {
        look.Finish(true);  // the server's last reply, and the copy the platform made, go before the download
        return {};
    }
    return look.TakeHandles();
}

}  // namespace tamsel::web
