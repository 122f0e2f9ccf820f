// Servers that accept and never answer, at each step of an operation: probe, Location look, POST, GET.
#include "hostile/HostileSupport.h"

namespace tamsel::hostile {
namespace {

using testbed::Route;

constexpr char FileUrl[] = "http://files.norvik.example/f.bin";
constexpr char FilePath[] = "/f.bin";
constexpr char ServiceUrl[] = "http://svc.norvik.example/svc";
constexpr uint32_t ShortWaitMs = 2000;
constexpr DWORD ShortBound = 4 * ShortWaitMs + 2000;

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
    ASSERT_TRUE(loopback.Add(Route(FilePath, Files).Generated(1000)));
    auto agent = this->agent;
    auto result = std::make_shared<HRESULT>(S_FALSE);
    const std::string path = target;
    BoundedRun run([=] { *result = agent->FetchToFile(FileUrl, path.c_str(), nullptr); });
    ASSERT_TRUE(run.Within(20000)) << "the probe's wait did not end the operation";
    EXPECT_EQ(*result, AGENT_E_NO_SESSION);
    EXPECT_GE(run.elapsedMs, 11500) << "the probe was not waited for";
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(RequestsTo(Files), 0u) << "nothing may follow a probe that saw nothing";
}

TEST_F(Silence, LocationLookThatNeverAnswersStillLetsTheDownloadRun) {
    ShortWaits shortWaits(ShortWaitMs);
    ASSERT_TRUE(loopback.Add(Route(FilePath, Files).Method("GET").Times(1).NeverAnswer()));
    ASSERT_TRUE(loopback.Add(Route(FilePath, Files).Generated(5000)));
    auto agent = this->agent;
    auto result = std::make_shared<HRESULT>(S_FALSE);
    const std::string path = target;
    BoundedRun run([=] { *result = agent->FetchToFile(FileUrl, path.c_str(), nullptr); });
    ASSERT_TRUE(run.Within(ShortBound)) << "the Location look was not given up";
    EXPECT_EQ(*result, S_OK) << "no Location: the URL itself is fetched";
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(RequestsTo(Files), 2u);
}

TEST_F(Silence, PostThatNeverAnswersIsAnHttpFailureWithStatusZero) {
    ShortWaits shortWaits(ShortWaitMs);
    ASSERT_TRUE(loopback.Add(Route("/svc", Service).Method("POST").NeverAnswer()));
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
        outcome->query = agent->QueryDownload(outcome->url, sizeof(outcome->url), ServiceUrl, "CODE", &outcome->size);
    });
    ASSERT_TRUE(query.Within(ShortBound)) << "QueryDownload still waiting for its reply";
    EXPECT_EQ(outcome->query, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(outcome->size, 0);
    EXPECT_STREQ(outcome->url, "untouched");
    EXPECT_TRUE(HttpStatusKept(*agent, 0)) << "no answer is kept as status 0";

    BoundedRun report([=] { outcome->report = agent->ReportDownload(ServiceUrl, "CODE", 1, &outcome->remaining); });
    ASSERT_TRUE(report.Within(ShortBound)) << "ReportDownload still waiting for its reply";
    EXPECT_EQ(outcome->report, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(outcome->remaining, -1);
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
}

TEST_F(Silence, GetThatNeverAnswersIsAnHttpFailureAndMakesNoFile) {
    ShortWaits shortWaits(ShortWaitMs);
    AddDownload(Route(FilePath, Files).NeverAnswer(), FilePath);
    ASSERT_TRUE(WriteWhole(target, "the host's own file"));
    auto agent = this->agent;
    auto result = std::make_shared<HRESULT>(S_FALSE);
    const std::string path = target;
    BoundedRun run([=] { *result = agent->FetchToFile(FileUrl, path.c_str(), nullptr); });
    ASSERT_TRUE(run.Within(ShortBound)) << "FetchToFile still waiting for its reply";
    EXPECT_EQ(*result, AGENT_E_HTTP_STATUS);
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
    EXPECT_EQ(Contents(target), "the host's own file") << "a download without an answer touches no file";
}

}  // namespace
}  // namespace tamsel::hostile
