// The host's progress sinks fed from a download's bytes: percentages, bytes and the cancel.
#pragma once

#include "include/NorvikTamselAgent.h"
#include "web/BodyConsumer.h"

#include <cstdint>

namespace tamsel::agent {

// The host's sinks for one download; either may be null.
struct ProgressSinks {
    ProgressSink* percent = nullptr;
    ProgressSink2* bytes = nullptr;  // FetchToFileEx's and FetchToFileVerified's alone
};

// Passes a download's body on to the file and tells the host how far it has come. The percentage rule
// runs on each chunk of the body in order (the reader hands it on in whole chunks), so that a cancel
// keeps exactly the bytes up to the chunk that caused it: a report whenever the whole percentage of the
// file changes (never for the percentage already there, never above 100 %), each preceded by
// NotifyCode(TAMSEL_PROGRESS_CODE), with the cancel flag cleared before it. NotifyBytes follows every
// block written. Neither sink gains or loses a reference.
class HostProgress final : public web::BodyConsumer {
public:
    HostProgress(web::BodyConsumer& file, ProgressSinks sinks) noexcept
        : m_file(file), m_percent(sinks.percent), m_bytes(sinks.bytes) {}

    bool StartReply(const web::ReplyHead& head) override;
    bool Write(const char* data, size_t size) override;
    bool Cancelled() const noexcept override { return m_cancelled; }

private:
    bool CancelAfterChunk(uint64_t total) noexcept;
    bool CancelAfterBlock() noexcept;
    LONG PercentOf(uint64_t bytes) const noexcept;

    web::BodyConsumer& m_file;
    ProgressSink* m_percent;
    ProgressSink2* m_bytes;
    uint64_t m_start = 0;  // bytes of the file there before this body (a resumed download)
    uint64_t m_whole = 0;  // the whole file's length; 0 when unknown (no percentages)
    uint64_t m_total = 0;  // bytes of this body the file took
    LONG m_lastPercent = 0;
    bool m_cancelled = false;
};

}  // namespace tamsel::agent
