// Tests of the request description: URL parsing with its query split, form fields, boundary.
#include "web/HttpRequest.h"

#include <gtest/gtest.h>

#include <ctime>
#include <utility>
#include <vector>

namespace tamsel::web {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs PairsOf(const HttpRequest& request) {
    Pairs pairs;
    for (const FormField& field : request.formFields) pairs.emplace_back(field.name, field.value);
    return pairs;
}

// The request's target is exactly service://server:port objectPath.
::testing::AssertionResult TargetIs(const HttpRequest& request, ServiceKind service, const std::string& server,
                                    uint16_t port, const std::string& objectPath) {
    if (request.service == service && request.server == server && request.port == port &&
        request.objectPath == objectPath) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "target " << request.service << " " << request.server << ":"
                                         << request.port << request.objectPath;
}

struct ParseCase {
    const char* url;
    Pairs fields;
    const char* objectPath;
    ServiceKind service;
    uint16_t port;
};

TEST(HttpRequest, ParseUrlSplitsTargetAndQuery) {
    const ParseCase cases[] = {
        {"http://h/p?a=1&b=2", {{"a", "1"}, {"b", "2"}}, "/p", SERVICE_HTTP, 80},
        {"https://h/p", {}, "/p", SERVICE_HTTPS, 443},
        {"ftp://h/f.bin", {}, "/f.bin", SERVICE_FTP, 21},
        {"http://h/p?flag", {}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a=1&b", {{"a", "1"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a&b=2", {{"a&b", "2"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a==b", {{"a", "=b"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a=&=v", {{"a", ""}, {"", "v"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?x=1?y=2", {{"y", "2"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?v=x%20y+z", {{"v", "x%20y+z"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a=1&&b=2", {{"a", "1"}, {"&b", "2"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a=1&b=2&", {{"a", "1"}, {"b", "2"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?a=1&a=2", {{"a", "1"}, {"a", "2"}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?=", {{"", ""}}, "/p", SERVICE_HTTP, 80},
        {"http://h/p?", {}, "/p", SERVICE_HTTP, 80},
        // "#" is plain text to the query split, while the fragment never reaches the path.
        {"http://h/p?a=1#top", {{"a", "1#top"}}, "/p", SERVICE_HTTP, 80},
        // A space before the query stays at the end of the path: what WinINet makes of it is its own.
        {"http://h/f.bin ?v=2", {{"v", "2"}}, "/f.bin ", SERVICE_HTTP, 80},
        {"http://h?a=1", {{"a", "1"}}, "/", SERVICE_HTTP, 80},
        {"http://h", {}, "/", SERVICE_HTTP, 80},
        {"https://h:8443/a/b.cgi?c=d", {{"c", "d"}}, "/a/b.cgi", SERVICE_HTTPS, 8443},
    };
    for (const ParseCase& c : cases) {
        HttpRequest request;
        ASSERT_TRUE(request.ParseUrl(c.url)) << c.url;
        EXPECT_EQ(PairsOf(request), c.fields) << c.url;
        EXPECT_EQ(request.server, "h") << c.url;
        EXPECT_EQ(request.objectPath, c.objectPath) << c.url;
        EXPECT_EQ(request.service, c.service) << c.url;
        EXPECT_EQ(request.port, c.port) << c.url;
        EXPECT_TRUE(request.fileFields.empty()) << c.url;
    }
}

TEST(HttpRequest, NullUrlChangesNothing) {
    HttpRequest request;
    ASSERT_TRUE(request.ParseUrl("ftp://h:2121/f"));
    EXPECT_FALSE(request.ParseUrl(nullptr));
    EXPECT_TRUE(request.formFields.empty());
    EXPECT_TRUE(TargetIs(request, SERVICE_FTP, "h", 2121, "/f"));
}

TEST(HttpRequest, RefusedUrlKeepsItsQueryPairsAndTheEarlierTarget) {
    HttpRequest fresh;
    EXPECT_FALSE(fresh.ParseUrl("/relative?a=1&b=2"));
    EXPECT_EQ(PairsOf(fresh), (Pairs{{"a", "1"}, {"b", "2"}}));
    EXPECT_TRUE(TargetIs(fresh, SERVICE_NONE, "", 0, ""));

    HttpRequest used;
    ASSERT_TRUE(used.ParseUrl("https://first:444/one?x=1"));
    EXPECT_FALSE(used.ParseUrl("http://second:0/two?y=2"));
    EXPECT_EQ(PairsOf(used), (Pairs{{"x", "1"}, {"y", "2"}}));
    EXPECT_TRUE(TargetIs(used, SERVICE_HTTPS, "first", 444, "/one"));
}

TEST(HttpRequest, SecondParseAppendsFieldsAndReplacesTarget) {
    HttpRequest request;
    request.AddFormField("before", "0");
    ASSERT_TRUE(request.ParseUrl("http://a/p?x=1"));
    ASSERT_TRUE(request.ParseUrl("ftp://b:2121/q?y=2"));
    EXPECT_EQ(PairsOf(request), (Pairs{{"before", "0"}, {"x", "1"}, {"y", "2"}}));
    EXPECT_TRUE(TargetIs(request, SERVICE_FTP, "b", 2121, "/q"));
}

TEST(HttpRequest, UnknownSchemeReplacesTargetButKeepsService) {
    HttpRequest request;
    ASSERT_TRUE(request.ParseUrl("https://a/p"));
    ASSERT_TRUE(request.ParseUrl("gopher://b:70/q"));
    EXPECT_TRUE(TargetIs(request, SERVICE_HTTPS, "b", 70, "/q"));
}

TEST(HttpRequest, AddFormFieldKeepsEveryPairAsGiven) {
    HttpRequest request;
    request.AddFormField("a", "1");
    request.AddFormField("a", "2");
    request.AddFormField("", "");
    request.AddFormField(nullptr, "v");
    request.AddFormField("n", nullptr);
    EXPECT_EQ(PairsOf(request), (Pairs{{"a", "1"}, {"a", "2"}, {"", ""}, {"", "v"}, {"n", ""}}));
}

// 27 dashes, then 12 upper-case hex digits. The C runtime of the product draws 0..32767, so each
// group starts with 0-7 there; other runtimes draw wider, and only the low 16 bits are kept.
void ExpectBoundaryShape(const std::string& boundary) {
    ASSERT_EQ(boundary.size(), 39u) << boundary;
    EXPECT_EQ(boundary.substr(0, 27), std::string(27, '-'));
    for (size_t i = 27; i < 39; ++i) {
        const char c = boundary[i];
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << boundary;
    }
#ifdef _WIN32
    for (size_t group = 27; group < 39; group += 4) {
        EXPECT_LE(boundary[group], '7') << boundary;
    }
#endif
}

TEST(HttpRequest, BoundaryShape) {
    for (int i = 0; i < 200; ++i) {
        ExpectBoundaryShape(HttpRequest::MakeBoundary());
    }
    HttpRequest request;
    ExpectBoundaryShape(request.boundary);
}

TEST(HttpRequest, RequestsMadeWithinOneSecondShareTheirBoundary) {
    // Retried when the clock ticks between the two constructions.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        HttpRequest first;
        HttpRequest second;
        if (std::time(nullptr) != before) continue;
        EXPECT_EQ(first.boundary, second.boundary);
        return;
    }
    FAIL() << "the clock ticked during every attempt";
}

}  // namespace
}  // namespace tamsel::web
