// Running one exchange over WinINet: POST with its body, and streamed GET over http, https and ftp.
#include "web/Exchange.h"

#include "web/BodyReader.h"
#include "web/HttpExchange.h"
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

HttpTarget TargetOf(const HttpRequest& request) {
    return {request.service == SERVICE_HTTPS, request.server, request.port, request.objectPath};
}

DownloadResult GetHttp(const HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    RequestShape get;
    get.version = "HTTP/1.0";
    get.acceptAnyType = true;
    get.flags = GET_FLAGS;
    HttpAnswer answer = SendFollowingRedirects(TargetOf(request), std::move(get));
    if (answer.status == 0) return {};
    const HINTERNET source = answer.reply.request.get();
    const std::optional<uint64_t> length = QueryContentLength(source);
    const TransferEnd end = consumer.Start(answer.status)
                                ? ReadBody({source, true}, {length.value_or(0), length.has_value()}, progress, consumer)
                                : TransferEnd::Declined;
    if (end == TransferEnd::Broken) {
        CloseUnreadOnWorker(std::move(answer.reply));  // it may have stalled, its rest still trickling in
    } else if (end != TransferEnd::Complete) {
        CloseUnread(std::move(answer.reply));
    }
    return {answer.status, end};
}

// The file's size from a directory search; the search handle is closed at once, since an FTP
// connection runs one transfer at a time.
std::optional<uint64_t> FindFtpFileSize(HINTERNET connection, const char* path) noexcept {
    WIN32_FIND_DATAA found = {};
    FtpFile search(::FtpFindFirstFileA(connection, path, &found, FTP_FIND_FLAGS, 0));
    if (!search) return std::nullopt;
    return (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

DownloadResult GetFtp(const HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    InternetSession session = OpenInternet(nullptr);
    if (!session) return {};
    InternetConnection connection(::InternetConnectA(session.get(), request.server.c_str(), request.port, "",
                                                     "", INTERNET_SERVICE_FTP, 0, 0));
    if (!connection) return {};
    const std::optional<uint64_t> size = FindFtpFileSize(connection.get(), request.objectPath.c_str());
    if (!size) return {};
    FtpFile file(::FtpOpenFileA(connection.get(), request.objectPath.c_str(), GENERIC_READ, FTP_OPEN_FLAGS, 0));
    if (!file) return {};
    constexpr int32_t opened = 200;  // an opened file stands for success: FTP has no HTTP status
    if (!consumer.Start(opened)) return {opened, TransferEnd::Declined};
    // The listed size guides progress and tells a cut transfer; it binds nothing (Wine's listing stops
    // at 2 GiB - 1).
    return {opened, ReadBody({file.get(), false}, {*size, false}, progress, consumer)};
}

}  // namespace

DownloadResult SendGet(const HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    switch (request.service) {
        case SERVICE_HTTP:
        case SERVICE_HTTPS:
            return GetHttp(request, progress, consumer);
        case SERVICE_FTP:
            return GetFtp(request, progress, consumer);
        default:
            return {};
    }
}

WebReply SendPost(const HttpRequest& request, BodyEncoding encoding) {
    const bool multipart = encoding == BodyEncoding::MULTIPART_FORM_DATA;
    std::optional<std::string> body =
        multipart ? BuildMultipartBody(request) : std::optional<std::string>(BuildUrlEncodedBody(request));
    if (!body) {
        return {};  // a file part could not be read whole: send nothing rather than a wrong part
    }
    RequestShape post;
    post.agent = POST_AGENT;
    post.verb = "POST";
    post.flags = POST_FLAGS;
    post.headers = "Accept: */*\r\n" +
                   (multipart ? "Content-Type: multipart/form-data; boundary=" + request.boundary
                              : std::string("Content-Type: application/x-www-form-urlencoded")) +
                   "\r\n";
    post.body = std::move(*body);
    HttpAnswer answer = SendFollowingRedirects(TargetOf(request), std::move(post));
    // A connection closed without a status line still counts as sent: there is no reply to keep.
    if (answer.status == 0) return {};
    WebReply reply{answer.status, RawHeaders(answer.reply.request.get()), {}};
    std::optional<std::string> text = ReadReplyText(answer.reply.request.get());
    if (!text) {
        // Its rest may still be coming, as slowly as the server likes: the caller does not wait for it.
        CloseUnreadOnWorker(std::move(answer.reply));
        return reply;
    }
    reply.body = std::move(*text);
    return reply;
}

}  // namespace tamsel::web
