// LookupRedirect on the wire: the query URL it composes, which Location answers count, the buffer rule.
#include "support/AgentWire.h"

#include "support/Testbed.h"
#include "web/FixedUrls.h"

#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using testbed::Route;

constexpr char LOOKUP_HOST[] = "lookup.norvik.example";
constexpr char LOOKUP_URL[] = "http://lookup.norvik.example/find";
constexpr char CANARY = '#';

class LookupRedirectWire : public testbed::TestbedTest {
protected:
    // The requests that reached the lookup host, the probe's left out.
    std::vector<testbed::RecordedRequest> LookupRequests() {
        std::vector<testbed::RecordedRequest> chosen;
        for (testbed::RecordedRequest& request : loopback.Requests()) {
            if (request.host == LOOKUP_HOST) chosen.push_back(std::move(request));
        }
        return chosen;
    }


    test::FacedAgent agent;
    std::string target = std::string(256, CANARY);
};

TEST_F(LookupRedirectWire, ComposesTheQueryByPlainConcatenation) {
    struct Case {
        const char* lookupUrl;
        const char* serial;
        const char* language;
        const char* type;
        const char* sentTarget;
    };
    const Case cases[] = {
        {LOOKUP_URL, "A1B2-C3", "en", "full", "/find?SN=A1B2-C3&LN=en&TYPE=full"},
        // "&" and "=" inside a value go out as they are: the server sees extra pairs.
        {LOOKUP_URL, "S&N=1", "de=x", "a&b", "/find?SN=S&N=1&LN=de=x&TYPE=a&b"},
        // The lookup URL is never inspected: one that has a query gets a second "?".
        {"http://lookup.norvik.example/find?v=2", "S", "fr", "t", "/find?v=2?SN=S&LN=fr&TYPE=t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sentTarget);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/find", LOOKUP_HOST).Status(302).Header("Location: http://www.norvik.example/page"));
        EXPECT_EQ(agent.LookupRedirect(target.data(), 256, c.lookupUrl, c.serial, c.language, c.type), S_OK);
        const auto requests = LookupRequests();
        ASSERT_EQ(requests.size(), 1u) << "one GET of the query URL, and the Location is not fetched";
        EXPECT_EQ(requests[0].target, c.sentTarget);
        EXPECT_EQ(requests[0].RequestLine().substr(0, 4), "GET ");
        EXPECT_EQ(requests[0].Body(), "");
    }
}

TEST_F(LookupRedirectWire, SpacesInTheArgumentsArePassedOnToThePlatform) {
    loopback.Add(Route("/find", LOOKUP_HOST).Status(302).Header("Location: http://www.norvik.example/page"));
    EXPECT_EQ(agent.LookupRedirect(target.data(), 256, LOOKUP_URL, "A B", "en", "t"), S_OK);
    const auto requests = LookupRequests();
    ASSERT_EQ(requests.size(), 1u);
    // The agent hands the space on as is and the platform sends it as "%20"; a form encoding by the
    // agent would show "+", and a dropped or cut argument would show too.
    EXPECT_EQ(requests[0].target, "/find?SN=A%20B&LN=en&TYPE=t") << requests[0].RequestLine();
}

TEST_F(LookupRedirectWire, TheLocationIsTheAnswerWhateverTheStatus) {
    for (const int status : {301, 302, 200, 404, 500}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(loopback.Reset());
        const std::string location = "http://www.norvik.example/support/page?id=" + std::to_string(status);
        loopback.Add(Route("/find", LOOKUP_HOST).Status(status).Header("Location: " + location));
        target.assign(256, CANARY);
        EXPECT_EQ(agent.LookupRedirect(target.data(), 256, LOOKUP_URL, "S", "en", "t"), S_OK);
        EXPECT_EQ(target.substr(0, location.size() + 1), location + '\0');
        EXPECT_EQ(target[location.size() + 1], CANARY);
        EXPECT_TRUE(test::NoStatusKept(agent));
    }
}

TEST_F(LookupRedirectWire, OnlyTheExactHomePageCountsAsNothingFound) {
    const std::string home = HomePageUrl;
    struct Case {
        std::string location;
        HRESULT expected;
    };
    const Case cases[] = {
        {home, E_INVALIDARG},
        {home + "/", S_OK},
        {home + "/index.html", S_OK},
        {"HTTP://WWW.NORVIK.EXAMPLE", S_OK},  // compared byte for byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/find", LOOKUP_HOST).Status(302).Header("Location: " + c.location));
        target.assign(256, CANARY);
        EXPECT_EQ(agent.LookupRedirect(target.data(), 256, LOOKUP_URL, "S", "en", "t"), c.expected);
        if (c.expected == S_OK) {
            EXPECT_STREQ(target.c_str(), c.location.c_str());
        } else {
            EXPECT_EQ(target, std::string(256, CANARY));
        }
    }
}

TEST_F(LookupRedirectWire, NoUsableAnswerIsAnInvalidArgumentAndKeepsNoStatus) {
    struct Case {
        const char* what;
        Route route;
    };
    const Case cases[] = {
        {"no Location", Route("/find", LOOKUP_HOST).Status(302)},
        {"404 without Location", Route("/find", LOOKUP_HOST).Status(404)},
        {"500 without Location", Route("/find", LOOKUP_HOST).Status(500)},
        {"empty Location", Route("/find", LOOKUP_HOST).Status(302).Header("Location: ")},
        {"connection closed unanswered", Route("/find", LOOKUP_HOST).CloseWithoutAnswer()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(c.route);
        target.assign(256, CANARY);
        EXPECT_EQ(agent.LookupRedirect(target.data(), 256, LOOKUP_URL, "S", "en", "t"), E_INVALIDARG);
        EXPECT_EQ(target, std::string(256, CANARY));
        EXPECT_TRUE(test::NoStatusKept(agent));
    }
}

TEST_F(LookupRedirectWire, TargetOfLengthLNeedsABufferOfLPlusOne) {
    const std::string location = "http://www.norvik.example/support/a-page-of-some-length";
    const ULONG length = static_cast<ULONG>(location.size());
    loopback.Add(Route("/find", LOOKUP_HOST).Status(302).Header("Location: " + location));

    for (const ULONG size : {ULONG(0), ULONG(1), length}) {
        SCOPED_TRACE(size);
        target.assign(256, CANARY);
        EXPECT_EQ(agent.LookupRedirect(target.data(), size, LOOKUP_URL, "S", "en", "t"), AGENT_E_BUFFER_TOO_SMALL);
        EXPECT_EQ(target, std::string(256, CANARY)) << "a refused buffer must stay as it was";
        EXPECT_TRUE(test::NoStatusKept(agent));
    }

    target.assign(256, CANARY);
    EXPECT_EQ(agent.LookupRedirect(target.data(), length + 1, LOOKUP_URL, "S", "en", "t"), S_OK);
    EXPECT_EQ(target.substr(0, length + 1), location + '\0');
    EXPECT_EQ(target.substr(length + 1), std::string(256 - length - 1, CANARY));
}

TEST_F(LookupRedirectWire, ClearsTheSlotsThatAnEarlierFailureLeft) {
    loopback.Add(Route("/svc", "svc.norvik.example").Method("POST").Status(503));
    LONGLONG size = -1;
    char url[16];
    ASSERT_EQ(agent.QueryDownload(url, sizeof url, "http://svc.norvik.example/svc", "CODE", &size),
              AGENT_E_HTTP_STATUS);
    LONG status = 0;
    ASSERT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    ASSERT_EQ(status, 503);

    loopback.Add(Route("/find", LOOKUP_HOST).Status(404));
    EXPECT_EQ(agent.LookupRedirect(target.data(), 256, LOOKUP_URL, "S", "en", "t"), E_INVALIDARG);
    EXPECT_TRUE(test::NoStatusKept(agent));
}

}  // namespace
}  // namespace tamsel::agent
