// The download's target file, opened only once the reply is known to be a success.
#include "agent/FileWriter.h"

namespace tamsel::agent {

bool FileWriter::Start(int32_t status) {
    if (status != 200) {
        return false;
    }
    m_file.reset(::CreateFileA(m_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (m_file) {
        return true;
    }
    // Windows refuses to truncate a read-only file, but a platform run with full rights (Wine as
    // root) does not: the attribute is honoured here so that such a file is never overwritten.
    const DWORD attributes = ::GetFileAttributesA(m_path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    m_file.reset(::CreateFileA(m_path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(m_file);
}

bool FileWriter::Write(const char* data, size_t size) {
    while (size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(m_file.get(), data, piece, &written, nullptr) || written != piece) {
            return false;
        }
        data += piece;
        size -= piece;
    }
    return true;
}

bool FileWriter::Finish() noexcept {
    if (!m_file) {
        return false;
    }
    return ::CloseHandle(m_file.release()) != FALSE;
}

}  // namespace tamsel::agent
