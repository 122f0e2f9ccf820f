// A local file that a download writes (its target, or a partial file beside it), the direct download's
// rule on top of its target, and what lies at a path.
#include "agent/LocalFile.h"

namespace tamsel::agent {
namespace {

constexpr DWORD MAX_WRITE = 0x40000000;  // what one WriteFile is given at most

// Removes the name, read-only or not; false, with the platform's own error (a file open elsewhere says
// so, where "exists" would not), when it is still there.
bool RemoveName(const wchar_t* path) noexcept {
    if (::DeleteFileW(path) || ::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
    ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);  // a read-only name is not deleted
    return ::DeleteFileW(path) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool LocalFile::Open() noexcept {
    m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (m_file) {
        return true;
    }
    // Windows refuses to truncate a read-only file, but a platform run with full rights (Wine as
    // root) does not: the attribute is honoured here so that such a file is never overwritten.
    if (IsReadOnly(m_path)) {
        return false;
    }
    m_file.reset(
        ::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(m_file);
}

bool LocalFile::OpenEmptied() noexcept {
    // Removed and made anew rather than truncated: some file systems write a file truncated to nothing
    // out to the disk when it is closed (a guard for programs that rewrite files in place), which costs
    // a large download a third of its speed. Made with CREATE_NEW, so that nothing planted under the
    // name in between is opened.
    m_size = 0;
    if (!RemoveName(m_path.c_str())) return false;
    m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    return static_cast<bool>(m_file);
}

bool LocalFile::OpenForAppend(uint64_t offset) {
    m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER end = {};
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!m_file || !IsPlainFileAt(m_file.get(), m_path) || !::GetFileSizeEx(m_file.get(), &end) ||
        static_cast<uint64_t>(end.QuadPart) < offset || !::SetFilePointerEx(m_file.get(), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(m_file.get())) {
        m_file.reset();
        return false;
    }
    m_size = offset;
    return true;
}

bool LocalFile::Write(const char* data, size_t size) {
    while (size > 0) {
        const DWORD piece = size > MAX_WRITE ? MAX_WRITE : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(m_file.get(), data, piece, &written, nullptr) || written != piece) {
            return false;
        }
        data += piece;
        size -= piece;
        m_size += piece;
    }
    return true;
}

bool LocalFile::Finish() noexcept {
    if (!m_file) {
        return false;
    }
    return ::CloseHandle(m_file.release()) != FALSE;
}

bool DirectTarget::StartReply(const web::ReplyHead& head) {
    if (head.status != HTTP_STATUS_OK) {
        return false;
    }
    mismatch = !m_expected.Admits(head);
    if (mismatch) return false;
    ::SetLastError(0);
    m_opened = m_file.Open();
    return m_opened || Refuse();
}

bool DirectTarget::Write(const char* data, size_t size) {
    ::SetLastError(0);
    return m_file.Write(data, size) || Refuse();
}

void DirectTarget::Finish() noexcept {
    ::SetLastError(0);
    if (m_opened && !m_file.Finish()) Refuse();
    m_opened = false;
}

// Keeps the platform's reason for the first refusal; false, for Write and StartReply to answer.
bool DirectTarget::Refuse() noexcept {
    if (!refused) localError = ::GetLastError();
    refused = true;
    return false;
}

bool IsReadOnly(const std::wstring& path) noexcept {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

namespace {

std::wstring FinalPath(HANDLE handle) {
    const DWORD needed = ::GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0) return {};
    std::wstring path(needed, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), needed, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= needed) return {};
    path.resize(length);
    return path;
}

// Where the file's own folder says it should be found.
std::wstring FinalPathOfName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    FileHandle folder(::CreateFileW(path.substr(0, slash + 1).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring folderPath = folder ? FinalPath(folder.get()) : std::wstring();
    if (folderPath.empty()) return {};
    if (folderPath.back() != L'\\') folderPath += L'\\';
    return folderPath + path.substr(slash + 1);
}

}  // namespace

bool IsFoundAt(HANDLE file, const std::wstring& path) {
    // Wine shows a Unix symbolic link as the file it points to (no reparse point, whatever the open
    // flags): only the path the handle ended at tells it. Where no final path is known (some network
    // shares), a link shows as a reparse point and the attributes alone tell.
    const std::wstring found = FinalPath(file);
    const std::wstring expected = found.empty() ? std::wstring() : FinalPathOfName(path);
    return expected.empty() || ::CompareStringOrdinal(found.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsPlainFileAt(HANDLE file, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info;
    return ::GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1 &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           IsFoundAt(file, path);
}

}  // namespace tamsel::agent
