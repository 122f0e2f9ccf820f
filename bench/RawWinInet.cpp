// The yardsticks: plain WinINet transfers and service requests, written the way a careful host would.
#include "bench/RawWinInet.h"

#include "bench/BenchClock.h"
#include "web/Handle.h"

#include <memory>
#include <vector>

namespace tamsel::bench {
namespace {

using web::InternetConnection;
using web::InternetRequest;
using web::InternetSession;

constexpr DWORD FTP_READ_SIZE = 64 * 1024;
constexpr char LOOK_AGENT[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr DWORD LOOK_FLAGS = 0x04203100;  // the agent's header-only looks
constexpr DWORD POST_FLAGS = 0x804C3200;  // the agent's POST

InternetSession OpenSession(const char* agent) {
    return InternetSession(::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

FileHandle CreateTarget(const char* path) {
    return FileHandle(
        ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Copies source to target with reads of readSize bytes; the bytes copied, or -1 on a failed read or write.
int64_t CopyAll(HINTERNET source, HANDLE target, DWORD readSize) {
    std::unique_ptr<char[]> block(new char[readSize]);
    int64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!::InternetReadFile(source, block.get(), readSize, &got)) return -1;
        if (got == 0) return total;
        DWORD written = 0;
        if (!::WriteFile(target, block.get(), got, &written, nullptr) || written != got) return -1;
        total += got;
    }
}

struct UrlParts {
    std::string host;
    std::string path;
    INTERNET_PORT port = 0;
};

bool Crack(const char* url, UrlParts& parts) {
    char host[256] = {};
    char path[2048] = {};
    URL_COMPONENTSA components = {};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host;
    components.dwHostNameLength = sizeof(host);
    components.lpszUrlPath = path;
    components.dwUrlPathLength = sizeof(path);
    if (!::InternetCrackUrlA(url, 0, 0, &components)) return false;
    parts = {host, path, components.nPort};
    return true;
}

std::string ReadText(HINTERNET request) {
    std::string text;
    char block[4096];
    DWORD got = 0;
    while (::InternetReadFile(request, block, sizeof(block), &got) && got > 0) text.append(block, got);
    return text;
}

std::string MultipartBody(const std::string& boundary, const char* code) {
    std::string body;
    for (const auto& field : {std::make_pair("ActivateCode", code), std::make_pair("act", "1")}) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field.first + "\"\r\n\r\n" +
                field.second + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

DWORD StatusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD length = sizeof(status);
    ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr);
    return status;
}

std::string Post(const char* serviceUrl, const char* code) {
    UrlParts parts;
    if (!Crack(serviceUrl, parts)) return {};
    InternetSession session = OpenSession("Norvik POST/0.1");
    InternetConnection connection(::InternetConnectA(session.get(), parts.host.c_str(), parts.port, nullptr,
                                                     nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    InternetRequest post(::HttpOpenRequestA(connection.get(), "POST", parts.path.c_str(), nullptr, nullptr,
                                            nullptr, POST_FLAGS, 0));
    if (!post) return {};
    const std::string boundary = "---------------------------1A2B3C4D5E6F";
    std::string body = MultipartBody(boundary, code);
    const std::string contentType = "Content-Type: multipart/form-data; boundary=" + boundary;
    ::HttpAddRequestHeadersA(post.get(), "Accept: */*", static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    ::HttpAddRequestHeadersA(post.get(), contentType.c_str(), static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    if (!::HttpSendRequestA(post.get(), nullptr, 0, body.data(), static_cast<DWORD>(body.size()))) return {};
    return StatusOf(post.get()) == 200 ? ReadText(post.get()) : std::string();
}

}  // namespace

int64_t RawDownload(const char* url, const char* path, uint32_t readSize) {
    InternetSession session = OpenSession("tamsel-bench");
    InternetRequest request(::InternetOpenUrlA(session.get(), url, nullptr, 0,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request || StatusOf(request.get()) != 200) return -1;
    FileHandle target = CreateTarget(path);
    return target ? CopyAll(request.get(), target.get(), readSize) : -1;
}

int64_t RawFtpDownload(const char* url, const char* path) {
    UrlParts parts;
    if (!Crack(url, parts)) return -1;
    InternetSession session = OpenSession("tamsel-bench");
    InternetConnection connection(::InternetConnectA(session.get(), parts.host.c_str(), parts.port, nullptr,
                                                     nullptr, INTERNET_SERVICE_FTP, 0, 0));
    web::FtpFile file(::FtpOpenFileA(connection.get(), parts.path.c_str(), GENERIC_READ,
                                     FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
    if (!file) return -1;
    FileHandle target = CreateTarget(path);
    return target ? CopyAll(file.get(), target.get(), FTP_READ_SIZE) : -1;
}

LookTimes RawLook(const char* url) {
    LookTimes times;
    InternetSession session = OpenSession(LOOK_AGENT);
    Stopwatch open;
    InternetRequest request(::InternetOpenUrlA(session.get(), url, nullptr, 0, LOOK_FLAGS, 0));
    times.openMs = open.Milliseconds();
    if (!request) return times;
    std::vector<char> buffer(2048);
    const char name[] = "Location";
    std::copy(name, name + sizeof(name), buffer.begin());
    DWORD length = static_cast<DWORD>(buffer.size());
    if (::HttpQueryInfoA(request.get(), HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr)) {
        times.location.assign(buffer.data(), length);
    }
    Stopwatch close;
    request.reset();
    times.closeMs = close.Milliseconds();
    return times;
}

std::string RawQuery(const char* probeUrl, const char* serviceUrl, const char* code, QueryTimes& times) {
    Stopwatch probeClock;
    {
        InternetSession session = OpenSession(LOOK_AGENT);
        InternetRequest probe(::InternetOpenUrlA(session.get(), probeUrl, nullptr, 0, LOOK_FLAGS, 0));
        if (!probe || StatusOf(probe.get()) != 200) return {};
    }
    times.probeMs = probeClock.Milliseconds();
    Stopwatch lookClock;
    RawLook(serviceUrl);
    times.lookMs = lookClock.Milliseconds();
    Stopwatch postClock;
    std::string reply = Post(serviceUrl, code);
    times.postMs = postClock.Milliseconds();
    return reply;
}

}  // namespace tamsel::bench
