// Servers that accept and never answer, at each step of an operation: probe, Location look, POST, GET.
#include "hostile/HostileSupport.h"

namespace tamsel::hostile {
namespace {

using testbed::Route;

constexpr uint32_t SHORT_WAIT_MS = 2000;
constexpr DWORD SHORT_BOUND = 4 * SHORT_WAIT_MS + 2000;

class Silence : public HostileTest {
protected:
    // The requests that reached host, on the proxy's plain channel.
    size_t RequestsTo(const std::string& host) {
        size_t count = 0;
        for (const auto& request : loopback.Requests("http")) count += request.host == host ? 1 : 0;
        return count;
    }
};

TEST_F(Silence, ProbeThatNeverAnswersMeansNoSessionAfterTheTwelveSecondWait) {
    // The product's own waits: only the probe's 12 s bound may end this.
    ASSERT_TRUE(loopback.Add(Route("/").NeverAnswer()));
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000)));
    const HRESULT result = FetchWithin(20000);
    ASSERT_NE(result, S_FALSE) << "the probe's wait did not end the operation";
    EXPECT_EQ(result, AGENT_E_NO_SESSION);
    EXPECT_GE(elapsedMs, 11500) << "the probe was not waited for";
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(RequestsTo(FILES_HOST), 0u) << "nothing may follow a probe that saw nothing";
}

TEST_F(Silence, LocationLookThatNeverAnswersStillLetsTheDownloadRun) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Method("GET").Times(1).NeverAnswer()));
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(5000)));
    const HRESULT result = FetchWithin(SHORT_BOUND);
    ASSERT_NE(result, S_FALSE) << "the Location look was not given up";
    EXPECT_EQ(result, S_OK) << "no Location: the URL itself is fetched";
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(RequestsTo(FILES_HOST), 2u);
}

TEST_F(Silence, PostThatNeverAnswersIsAnHttpFailureWithStatusZero) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").NeverAnswer()));
    auto agent = this->agent;
    struct Outcome {
        HRESULT query = S_FALSE;
        HRESULT report = S_FALSE;
        char url[64] = "untouched";
        LONGLONG size = 99;
        LONG remaining = 99;
    };
    auto outcome = std::make_shared<Outcome>();
    BoundedRun query([=] {
        outcome->query = agent->QueryDownload(outcome->url, sizeof(outcome->url), SERVICE_URL, "CODE", &outcome->size);
    });
    ASSERT_TRUE(query.Within(SHORT_BOUND)) << "QueryDownload still waiting for its reply";
    EXPECT_EQ(outcome->query, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(outcome->size, 0);
    EXPECT_STREQ(outcome->url, "untouched");
    EXPECT_TRUE(HttpStatusKept(*agent, 0)) << "no answer is kept as status 0";

    BoundedRun report([=] { outcome->report = agent->ReportDownload(SERVICE_URL, "CODE", 1, &outcome->remaining); });
    ASSERT_TRUE(report.Within(SHORT_BOUND)) << "ReportDownload still waiting for its reply";
    EXPECT_EQ(outcome->report, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(outcome->remaining, -1);
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
}

TEST_F(Silence, GetThatNeverAnswersIsAnHttpFailureAndMakesNoFile) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    AddDownload(Route(FILE_PATH, FILES_HOST).NeverAnswer(), FILE_PATH);
    ASSERT_TRUE(WriteWhole(target, "the host's own file"));
    const HRESULT result = FetchWithin(SHORT_BOUND);
    ASSERT_NE(result, S_FALSE) << "FetchToFile still waiting for its reply";
    EXPECT_EQ(result, AGENT_E_HTTP_STATUS);
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
    EXPECT_EQ(Contents(target), "the host's own file") << "a download without an answer touches no file";
}

}  // namespace
}  // namespace tamsel::hostile
