// Tests of the URL splitter: what each kind of URL yields, and what it refuses.
#include "web/UrlSplit.h"

#include <gtest/gtest.h>

namespace tamsel::web {
namespace {

struct SplitCase {
    const char* url;
    ServiceKind service;
    const char* host;
    uint16_t port;
    const char* object;
};

TEST(UrlSplit, TakesApartWhatItCan) {
    const SplitCase cases[] = {
        {"http://h/p?a=1&b=2", SERVICE_HTTP, "h", 80, "/p?a=1&b=2"},
        {"https://h/p", SERVICE_HTTPS, "h", 443, "/p"},
        {"ftp://files.example/f.bin", SERVICE_FTP, "files.example", 21, "/f.bin"},
        {"HTTP://h/", SERVICE_HTTP, "h", 80, "/"},
        {"hTTpS://h", SERVICE_HTTPS, "h", 443, "/"},
        {"Ftp://h:2121/x", SERVICE_FTP, "h", 2121, "/x"},
        {"http://h", SERVICE_HTTP, "h", 80, "/"},
        {"http://h?a=1", SERVICE_HTTP, "h", 80, "/?a=1"},
        {"http://h:8080/p", SERVICE_HTTP, "h", 8080, "/p"},
        {"http://h:/p", SERVICE_HTTP, "h", 80, "/p"},
        {"http://h:1/", SERVICE_HTTP, "h", 1, "/"},
        {"http://h:65535/", SERVICE_HTTP, "h", 65535, "/"},
        {"http://h:00080/", SERVICE_HTTP, "h", 80, "/"},
        {"https://h:80/", SERVICE_HTTPS, "h", 80, "/"},
        {"http://u:pw@h:81/p", SERVICE_HTTP, "h", 81, "/p"},
        {"http://u@h/p", SERVICE_HTTP, "h", 80, "/p"},
        {"http://a@b@h/p", SERVICE_HTTP, "h", 80, "/p"},
        {"http://h/p?x=1#frag", SERVICE_HTTP, "h", 80, "/p?x=1"},
        {"http://h#frag", SERVICE_HTTP, "h", 80, "/"},
        {"http://h/p#f?a=1", SERVICE_HTTP, "h", 80, "/p"},
        {"http://h/p?x=http://o/q?y=2", SERVICE_HTTP, "h", 80, "/p?x=http://o/q?y=2"},
        {"http://h/a b/%20+", SERVICE_HTTP, "h", 80, "/a b/%20+"},
        {"http://[::1]:8080/p", SERVICE_HTTP, "[::1]", 8080, "/p"},
        {"http://[::1]/p", SERVICE_HTTP, "[::1]", 80, "/p"},
        {"gopher://h:70/x", SERVICE_NONE, "h", 70, "/x"},
        {"svn+ssh://h:22/r", SERVICE_NONE, "h", 22, "/r"},
    };
    for (const SplitCase& c : cases) {
        std::optional<UrlParts> parts = SplitUrl(c.url);
        ASSERT_TRUE(parts) << c.url;
        EXPECT_EQ(parts->service, c.service) << c.url;
        EXPECT_EQ(parts->server, c.host) << c.url;
        EXPECT_EQ(parts->port, c.port) << c.url;
        EXPECT_EQ(parts->objectPath, c.object) << c.url;
    }
}

TEST(UrlSplit, RefusesWhatItCannotTakeApart) {
    const char* const cases[] = {
        "",
        "h/p",                       // no scheme
        "/p?a=1",                    // a relative path
        "://h/p",                    // empty scheme
        "http:/h/p",                 // one slash
        "http:h/p",                  // no slashes
        "1http://h/",                // scheme starts with a digit
        "ht tp://h/",                // space in the scheme
        "http://",                   // empty host
        "http:///p",                 // empty host before the path
        "http://?a=1",               // empty host before the query
        "http://:80/p",              // port without host
        "http://u:pw@/p",            // user without host
        "http://h:0/",               // port 0
        "http://h:65536/",           // one above the range
        "http://h:4294967376/",      // wraps to 80 in 32 bits
        "http://h:99999999999999999999/",
        "http://h:8o/",              // non-numeric
        "http://h:-1/",
        "http://h:+80/",
        "http://h: 80/",
        "http://h:80:81/",
        "http://[::1/p",             // unclosed literal
        "http://[]/p",               // empty literal
        "http://[::1]x/p",           // text after the literal
        "gopher://h/x",              // unknown scheme without a port
        "http://h/p\r\nX-Injected: 1",
        "http://h\n/p",
        "http://h/p\t",
        "http://h/\x7f",
    };
    for (const char* url : cases) {
        EXPECT_FALSE(SplitUrl(url)) << url;
    }
}

TEST(UrlSplit, WithoutUserInfoDropsWhatTheSplitterDropsAndKeepsTheRest) {
    const struct {
        const char* url;
        const char* kept;
    } cases[] = {
        {"http://user:secret@h/f.bin", "http://h/f.bin"},
        {"HTTPS://u@h:8443/a b?x=1#f", "HTTPS://h:8443/a b?x=1#f"},
        {"ftp://a@b@h/f", "ftp://h/f"},                      // up to the last "@" of the authority
        {"http://h/p@q?r=s@t", "http://h/p@q?r=s@t"},        // an "@" past the authority is the path's
        {"http://h?u=a@b", "http://h?u=a@b"},
        {"no scheme u@h", "no scheme u@h"},
        {"mailto:u@h", "mailto:u@h"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutUserInfo(c.url), c.kept) << c.url;
    }
}

TEST(UrlSplit, OnlyAStepFromHttpsToAnythingElseLeavesHttps) {
    const struct {
        ServiceKind from;
        ServiceKind to;
        bool leaves;
        const char* why;
    } cases[] = {
        {SERVICE_HTTPS, SERVICE_HTTPS, false, "https to https stays"},
        {SERVICE_HTTPS, SERVICE_HTTP, true, "https to http"},
        {SERVICE_HTTPS, SERVICE_FTP, true, "https to ftp"},
        {SERVICE_HTTPS, SERVICE_NONE, true, "https to another scheme, or to a Location that does not split"},
        {SERVICE_HTTP, SERVICE_HTTP, false, "never on https"},
        {SERVICE_HTTP, SERVICE_HTTPS, false, "onto https"},
        {SERVICE_FTP, SERVICE_HTTP, false, "never on https"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LeavesHttps(c.from, c.to), c.leaves) << c.why;
    }
}

TEST(UrlSplit, TakeApartKeepsTheTextBesideItsAddressAndParts) {
    const Url url = TakeApart("https://u:pw@h:8443/a b?x=1#f");
    EXPECT_EQ(url.text, "https://u:pw@h:8443/a b?x=1#f") << "as given";
    EXPECT_EQ(url.address, "https://h:8443/a b?x=1#f") << "what a look opens: no user info";
    ASSERT_TRUE(url.parts);
    EXPECT_EQ(url.parts->service, SERVICE_HTTPS);
    EXPECT_EQ(url.parts->server, "h");
    EXPECT_EQ(url.parts->port, 8443);
    EXPECT_EQ(url.parts->objectPath, "/a b?x=1");

    const Url relative = TakeApart("/elsewhere?a=1");
    EXPECT_EQ(relative.text, "/elsewhere?a=1");
    EXPECT_EQ(relative.address, "/elsewhere?a=1");
    EXPECT_FALSE(relative.parts) << "a relative reference does not split";
}

TEST(UrlSplit, RefusesEmbeddedZeroByte) {
    using namespace std::string_view_literals;
    EXPECT_FALSE(SplitUrl("http://h\0evil/p"sv));
    EXPECT_FALSE(SplitUrl("http://h/p\0q"sv));
}

}  // namespace
}  // namespace tamsel::web
