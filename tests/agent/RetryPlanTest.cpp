// The retry rules without a network: which failures are retried where, and the steps a plan takes over
// scripted attempts (sources, waits, the end).
#include "agent/RetryPlan.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <vector>

namespace tamsel::agent {
namespace {

AttemptEnd Ended(Reason reason, int32_t status = 0, uint32_t exchangeError = 0) {
    AttemptEnd end;
    end.reason = reason;
    end.httpStatus = status;
    end.exchangeError = exchangeError;
    return end;
}

TEST(RetryPlan, EachFailureIsRetriedWhereTheRulesSay) {
    const struct {
        const char* why;
        AttemptEnd end;
        RetryKind kind;
    } cases[] = {
        {"a break or stall", Ended(Reason::Broken), RetryKind::SameSource},
        {"408", Ended(Reason::HttpStatus, 408), RetryKind::SameSource},
        {"429", Ended(Reason::HttpStatus, 429), RetryKind::SameSource},
        {"500", Ended(Reason::HttpStatus, 500), RetryKind::SameSource},
        {"502", Ended(Reason::HttpStatus, 502), RetryKind::SameSource},
        {"503", Ended(Reason::HttpStatus, 503), RetryKind::SameSource},
        {"504", Ended(Reason::HttpStatus, 504), RetryKind::SameSource},
        {"no connection", Ended(Reason::HttpStatus, 0, ERROR_INTERNET_CANNOT_CONNECT), RetryKind::SameSource},
        {"a reset", Ended(Reason::HttpStatus, 0, ERROR_INTERNET_CONNECTION_RESET), RetryKind::SameSource},
        {"an abort", Ended(Reason::HttpStatus, 0, ERROR_INTERNET_CONNECTION_ABORTED), RetryKind::SameSource},
        {"no name", Ended(Reason::HttpStatus, 0, ERROR_INTERNET_NAME_NOT_RESOLVED), RetryKind::SameSource},
        {"a timeout", Ended(Reason::HttpStatus, 0, ERROR_INTERNET_TIMEOUT), RetryKind::SameSource},
        {"closed before a status", Ended(Reason::HttpStatus, 0, 0), RetryKind::SameSource},
        {"a URL the platform cannot use", Ended(Reason::HttpStatus, 0, ERROR_INTERNET_UNRECOGNIZED_SCHEME),
         RetryKind::OtherSource},
        {"404", Ended(Reason::HttpStatus, 404), RetryKind::OtherSource},
        {"410", Ended(Reason::HttpStatus, 410), RetryKind::OtherSource},
        {"501", Ended(Reason::HttpStatus, 501), RetryKind::OtherSource},
        {"other bytes", Ended(Reason::DigestMismatch, 200), RetryKind::OtherSource},
        {"another size", Ended(Reason::SizeMismatch, 200), RetryKind::OtherSource},
        {"a certificate", Ended(Reason::Certificate), RetryKind::OtherSource},
        {"a redirect off https", Ended(Reason::InsecureRedirect), RetryKind::OtherSource},
        {"a source the session cannot use", Ended(Reason::Refused), RetryKind::OtherSource},
        {"a proxy's 407: every source goes through it", Ended(Reason::HttpStatus, 407), RetryKind::Finish},
        {"the disk", Ended(Reason::LocalFile), RetryKind::Finish},
        {"a cancel", Ended(Reason::Cancelled, 200), RetryKind::Finish},
        {"no internet", Ended(Reason::NoInternet), RetryKind::Finish},
        {"memory", Ended(Reason::OutOfMemory), RetryKind::Finish},
    };
    for (const auto& c : cases) EXPECT_EQ(KindOf(c.end), c.kind) << c.why;
}

// One attempt's end as the plan hears it, and the step it should take.
struct Step {
    AttemptEnd end;
    std::optional<uint64_t> retryAfterMs;
    uint64_t now;
    uint32_t random;
    bool retry;
    size_t source;    // retry: the next source
    uint32_t waitMs;  // retry: its wait
    Reason reason;    // no retry: the call's end
};

Step Retry(AttemptEnd end, size_t source, uint32_t waitMs, uint32_t random = 0, uint64_t now = 0,
           std::optional<uint64_t> retryAfterMs = std::nullopt) {
    return {end, retryAfterMs, now, random, true, source, waitMs, Reason::Done};
}

Step End(AttemptEnd end, Reason reason, uint64_t now = 0, std::optional<uint64_t> retryAfterMs = std::nullopt) {
    return {end, retryAfterMs, now, 0, false, 0, 0, reason};
}

DownloadPolicy Policy(uint32_t attempts, uint32_t maxWaitMs = 60000, uint32_t deadlineMs = 0) {
    DownloadPolicy policy;
    policy.maxAttempts = attempts;
    policy.maxRetryWaitMs = maxWaitMs;
    policy.deadlineMs = deadlineMs;
    return policy;
}

TEST(RetryPlan, StepsOverScriptedAttempts) {
    const AttemptEnd broken = Ended(Reason::Broken);
    const AttemptEnd busy = Ended(Reason::HttpStatus, 503);
    const struct {
        const char* why;
        size_t sources;
        DownloadPolicy policy;
        std::vector<Step> steps;
    } cases[] = {
        {"one source: backoffs from 1 s doubling, drawn up to their ceiling, capped, until the attempts run out",
         1, Policy(4, 3000),
         {Retry(broken, 0, 1000, 1000), Retry(broken, 0, 2000, 2000), Retry(broken, 0, 3000, 3000),
          End(broken, Reason::Broken)}},
        {"full jitter: the draw picks a wait within the ceiling", 1, Policy(3),
         {Retry(broken, 0, 0, 1001), Retry(broken, 0, 7, 2008)}},
        {"a Retry-After that fits is waited out; one past the longest wait ends a single source's call", 1,
         Policy(5, 3000),
         {Retry(busy, 0, 1000, 0, 0, 1000), End(busy, Reason::RetryLater, 0, 3001)}},
        {"a Retry-After too long moves to the next source at once, and ends the call on the last", 2, Policy(5),
         {Retry(busy, 1, 0, 0, 0, 120000), End(busy, Reason::RetryLater, 0, 120000)}},
        {"the deadline caps a backoff, ends a Retry-After past it, then ends the call", 1, Policy(9, 60000, 1500),
         {Retry(broken, 0, 500, 500, 1000), End(busy, Reason::RetryLater, 1200, 1000)}},
        {"at the deadline nothing more is tried", 1, Policy(9, 60000, 1500),
         {End(broken, Reason::Broken, 1500)}},
        {"twice in a row passes a source over; what is not retried there drops it; a passed-over one remains", 3,
         Policy(9),
         {Retry(broken, 0, 0), Retry(broken, 1, 0), Retry(Ended(Reason::HttpStatus, 404), 2, 0),
          Retry(Ended(Reason::DigestMismatch, 200), 0, 0), End(Ended(Reason::HttpStatus, 410), Reason::HttpStatus)}},
        {"a switch after a failure not retried in place does not wait; the next source starts its own count", 2,
         Policy(9),
         {Retry(Ended(Reason::Certificate), 1, 0), Retry(broken, 1, 1000, 1000), Retry(broken, 1, 2000, 2000)}},
        {"what ends the call ends it at once, whatever remains", 3, Policy(9),
         {Retry(broken, 0, 0), End(Ended(Reason::LocalFile), Reason::LocalFile)}},
    };
    for (const auto& c : cases) {
        RetryPlan plan(c.sources, c.policy, 0);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& expected = c.steps[i];
            const uint32_t attempt = plan.Attempt();
            const RetryStep step = plan.After(expected.end, expected.retryAfterMs, expected.now, expected.random);
            ASSERT_EQ(step.retry, expected.retry) << c.why << ", step " << i;
            if (step.retry) {
                EXPECT_EQ(step.source, expected.source) << c.why << ", step " << i;
                EXPECT_EQ(step.waitMs, expected.waitMs) << c.why << ", step " << i;
                EXPECT_EQ(plan.Attempt(), attempt + 1) << c.why << ", step " << i;
                EXPECT_EQ(plan.Source(), expected.source) << c.why << ", step " << i;
            } else {
                EXPECT_EQ(step.reason, expected.reason) << c.why << ", step " << i;
            }
        }
    }
}

}  // namespace
}  // namespace tamsel::agent
