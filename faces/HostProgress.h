// The host's progress sinks told how far a download has come: percentages with their cancel, and the bytes
// of a ProgressSink2.
#pragma once

#include "agent/DownloadProgress.h"
#include "base/Handle.h"
#include "include/NorvikTamselAgent.h"

#include <cstdint>

namespace tamsel::faces {

// A report whenever the whole percentage of the file changes (never for the percentage already there, nor
// above 100 %), at the 4 KiB chunk of the body where it changes, so that a cancel keeps exactly the bytes
// up to that chunk; each is preceded by NotifyCode(TAMSEL_PROGRESS_CODE), the cancel flag cleared before
// it. No length announced, no percentages. NotifyBytes follows every block written, the one cut short by a
// cancel included. Neither sink gains or loses a reference.
class HostProgress final : public agent::DownloadProgress {
public:
    // What the sink is told: percentages alone (FetchToFile), or bytes too when it answers ProgressSink2.
    enum class Reports { PERCENT, PERCENT_AND_BYTES };

    HostProgress(ProgressSink* sink, Reports reports) noexcept;

    bool Reached(uint64_t received, int64_t total) noexcept override;
    uint64_t NextMark(uint64_t received, int64_t total) const noexcept override;
    bool AtMark(uint64_t received, int64_t total) noexcept override;
    // NotifyRetry, for a sink that answers ProgressSink3 (asked for once, by the first retry); a failure
    // it returns cancels.
    bool Retrying(uint32_t attempt, uint32_t waitMs, const agent::AttemptEnd& last, uint32_t source) noexcept override;
    // The unchanged counts: NotifyBytes, or for a sink of percentages alone NotifyProgress of the
    // percentage reached (0 while no length is known).
    bool Waiting(uint64_t received, int64_t total) noexcept override;

private:
    ProgressSink* m_percent;
    ComPointer<ProgressSink2> m_bytes;
    ComPointer<ProgressSink3> m_retries;
    bool m_askedForRetries = false;
};

}  // namespace tamsel::faces
