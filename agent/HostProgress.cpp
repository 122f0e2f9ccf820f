// The host's progress sinks fed from a download's bytes: percentages, bytes and the cancel.
#include "agent/HostProgress.h"

#include <algorithm>

namespace tamsel::agent {

bool HostProgress::StartReply(const web::ReplyHead& head) {
    m_start = head.bodyStart;
    m_whole = head.fileLength;
    m_lastPercent = PercentOf(m_start);
    return m_file.StartReply(head);
}

bool HostProgress::Write(const char* data, size_t size) {
    // Without a percentage to tell, the block goes on whole: no work per chunk on the fast path.
    size_t keep = m_percent != nullptr && m_whole != 0 ? 0 : size;
    bool cancelled = false;
    while (keep < size && !cancelled) {
        keep += std::min(web::BODY_CHUNK_SIZE, size - keep);
        cancelled = CancelAfterChunk(m_total + keep);
    }
    if (!m_file.Write(data, keep)) return false;
    m_total += keep;
    m_cancelled = CancelAfterBlock() || cancelled;
    return !m_cancelled;
}

// No whole length (none announced) gives no percentage at all, rather than a division by zero; a body
// longer than its length (an FTP file that grew after it was listed) stays at 100 %.
LONG HostProgress::PercentOf(uint64_t bytes) const noexcept {
    return m_whole == 0 ? 0 : static_cast<LONG>(std::min<uint64_t>(bytes * 100 / m_whole, 100));
}

// True when the sink asked to stop after a total of `total` bytes of this body.
bool HostProgress::CancelAfterChunk(uint64_t total) noexcept {
    const LONG percent = PercentOf(m_start + total);
    if (percent == m_lastPercent) return false;
    m_lastPercent = percent;
    m_percent->NotifyCode(TAMSEL_PROGRESS_CODE);
    LONG cancel = 0;
    m_percent->NotifyProgress(percent, &cancel);
    return cancel != 0;
}

// True when the bytes sink asked to stop after the block just written.
bool HostProgress::CancelAfterBlock() noexcept {
    if (m_bytes == nullptr) return false;
    LONG cancel = 0;
    const LONGLONG whole = m_whole == 0 ? -1 : static_cast<LONGLONG>(m_whole);
    m_bytes->NotifyBytes(static_cast<LONGLONG>(m_start + m_total), whole, &cancel);
    return cancel != 0;
}

}  // namespace tamsel::agent
