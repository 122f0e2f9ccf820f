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

constexpr char PostAgent[] = "Norvik POST/0.1";
constexpr DWORD PostFlags = 0x804C3200;       // reload, keep-alive, no cookies/auth/UI, cert date+CN
constexpr DWORD GetFlags = 0x84403000;        // reload, no cache write, keep-alive, cert date+CN
constexpr DWORD FtpOpenFlags = 0x80000002;    // reload, binary
constexpr LONG ProgressCode = 5913;
constexpr DWORD ReadBlockSize = 64 * 1024;    // what one InternetReadFile asks for
constexpr DWORD ProgressChunkSize = 4096;     // the unit the progress rule counts in

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
// of the chunk it arrives in.
std::string ReadReplyText(HINTERNET request) {
    std::string text;
    std::string chunk;
    DWORD available = 0;
    while (::InternetQueryDataAvailable(request, &available, 0, 0)) {
        chunk.assign(available + 1, '\0');
        DWORD got = 0;
        if (!::InternetReadFile(request, chunk.data(), available, &got) || got == 0) {
            break;
        }
        chunk[got] = '\0';
        text.append(chunk.c_str());
    }
    return text;
}

// The progress rule: a report whenever the whole percentage changes (never for 0 %), each preceded
// by NotifyCode; the cancel flag is cleared before every report. A length of 0 (none announced)
// gives no percentage at all, rather than a division by zero.
class ProgressReporter {
public:
    ProgressReporter(ProgressSink* sink, uint64_t length) noexcept : m_sink(sink), m_length(length) {}

    // True when the sink asked to stop after a total of `total` bytes.
    bool CancelAfter(uint64_t total) noexcept {
        if (m_sink == nullptr || m_length == 0) {
            return false;
        }
        const auto percent = static_cast<LONG>(total * 100 / m_length);
        if (percent == m_lastPercent) {
            return false;
        }
        m_lastPercent = percent;
        m_sink->NotifyCode(ProgressCode);
        LONG cancel = 0;
        m_sink->NotifyProgress(percent, &cancel);
        return cancel != 0;
    }

private:
    ProgressSink* m_sink;
    uint64_t m_length;
    LONG m_lastPercent = 0;
};

// Fills the block as far as the source allows. Short reads (an FTP read gives what one packet holds)
// are gathered, so that the 4096-byte progress chunks stay aligned to the body rather than to the
// reads. False when a read failed; `ended` when the source has nothing more.
bool FillBlock(HINTERNET source, char* block, DWORD& filled, bool& ended) noexcept {
    filled = 0;
    while (filled < ReadBlockSize) {
        DWORD got = 0;
        if (!::InternetReadFile(source, block + filled, ReadBlockSize - filled, &got)) {
            return false;
        }
        if (got == 0) {
            ended = true;
            return true;
        }
        filled += got;
    }
    return true;
}

// Reads in large blocks for speed and runs the progress rule on each 4096-byte chunk of a block in
// order, so that a cancel keeps exactly the bytes up to the chunk that caused it.
TransferEnd ReadBody(HINTERNET source, uint64_t length, ProgressSink* progress, BodyConsumer& consumer) {
    std::unique_ptr<char[]> block(new char[ReadBlockSize]);
    ProgressReporter reporter(progress, length);
    uint64_t total = 0;
    bool ended = false;
    while (!ended) {
        DWORD filled = 0;
        const bool readWell = FillBlock(source, block.get(), filled, ended);
        DWORD keep = 0;
        bool cancelled = false;
        while (keep < filled && !cancelled) {
            const DWORD chunk = std::min<DWORD>(ProgressChunkSize, filled - keep);
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
    return total < length ? TransferEnd::Broken : TransferEnd::Complete;
}

TransferEnd GetHttp(HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    InternetSession session = OpenInternet(nullptr);
    if (!session) return TransferEnd::NoExchange;
    InternetConnection connection(::InternetConnectA(session.get(), request.server.c_str(), request.port, "",
                                                     "", INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return TransferEnd::NoExchange;
    const char* acceptTypes[] = {"*/*", nullptr};
    InternetRequest get(::HttpOpenRequestA(connection.get(), "GET", request.objectPath.c_str(), "HTTP/1.0", "",
                                           acceptTypes, GetFlags | SecureFlag(request), 0));
    if (!get) return TransferEnd::NoExchange;
    ApplyTimeouts(get.get());
    // A failed send may still leave a status to read: through a proxy, that of its answer to CONNECT.
    if (!SendRequest(get.get(), nullptr, 0)) return TransferEnd::NoExchange;

    DWORD status = 0;
    if (!QueryNumber(get.get(), HTTP_QUERY_STATUS_CODE, status) || status == 0) return TransferEnd::NoExchange;
    if (!HasStatusLine(get.get())) return TransferEnd::NoExchange;
    request.status = static_cast<int32_t>(status);
    const TransferEnd end = consumer.Start(request.status)
                                ? ReadBody(get.get(), QueryContentLength(get.get()).value_or(0), progress, consumer)
                                : TransferEnd::Declined;
    if (end != TransferEnd::Complete) {
        CloseUnread({std::move(session), std::move(connection), std::move(get)});
    }
    return end;
}

// The file's size from a directory search; the search handle is closed at once, since an FTP
// connection runs one transfer at a time.
std::optional<uint64_t> FindFtpFileSize(HINTERNET connection, const char* path) noexcept {
    WIN32_FIND_DATAA found = {};
    FtpFile search(::FtpFindFirstFileA(connection, path, &found, INTERNET_FLAG_RELOAD, 0));
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
    FtpFile file(::FtpOpenFileA(connection.get(), request.objectPath.c_str(), GENERIC_READ, FtpOpenFlags, 0));
    if (!file) return TransferEnd::NoExchange;
    request.status = 200;  // an opened file stands for success: FTP has no HTTP status
    if (!consumer.Start(request.status)) return TransferEnd::Declined;
    return ReadBody(file.get(), *size, progress, consumer);
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
    InternetSession session = OpenInternet(PostAgent);
    if (!session) return {};
    InternetConnection connection(::InternetConnectA(session.get(), request.server.c_str(), request.port,
                                                     nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return {};
    InternetRequest post(::HttpOpenRequestA(connection.get(), "POST", request.objectPath.c_str(), nullptr,
                                            nullptr, nullptr, PostFlags | SecureFlag(request), 0));
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
    return ReadReplyText(post.get());
}

}  // namespace tamsel::web
