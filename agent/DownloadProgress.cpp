// How far a download has come, told in bytes of the whole file to whoever shows it, who may stop it; and
// the body on its way to the file that tells it.
#include "agent/DownloadProgress.h"

#include <algorithm>

namespace tamsel::agent {

bool ProgressBody::StartReply(const web::ReplyHead& head) {
    m_received = head.bodyStart;
    // A length of 0 is none known: nothing to tell a part of.
    m_total = head.fileLength == 0 ? -1 : static_cast<int64_t>(head.fileLength);
    return m_file.StartReply(head);
}

bool ProgressBody::Write(const char* data, size_t size) {
    bool stopped = false;
    const size_t keep = KeptUpToMarks(size, stopped);
    if (!m_file.Write(data, keep)) return false;
    m_received += keep;
    m_reach = {m_received, m_total};
    const bool stop = m_progress != nullptr && !m_progress->Reached(m_received, m_total);
    m_stopped = stop || stopped;
    return !m_stopped;
}

// How many bytes of a block of size to write: all of them, or those up to the chunk end where AtMark asked
// to stop. Blocks begin at a chunk end of the body (the reader hands whole chunks on), so chunks are counted
// from the block's first byte; the block's own end is a chunk end too (the body's last piece may be short).
size_t ProgressBody::KeptUpToMarks(size_t size, bool& stopped) noexcept {
    if (m_progress == nullptr) return size;
    const uint64_t end = m_received + size;
    for (uint64_t mark = m_progress->NextMark(m_received, m_total); mark <= end;) {
        const uint64_t past = mark > m_received ? mark - m_received : 1;
        const uint64_t chunks = (past + web::BODY_CHUNK_SIZE - 1) / web::BODY_CHUNK_SIZE;
        const uint64_t at = std::min(end, m_received + chunks * web::BODY_CHUNK_SIZE);
        if (!m_progress->AtMark(at, m_total)) {
            stopped = true;
            return static_cast<size_t>(at - m_received);
        }
        mark = std::max(m_progress->NextMark(at, m_total), at + 1);
    }
    return size;
}

}  // namespace tamsel::agent
