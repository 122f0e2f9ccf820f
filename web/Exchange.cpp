// The exchange a request describes, down to its reply read and let go of: a download (http, https, ftp) or a POST.
#include "web/Exchange.h"

#include "web/BodyReader.h"
#include "web/CloseQueue.h"
#include "web/Ftp.h"
#include "web/HttpExchange.h"
#include "web/ReplyHead.h"

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
// The words the exchanges sent before the cache flag joined them: everything else is unchanged.
static_assert((POST_FLAGS & ~INTERNET_FLAG_NO_CACHE_WRITE) == 0x804C3200, "POST flags");
static_assert(GET_FLAGS == 0x84403000, "GET flags");

RequestShape DownloadShape(const DownloadAsk& ask) {
    RequestShape get;
    get.version = "HTTP/1.0";
    get.acceptAnyType = true;
    get.flags = ask.strictTls ? STRICT_GET_FLAGS : GET_FLAGS;
    get.certificateDialog = !ask.strictTls;
    get.keepHttps = ask.strictTls;
    get.async = true;
    get.proxy = ask.proxy;
    get.redirects = ask.followRedirects ? MAX_REDIRECTS : 0;
    get.stopAt = ask.pace.stopAt;
    if (ask.resumeFrom > 0 || ask.rangeEnd > ask.resumeFrom) {
        const std::string last = ask.rangeEnd > ask.resumeFrom ? std::to_string(ask.rangeEnd - 1) : std::string();
        get.headers = "Range: bytes=" + std::to_string(ask.resumeFrom) + "-" + last + "\r\n";
        // No validator: a digest of the whole file is what proves the part continues it.
        if (!ask.ifRange.empty()) get.headers += "If-Range: " + ask.ifRange + "\r\n";
    }
    return get;
}

// The download's answer, handed down to be read and let go of; an answer without a status, or a redirect
// refused, is no download.
DownloadResult ReceiveHttp(HttpAnswer answer, const DownloadAsk& ask, BodyConsumer& consumer) {
    if (answer.status == 0) {
        DownloadResult none{0, TransferEnd::NoExchange, IsCertificateError(answer.sendError)};
        none.exchangeError = answer.sendError;
        return none;
    }
    if (answer.insecureRedirect) return {0, TransferEnd::NoExchange, false, true};
    const TransferEnd end = ReceiveDownload(std::move(answer.reply), *answer.completion, answer.status,
                                            ask.expectedSize, ask.pace, consumer);
    return {answer.status, end};
}

DownloadResult Download(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer) {
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

WebReply Post(const HttpRequest& request, BodyEncoding encoding, const ProxyCredentials* proxy) {
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
    AsyncRequestBody source(answer.reply.request.get(), *answer.completion);
    std::optional<std::string> text = ReadReplyText(source);
    if (!text) {
        // Its rest may still be coming, as slowly as the server likes: the caller does not wait for it.
        CloseUnreadOnWorker(std::move(answer.reply));
        return reply;
    }
    reply.body = std::move(*text);
    return reply;
}

}  // namespace

DownloadResult SendGet(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer,
                       UnreadReply look) {
    const DownloadResult result = Download(request, ask, consumer);
    CloseUnread(std::move(look));
    return result;
}

WebReply SendPost(const HttpRequest& request, BodyEncoding encoding, const ProxyCredentials* proxy,
                  UnreadReply look) {
    WebReply reply = Post(request, encoding, proxy);
    CloseUnread(std::move(look));
    return reply;
}

}  // namespace tamsel::web
