// What a reply's head says over WinINet: one header's value, its length, its raw block, and a download's head.
#include "web/ReplyHead.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tamsel::web {
namespace {

constexpr DWORD FIRST_HEADER_BUFFER_SIZE = 2048;

// Wine's WinINet keeps at most this many bytes of a reply header line and drops the rest without a
// word. A value whose "Name: value" line reaches it may have lost its end: it is no answer at all.
constexpr size_t HEADER_LINE_LIMIT = 4095;

bool MayHaveBeenCut(const char* headerName, const std::string& value) noexcept {
    return std::strlen(headerName) + 2 + value.size() >= HEADER_LINE_LIMIT;
}

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

}  // namespace

std::optional<uint64_t> QueryContentLength(HINTERNET request) noexcept {
    char text[32] = {};
    DWORD length = sizeof(text) - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        if (value > (UINT64_MAX - 9) / 10) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    return value;
}

// HTTP_QUERY_CUSTOM takes the header's name in the buffer it answers in; the buffer grows to the length
// the platform asks for, as often as it asks.
std::string ReadReplyHeader(HINTERNET request, const char* headerName) {
    const size_t nameSize = std::strlen(headerName) + 1;
    std::vector<char> buffer(std::max<size_t>(FIRST_HEADER_BUFFER_SIZE, nameSize));
    for (;;) {
        std::memcpy(buffer.data(), headerName, nameSize);
        DWORD length = static_cast<DWORD>(buffer.size());
        if (::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, buffer.data(), &length, nullptr)) {
            std::string value(buffer.data(), strnlen(buffer.data(), buffer.size()));
            return MayHaveBeenCut(headerName, value) ? std::string() : value;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= buffer.size()) {
            return {};
        }
        buffer.assign(std::max<size_t>(length, nameSize), '\0');
    }
}

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

ReplyHead ReadHead(int32_t status, HINTERNET request) {
    ReplyHead head;
    head.status = status;
    head.length = QueryContentLength(request);
    head.etag = ReadReplyHeader(request, "ETag");
    head.lastModified = ReadReplyHeader(request, "Last-Modified");
    head.acceptsRanges = ::lstrcmpiA(ReadReplyHeader(request, "Accept-Ranges").c_str(), "bytes") == 0;
    if (status == HTTP_STATUS_PARTIAL_CONTENT) {
        ReadContentRange(ReadReplyHeader(request, "Content-Range"), head);
    }
    head.location = ReadReplyHeader(request, "Location");
    if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) {
        head.retryAfter = ReadReplyHeader(request, "Retry-After");
    }
    PlaceBody(head);
    return head;
}

}  // namespace tamsel::web
