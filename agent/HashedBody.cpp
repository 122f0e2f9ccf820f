// A download's body on its way to the partial file, hashed as it is written, and why the file refused it.
#include "agent/HashedBody.h"

#include "base/Handle.h"

#include <wininet.h>

#include <algorithm>
#include <new>
#include <vector>

namespace tamsel::agent {
namespace {

constexpr DWORD PREFIX_BLOCK = 1024 * 1024;

}  // namespace

HashedBody::HashedBody(web::BodyConsumer& file, const Digest* expected, std::wstring partialPath,
                       uint64_t resumeFrom) noexcept
    : m_file(file), m_expected(expected), m_partialPath(std::move(partialPath)), m_resumeFrom(resumeFrom) {}

// Keeps the platform's reason for the refusal that just happened; fallback when it left none (a short
// write that reported success, as a full disk may give).
bool HashedBody::Refused(DWORD fallback) noexcept {
    const DWORD error = ::GetLastError();
    m_error = error != 0 ? error : fallback;
    return false;
}

bool HashedBody::StartReply(const web::ReplyHead& head) {
    if (m_expected != nullptr) {
        m_hash.reset(new (std::nothrow) Sha256());
        if (!m_hash || !*m_hash) {
            m_error = ERROR_NOT_SUPPORTED;
            return false;
        }
        // A 206 that the partial file then declines wastes this read; the start over hashes afresh.
        if (head.status == HTTP_STATUS_PARTIAL_CONTENT && m_resumeFrom > 0 && !HashPrefix()) {
            return Refused(ERROR_READ_FAULT);
        }
    }
    ::SetLastError(0);
    return m_file.StartReply(head) || Refused(0);
}

bool HashedBody::HashPrefix() noexcept {
    // Closed again before the partial file is opened for appending, which shares it with no one.
    FileHandle file(::CreateFileW(m_partialPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::unique_ptr<char[]> block(new (std::nothrow) char[PREFIX_BLOCK]);
    if (!file || !block) return false;
    for (uint64_t left = m_resumeFrom; left > 0;) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, PREFIX_BLOCK));
        DWORD got = 0;
        if (!::ReadFile(file.get(), block.get(), want, &got, nullptr) || got == 0) return false;
        if (!m_hash->Add(block.get(), got)) return false;
        left -= got;
    }
    return true;
}

bool HashedBody::Write(const char* data, size_t size) {
    ::SetLastError(0);
    if (!m_file.Write(data, size)) return Refused(ERROR_DISK_FULL);
    if (m_hash && !m_hash->Add(data, size)) return Refused(ERROR_INVALID_DATA);
    return true;
}

bool HashedBody::Matches() noexcept {
    if (m_expected == nullptr) return true;
    if (!m_hash) return false;
    const std::optional<Digest> digest = m_hash->Finish();
    return digest && *digest == *m_expected;
}

}  // namespace tamsel::agent
