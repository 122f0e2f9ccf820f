// A download that retries: its attempts over the sources as the retry rules say, each one a safe download
// that goes on from where the last left off when its validator or the digest allows, the waits between
// them, and the count of what was done.
#include "agent/AgentObject.h"

#include "agent/DownloadJudge.h"
#include "agent/DownloadProgress.h"
#include "agent/HashedBody.h"
#include "agent/ParallelRanges.h"
#include "agent/RetryPlan.h"
#include "agent/SafeDownload.h"
#include "web/RetryAfter.h"
#include "web/WebSession.h"

#include <algorithm>
#include <random>

namespace tamsel::agent {

// What every attempt of one call shares.
struct AttemptSetup {
    SafePaths paths;
    std::optional<Digest> digest;
    web::DownloadAsk ask;
    CarriedHash carried;  // what the last attempt's hashing left to the next
    RangeRules ranges;
};

// What the attempts of one call left, over all of them and of the last one.
struct AttemptTally {
    uint64_t received = 0;   // body bytes, over all attempts
    bool opened = false;     // this call made or opened the partial file
    uint64_t resumedAtStart = 0;  // bytes of an earlier call's partial file that this call went on from
    std::optional<uint64_t> whole;  // the file's whole length, as a reply last announced it
    std::string retryAfter;  // the last attempt's Retry-After, as sent
    bool diskShort = false;  // the last attempt's reply was declined for want of room
    bool rangesRefused = false;  // a range was answered otherwise than asked: one connection from then on
    uint32_t mostConnections = 1;
};

namespace {

// Room kept free beside what the file still needs, for the record, the file system and everything else.
constexpr uint64_t DISK_MARGIN = 1024 * 1024;
// How often a wait between attempts tells progress: twice a second at least.
constexpr uint32_t WAIT_TICK_MS = 250;

// The volume holding path has room for `bytes` more beside the margin; true when it cannot tell (the
// writes then do).
bool HasRoom(const std::wstring& path, uint64_t bytes) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
    return available.QuadPart >= bytes + DISK_MARGIN;
}

// A reply as one attempt sees it before the safe download below takes it: the Retry-After it names, the
// room the bytes still to come need (checked before the first byte is written: a reply that would not
// fit is declined, nothing written), and the bytes it brings.
class AttemptWatch final : public web::BodyConsumer {
public:
    AttemptWatch(web::BodyConsumer& body, const AttemptSetup& setup, AttemptTally& tally) noexcept
        : m_body(body), m_setup(setup), m_tally(tally) {}

    bool StartReply(const web::ReplyHead& head) override {
        m_tally.retryAfter = head.retryAfter;
        const bool taken = head.status == HTTP_STATUS_OK || head.status == HTTP_STATUS_PARTIAL_CONTENT;
        if (taken && !HasRoom(m_setup.paths.target, StillToCome(head))) {
            m_tally.diskShort = true;
            return false;
        }
        return m_body.StartReply(head);
    }
    bool Write(const char* data, size_t size) override {
        m_tally.received += size;
        return m_body.Write(data, size);
    }
    bool Cancelled() const noexcept override { return m_body.Cancelled(); }

private:
    // The bytes the file still needs: the expected size or the announced whole, less a part's bytes kept.
    uint64_t StillToCome(const web::ReplyHead& head) const {
        const uint64_t kept = head.status == HTTP_STATUS_PARTIAL_CONTENT ? head.bodyStart : 0;
        const std::optional<uint64_t> whole = m_setup.ask.expectedSize >= 0
                                                  ? std::optional<uint64_t>(m_setup.ask.expectedSize)
                                                  : AnnouncedWhole(head);
        return whole && *whole > kept ? *whole - kept : 0;
    }

    web::BodyConsumer& m_body;
    const AttemptSetup& m_setup;
    AttemptTally& m_tally;
};

// The wait a Retry-After value asks for, read against the clock now.
std::optional<uint64_t> RetryAfterOf(const std::string& value) {
    if (value.empty()) return std::nullopt;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return web::ReadRetryAfter(value, web::SecondsSince1970(ticks));
}

uint32_t Clamped32(uint64_t value) noexcept {
    return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

// The jitter's draw: every thread its own generator, seeded apart from the others.
uint32_t Draw() {
    thread_local std::minstd_rand generator([] {
        LARGE_INTEGER counter = {};
        ::QueryPerformanceCounter(&counter);
        return static_cast<uint32_t>(counter.QuadPart ^ (uint64_t(::GetCurrentThreadId()) << 16)) | 1u;
    }());
    return static_cast<uint32_t>(generator());
}

// Waits waitMs, telling progress the counts it last heard every WAIT_TICK_MS (so that a host cancels a
// wait within a second); false when it cancelled. The time waited goes into waited.
bool WaitTelling(uint32_t waitMs, DownloadProgress* progress, const Reach& reach, uint32_t& waited) {
    if (waitMs == 0) return true;
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        const bool goOn = progress == nullptr || progress->Waiting(reach.received, reach.total);
        if (!goOn || elapsed >= waitMs) {
            waited = Clamped32(uint64_t(waited) + elapsed);
            return goOn;
        }
        ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(WAIT_TICK_MS, waitMs - elapsed)));
    }
}

// Where the next attempt, on source, goes on from: the partial file's record of that very URL (its
// validator proves the rest), or, with a digest to prove the whole, any source's record or the whole
// length last announced, without a validator. Nothing: it starts over.
std::optional<ResumePoint> PointFor(const ResilientRequest& request, const AttemptSetup& setup, size_t source,
                                    const AttemptTally& tally) {
    if (std::optional<ResumePoint> point = FindResumePoint(setup.paths, request.sources[source])) return point;
    if (!setup.digest) return std::nullopt;
    for (const std::string& other : request.sources) {
        if (std::optional<ResumePoint> point = FindResumePoint(setup.paths, other)) {
            point->validator.clear();
            return point;
        }
    }
    return tally.whole ? DigestResumePoint(setup.paths, *tally.whole) : std::nullopt;
}

// A call that failed without RESUME leaves nothing of what it wrote beside the target.
void LeaveNothing(const ResilientRequest& request, const AttemptSetup& setup, const AttemptTally& tally) {
    if (request.download.resume || !tally.opened) return;
    ::DeleteFileW(setup.paths.partial.c_str());
    ::DeleteFileW(setup.paths.record.c_str());
}

}  // namespace

// The target's paths, the digest and the ask every attempt shares, then the attempts.
Reason AgentObject::FetchResilient(const ResilientRequest& request, DownloadProgress* progress,
                                   ResilientOutcome& outcome) {
    const DownloadRequest& download = request.download;
    if (download.path.empty()) return Reason::Refused;
    const std::wstring target = download.pathAsGiven ? download.path : PlatformPath(download.path.c_str());
    if (target.empty()) return Reason::Refused;
    const std::optional<SafePaths> paths = UsablePathsFor(target);
    if (!paths) return Reason::LocalFile;  // every name beside the target leads elsewhere: nothing is touched
    AttemptSetup setup{*paths, ParseDigest(download.sha256), {}, {}, {}};
    setup.ask.strictTls = download.strictTls;
    setup.ask.expectedSize = download.expectedSize;
    // Every attempt keeps a record, so that the next one can go on from it.
    setup.ask.wantsValidator = true;
    setup.ask.digestProvesWhole = setup.digest.has_value();
    const DownloadPolicy& policy = request.policy;
    setup.ask.pace.stallMs = policy.stallMs;
    setup.ask.pace.stopAt = policy.deadlineMs != 0 ? ::GetTickCount64() + policy.deadlineMs : 0;
    setup.ask.pace.maxBytesPerSecond = policy.maxBytesPerSecond;
    // A rate cap is the call's as a whole: each connection keeps to it alone, so a capped call keeps one.
    setup.ranges.connections = policy.maxBytesPerSecond == 0 ? policy.connections : 1;
    setup.ranges.digest = setup.digest.has_value();
    const Reason reason = Attempts(request, setup, progress, outcome);
    if (reason == Reason::Done) m_lastHttpStatus = -1;  // the failures on the way were got past
    return reason;
}

// One attempt after another until one delivers the file or the plan ends the call; the info says what
// was done, however it ended.
Reason AgentObject::Attempts(const ResilientRequest& request, AttemptSetup& setup, DownloadProgress* progress,
                             ResilientOutcome& outcome) {
    AttemptInfo& info = outcome.info;
    RetryPlan plan(request.sources.size(), request.policy, ::GetTickCount64());
    AttemptTally tally;
    std::optional<ResumePoint> point = request.download.resume ? PointFor(request, setup, 0, tally) : std::nullopt;
    for (;;) {
        info.attempts = plan.Attempt();
        info.sourceIndex = static_cast<uint32_t>(plan.Source());
        const AttemptEnd end = TryOnce(request.sources[plan.Source()], setup, point, progress, tally, outcome);
        info.connections = tally.mostConnections;
        info.last = end;
        info.bytesReceived = tally.received;
        info.bytesResumed = tally.resumedAtStart;
        const std::optional<uint64_t> asked = RetryAfterOf(tally.retryAfter);
        if (asked) info.retryAfterMs = Clamped32(*asked);
        if (end.reason == Reason::Done) return Reason::Done;
        RetryStep step = plan.After(end, asked, ::GetTickCount64(), Draw());
        if (step.retry && progress != nullptr &&
            !progress->Retrying(plan.Attempt(), step.waitMs, end, static_cast<uint32_t>(step.source))) {
            step = {false, 0, 0, Reason::Cancelled};
        }
        if (step.retry && !WaitTelling(step.waitMs, progress, outcome.reach, info.waitedMs)) {
            step = {false, 0, 0, Reason::Cancelled};
        }
        // A wait that took what the deadline left leaves no time for another attempt.
        const uint64_t stopAt = setup.ask.pace.stopAt;
        if (step.retry && stopAt != 0 && ::GetTickCount64() >= stopAt) step = {false, 0, 0, end.reason};
        if (!step.retry) {
            setup.carried = CarriedHash();  // the partial file, held for the next attempt, is let go first
            LeaveNothing(request, setup, tally);
            return step.reason;
        }
        const bool mayContinue = tally.opened || request.download.resume;
        point = mayContinue ? PointFor(request, setup, step.source, tally) : std::nullopt;
    }
}

// One attempt on url: the safe download's exchange (once more from the first byte when the server cannot
// continue the partial file, or when a continued part may have spliced two files), judged, the partial
// file put in place when whole, else left to the next attempt.
AttemptEnd AgentObject::TryOnce(const std::string& url, AttemptSetup& setup, std::optional<ResumePoint> point,
                                DownloadProgress* progress, AttemptTally& tally, DownloadOutcome& outcome) {
    AttemptEnd end;
    tally.retryAfter.clear();
    tally.diskShort = false;
    if (!m_session->SetDownloadUrl(url.c_str(), setup.ask.strictTls)) {
        end.reason = Reason::Refused;
        return end;
    }
    const ExpectedSize expected(setup.ask.expectedSize);
    for (;;) {
        PartialDownload partial(setup.paths, url, point, expected, true);
        HashedBody hashed(partial, setup.digest ? &*setup.digest : nullptr, &setup.carried);
        ProgressBody body(hashed, progress, outcome.reach);
        AttemptWatch watched(body, setup, tally);
        setup.ask.resumeFrom = point ? point->offset : 0;
        setup.ask.ifRange = point ? point->validator : std::string();
        RangeRules rules = setup.ranges;
        if (tally.rangesRefused) rules.connections = 1;
        ParallelRanges ranges(*m_session, setup.ask, rules, point, setup.paths.partial);
        const web::DownloadResult transfer = ranges.Get(watched);
        tally.rangesRefused = tally.rangesRefused || ranges.RangeRefused();
        tally.mostConnections = std::max(tally.mostConnections, ranges.MostAtOnce());
        if (!tally.opened && partial.Continued()) tally.resumedAtStart = point->offset;
        tally.opened = tally.opened || partial.Opened();
        if (partial.Whole()) tally.whole = partial.Whole();
        end.httpStatus = transfer.status;
        end.exchangeError = transfer.exchangeError;
        if (!m_session->ProbePassed() || transfer.urlRefused || tally.diskShort) {
            partial.LeaveAlone();  // nothing was written to it: what an earlier attempt left stays
            end.reason = !m_session->ProbePassed() ? Reason::NoInternet
                         : transfer.urlRefused     ? Reason::Refused
                                                   : Reason::LocalFile;
            end.localError = tally.diskShort ? ERROR_DISK_FULL : 0;
            outcome.localError = end.localError;
            return end;
        }
        if (partial.StartOver() && point) {
            point.reset();  // the server cannot continue that file: ask for all of it, once
            continue;
        }
        if (!SettleTry(transfer, partial, hashed, setup, end, outcome)) {
            point.reset();
            continue;
        }
        // Whole slices that came ahead of the bytes written stay for the next attempt, when the partial
        // file this attempt wrote does (the record then names them, or no longer names earlier ones).
        if (end.reason != Reason::Done && partial.Opened()) {
            KeepSlices(setup.paths, partial.Size(), ranges.WholeAhead(partial.Size()));
        }
        // Last, once the file holds all it keeps: the hash so far goes on to the next attempt when it
        // covers the whole file (no slices kept ahead of it).
        if (end.reason != Reason::Done) hashed.Carry(setup.carried);
        return end;
    }
}

// How the try ended, once the partial file took the target's place or was left for the next attempt;
// false when the whole file is to be asked for once more, from its first byte.
bool AgentObject::SettleTry(const web::DownloadResult& transfer, PartialDownload& partial, HashedBody& hashed,
                            AttemptSetup& setup, AttemptEnd& end, DownloadOutcome& outcome) {
    DownloadFacts facts = SafeFacts(transfer, partial, hashed, ExpectedSize(setup.ask.expectedSize));
    end.reason = Judged(facts, setup.paths.target, outcome);
    if (end.reason == Reason::DigestMismatch && partial.MaySplice()) {
        // The bytes kept and the rest may be of two files: the whole once more, before the digest is
        // called wrong.
        partial.Abandon(false);
        return false;
    }
    end.localError = end.reason == Reason::LocalFile ? outcome.localError : 0;
    if (end.reason != Reason::Done) {
        // Bytes past the expected size, or bytes whose digest does not match, are no start to go on from.
        partial.Abandon(facts.transfer.end != web::TransferEnd::TooLong && end.reason != Reason::DigestMismatch);
        return true;
    }
    if (partial.Replace()) return true;
    end.localError = outcome.localError = ::GetLastError();
    end.reason = Reason::LocalFile;
    partial.Abandon();
    return true;
}

}  // namespace tamsel::agent
