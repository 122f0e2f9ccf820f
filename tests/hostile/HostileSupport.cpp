// Shared pieces of the hostile-world suites: their hosts, status checks and fixture; the helpers every
// suite shares come from tests/support.
#include "hostile/HostileSupport.h"

namespace tamsel::hostile {

::testing::AssertionResult NoStatusKept(test::FacedAgent& agent) {
    LONG status = 4242;
    const HRESULT http = agent.GetLastHttpStatus(&status);
    const HRESULT service = agent.GetLastServiceStatus(&status);
    if (http != E_FAIL || service != E_FAIL || status != 4242) {
        return ::testing::AssertionFailure() << "a status was kept: 0x" << std::hex << http << ", 0x" << service
                                             << std::dec << ", " << status;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HttpStatusKept(test::FacedAgent& agent, LONG expected) {
    LONG status = 4242;
    if (agent.GetLastHttpStatus(&status) != S_OK || status != expected) {
        return ::testing::AssertionFailure() << "HTTP status " << status << " instead of " << expected;
    }
    LONG service = 4242;
    if (agent.GetLastServiceStatus(&service) != E_FAIL) {
        return ::testing::AssertionFailure() << "a service status was kept too: " << service;
    }
    return ::testing::AssertionSuccess();
}

void HostileTest::AddDownload(const testbed::Route& route, const std::string& path, const std::string& host) {
    ASSERT_TRUE(loopback.Add(testbed::Route(path, host).Method("GET").Times(1).Body("look")));
    ASSERT_TRUE(loopback.Add(route));
}

HRESULT HostileTest::FetchWithin(DWORD limitMs, const char* url, std::shared_ptr<ProgressSink> sink) {
    auto result = std::make_shared<HRESULT>(S_FALSE);
    auto agent = this->agent;
    const std::string path = target;
    const std::string address = url;
    BoundedRun run([=] { *result = agent->FetchToFile(address.c_str(), path.c_str(), sink.get()); });
    const bool ended = run.Within(limitMs);
    elapsedMs = run.elapsedMs;
    EXPECT_TRUE(ended) << "FetchToFile still running after " << limitMs << " ms";
    return ended ? *result : S_FALSE;
}

}  // namespace tamsel::hostile
