// A download that replaces its target only when whole: the body goes to a hidden partial file beside the
// target, with a record of where it came from so that a later attempt can resume it.
#include "agent/SafeDownload.h"

#include <wininet.h>

#include <cstdio>
#include <vector>

namespace tamsel::agent {
namespace {

constexpr wchar_t PARTIAL_SUFFIX[] = L".tamsel-partial";
constexpr wchar_t RECORD_SUFFIX[] = L".tamsel-resume";
constexpr size_t LONGEST_SUFFIX = sizeof(PARTIAL_SUFFIX) / sizeof(wchar_t);
constexpr size_t RECORD_LIMIT = 16 * 1024;  // a URL, a validator and a number

bool ReadWhole(const std::wstring& path, std::string& text) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    std::vector<char> buffer(RECORD_LIMIT);
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
    text.assign(buffer.data(), got);
    return got < RECORD_LIMIT;
}

bool WriteWhole(const std::wstring& path, const std::string& text) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                                  nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::optional<uint64_t> FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A strong ETag proves the same bytes; without one, Last-Modified is the weaker proof servers accept
// in If-Range. A weak ETag proves nothing about bytes.
std::string ValidatorOf(const web::ReplyHead& head) {
    if (!head.etag.empty() && head.etag.rfind("W/", 0) != 0) return head.etag;
    return head.lastModified;
}

// "url\nvalidator\nwhole\n": control characters never reach either text (the URL splitter refuses
// them in URLs, and a validator with one is not kept).
std::string RecordText(const std::string& url, const std::string& validator, uint64_t whole) {
    return url + "\n" + validator + "\n" + std::to_string(whole) + "\n";
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

SafePaths SafePathsFor(const std::wstring& target) {
    return {target, target + PARTIAL_SUFFIX, target + RECORD_SUFFIX};
}

std::optional<ResumePoint> FindResumePoint(const SafePaths& paths, const std::string& url) {
    std::string text;
    if (!ReadWhole(paths.record, text)) return std::nullopt;
    const size_t urlEnd = text.find('\n');
    const size_t validatorEnd = urlEnd == std::string::npos ? urlEnd : text.find('\n', urlEnd + 1);
    if (validatorEnd == std::string::npos || text.compare(0, urlEnd, url) != 0 || urlEnd != url.size()) {
        return std::nullopt;
    }
    ResumePoint point;
    point.validator = text.substr(urlEnd + 1, validatorEnd - urlEnd - 1);
    unsigned long long whole = 0;
    if (std::sscanf(text.c_str() + validatorEnd + 1, "%llu", &whole) != 1) return std::nullopt;
    point.whole = whole;
    const std::optional<uint64_t> size = FileSize(paths.partial);
    if (point.validator.empty() || !size || *size == 0 || *size >= point.whole) return std::nullopt;
    point.offset = *size;
    return point;
}

PartialDownload::PartialDownload(const SafePaths& paths, std::string url, std::optional<ResumePoint> resume,
                                 int64_t expectedSize, bool keepRecord)
    : m_paths(paths),
      m_url(std::move(url)),
      m_resume(std::move(resume)),
      m_expectedSize(expectedSize),
      m_keepRecord(keepRecord),
      m_file(paths.partial) {}

bool PartialDownload::WholeIsExpected(const web::ReplyHead& head) {
    m_whole = head.status == HTTP_STATUS_PARTIAL_CONTENT ? head.rangeWhole : head.length;
    m_sizeMismatch = m_expectedSize >= 0 && m_whole && *m_whole != static_cast<uint64_t>(m_expectedSize);
    return !m_sizeMismatch;
}

bool PartialDownload::StartReply(const web::ReplyHead& head) {
    const bool resumed = head.status == HTTP_STATUS_PARTIAL_CONTENT && m_resume && head.rangeFirst &&
                         *head.rangeFirst == m_resume->offset && head.rangeWhole == m_resume->whole;
    if (head.status != HTTP_STATUS_OK && !resumed) {
        // A 416, or a range that does not continue the partial file: ask again for the whole file.
        m_startOver = head.status == HTTP_STATUS_PARTIAL_CONTENT || head.status == 416;
        return false;
    }
    const DWORD targetAttributes = ::GetFileAttributesW(m_paths.target.c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES && (targetAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;  // never replaced, as a read-only target is never overwritten
    }
    if (!WholeIsExpected(head)) return false;
    if (resumed) return m_file.OpenForAppend() && m_file.Size() == m_resume->offset;
    if (!m_file.OpenEmptied()) return false;
    const std::string validator = ValidatorOf(head);
    if (m_keepRecord && !HasLineBreak(validator)) {
        WriteWhole(m_paths.record, RecordText(m_url, validator, m_whole.value_or(0)));
    }
    return true;
}

bool PartialDownload::Replace() noexcept {
    if (!m_file.Finish()) return false;
    ::SetFileAttributesW(m_paths.partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExW(m_paths.partial.c_str(), m_paths.target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::SetFileAttributesW(m_paths.partial.c_str(), FILE_ATTRIBUTE_HIDDEN);
        return false;
    }
    ::DeleteFileW(m_paths.record.c_str());
    return true;
}

void PartialDownload::Abandon() noexcept {
    m_file.Finish();
    if (!m_keepRecord) {
        ::DeleteFileW(m_paths.partial.c_str());
        ::DeleteFileW(m_paths.record.c_str());
    }
}

std::wstring PlatformPath(const wchar_t* path) {
    const DWORD needed = ::GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path, needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    if (full.size() + LONGEST_SUFFIX < MAX_PATH || full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace tamsel::agent
