// The host's progress sinks told how far a download has come: percentages with their cancel, and the bytes
// of a ProgressSink2.
#include "faces/HostProgress.h"

#include "faces/Ops4Result.h"

#include <algorithm>

namespace tamsel::faces {
namespace {

// A body longer than its length (an FTP file that grew after it was listed) stays at 100 %.
uint64_t PercentOf(uint64_t received, int64_t total) noexcept {
    return std::min<uint64_t>(received * 100 / static_cast<uint64_t>(total), 100);
}

}  // namespace

HostProgress::HostProgress(ProgressSink* sink, Reports reports) noexcept : m_percent(sink) {
    if (sink != nullptr && reports == Reports::PERCENT_AND_BYTES &&
        FAILED(sink->QueryInterface(IID_ProgressSink2, m_bytes.put_void()))) {
        m_bytes.release();
    }
}

bool HostProgress::Reached(uint64_t received, int64_t total) noexcept {
    if (!m_bytes) return true;
    LONG cancel = 0;
    m_bytes->NotifyBytes(static_cast<LONGLONG>(received), total, &cancel);
    return cancel == 0;
}

// Where the whole percentage next changes: the first byte count of the next percent.
uint64_t HostProgress::NextMark(uint64_t received, int64_t total) const noexcept {
    if (m_percent == nullptr || total <= 0) return NO_MARK;
    const uint64_t percent = PercentOf(received, total);
    if (percent == 100) return NO_MARK;
    return ((percent + 1) * static_cast<uint64_t>(total) + 99) / 100;
}

bool HostProgress::AtMark(uint64_t received, int64_t total) noexcept {
    m_percent->NotifyCode(TAMSEL_PROGRESS_CODE);
    LONG cancel = 0;
    m_percent->NotifyProgress(static_cast<LONG>(PercentOf(received, total)), &cancel);
    return cancel == 0;
}

bool HostProgress::Retrying(uint32_t attempt, uint32_t waitMs, const agent::AttemptEnd& last,
                            uint32_t source) noexcept {
    if (m_percent == nullptr) return true;
    if (!m_askedForRetries) {
        m_askedForRetries = true;
        if (FAILED(m_percent->QueryInterface(IID_ProgressSink3, m_retries.put_void()))) m_retries.release();
    }
    return !m_retries || SUCCEEDED(m_retries->NotifyRetry(attempt, waitMs, AttemptResult(last), source));
}

bool HostProgress::Waiting(uint64_t received, int64_t total) noexcept {
    if (m_bytes) return Reached(received, total);
    if (m_percent == nullptr) return true;
    m_percent->NotifyCode(TAMSEL_PROGRESS_CODE);
    LONG cancel = 0;
    m_percent->NotifyProgress(total > 0 ? static_cast<LONG>(PercentOf(received, total)) : 0, &cancel);
    return cancel == 0;
}

}  // namespace tamsel::faces
