// Each interface generation's result for each way an operation of the agent ends: the README's result
// tables, column by column, and what the first interface's download keeps for its getter.
#include "faces/Ops4Result.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

namespace tamsel::faces {
namespace {

using agent::Reason;

agent::Answer Ended(Reason reason, int32_t httpStatus = -1) {
    agent::Answer answer;
    answer.reason = reason;
    answer.httpStatus = httpStatus;
    return answer;
}

TEST(Results, EachGenerationTellsWhatItTellsApartAndCollapsesTheRest) {
    constexpr HRESULT PROXY = AGENT_E_PROXY_AUTH;
    const struct {
        Reason reason;
        int32_t httpStatus;
        HRESULT first, second, third;
    } cases[] = {
        {Reason::Done, -1, S_OK, S_OK, S_OK},
        {Reason::Busy, -1, AGENT_E_BUSY, AGENT_E_BUSY, AGENT_E_BUSY},
        {Reason::Refused, -1, E_INVALIDARG, E_INVALIDARG, E_INVALIDARG},
        {Reason::NotFound, -1, E_INVALIDARG, E_INVALIDARG, E_INVALIDARG},
        {Reason::NoInternet, -1, AGENT_E_NO_SESSION, AGENT_E_NO_SESSION, AGENT_E_NO_SESSION},
        {Reason::NoInternet, HTTP_STATUS_PROXY_AUTH_REQ, AGENT_E_NO_SESSION, PROXY, PROXY},
        {Reason::HttpStatus, 404, AGENT_E_HTTP_STATUS, AGENT_E_HTTP_STATUS, AGENT_E_HTTP_STATUS},
        {Reason::HttpStatus, HTTP_STATUS_PROXY_AUTH_REQ, AGENT_E_HTTP_STATUS, PROXY, PROXY},
        {Reason::ServiceStatus, HTTP_STATUS_PROXY_AUTH_REQ, AGENT_E_SERVICE_STATUS, AGENT_E_SERVICE_STATUS,
         AGENT_E_SERVICE_STATUS},
        {Reason::Cancelled, -1, S_OK, E_ABORT, E_ABORT},
        {Reason::Broken, -1, E_FAIL, E_FAIL, AGENT_E_BROKEN},
        {Reason::SizeMismatch, -1, E_FAIL, AGENT_E_SIZE_MISMATCH, AGENT_E_SIZE_MISMATCH},
        {Reason::DigestMismatch, -1, E_FAIL, E_FAIL, AGENT_E_DIGEST_MISMATCH},
        {Reason::Certificate, -1, AGENT_E_HTTP_STATUS, AGENT_E_CERTIFICATE, AGENT_E_CERTIFICATE},
        {Reason::InsecureRedirect, -1, E_FAIL, AGENT_E_INSECURE_REDIRECT, AGENT_E_INSECURE_REDIRECT},
        {Reason::LocalFile, -1, E_FAIL, E_FAIL, E_FAIL},
        {Reason::OutOfMemory, -1, E_OUTOFMEMORY, E_OUTOFMEMORY, E_OUTOFMEMORY},
        {Reason::Unexpected, -1, E_UNEXPECTED, E_UNEXPECTED, E_UNEXPECTED},
    };
    for (const auto& c : cases) {
        const agent::Answer answer = Ended(c.reason, c.httpStatus);
        SCOPED_TRACE(testing::Message() << "reason " << static_cast<int>(c.reason) << ", HTTP status " << c.httpStatus);
        EXPECT_EQ(OpsResult(answer), c.first);
        EXPECT_EQ(Ops2Result(answer), c.second);
        EXPECT_EQ(Ops3Result(answer), c.third);
    }
}

TEST(Results, TheThirdGivesTheLocalFilesOwnCode) {
    EXPECT_EQ(Ops3Result(Ended(Reason::LocalFile), ERROR_ACCESS_DENIED), E_ACCESSDENIED) << "a read-only target";
    EXPECT_EQ(Ops3Result(Ended(Reason::LocalFile), ERROR_DISK_FULL), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(Ops2Result(Ended(Reason::LocalFile)), E_FAIL);
}

TEST(Results, TheFirstInterfacesDownloadKeepsStatus0ForARefusedCertificate) {
    agent::AgentObject agent;
    agent::DownloadOutcome outcome;
    outcome.reason = Reason::Certificate;
    EXPECT_EQ(FetchResult(agent, outcome), AGENT_E_HTTP_STATUS);
    LONG status = 99;
    EXPECT_EQ(StatusResult(agent.LastHttpStatus(), &status), S_OK);
    EXPECT_EQ(status, 0) << "the exchange that could not be made";
    EXPECT_EQ(StatusResult(agent.LastServiceStatus(), &status), E_FAIL);
    EXPECT_EQ(status, 0) << "a slot that keeps nothing leaves the output alone";
}

TEST(Results, AnUnknownFlagIsARequestTheAgentRefusesAndTheVerifiedDownloadIsAlwaysSafe) {
    EXPECT_FALSE(FetchExRequest("u", L"p", TAMSEL_FETCH_RESUME | TAMSEL_FETCH_STRICT_TLS, -1).refused);
    EXPECT_TRUE(FetchExRequest("u", L"p", 0x8, -1).refused);
    const agent::DownloadRequest verified = VerifiedRequest("u", nullptr, 0, 5, nullptr);
    EXPECT_TRUE(verified.safely);
    EXPECT_TRUE(verified.sha256.empty()) << "a null digest proves nothing";
    EXPECT_TRUE(verified.path.empty()) << "a null path is an empty one";
    EXPECT_EQ(verified.expectedSize, 5);
}

TEST(Results, TheFourthTellsRetryLaterAndAnAttemptsExchangeByThePlatformsCode) {
    EXPECT_EQ(Ops4Result(Ended(Reason::RetryLater)), AGENT_E_RETRY_LATER);
    EXPECT_EQ(Ops3Result(Ended(Reason::RetryLater)), E_FAIL) << "no earlier download ends so";
    EXPECT_EQ(Ops4Result(Ended(Reason::Broken)), AGENT_E_BROKEN);
    EXPECT_EQ(Ops4Result(Ended(Reason::LocalFile), ERROR_DISK_FULL), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    const struct {
        agent::AttemptEnd end;
        HRESULT result;
    } attempts[] = {
        {{Reason::Done, 200, 0, 0}, S_OK},
        {{Reason::HttpStatus, 0, 0, ERROR_INTERNET_CANNOT_CONNECT}, HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT)},
        {{Reason::HttpStatus, 0, 0, 0}, AGENT_E_HTTP_STATUS},
        {{Reason::HttpStatus, 503, 0, 0}, AGENT_E_HTTP_STATUS},
        {{Reason::HttpStatus, 407, 0, 0}, AGENT_E_PROXY_AUTH},
        {{Reason::LocalFile, 200, ERROR_DISK_FULL, 0}, HRESULT_FROM_WIN32(ERROR_DISK_FULL)},
        {{Reason::Cancelled, 200, 0, 0}, E_ABORT},
    };
    for (const auto& a : attempts) EXPECT_EQ(AttemptResult(a.end), a.result) << static_cast<int>(a.end.reason);
}

TEST(Results, TheResilientRequestReadsTheListAndThePolicyAndRefusesWhatItCannotTake) {
    const agent::ResilientRequest two = ResilientRequestOf("http://a/f\0http://b/f\0", L"p", 0, -1, nullptr, nullptr);
    ASSERT_EQ(two.sources.size(), 2u);
    EXPECT_EQ(two.sources[1], "http://b/f");
    EXPECT_STREQ(two.download.url, "http://a/f");
    EXPECT_TRUE(two.download.safely);
    EXPECT_FALSE(two.download.refused);
    EXPECT_EQ(two.policy.maxAttempts, 5u) << "a null policy is the defaults";
    EXPECT_EQ(two.policy.maxRetryWaitMs, 60000u);

    TAMSEL_DOWNLOAD_POLICY policy = {sizeof(policy), 0, 250, 9000, 500, 65536, 3};
    const agent::ResilientRequest given = ResilientRequestOf("http://a/f\0", L"p", 0, -1, nullptr, &policy);
    EXPECT_EQ(given.policy.maxAttempts, 5u) << "0 is the default";
    EXPECT_EQ(given.policy.maxRetryWaitMs, 250u);
    EXPECT_EQ(given.policy.deadlineMs, 9000u);
    EXPECT_EQ(given.policy.stallMs, 500u);
    EXPECT_EQ(given.policy.maxBytesPerSecond, 65536u);
    EXPECT_EQ(given.policy.connections, 3u) << "kept, for the next version to use";
    EXPECT_FALSE(given.download.refused);

    policy.cbSize = sizeof(policy) + 4;
    EXPECT_TRUE(ResilientRequestOf("http://a/f\0", L"p", 0, -1, nullptr, &policy).download.refused)
        << "a policy of a size the agent does not know";
    EXPECT_TRUE(ResilientRequestOf("http://a/f\0", L"p", 0x8, -1, nullptr, nullptr).download.refused);
    EXPECT_TRUE(ResilientRequestOf("\0", L"p", 0, -1, nullptr, nullptr).sources.empty());
    EXPECT_TRUE(ResilientRequestOf(nullptr, L"p", 0, -1, nullptr, nullptr).sources.empty());
    std::string many;
    for (int i = 0; i < 40; ++i) many += "http://m/" + std::to_string(i) + '\0';
    EXPECT_GT(ResilientRequestOf(many.c_str(), L"p", 0, -1, nullptr, nullptr).sources.size(),
              agent::ResilientRequest::MAX_SOURCES) << "more than the agent takes, for it to refuse";
}

}  // namespace
}  // namespace tamsel::faces
