// The agent on the wire with every call bounded in time: an agent a call left running may outlive the test
// with, a scratch folder and a target in it, and the checks of the status slots the suites share.
#include "support/AgentWire.h"

#include <vector>

namespace tamsel::test {

::testing::AssertionResult NoStatusKept(FacedAgent& agent) {
    LONG status = 4242;
    const HRESULT http = agent.GetLastHttpStatus(&status);
    const HRESULT service = agent.GetLastServiceStatus(&status);
    if (http != E_FAIL || service != E_FAIL || status != 4242) {
        return ::testing::AssertionFailure() << "a status was kept: 0x" << std::hex << http << ", 0x" << service
                                             << std::dec << ", " << status;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HttpStatusKept(FacedAgent& agent, LONG expected) {
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

void AgentWireTest::AddDownload(const testbed::Route& route, const std::string& path, const std::string& host) {
    ASSERT_TRUE(loopback.Add(testbed::Route(path, host).Method("GET").Times(1).Body("look")));
    ASSERT_TRUE(loopback.Add(route));
}

HRESULT AgentWireTest::FetchWithin(DWORD limitMs, const std::string& url, std::shared_ptr<ProgressSink> sink,
                                   Download call) {
    auto result = std::make_shared<HRESULT>(S_FALSE);
    auto agent = this->agent;
    const std::string path = target;
    BoundedRun run([=] {
        const std::wstring wide = Wide(path);
        switch (call) {
            case Download::FETCH_TO_FILE: *result = agent->FetchToFile(url.c_str(), path.c_str(), sink.get()); break;
            case Download::VERIFIED:
                *result = agent->FetchToFileVerified(url.c_str(), wide.c_str(), sink.get(), 0, -1, nullptr);
                break;
            case Download::RESUMING:
                *result = agent->FetchToFileEx(url.c_str(), wide.c_str(), sink.get(), TAMSEL_FETCH_RESUME, -1);
                break;
        }
    });
    const bool ended = run.Within(limitMs);
    elapsedMs = run.elapsedMs;
    EXPECT_TRUE(ended) << "the download still running after " << limitMs << " ms";
    return ended ? *result : S_FALSE;
}

QueryOutcome AgentWireTest::Query(const char* code, DWORD limitMs) {
    auto outcome = std::make_shared<QueryOutcome>();
    auto agent = this->agent;
    const std::string codeText = code;
    BoundedRun run([=] {
        std::vector<char> buffer(70000, '\x7f');
        outcome->result = agent->QueryDownload(buffer.data(), static_cast<ULONG>(buffer.size()),
                                               testbed::SERVICE_URL, codeText.c_str(), &outcome->size);
        outcome->url = buffer[0] == '\x7f' ? "<untouched>" : std::string(buffer.data());
    });
    EXPECT_TRUE(run.Within(limitMs)) << "QueryDownload still running after " << limitMs << " ms";
    elapsedMs = run.elapsedMs;
    return *outcome;
}

}  // namespace tamsel::test
