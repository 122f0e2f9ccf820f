// Running one exchange over WinINet: POST with its body, and streamed GET over http, https and ftp.
#include "web/Exchange.h"

#include "include/NorvikTamselAgent.h"
#include "web/Internet.h"
#include "web/RequestBody.h"

#include <memory>
#include <new>
#include <optional>

namespace tamsel::web {
namespace {

constexpr char POST_AGENT[] = "Norvik POST/0.1";

// Nothing the component asks for is written to the user's WinINet cache: it keeps no files.
constexpr DWORD COMMON_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
// Certificates for another host name or out of date are accepted, as they always have been.
constexpr DWORD LENIENT_TLS_FLAGS = INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
constexpr DWORD POST_FLAGS = COMMON_FLAGS | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES |
                             INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI | LENIENT_TLS_FLAGS;
constexpr DWORD GET_FLAGS = COMMON_FLAGS | INTERNET_FLAG_KEEP_CONNECTION | LENIENT_TLS_FLAGS;
constexpr DWORD FTP_OPEN_FLAGS = COMMON_FLAGS | FTP_TRANSFER_TYPE_BINARY;
constexpr DWORD FTP_FIND_FLAGS = COMMON_FLAGS;
// The words the exchanges sent before the cache flag joined them: everything else is unchanged.
static_assert((POST_FLAGS & ~INTERNET_FLAG_NO_CACHE_WRITE) == 0x804C3200, "POST flags");
static_assert(GET_FLAGS == 0x84403000, "GET flags");
static_assert((FTP_OPEN_FLAGS & ~INTERNET_FLAG_NO_CACHE_WRITE) == 0x80000002, "FTP flags");

constexpr LONG PROGRESS_CODE = 5913;
constexpr DWORD READ_BLOCK_SIZE = 64 * 1024;   // what one InternetReadFile asks for
constexpr DWORD PROGRESS_CHUNK_SIZE = 4096;    // the unit the progress rule counts in
// A service reply is a few hundred bytes: one longer than this is not the service's.
constexpr size_t REPLY_TEXT_LIMIT = 1024 * 1024;
constexpr DWORD REPLY_READ_SIZE = 64 * 1024;
// A download that gains fewer bytes than this within one bounded wait has stalled: a server that
// trickles a byte now and then would otherwise hold the caller, with no progress report to cancel from.
constexpr uint64_t STALL_FLOOR = 4096;

DWORD SecureFlag(const HttpRequest& request) noexcept {
    return request.service == SERVICE_HTTPS ? INTERNET_FLAG_SECURE : 0;
}

// Sends, and on an untrusted certificate authority lets the user accept it, as long as the dialog
// reports acceptance: a cancel, or a dialog that cannot be shown, ends the exchange instead of
// asking again forever.
bool SendRequest(HINTERNET request, void* body, DWORD bodyLength) noexcept {
    for (;;) {
        if (::HttpSendRequestA(request, nullptr, 0, body, bodyLength)) {
            return true;
        }
        if (::GetLastError() != ERROR_INTERNET_INVALID_CA) {
            return false;
        }
        const DWORD flags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                            FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
        const DWORD answer =
            ::InternetErrorDlg(::GetDesktopWindow(), request, ERROR_INTERNET_INVALID_CA, flags, nullptr);
        if (answer != ERROR_SUCCESS && answer != ERROR_INTERNET_FORCE_RETRY) {
            return false;
        }
    }
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD& value) noexcept {
    DWORD length = sizeof(value);
    return ::HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr) != FALSE;
}

// The raw header block, grown to the length the platform reports as often as it asks; empty when
// it cannot be read.
std::string RawHeaders(HINTERNET request) {
    std::string buffer(11, '\0');
    DWORD length = 10;
    while (!::HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length < buffer.size()) {
            return {};
        }
        buffer.assign(length + 1, '\0');
    }
    buffer.resize(length);
    return buffer;
}

// Whether the reply opened with an HTTP status line. Wine's WinINet reads one that does not as an
// HTTP/0.9 reply: it makes up "200 OK", drops that first line and hands the rest over as the body.
// It then records neither its "Status" entry nor any header, which a real status line always
// leaves behind in one form or the other; a reply without both is no exchange.
bool HasStatusLine(HINTERNET request) {
    char status[32] = "Status";
    DWORD length = sizeof(status);
    if (::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, status, &length, nullptr) ||
        ::GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND) {
        return true;
    }
    const std::string raw = RawHeaders(request);
    const size_t statusLineEnd = raw.find("\r\n");
    return statusLineEnd != std::string::npos && raw.size() > statusLineEnd + 2 &&
           raw.compare(statusLineEnd + 2, 2, "\r\n") != 0;
}

// The reply as text, read by the amount the platform says is available; a zero byte ends the text
// of the read it arrives in. Nothing when the reply runs past REPLY_TEXT_LIMIT or has not arrived
// whole within one bounded wait of its headers: a server may trickle a reply, or never end it.
std::optional<std::string> ReadReplyText(HINTERNET request) {
    const ULONGLONG deadline = ::GetTickCount64() + ExchangeTimeoutMs();
    std::string text;
    std::unique_ptr<char[]> chunk(new char[REPLY_READ_SIZE + 1]);
    DWORD available = 0;
    while (::InternetQueryDataAvailable(request, &available, 0, 0)) {
        DWORD got = 0;
        if (!::InternetReadFile(request, chunk.get(), std::min(available, REPLY_READ_SIZE), &got) || got == 0) {
            return text;
        }
        chunk[got] = '\0';
        text.append(chunk.get());
        if (text.size() > REPLY_TEXT_LIMIT || ::GetTickCount64() > deadline) {
            return std::nullopt;
        }
    }
    return text;
}

// The progress rule: a report whenever the whole percentage changes (never for 0 %), each preceded
// by NotifyCode; the cancel flag is cleared before every report. A length of 0 (none announced)
// gives no percentage at all, rather than a division by zero; a body longer than its length (an FTP
// file that grew after it was listed) stays at 100 %.
class ProgressReporter {
public:
    ProgressReporter(ProgressSink* sink, uint64_t length) noexcept : m_sink(sink), m_length(length) {}

    // True when the sink asked to stop after a total of `total` bytes.
    bool CancelAfter(uint64_t total) noexcept {
        if (m_sink == nullptr || m_length == 0) {
            return false;
        }
        const auto percent = static_cast<LONG>(std::min<uint64_t>(total * 100 / m_length, 100));
        if (percent == m_lastPercent) {
            return false;
        }
        m_lastPercent = percent;
        m_sink->NotifyCode(PROGRESS_CODE);
        LONG cancel = 0;
        m_sink->NotifyProgress(percent, &cancel);
        return cancel != 0;
    }

private:
    ProgressSink* m_sink;
    uint64_t m_length;
    LONG m_lastPercent = 0;
};

// What is known of a body's size before it is read.
struct BodySize {
    uint64_t length = 0;    // 0 when nothing is known
    bool announced = false;  // by Content-Length: no byte past it belongs to the body, whatever follows
};

// Tells a transfer that moves, however slowly, from one that has stalled: fewer than STALL_FLOOR
// bytes gained within one bounded wait.
class StallWatch {
public:
    // False once the transfer, now at total bytes, has stalled.
    bool Moving(uint64_t total) noexcept {
        const ULONGLONG now = ::GetTickCount64();
        if (total - m_markTotal >= STALL_FLOOR) {
            m_markTotal = total;
            m_markTime = now;
            return true;
        }
        return now - m_markTime < ExchangeTimeoutMs();
    }

private:
    uint64_t m_markTotal = 0;
    ULONGLONG m_markTime = ::GetTickCount64();
};

// Where a body is read from. WinINet fills an HTTP read to the size asked for however slowly the bytes
// come, so an HTTP read asks only for what has already arrived: a larger one would let a server that
// trickles a byte now and then hold the read, and the caller, for as long as it likes.
struct BodySource {
    HINTERNET handle;
    bool http;
};

// One read of at most `room` bytes; `got` 0 at the end of the body. False when the read failed.
bool ReadSome(const BodySource& source, char* into, DWORD room, DWORD& got) noexcept {
    got = 0;
    if (source.http) {
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(source.handle, &available, 0, 0)) {
            return false;
        }
        if (available == 0) {
            return true;
        }
        room = std::min(room, available);
    }
    return ::InternetReadFile(source.handle, into, room, &got) != FALSE;
}

// Fills the block with up to `wanted` bytes as far as the source allows. Short reads (an FTP read
// gives what one packet holds) are gathered, so that the 4096-byte progress chunks stay aligned to the
// body rather than to the reads. False when a read failed or the transfer stalled; `ended` when the
// source has nothing more. `before` is what the transfer had before this block.
bool FillBlock(const BodySource& source, char* block, DWORD wanted, uint64_t before, StallWatch& stall,
               DWORD& filled, bool& ended) noexcept {
    filled = 0;
    while (filled < wanted) {
        DWORD got = 0;
        if (!ReadSome(source, block + filled, wanted - filled, got)) {
            return false;
        }
        if (got == 0) {
            ended = true;
            return true;
        }
        filled += got;
        if (!stall.Moving(before + filled)) {
            return false;
        }
    }
    return true;
}

// Reads in large blocks for speed and runs the progress rule on each 4096-byte chunk of a block in
// order, so that a cancel keeps exactly the bytes up to the chunk that caused it.
TransferEnd ReadBody(const BodySource& source, BodySize size, ProgressSink* progress, BodyConsumer& consumer) {
    std::unique_ptr<char[]> block(new char[READ_BLOCK_SIZE]);
    ProgressReporter reporter(progress, size.length);
    StallWatch stall;
    uint64_t total = 0;
    bool ended = false;
    while (!ended) {
        const DWORD wanted = size.announced
                                 ? static_cast<DWORD>(std::min<uint64_t>(READ_BLOCK_SIZE, size.length - total))
                                 : READ_BLOCK_SIZE;
        if (wanted == 0) {
            break;  // every announced byte is in
        }
        DWORD filled = 0;
        const bool readWell = FillBlock(source, block.get(), wanted, total, stall, filled, ended);
        DWORD keep = 0;
        bool cancelled = false;
        while (keep < filled && !cancelled) {
            const DWORD chunk = std::min<DWORD>(PROGRESS_CHUNK_SIZE, filled - keep);
            keep += chunk;
            total += chunk;
            cancelled = reporter.CancelAfter(total);
        }
        if (keep > 0 && !consumer.Write(block.get(), keep)) {
            return TransferEnd::ConsumerFailed;
        }
        if (cancelled) {
            return TransferEnd::Cancelled;
        }
        if (!readWell) {
            return TransferEnd::Broken;
        }
    }
    return total < size.length ? TransferEnd::Broken : TransferEnd::Complete;
}

TransferEnd GetHttp(HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    InternetSession session = OpenInternet(nullptr);
    if (!session) return TransferEnd::NoExchange;
    InternetConnection connection(::InternetConnectA(session.get(), request.server.c_str(), request.port, "",
                                                     "", INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return TransferEnd::NoExchange;
    const char* acceptTypes[] = {"*/*", nullptr};
    InternetRequest get(::HttpOpenRequestA(connection.get(), "GET", request.objectPath.c_str(), "HTTP/1.0", "",
                                           acceptTypes, GET_FLAGS | SecureFlag(request), 0));
    if (!get) return TransferEnd::NoExchange;
    ApplyTimeouts(get.get());
    // A failed send may still leave a status to read: through a proxy, that of its answer to CONNECT.
    if (!SendRequest(get.get(), nullptr, 0)) return TransferEnd::NoExchange;

    DWORD status = 0;
    if (!QueryNumber(get.get(), HTTP_QUERY_STATUS_CODE, status) || status == 0) return TransferEnd::NoExchange;
    if (!HasStatusLine(get.get())) return TransferEnd::NoExchange;
    request.status = static_cast<int32_t>(status);
    const std::optional<uint64_t> length = QueryContentLength(get.get());
    const TransferEnd end = consumer.Start(request.status)
                                ? ReadBody({get.get(), true}, {length.value_or(0), length.has_value()}, progress, consumer)
                                : TransferEnd::Declined;
    UnreadReply reply{std::move(session), std::move(connection), std::move(get)};
    if (end == TransferEnd::Broken) {
        CloseUnreadOnWorker(std::move(reply));  // it may have stalled, with its rest still trickling in
    } else if (end != TransferEnd::Complete) {
        CloseUnread(std::move(reply));
    }
    return end;
}

// The file's size from a directory search; the search handle is closed at once, since an FTP
// connection runs one transfer at a time.
std::optional<uint64_t> FindFtpFileSize(HINTERNET connection, const char* path) noexcept {
    WIN32_FIND_DATAA found = {};
    FtpFile search(::FtpFindFirstFileA(connection, path, &found, FTP_FIND_FLAGS, 0));
    if (!search) return std::nullopt;
    return (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

TransferEnd GetFtp(HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    InternetSession session = OpenInternet(nullptr);
    if (!session) return TransferEnd::NoExchange;
    InternetConnection connection(::InternetConnectA(session.get(), request.server.c_str(), request.port, "",
                                                     "", INTERNET_SERVICE_FTP, 0, 0));
    if (!connection) return TransferEnd::NoExchange;
    const std::optional<uint64_t> size = FindFtpFileSize(connection.get(), request.objectPath.c_str());
    if (!size) return TransferEnd::NoExchange;
    FtpFile file(::FtpOpenFileA(connection.get(), request.objectPath.c_str(), GENERIC_READ, FTP_OPEN_FLAGS, 0));
    if (!file) return TransferEnd::NoExchange;
    request.status = 200;  // an opened file stands for success: FTP has no HTTP status
    if (!consumer.Start(request.status)) return TransferEnd::Declined;
    // The listed size guides progress and tells a cut transfer; it binds nothing (Wine's listing stops
    // at 2 GiB - 1).
    return ReadBody({file.get(), false}, {*size, false}, progress, consumer);
}

}  // namespace

TransferEnd SendGet(HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    switch (request.service) {
        case SERVICE_HTTP:
        case SERVICE_HTTPS:
            return GetHttp(request, progress, consumer);
        case SERVICE_FTP:
            return GetFtp(request, progress, consumer);
        default:
            request.status = 0;
            request.headerText.clear();
            return TransferEnd::NoExchange;
    }
}

std::string SendPost(HttpRequest& request, int32_t bodyEncoding) {
    const bool multipart = bodyEncoding == 2;
    std::optional<std::string> body =
        multipart ? BuildMultipartBody(request) : std::optional<std::string>(BuildUrlEncodedBody(request));
    if (!body) {
        return {};  // a file part could not be read whole: send nothing rather than a wrong part
    }
    InternetSession session = OpenInternet(POST_AGENT);
    if (!session) return {};
    InternetConnection connection(::InternetConnectA(session.get(), request.server.c_str(), request.port,
                                                     nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return {};
    InternetRequest post(::HttpOpenRequestA(connection.get(), "POST", request.objectPath.c_str(), nullptr,
                                            nullptr, nullptr, POST_FLAGS | SecureFlag(request), 0));
    if (!post) return {};
    ApplyTimeouts(post.get());

    const std::string contentType = multipart
                                        ? "Content-Type: multipart/form-data; boundary=" + request.boundary
                                        : std::string("Content-Type: application/x-www-form-urlencoded");
    ::HttpAddRequestHeadersA(post.get(), "Accept: */*", static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    ::HttpAddRequestHeadersA(post.get(), contentType.c_str(), static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    if (!SendRequest(post.get(), body->data(), static_cast<DWORD>(body->size()))) {
        return {};
    }
    // A connection closed without a status line still counts as sent: there is no reply to keep.
    DWORD status = 0;
    if (!QueryNumber(post.get(), HTTP_QUERY_STATUS_CODE, status) || status == 0 || !HasStatusLine(post.get())) {
        return {};
    }
    request.status = static_cast<int32_t>(status);
    request.headerText += RawHeaders(post.get());
    std::optional<std::string> text = ReadReplyText(post.get());
    if (!text) {
        // Its rest may still be coming, as slowly as the server likes: the caller does not wait for it.
        CloseUnreadOnWorker({std::move(session), std::move(connection), std::move(post)});
        return {};
    }
    return std::move(*text);
}

}  // namespace tamsel::web
