// How far a download has come, told in bytes of the whole file to whoever shows it, who may stop it; and
// the body on its way to the file that tells it.
#pragma once

#include "agent/Answers.h"
#include "web/BodyConsumer.h"

#include <cstdint>

namespace tamsel::agent {

class DownloadProgress {
public:
    static constexpr uint64_t NO_MARK = UINT64_MAX;

    virtual ~DownloadProgress() = default;

    // After each block of the body is in the file: received bytes of the file so far (a resumed part's
    // included) of total (-1: no length announced). False stops the download there; the file keeps them.
    virtual bool Reached(uint64_t received, int64_t total) noexcept = 0;

    // A byte count past received at which to be told AtMark too, before the block that holds it is
    // written; NO_MARK for none. AtMark comes at the first end of a chunk of the body (web::BODY_CHUNK_SIZE,
    // counted from its first byte) at or past the mark, so that a stop there keeps whole chunks; false
    // stops the download at that chunk: the block is written up to it, and Reached told.
    virtual uint64_t NextMark(uint64_t /*received*/, int64_t /*total*/) const noexcept { return NO_MARK; }
    virtual bool AtMark(uint64_t /*received*/, int64_t /*total*/) noexcept { return true; }

    // Before a download that retries starts another attempt: its number (2 for the first retry), the wait
    // before it (0: none), how the last one ended, the source it will use. False cancels the download.
    virtual bool Retrying(uint32_t /*attempt*/, uint32_t /*waitMs*/, const AttemptEnd& /*last*/,
                          uint32_t /*source*/) noexcept {
        return true;
    }
    // During the wait before an attempt, at least twice a second: the counts last told. False cancels.
    virtual bool Waiting(uint64_t received, int64_t total) noexcept { return Reached(received, total); }
};

// Passes a download's body on to the file and tells progress (null: nobody) how far it has come, keeping
// what it told last in reach. A block goes to the file in one write, marks or not.
class ProgressBody final : public web::BodyConsumer {
public:
    ProgressBody(web::BodyConsumer& file, DownloadProgress* progress, Reach& reach) noexcept
        : m_file(file), m_progress(progress), m_reach(reach) {}

    bool StartReply(const web::ReplyHead& head) override;
    bool Write(const char* data, size_t size) override;
    bool Cancelled() const noexcept override { return m_stopped; }

private:
    size_t KeptUpToMarks(size_t size, bool& stopped) noexcept;

    web::BodyConsumer& m_file;
    DownloadProgress* m_progress;
    Reach& m_reach;
    uint64_t m_received = 0;  // bytes of the file: the part there before this body, and what it brought
    int64_t m_total = -1;
    bool m_stopped = false;
};

}  // namespace tamsel::agent
