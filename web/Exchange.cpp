// Running one exchange over WinINet: POST with its body, and streamed GET over http, https and ftp.
#include "web/Exchange.h"

#include "web/BodyReader.h"
#include "web/CloseQueue.h"
#include "web/FtpWorker.h"
#include "web/HttpExchange.h"
#include "web/Internet.h"
#include "web/RequestBody.h"

#include <cstdio>
#include <cstring>
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
constexpr DWORD STRICT_GET_FLAGS = GET_FLAGS & ~LENIENT_TLS_FLAGS;
constexpr DWORD FTP_OPEN_FLAGS = COMMON_FLAGS | FTP_TRANSFER_TYPE_BINARY;
constexpr DWORD FTP_FIND_FLAGS = COMMON_FLAGS;
// The words the exchanges sent before the cache flag joined them: everything else is unchanged.
static_assert((POST_FLAGS & ~INTERNET_FLAG_NO_CACHE_WRITE) == 0x804C3200, "POST flags");
static_assert(GET_FLAGS == 0x84403000, "GET flags");
static_assert((FTP_OPEN_FLAGS & ~INTERNET_FLAG_NO_CACHE_WRITE) == 0x80000002, "FTP flags");

// "bytes first-last/whole" into the head; a range that does not read as one leaves it unset.
void ReadContentRange(const std::string& text, ReplyHead& head) {
    unsigned long long first = 0, last = 0, whole = 0;
    char star = 0;
    if (std::sscanf(text.c_str(), "bytes %llu-%llu/%llu", &first, &last, &whole) == 3 && first <= last &&
        last < whole) {
        head.rangeFirst = first;
        head.rangeLast = last;
        head.rangeWhole = whole;
    } else if (std::sscanf(text.c_str(), "bytes %llu-%llu/%c", &first, &last, &star) == 3 && star == '*' &&
               first <= last) {
        head.rangeFirst = first;
        head.rangeLast = last;
    }
}

// Where the body stands in the file: a part of a file counts from where it starts.
void PlaceBody(ReplyHead& head) {
    head.fileLength = head.length.value_or(0);
    if (head.status == HTTP_STATUS_PARTIAL_CONTENT && head.rangeFirst) {
        head.bodyStart = *head.rangeFirst;
        head.fileLength = head.rangeWhole.value_or(0);
    }
}

ReplyHead ReadHead(int32_t status, HINTERNET request) {
    ReplyHead head;
    head.status = status;
    head.length = QueryContentLength(request);
    head.etag = ReadReplyHeader(request, "ETag");
    head.lastModified = ReadReplyHeader(request, "Last-Modified");
    if (status == HTTP_STATUS_PARTIAL_CONTENT) {
        ReadContentRange(ReadReplyHeader(request, "Content-Range"), head);
    }
    PlaceBody(head);
    return head;
}

// The most of a body the caller takes: what the expected size of the whole file leaves after the bytes
// already there.
uint64_t LimitFor(const DownloadAsk& ask, uint64_t already) {
    if (ask.expectedSize < 0) return NO_BODY_LIMIT;
    const auto expected = static_cast<uint64_t>(ask.expectedSize);
    return expected > already ? expected - already : 0;
}

// A 206's body ends with its range, whatever the connection goes on to carry, and no later than its
// Content-Length.
BodySize SizeOf(const ReplyHead& head, const DownloadAsk& ask) {
    BodySize size{head.length.value_or(0), head.length.has_value(), LimitFor(ask, head.bodyStart)};
    if (head.status == HTTP_STATUS_PARTIAL_CONTENT && head.rangeFirst && head.rangeLast) {
        const uint64_t range = *head.rangeLast - *head.rangeFirst + 1;
        if (!size.announced || range < size.length) {
            size.length = range;
            size.announced = true;
        }
    }
    return size;
}

// Lets go of a reply whose body may not have been read to its end: one that stalled, ran too long or was
// cut short at its range may go on coming as long as the server likes, so the caller does not wait.
void LetGoOf(UnreadReply reply, const ReplyHead& head, TransferEnd end) {
    const bool unframedRange = head.status == HTTP_STATUS_PARTIAL_CONTENT && !head.length;
    if (end == TransferEnd::Broken || end == TransferEnd::TooLong || unframedRange) {
        CloseUnreadOnWorker(std::move(reply));
    } else if (end != TransferEnd::Complete) {
        CloseUnread(std::move(reply));
    }
}

RequestShape DownloadShape(const DownloadAsk& ask) {
    RequestShape get;
    get.version = "HTTP/1.0";
    get.acceptAnyType = true;
    get.flags = ask.strictTls ? STRICT_GET_FLAGS : GET_FLAGS;
    get.certificateDialog = !ask.strictTls;
    get.keepHttps = ask.strictTls;
    get.async = true;
    get.proxy = ask.proxy;
    if (ask.resumeFrom > 0) {
        get.headers = "Range: bytes=" + std::to_string(ask.resumeFrom) + "-\r\nIf-Range: " + ask.ifRange + "\r\n";
    }
    return get;
}

// The body of the download's answer to consumer; an answer without a status, or a redirect refused,
// is no download.
DownloadResult ReceiveHttp(HttpAnswer answer, const DownloadAsk& ask, BodyConsumer& consumer) {
    if (answer.status == 0) return {0, TransferEnd::NoExchange, IsCertificateError(answer.sendError)};
    if (answer.insecureRedirect) {
        CloseUnread(std::move(answer.reply));
        return {0, TransferEnd::NoExchange, false, true};
    }
    const HINTERNET source = answer.reply.request.get();
    const ReplyHead head = ReadHead(answer.status, source);
    const TransferEnd end = consumer.StartReply(head)
                                ? ReadBody({source, answer.completion}, SizeOf(head, ask), consumer)
                                : TransferEnd::Declined;
    LetGoOf(std::move(answer.reply), head, end);
    return {answer.status, end};
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

// Every step runs on the worker, each given up when it has not returned within the stall bound: one
// given up before the file opened is no exchange. Only a transfer that ended well, or a reply the
// consumer declined, is waited for while it closes: the close of any other may wait for a server that
// no longer answers.
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
    const BodySize size{listing->size - offset, false, LimitFor(ask, offset)};
    const TransferEnd end = ReadBody(BodySource{nullptr, nullptr, &ftp}, size, consumer);
    ftp.Finish(end == TransferEnd::Complete);
    return {head.status, end};
}

}  // namespace

DownloadResult SendGet(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer) {
    switch (request.service) {
        case SERVICE_HTTP:
        case SERVICE_HTTPS:
            return ReceiveHttp(SendFollowingRedirects(request, DownloadShape(ask)), ask, consumer);
        case SERVICE_FTP:
            return GetFtp(request, ask, consumer);
        default:
            return {};
    }
}

DownloadResult SendGetOrLocation(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer,
                                 std::string& location) {
    location.clear();
    if (request.service != SERVICE_HTTP && request.service != SERVICE_HTTPS) return {};
    RequestShape get = DownloadShape(ask);
    get.redirects = 0;  // the first reply is the look's
    HttpAnswer answer = SendFollowingRedirects(request, std::move(get));
    if (answer.status != 0) location = ReadReplyHeader(answer.reply.request.get(), "Location");
    if (location.empty()) return ReceiveHttp(std::move(answer), ask, consumer);
    CloseUnread(std::move(answer.reply));
    return {answer.status, TransferEnd::Declined};
}

WebReply SendPost(const HttpRequest& request, BodyEncoding encoding, const ProxyCredentials* proxy) {
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
    post.async = true;  // so that no wait for the reply outlasts the time left for it
    post.proxy = proxy;
    HttpAnswer answer = SendFollowingRedirects(request, std::move(post));
    // A connection closed without a status line still counts as sent: there is no reply to keep.
    if (answer.status == 0) return {};
    WebReply reply{answer.status, RawHeaders(answer.reply.request.get()), {}};
    std::optional<std::string> text = ReadReplyText({answer.reply.request.get(), answer.completion});
    if (!text) {
        // Its rest may still be coming, as slowly as the server likes: the caller does not wait for it.
        CloseUnreadOnWorker(std::move(answer.reply));
        return reply;
    }
    reply.body = std::move(*text);
    return reply;
}

}  // namespace tamsel::web
