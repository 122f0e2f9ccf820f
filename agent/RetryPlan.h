// The rules of a download that retries: after each failed attempt, whether another follows, from which
// source and after how long a wait. Pure: the caller runs the attempts, reads the clock and draws the jitter.
#pragma once

#include "agent/Answers.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tamsel::agent {

// What a failed attempt leads to: another on the same source after a wait, the next source at once, or
// the end of the call.
enum class RetryKind { SameSource, OtherSource, Finish };

// Retried on the same source: a break or stall, 408, 429, 500, 502, 503, 504, and an exchange that could
// not be made for the network's sake (no connection, a reset, a name that did not resolve, a timeout, a
// connection closed before any status). Not on the same source: other bytes than expected (size or
// digest), a certificate or a redirect refused, any other status (a 407 ends the call: another source
// goes through the same proxy), a source URL that cannot be used. Nothing else is retried: a local
// failure, a cancel, no internet, a refusal, memory.
RetryKind KindOf(const AttemptEnd& end) noexcept;

// What follows a failed attempt.
struct RetryStep {
    bool retry = false;
    size_t source = 0;    // retry: the source of the next attempt
    uint32_t waitMs = 0;  // retry: the wait before it
    Reason reason = Reason::Done;  // no retry: how the call ends
};

class RetryPlan {
public:
    // A call over `sources` sources (at least one) under policy, started at startTick (GetTickCount64).
    RetryPlan(size_t sources, const DownloadPolicy& policy, uint64_t startTick);

    // After attempt number Attempt() on source Source() ended as `end`, the server naming retryAfterMs
    // (Retry-After read) or not, at nowTick; random is a draw for the jitter of a backoff (any 32 bits).
    RetryStep After(const AttemptEnd& end, std::optional<uint64_t> retryAfterMs, uint64_t nowTick,
                    uint32_t random);

    uint32_t Attempt() const noexcept { return m_attempt; }
    size_t Source() const noexcept { return m_source; }

    // The first backoff waits up to this long, each later one up to twice the one before.
    static constexpr uint32_t FIRST_BACKOFF_MS = 1000;

private:
    std::optional<size_t> NextSource(bool passedOver = false) const;
    RetryStep Switch(size_t source, uint32_t waitMs);
    RetryStep Finish(Reason reason) const;
    uint32_t Backoff(uint64_t left, uint32_t random) noexcept;

    DownloadPolicy m_policy;
    std::optional<uint64_t> m_deadline;  // tick
    uint32_t m_attempt = 1;
    size_t m_source = 0;
    uint32_t m_failuresInARow = 0;  // of the current source, since it became current
    uint32_t m_backoffs = 0;
    std::vector<bool> m_dropped;     // not to be tried again in this call
    std::vector<bool> m_passedOver;  // passed over while another source remains
};

}  // namespace tamsel::agent
