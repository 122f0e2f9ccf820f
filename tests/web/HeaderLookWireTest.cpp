// Wire tests of the header-only looks: what the probe sends, redirects left unfollowed, long headers.
#include "web/HeaderLook.h"

#include "support/Testbed.h"
#include "web/FixedUrls.h"

#include <string>
#include <vector>

namespace tamsel::web {
namespace {

using testbed::Route;

class HeaderLookWire : public testbed::TestbedTest {};

// Every header line of a look at www.norvik.example that reaches the server: the agent text and the
// no-cache pragma are ours, the rest is the platform's own.
std::vector<std::string> LookHeaders() {
    return {
        "Accept: */*",
        "Host: www.norvik.example",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
        "Pragma: no-cache",
    };
}

TEST_F(HeaderLookWire, ProbeSendsAgentTextAndNoCacheThroughTheProxy) {
    EXPECT_EQ(CheckInternet(), 200);

    const auto requests = loopback.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "GET http://www.norvik.example:80/ HTTP/1.1");
    EXPECT_EQ(requests[0].HeaderLines(), LookHeaders());
    EXPECT_EQ(requests[0].Body(), "");
}

TEST_F(HeaderLookWire, StatusIsTheAnswerOfTheUrlItself) {
    for (const int answer : {200, 204, 301, 302, 404, 500}) {
        SCOPED_TRACE(answer);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/").Status(answer).Header("Location: http://www.norvik.example/moved"));
        EXPECT_EQ(GetUrlStatus(ProbeUrl), answer);
        EXPECT_EQ(CheckInternet(), answer);
        // Redirects are never followed: only the two looks at the URL itself reach the server.
        const auto requests = loopback.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].target, "/");
        EXPECT_EQ(requests[1].target, "/");
    }
}

TEST_F(HeaderLookWire, UrlThatCannotBeOpenedGives502) {
    // A certificate from an authority nobody trusts fails the opening as surely as a bad URL.
    for (const char* url : {"no scheme at all", "gopher://www.norvik.example/", "https://untrusted.norvik.example/"}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(GetUrlStatus(url), 502);
        EXPECT_EQ(QueryUrlHeader(url, "Location"), "");
    }
}

TEST_F(HeaderLookWire, ConnectionClosedWithoutAnswerGivesNoStatus) {
    // The platform opens the URL but has no status line to read: 0, which is not 200 either.
    loopback.Add(Route("/").CloseWithoutAnswer());
    EXPECT_EQ(GetUrlStatus(ProbeUrl), 0);
    EXPECT_EQ(CheckInternet(), 0);
}

TEST_F(HeaderLookWire, HttpsProbeGoesThroughTheTunnelWithTheSameRequest) {
    loopback.Add(Route("/secure").Status(302).Header("Location: https://www.norvik.example/next"));
    EXPECT_EQ(GetUrlStatus("https://www.norvik.example/secure"), 302);
    EXPECT_EQ(QueryUrlHeader("https://www.norvik.example/secure", "Location"), "https://www.norvik.example/next");
    const auto inside = loopback.Requests("https");
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_EQ(inside[0].RequestLine(), "GET /secure HTTP/1.1");
    EXPECT_EQ(inside[0].HeaderLines(), LookHeaders());
}

TEST_F(HeaderLookWire, LocationLongerThanTheFirstBufferComesBackWhole) {
    std::string target = "http://files.norvik.example/";
    for (int i = 0; target.size() < 3000; ++i) {
        target += static_cast<char>('a' + i % 26);
    }
    loopback.Add(Route("/svc").Status(302).Header("Location: " + target));
    const std::string location = QueryUrlHeader("http://www.norvik.example/svc", "Location");
    EXPECT_EQ(location.size(), 3000u);
    EXPECT_EQ(location, target);
    EXPECT_EQ(loopback.Requests().size(), 1u) << "the Location target must not be fetched";
}

TEST_F(HeaderLookWire, LocationIsReadWhateverTheStatus) {
    loopback.Add(Route("/ok").Header("Location: http://www.norvik.example/elsewhere?x=1&y=2"));
    EXPECT_EQ(QueryUrlHeader("http://www.norvik.example/ok", "Location"),
              "http://www.norvik.example/elsewhere?x=1&y=2");
}

TEST_F(HeaderLookWire, OnlyTheFirstHeaderOfThatNameIsRead) {
    loopback.Add(Route("/two").Status(302).Header("Location: http://first.example/").Header(
        "Location: http://second.example/"));
    EXPECT_EQ(QueryUrlHeader("http://www.norvik.example/two", "Location"), "http://first.example/");
}

TEST_F(HeaderLookWire, MissingHeaderGivesEmpty) {
    loopback.Add(Route("/none").Status(302).Header("X-Location: http://not.this.one/"));
    EXPECT_EQ(QueryUrlHeader("http://www.norvik.example/none", "Location"), "");
    EXPECT_EQ(QueryUrlHeader("http://www.norvik.example/none", "X-Location"), "http://not.this.one/");
}

TEST_F(HeaderLookWire, QueryOfTheUrlReachesTheServerUnchanged) {
    loopback.Add(Route("/lookup?SN=A1&LN=en").Status(302).Header("Location: http://x.example/"));
    EXPECT_EQ(QueryUrlHeader("http://www.norvik.example/lookup?SN=A1&LN=en", "Location"), "http://x.example/");
    const auto requests = loopback.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/lookup?SN=A1&LN=en") << requests[0].RequestLine();

    // A fragment too: the platform opens the URL with it, where the download GET and the POST drop it.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route("/page#part").Status(302).Header("Location: http://x.example/"));
    EXPECT_EQ(QueryUrlHeader("http://www.norvik.example/page#part", "Location"), "http://x.example/");
    const auto withFragment = loopback.Requests();
    ASSERT_EQ(withFragment.size(), 1u);
    EXPECT_EQ(withFragment[0].RequestLine(), "GET http://www.norvik.example:80/page#part HTTP/1.1");
}

}  // namespace
}  // namespace tamsel::web
