// The rules of a download that retries: after each failed attempt, whether another follows, from which
// source and after how long a wait.
#include "agent/RetryPlan.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <limits>

namespace tamsel::agent {
namespace {

constexpr uint64_t NO_DEADLINE = std::numeric_limits<uint64_t>::max();

bool IsRetriedStatus(int32_t status) noexcept {
    switch (status) {
        case 408: case 429: case 500: case 502: case 503: case 504: return true;
        default: return false;
    }
}

// An exchange that could not be made for the network's sake, which may pass.
bool IsPassingFailure(uint32_t exchangeError) noexcept {
    switch (exchangeError) {
        case 0:  // a connection closed before any status line
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
        case ERROR_INTERNET_TIMEOUT:
        case ERROR_INTERNET_SERVER_UNREACHABLE:
            return true;
        default:
            return false;
    }
}

RetryKind KindOfStatus(const AttemptEnd& end) noexcept {
    if (end.httpStatus == 0) {
        return IsPassingFailure(end.exchangeError) ? RetryKind::SameSource : RetryKind::OtherSource;
    }
    if (end.httpStatus == HTTP_STATUS_PROXY_AUTH_REQ) return RetryKind::Finish;
    return IsRetriedStatus(end.httpStatus) ? RetryKind::SameSource : RetryKind::OtherSource;
}

}  // namespace

RetryKind KindOf(const AttemptEnd& end) noexcept {
    switch (end.reason) {
        case Reason::Broken: return RetryKind::SameSource;
        case Reason::HttpStatus: return KindOfStatus(end);
        case Reason::SizeMismatch:
        case Reason::DigestMismatch:
        case Reason::Certificate:
        case Reason::InsecureRedirect:
        case Reason::Refused:  // a source the session cannot use: the arguments were checked before
            return RetryKind::OtherSource;
        default: return RetryKind::Finish;
    }
}

RetryPlan::RetryPlan(size_t sources, const DownloadPolicy& policy, uint64_t startTick)
    : m_policy(policy), m_dropped(sources, false), m_passedOver(sources, false) {
    if (policy.deadlineMs != 0) m_deadline = startTick + policy.deadlineMs;
}

RetryStep RetryPlan::After(const AttemptEnd& end, std::optional<uint64_t> retryAfterMs, uint64_t nowTick,
                           uint32_t random) {
    const RetryKind kind = KindOf(end);
    const uint64_t left = !m_deadline ? NO_DEADLINE : *m_deadline > nowTick ? *m_deadline - nowTick : 0;
    if (kind == RetryKind::Finish || m_attempt >= m_policy.maxAttempts || left == 0) return Finish(end.reason);
    if (kind == RetryKind::OtherSource) {
        m_dropped[m_source] = true;
        const std::optional<size_t> next = NextSource(true);
        return next ? Switch(*next, 0) : Finish(end.reason);
    }
    ++m_failuresInARow;
    if (retryAfterMs) {
        if (*retryAfterMs <= m_policy.maxRetryWaitMs && *retryAfterMs <= left) {
            return Switch(m_failuresInARow >= 2 ? NextSource().value_or(m_source) : m_source,
                          static_cast<uint32_t>(*retryAfterMs));
        }
        // Not waited out: another source at once, or the end. One passed over is no way out: it too may
        // still be asking to wait.
        m_passedOver[m_source] = true;
        const std::optional<size_t> next = NextSource();
        return next ? Switch(*next, 0) : Finish(Reason::RetryLater);
    }
    const uint32_t wait = Backoff(left, random);
    if (m_failuresInARow >= 2) m_passedOver[m_source] = true;
    return Switch(m_failuresInARow >= 2 ? NextSource().value_or(m_source) : m_source, wait);
}

// The next source after the current one, in order and round again, that is neither dropped nor passed
// over; failing that, with passedOver, one passed over (it remains, where no other does).
std::optional<size_t> RetryPlan::NextSource(bool passedOver) const {
    const size_t count = m_dropped.size();
    for (const bool takePassed : {false, passedOver}) {
        for (size_t step = 1; step < count; ++step) {
            const size_t index = (m_source + step) % count;
            if (!m_dropped[index] && (!m_passedOver[index] || takePassed)) return index;
        }
    }
    return std::nullopt;
}

RetryStep RetryPlan::Switch(size_t source, uint32_t waitMs) {
    if (source != m_source) m_failuresInARow = 0;
    m_source = source;
    ++m_attempt;
    RetryStep step;
    step.retry = true;
    step.source = source;
    step.waitMs = waitMs;
    return step;
}

RetryStep RetryPlan::Finish(Reason reason) const {
    RetryStep step;
    step.reason = reason;
    return step;
}

// Full jitter: a wait drawn from [0, min(cap, FIRST_BACKOFF_MS * 2^(n-1))], n the backoff's number, within
// what the deadline leaves.
uint32_t RetryPlan::Backoff(uint64_t left, uint32_t random) noexcept {
    const uint32_t doublings = std::min<uint32_t>(m_backoffs++, 20);
    const uint64_t ceiling =
        std::min<uint64_t>({uint64_t(FIRST_BACKOFF_MS) << doublings, m_policy.maxRetryWaitMs, left});
    return static_cast<uint32_t>(random % (ceiling + 1));
}

}  // namespace tamsel::agent
