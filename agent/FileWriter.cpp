// The download's target file (or partial file), opened only once the reply says what to do with it.
#include "agent/FileWriter.h"

namespace tamsel::agent {
namespace {

constexpr DWORD MAX_WRITE = 0x40000000;  // what one WriteFile is given at most

}  // namespace

bool FileWriter::StartReply(const web::ReplyHead& head) {
    if (head.status != 200) {
        return false;
    }
    m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (m_file) {
        return true;
    }
    // Windows refuses to truncate a read-only file, but a platform run with full rights (Wine as
    // root) does not: the attribute is honoured here so that such a file is never overwritten.
    const DWORD attributes = ::GetFileAttributesW(m_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    m_file.reset(
        ::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(m_file);
}

bool FileWriter::OpenEmptied() noexcept {
    // Removed and made anew rather than truncated: some file systems write a file truncated to nothing
    // out to the disk when it is closed (a guard for programs that rewrite files in place), which costs
    // a large download a third of its speed.
    m_size = 0;
    ::SetFileAttributesW(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A file that cannot be removed is open elsewhere: its own error says so, "exists" would not.
    if (!::DeleteFileW(m_path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    return static_cast<bool>(m_file);
}

bool FileWriter::OpenForAppend() noexcept {
    m_file.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_HIDDEN,
                               nullptr));
    LARGE_INTEGER end = {};
    if (!m_file || !::SetFilePointerEx(m_file.get(), LARGE_INTEGER{}, &end, FILE_END)) {
        m_file.reset();
        return false;
    }
    m_size = static_cast<uint64_t>(end.QuadPart);
    return true;
}

bool FileWriter::Write(const char* data, size_t size) {
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

bool FileWriter::Finish() noexcept {
    if (!m_file) {
        return false;
    }
    return ::CloseHandle(m_file.release()) != FALSE;
}

std::wstring WidenPath(const char* path) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

}  // namespace tamsel::agent
