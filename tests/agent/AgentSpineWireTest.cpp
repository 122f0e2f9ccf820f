// Wire tests of the agent's prologue: one probe before every network operation, and what a failed,
// refused or late probe leaves behind.
#include "support/FacedAgent.h"

#include "support/Files.h"
#include "support/Testbed.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::Route;

constexpr char SERVICE_URL[] = "http://www.norvik.example/svc";

class AgentSpineWire : public testbed::TestbedTest {};

// The only requests are probes of the maker's page: nothing else was asked for.
void ExpectOnlyProbes(const std::vector<testbed::RecordedRequest>& requests, size_t count) {
    ASSERT_EQ(requests.size(), count);
    for (const auto& request : requests) {
        EXPECT_EQ(request.RequestLine(), "GET http://www.norvik.example:80/ HTTP/1.1");
    }
}

TEST(AgentSpine, NewObjectHasNothingToReport) {
    test::FacedAgent agent;
    LONG status = 77;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL);
    EXPECT_EQ(agent.GetLastServiceStatus(&status), E_FAIL);
    EXPECT_EQ(status, 77);
}

TEST_F(AgentSpineWire, EveryOperationFailsFastWithoutSessionWhenTheProbeIsNot200) {
    const struct {
        const char* why;
        Route probe;
    } cases[] = {
        {"redirect", Route("/").Status(302).Header("Location: http://www.norvik.example/moved")},
        {"moved for good", Route("/").Status(301).Header("Location: http://www.norvik.example/moved")},
        {"proxy cannot reach it", Route("/").Status(502, "Bad Gateway")},
        {"proxy refuses it", Route("/").CloseWithoutAnswer()},
    };
    const test::ScratchFolder folder;
    const std::string file = folder.File("never-written.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(c.probe);
        test::FacedAgent agent;
        char buffer[16] = "untouched";
        LONGLONG size = 12345;
        LONG remaining = 7;
        const DWORD start = ::GetTickCount();
        EXPECT_EQ(agent.QueryDownload(buffer, sizeof buffer, SERVICE_URL, "code", &size), AGENT_E_NO_SESSION);
        EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "code", 1, &remaining), AGENT_E_NO_SESSION);
        EXPECT_EQ(agent.LookupRedirect(buffer, sizeof buffer, SERVICE_URL, "SN1", "en", "t"), AGENT_E_NO_SESSION);
        EXPECT_EQ(agent.FetchToFile(SERVICE_URL, file.c_str(), nullptr), AGENT_E_NO_SESSION);
        // A probe that fails at once must not be waited out: four operations well within one probe bound.
        EXPECT_LT(::GetTickCount() - start, 10000u);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(remaining, -1);
        EXPECT_STREQ(buffer, "untouched");
        EXPECT_EQ(::GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
        LONG status = 77;
        EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL);
        EXPECT_EQ(status, 77);
        ExpectOnlyProbes(loopback.Requests(), 4);
    }
}

TEST_F(AgentSpineWire, ProbeComesBeforeTheArgumentChecks) {
    loopback.Add(Route("/").Status(500));
    test::FacedAgent agent;
    LONGLONG size = 12345;
    LONG remaining = 7;
    EXPECT_EQ(agent.QueryDownload(nullptr, 0, "", "", &size), AGENT_E_NO_SESSION);
    EXPECT_EQ(agent.ReportDownload("", "", 0, &remaining), AGENT_E_NO_SESSION);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(remaining, -1);
    ExpectOnlyProbes(loopback.Requests(), 2);

    // With the probe answered, the same calls reach their argument checks, outputs set all the same.
    ASSERT_TRUE(loopback.Reset());
    size = 12345;
    remaining = 7;
    EXPECT_EQ(agent.QueryDownload(nullptr, 0, "", "code", &size), E_INVALIDARG);
    EXPECT_EQ(agent.ReportDownload("", "code", 0, &remaining), E_INVALIDARG);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(remaining, -1);
    ExpectOnlyProbes(loopback.Requests(), 2);
}

TEST_F(AgentSpineWire, FailedProbeClearsWhatTheLastOperationLeft) {
    loopback.Add(Route("/svc").Status(503));
    test::FacedAgent agent;
    char buffer[64] = "";
    LONGLONG size = 0;
    ASSERT_EQ(agent.QueryDownload(buffer, sizeof buffer, SERVICE_URL, "code", &size), AGENT_E_HTTP_STATUS);
    LONG status = 0;
    ASSERT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    EXPECT_EQ(status, 503);

    loopback.Add(Route("/").Status(404));
    EXPECT_EQ(agent.QueryDownload(buffer, sizeof buffer, SERVICE_URL, "code", &size), AGENT_E_NO_SESSION);
    status = 77;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL);
    EXPECT_EQ(status, 77);
}

// A captive portal takes the network over moments after a download's probe passed: the probe page is
// sent to its login page, and so is every other URL. The next operation's probe fails, and from then on
// no download may take the earlier pass for its own, whatever interface the failed probe came from.
TEST_F(AgentSpineWire, AFailedProbeRevokesTheRecentPassOfADownload) {
    const test::ScratchFolder folder;
    const std::string target = folder.File("download.bin");
    const std::string other = folder.File("other.bin");
    const std::wstring wideTarget(target.begin(), target.end());  // the scratch folder's path is ASCII
    char buffer[256] = "";
    char digest[65] = "";
    LONGLONG size = 0;
    LONG remaining = 0;
    const struct {
        const char* why;
        std::function<HRESULT(test::FacedAgent&)> failing;
    } cases[] = {
        {"QueryDownload",
         [&](test::FacedAgent& a) { return a.QueryDownload(buffer, sizeof buffer, SERVICE_URL, "c", &size); }},
        {"LookupRedirect",
         [&](test::FacedAgent& a) { return a.LookupRedirect(buffer, sizeof buffer, SERVICE_URL, "S", "en", "t"); }},
        {"ReportDownload", [&](test::FacedAgent& a) { return a.ReportDownload(SERVICE_URL, "c", 1, &remaining); }},
        {"FetchToFile", [&](test::FacedAgent& a) { return a.FetchToFile(FILE_URL, other.c_str(), nullptr); }},
        {"QueryDownloadEx", [&](test::FacedAgent& a) {
             return a.QueryDownloadEx(buffer, sizeof buffer, SERVICE_URL, "c", &size, digest, sizeof digest);
         }},
    };
    const std::string probeLine = "GET http://www.norvik.example:80/ HTTP/1.1";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/f.bin", FILES_HOST).Times(1).Body("the file"));
        test::FacedAgent agent;
        ASSERT_EQ(agent.FetchToFileEx(FILE_URL, wideTarget.c_str(), nullptr, 0, -1), S_OK);
        const DWORD passed = ::GetTickCount();
        loopback.Add(Route("/").Status(302).Header("Location: http://portal.example/login"));
        loopback.Add(Route("/f.bin", FILES_HOST).Body("<html>log in to the hotel's network</html>"));
        EXPECT_EQ(c.failing(agent), AGENT_E_NO_SESSION);
        const size_t before = loopback.Requests().size();

        EXPECT_EQ(agent.FetchToFileEx(FILE_URL, wideTarget.c_str(), nullptr, 0, -1), AGENT_E_NO_SESSION);
        ASSERT_LT(::GetTickCount() - passed, AgentObject::RECENT_PROBE_MS) << "the pass was no longer recent";
        EXPECT_EQ(test::Contents(target), "the file");
        EXPECT_FALSE(test::Exists(other));
        // The download probed afresh beside its own request, whose reply was let go of (in whichever
        // order the platform sent them).
        std::vector<std::string> lines;
        for (const auto& request : loopback.Requests()) lines.push_back(request.RequestLine());
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(before, lines.size())));
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{"GET http://files.norvik.example:80/f.bin HTTP/1.0", probeLine}));
        ::DeleteFileA(target.c_str());
    }
}

// A probe answered after 13 s: the operation gives up at the 12 s bound, and the answer that comes
// later finds a worker whose agent is already gone. Nothing may break, then or after.
TEST_F(AgentSpineWire, LateProbeAnswerGivesNoSessionAndHarmsNothing) {
    loopback.Add(Route("/").Times(1).DelayMs(13000));
    auto agent = std::make_unique<test::FacedAgent>();
    char buffer[16] = "untouched";
    LONGLONG size = 12345;
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(agent->QueryDownload(buffer, sizeof buffer, SERVICE_URL, "code", &size), AGENT_E_NO_SESSION);
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_GE(elapsed, 11000u) << "the probe's answer was not waited for";
    EXPECT_LT(elapsed, 20000u) << "the wait for the probe is not bounded";
    EXPECT_EQ(size, 0);
    EXPECT_STREQ(buffer, "untouched");
    agent.reset();  // the worker still waits for its answer

    // The next operation probes afresh (the delayed route is used up) while the late answer is due.
    test::FacedAgent next;
    LONG remaining = 7;
    EXPECT_EQ(next.ReportDownload("", "code", 1, &remaining), E_INVALIDARG);
    EXPECT_EQ(remaining, -1);
    const DWORD lateAnswerDone = 13000 + 2000;
    const DWORD sinceStart = ::GetTickCount() - start;
    if (sinceStart < lateAnswerDone) {
        ::Sleep(lateAnswerDone - sinceStart);
    }
    remaining = 7;
    EXPECT_EQ(next.ReportDownload("", "code", 1, &remaining), E_INVALIDARG);
    EXPECT_EQ(remaining, -1);
    LONG status = 77;
    EXPECT_EQ(next.GetLastHttpStatus(&status), E_FAIL);
    ExpectOnlyProbes(loopback.Requests(), 3);
}

}  // namespace
}  // namespace tamsel::agent
