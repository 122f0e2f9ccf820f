// One download over up to four connections to one source: the first reply read in order, slices of its
// rest asked for beside it once it has shown that ranges are safe, and every byte handed on in order.
#pragma once

#include "agent/SafeDownload.h"
#include "web/BodyConsumer.h"
#include "web/WebReply.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamsel::web {
class WebSession;
}

namespace tamsel::agent {

class SliceBoard;
struct KeptBytes;

// What a download allows its further connections.
struct RangeRules {
    uint32_t connections = 1;  // at most this many at once; 1: the first alone
    bool digest = false;       // a digest proves the whole file: ranges may go without a validator
};

// Further connections open only when the first reply has a Content-Length and Accept-Ranges: bytes, a
// validator for If-Range (or the rules' digest), after it has run this long, with this much to come.
inline constexpr uint32_t RANGES_AFTER_MS = 1000;
inline constexpr uint64_t RANGES_LEAST_LEFT = 8ull << 20;
// Each slice holds at least this much, at most twice the largest: half of what each connection would
// get, so that each asks twice (a round trip or two per request is what a slice costs) and a slow slice
// holds the others up for no longer than half the rest.
inline constexpr uint64_t SLICE_LEAST = 4ull << 20;
inline constexpr uint64_t SLICE_LARGEST = 16ull << 20;

class ParallelRanges {
public:
    // point: where the attempt goes on from; its kept slices are read back from the partial file and
    // only the gaps between them asked for, when the reply continues the file.
    ParallelRanges(web::WebSession& session, const web::DownloadAsk& ask, RangeRules rules,
                   const std::optional<ResumePoint>& point, const std::wstring& partial);
    ~ParallelRanges();
    ParallelRanges(const ParallelRanges&) = delete;
    ParallelRanges& operator=(const ParallelRanges&) = delete;

    // The session's Get into body, which hears every byte in order on the calling thread whichever
    // connection brought it. Once slices were asked for, the result is the first reply's status with
    // how the whole ended: Complete only when every byte reached body.
    web::DownloadResult Get(web::BodyConsumer& body);

    // The most connections that were open at once (at least 1 once Get ran).
    uint32_t MostAtOnce() const noexcept;
    // A range was answered otherwise than as asked (200, another validator, 429, 503, ...): no further
    // connection is to open in this call.
    bool RangeRefused() const noexcept;
    // After a download that did not finish: the slices that came whole past prefix, to be kept
    // (KeepSlices); their bytes live as long as this object.
    std::vector<SliceBytes> WholeAhead(uint64_t prefix) const;

private:
    class FirstReply;

    web::DownloadResult AfterFirst(const web::DownloadResult& first, FirstReply& gate, web::BodyConsumer& body);

    web::WebSession& m_session;
    web::DownloadAsk m_ask;
    RangeRules m_rules;
    std::wstring m_partial;
    std::unique_ptr<KeptBytes> m_kept;  // until the first reply has shown whether it continues the file
    uint64_t m_keptFrom = 0;
    std::shared_ptr<SliceBoard> m_board;  // once slices were cut
};

}  // namespace tamsel::agent
