// A download that replaces its target only when whole: the body goes to a hidden partial file beside the
// target, with a record of where it came from so that a later attempt can resume it.
#include "agent/SafeDownload.h"

#include "web/UrlSplit.h"

#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace tamsel::agent {
namespace {

constexpr wchar_t PARTIAL_SUFFIX[] = L".tamsel-partial";
constexpr wchar_t RECORD_SUFFIX[] = L".tamsel-resume";
constexpr size_t LONGEST_SUFFIX = sizeof(PARTIAL_SUFFIX) / sizeof(wchar_t) - 1;
constexpr size_t LONGEST_NAME = 255;  // in UTF-16 units, on every file system the product meets
constexpr size_t RECORD_LIMIT = 16 * 1024;  // a digest, a validator and a number
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int32_t HTTP_RANGE_NOT_SATISFIABLE = 416;  // WinINet names no status past 415

// FNV-1a: enough to tell one URL or name from another in a record or a file name, never to keep a secret.
uint64_t NameDigest(const void* data, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 0x100000001b3ULL;
    }
    return hash;
}

std::string Hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

bool ReadWhole(const std::wstring& path, std::string& text) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    std::vector<char> buffer(RECORD_LIMIT);
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
    text.assign(buffer.data(), got);
    return got < RECORD_LIMIT;
}

// Made anew: a link planted under the name is removed, never written through.
bool WriteWhole(const std::wstring& path, const std::string& text) {
    ::DeleteFileW(path.c_str());
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// The partial file's length, when it is a plain file of its own that a resume may go on writing.
std::optional<uint64_t> PlainFileSize(const std::wstring& path) {
    FileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !IsPlainFileAt(file.get(), path) || !::GetFileSizeEx(file.get(), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
}

// A name that cannot be deleted or renamed without reaching something else: under Wine, deleting or
// renaming a Unix symbolic link deletes or moves the file it points to, and leaves the link. A folder
// cannot be made a partial file either.
bool LeadsElsewhere(const std::wstring& path) {
    FileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
    // A reparse point opened as itself is found at its own name and deleted as itself; a hard link is
    // only unlinked from this name.
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsFoundAt(file.get(), path);
}

// ".tamsel-<16 hex>" beside the target: a name that fits whatever the target's, the same for every
// spelling of it (names are compared without case).
std::wstring HashedStem(const std::wstring& folder, const std::wstring& name) {
    std::wstring upper(name);
    if (!upper.empty()) ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    const std::string hex = Hex(NameDigest(upper.data(), upper.size() * sizeof(wchar_t)));
    return folder + L".tamsel-" + std::wstring(hex.begin(), hex.end());
}

SafePaths HashedPathsFor(const std::wstring& target) {
    const size_t slash = target.find_last_of(L'\\');
    const std::wstring folder = target.substr(0, slash + 1);
    const std::wstring stem = HashedStem(folder, target.substr(slash + 1));
    return {target, stem + L".partial", stem + L".resume"};
}

// "url digest\nvalidator\nwhole\n": the URL itself is not kept (it may carry credentials).
std::string RecordText(const std::string& url, const std::string& validator, uint64_t whole) {
    return Hex(NameDigest(url.data(), url.size())) + "\n" + validator + "\n" + std::to_string(whole) + "\n";
}

// Control characters would reach the GET as header lines (If-Range carries the validator as it is).
using web::HasControlCharacter;

// A decimal number of at most 19 digits at `at`, which moves past it.
bool ReadNumber(const std::string& text, size_t& at, uint64_t& value) {
    const size_t start = at;
    value = 0;
    for (; at < text.size() && at - start < 19 && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + uint64_t(text[at] - '0');
    }
    return at > start && (at == text.size() || text[at] < '0' || text[at] > '9');
}

// "kept P a-b c-d\n": the prefix P (above 0) and the whole slices past it, in order, apart, within whole.
bool ReadKept(const std::string& line, ResumePoint& point) {
    size_t at = 5;
    if (line.compare(0, at, "kept ") != 0 || !ReadNumber(line, at, point.offset) || point.offset == 0) return false;
    uint64_t reached = point.offset;
    while (at < line.size() && line[at] == ' ') {
        KeptSlice slice;
        ++at;
        if (!ReadNumber(line, at, slice.first) || at >= line.size() || line[at++] != '-' ||
            !ReadNumber(line, at, slice.end) || slice.first < reached ||
            (point.kept.empty() && slice.first == reached) || slice.end <= slice.first ||
            slice.end > point.whole) {
            return false;
        }
        point.kept.push_back(slice);
        reached = slice.end;
    }
    return !point.kept.empty() && at == line.size() - 1 && line[at] == '\n';
}

// The record's validator and whole length (and kept slices), when it is one written for url and nothing else.
std::optional<ResumePoint> ReadRecord(const std::wstring& path, const std::string& url) {
    std::string text;
    if (!ReadWhole(path, text)) return std::nullopt;
    const std::string digest = Hex(NameDigest(url.data(), url.size())) + "\n";
    const size_t validatorEnd = text.find('\n', digest.size());
    if (text.compare(0, digest.size(), digest) != 0 || validatorEnd == std::string::npos) return std::nullopt;
    ResumePoint point;
    point.validator = text.substr(digest.size(), validatorEnd - digest.size());
    const size_t wholeEnd = text.find('\n', validatorEnd + 1);
    const std::string whole = text.substr(validatorEnd + 1, wholeEnd - validatorEnd);
    if (point.validator.empty() || HasControlCharacter(point.validator) || whole.size() < 2 || whole.size() > 21 ||
        whole.back() != '\n' || whole.find_first_not_of("0123456789") != whole.size() - 1) {
        return std::nullopt;
    }
    point.whole = std::strtoull(whole.c_str(), nullptr, 10);
    const std::string rest = wholeEnd == std::string::npos ? std::string() : text.substr(wholeEnd + 1);
    if (!rest.empty() && !ReadKept(rest, point)) return std::nullopt;
    return point;
}

// The record without a kept line: its first three lines.
std::string RecordHead(const std::string& text) {
    size_t end = 0;
    for (int line = 0; line < 3 && end != std::string::npos; ++line) end = text.find('\n', end == 0 ? 0 : end + 1);
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool WriteAt(HANDLE file, uint64_t offset, const char* data, uint64_t size) {
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<uint64_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, data, piece, &written, nullptr) || written != piece) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

}  // namespace

// A strong ETag proves the same bytes; without one, Last-Modified is the weaker proof servers accept
// in If-Range. A weak ETag proves nothing about bytes.
std::string ValidatorOf(const web::ReplyHead& head) {
    if (!head.etag.empty() && head.etag.rfind("W/", 0) != 0) return head.etag;
    return head.lastModified;
}

SafePaths SafePathsFor(const std::wstring& target) {
    const size_t slash = target.find_last_of(L'\\');
    const size_t nameLength = target.size() - (slash == std::wstring::npos ? 0 : slash + 1);
    if (nameLength + LONGEST_SUFFIX > LONGEST_NAME) return HashedPathsFor(target);
    return {target, target + PARTIAL_SUFFIX, target + RECORD_SUFFIX};
}

std::optional<SafePaths> UsablePathsFor(const std::wstring& target) {
    SafePaths paths = SafePathsFor(target);
    if (!LeadsElsewhere(paths.partial) && !LeadsElsewhere(paths.record)) return paths;
    SafePaths hashed = HashedPathsFor(target);
    if (hashed.partial == paths.partial || LeadsElsewhere(hashed.partial) || LeadsElsewhere(hashed.record)) {
        return std::nullopt;
    }
    return hashed;
}

std::optional<ResumePoint> FindResumePoint(const SafePaths& paths, const std::string& url) {
    std::optional<ResumePoint> point = ReadRecord(paths.record, url);
    const std::optional<uint64_t> size = point ? PlainFileSize(paths.partial) : std::nullopt;
    if (!size || *size == 0 || *size > point->whole) return std::nullopt;
    if (!point->kept.empty()) {
        if (*size != point->kept.back().end) return std::nullopt;
        return point;  // at its prefix, the record's own
    }
    // A whole file is proven still current by its last byte, asked for under the same validator.
    point->offset = *size == point->whole ? *size - 1 : *size;
    return point;
}

bool KeepSlices(const SafePaths& paths, uint64_t prefix, const std::vector<SliceBytes>& slices) {
    std::string record;
    if (!ReadWhole(paths.record, record)) return slices.empty();
    const std::string head = RecordHead(record);
    if (slices.empty()) {
        // The kept slices an attempt went on from were cut off with the file: the record forgets them.
        return head.empty() || head == record || WriteWhole(paths.record, head);
    }
    if (head.empty()) return false;
    record = head;
    FileHandle file(::CreateFileW(paths.partial.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !IsPlainFileAt(file.get(), paths.partial) || !::GetFileSizeEx(file.get(), &size) ||
        static_cast<uint64_t>(size.QuadPart) != prefix) {
        return false;
    }
    std::string line = "kept " + std::to_string(prefix);
    bool written = true;
    for (const SliceBytes& kept : slices) {
        const KeptSlice& slice = kept.slice;
        written = written && WriteAt(file.get(), slice.first, kept.bytes, slice.end - slice.first);
        line += " " + std::to_string(slice.first) + "-" + std::to_string(slice.end);
    }
    if (written && WriteWhole(paths.record, record + line + "\n")) return true;
    // Neither half alone: the file back to its prefix, the record to what it said of it.
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(prefix);
    ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file.get());
    WriteWhole(paths.record, record);
    return false;
}

std::optional<ResumePoint> DigestResumePoint(const SafePaths& paths, uint64_t whole) {
    const std::optional<uint64_t> size = PlainFileSize(paths.partial);
    if (!size || *size == 0 || *size > whole) return std::nullopt;
    ResumePoint point;
    point.whole = whole;
    point.offset = *size == whole ? *size - 1 : *size;
    return point;
}

bool NamesFolder(const wchar_t* path) {
    const size_t length = std::wcslen(path);
    if (length > 0 && (path[length - 1] == L'\\' || path[length - 1] == L'/')) return true;
    const std::wstring full = PlatformPath(path);
    const DWORD attributes = full.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(full.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PartialDownload::PartialDownload(const SafePaths& paths, std::string url, std::optional<ResumePoint> resume,
                                 ExpectedSize expected, bool keepRecord)
    : m_paths(paths),
      m_url(std::move(url)),
      m_resume(std::move(resume)),
      m_expected(expected),
      m_keepRecord(keepRecord),
      m_file(paths.partial) {}

PartialDownload::~PartialDownload() {
    if (!m_settled) Abandon();
}

// A 206 goes on at the partial file's end only when it is the part asked for of the very file
// recorded: a server or proxy that honours Range and ignores If-Range answers with a part of whatever
// it has now, and its validator is what tells. A part whose whole length is unknown ("bytes N-M/*")
// never goes on, even under the recorded validator: a server may send less than was asked, so nothing
// proves that it ends the file of the recorded length.
bool PartialDownload::Continues(const web::ReplyHead& head) const {
    return head.status == HTTP_STATUS_PARTIAL_CONTENT && m_resume && head.rangeFirst &&
           *head.rangeFirst == m_resume->offset && head.rangeWhole == m_resume->whole &&
           (m_resume->validator.empty() || ValidatorOf(head) == m_resume->validator);
}

bool PartialDownload::StartReply(const web::ReplyHead& head) {
    const bool resumed = Continues(head);
    if (head.status != HTTP_STATUS_OK && !resumed) {
        // A 416, or a part that does not continue the partial file: ask again for the whole file.
        m_startOver = head.status == HTTP_STATUS_PARTIAL_CONTENT || head.status == HTTP_RANGE_NOT_SATISFIABLE;
        return false;
    }
    m_refused = IsReadOnly(m_paths.target);  // never replaced, as it is never overwritten
    if (m_refused) return false;
    m_whole = AnnouncedWhole(head);
    m_sizeMismatch = !m_expected.Admits(head);
    if (m_sizeMismatch) return false;
    if (resumed) {
        m_refused = !m_file.OpenForAppend(m_resume->offset);
        m_opened = !m_refused;
        m_continued = m_opened;
        m_maySplice = m_opened && (head.weakValidator || m_resume->validator.empty());
        return m_opened;
    }
    m_refused = !m_file.OpenEmptied();
    if (m_refused) return false;
    m_opened = true;
    const std::string validator = ValidatorOf(head);
    if (m_keepRecord && !HasControlCharacter(validator)) {
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
    m_settled = true;
    return true;
}

void PartialDownload::Abandon(bool resumable) noexcept {
    m_settled = true;
    m_file.Finish();
    // A partial file this call never opened is not its to remove: another download of the same target
    // may be writing it (the open failed for that), or may come back to resume it.
    if (m_opened && (!m_keepRecord || !resumable)) {
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
    if (full.size() + LONGEST_SUFFIX < MAX_PATH - 1 || full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace tamsel::agent
