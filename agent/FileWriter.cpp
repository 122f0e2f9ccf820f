// The download's target file, opened only once the reply is known to be a success.
#include "agent/FileWriter.h"

namespace tamsel::agent {

bool FileWriter::Start(int32_t status) {
    if (status != 200) {
        return false;
    }
    for (DWORD disposition : {DWORD(CREATE_NEW), DWORD(TRUNCATE_EXISTING)}) {
        m_file.reset(::CreateFileA(m_path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_file) {
            return true;
        }
    }
    return false;
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
