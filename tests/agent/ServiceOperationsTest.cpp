// QueryDownload and ReportDownload on the wire: the multipart bodies the service receives, how its
// replies are read, and what the status slots keep.
#include "support/FacedAgent.h"

#include "support/ServiceReply.h"
#include "support/Testbed.h"

#include <cctype>
#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace tamsel::agent {
namespace {

using test::ReplyFields;
using test::ServiceReply;
using testbed::RecordedRequest;
using testbed::Route;
using Fields = std::vector<std::pair<std::string, std::string>>;

constexpr char SERVICE_HOST[] = "svc.norvik.example";
constexpr char SERVICE_URL[] = "http://svc.norvik.example/dl/service.php";
constexpr char SERVICE_PATH[] = "/dl/service.php";
constexpr char CANARY = '#';

Route Answer(const std::string& body, const char* path = SERVICE_PATH) {
    return Route(path, SERVICE_HOST).Method("POST").Body(body);
}

// The multipart body these fields make with this boundary, byte for byte.
std::string Multipart(const std::string& boundary, const Fields& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

std::string BoundaryOf(const RecordedRequest& post) {
    const std::string prefix = "Content-Type: multipart/form-data; boundary=";
    for (const std::string& line : post.HeaderLines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    return {};
}

class ServiceWire : public testbed::TestbedTest {
protected:
    std::vector<RecordedRequest> Posts() {
        std::vector<RecordedRequest> posts;
        for (RecordedRequest& request : loopback.Requests()) {
            if (request.RequestLine().compare(0, 5, "POST ") == 0) posts.push_back(std::move(request));
        }
        return posts;
    }

    // The one POST of the last operation, checked to carry exactly these fields as multipart.
    void ExpectOnePostOf(const std::string& path, const Fields& fields) {
        const auto posts = Posts();
        ASSERT_EQ(posts.size(), 1u);
        EXPECT_EQ(posts[0].host, SERVICE_HOST);
        EXPECT_EQ(posts[0].target, path) << "the query travels in the body, not in the path";
        const std::string boundary = BoundaryOf(posts[0]);
        ASSERT_EQ(boundary.size(), 39u) << posts[0].raw;
        EXPECT_EQ(boundary.substr(0, 27), std::string(27, '-'));
        EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF", 27), std::string::npos) << boundary;
        EXPECT_EQ(posts[0].Body(), Multipart(boundary, fields));
    }

    LONG HttpSlot() {
        LONG status = 12345;
        return agent.GetLastHttpStatus(&status) == S_OK ? status : -1;
    }

    // -1 when the getter reports nothing (E_FAIL), after checking it left its output alone.
    LONG ServiceSlot() {
        LONG status = 12345;
        if (agent.GetLastServiceStatus(&status) == S_OK) return status;
        EXPECT_EQ(status, 12345);
        return -1;
    }

    test::FacedAgent agent;
    std::string buffer = std::string(512, CANARY);
    LONGLONG fileSize = -7;
    LONG remaining = -7;
};

// --- what the service receives ---

TEST_F(ServiceWire, QueryPostsTheCodeAndAct1AsMultipart) {
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "AB12-cd 34&x=\"y\"", &fileSize), S_OK);
    // The code is opaque: spaces, "&", "=" and quotes go out as they came.
    ExpectOnePostOf(SERVICE_PATH, {{"ActivateCode", "AB12-cd 34&x=\"y\""}, {"act", "1"}});

    const auto requests = loopback.Requests();
    ASSERT_EQ(requests.size(), 3u) << "probe, the Location look at the service URL, the POST";
    EXPECT_EQ(requests[0].host, testbed::MAKER_HOST);
    EXPECT_EQ(requests[1].RequestLine(), "GET http://svc.norvik.example:80/dl/service.php HTTP/1.1");
    EXPECT_EQ(requests[2].RequestLine(), "POST http://svc.norvik.example:80/dl/service.php HTTP/1.1");
}

TEST_F(ServiceWire, ReportPostsCodeSuccessAndAct2WithAnyNonZeroFlagAsTrue) {
    const std::pair<LONG, const char*> flags[] = {
        {1, "true"}, {0, "false"}, {2, "true"}, {-1, "true"}, {LONG_MIN, "true"}, {LONG_MAX, "true"},
    };
    for (const auto& [flag, text] : flags) {
        SCOPED_TRACE(flag);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
        EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "CODE-9", flag, &remaining), S_OK);
        ExpectOnePostOf(SERVICE_PATH, {{"ActivateCode", "CODE-9"}, {"success", text}, {"act", "2"}});
    }
}

TEST_F(ServiceWire, ReportSendsAnEmptyCodeAsIs) {
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
    EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "", 1, &remaining), S_OK);
    ExpectOnePostOf(SERVICE_PATH, {{"ActivateCode", ""}, {"success", "true"}, {"act", "2"}});
}

TEST_F(ServiceWire, QueryPairsOfTheServiceUrlComeFirst) {
    const std::string url = std::string(SERVICE_URL) + "?lang=en&prod=77&empty=";
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, url.c_str(), "C", &fileSize), S_OK);
    ExpectOnePostOf(SERVICE_PATH, {{"lang", "en"}, {"prod", "77"}, {"empty", ""}, {"ActivateCode", "C"}, {"act", "1"}});

    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
    EXPECT_EQ(agent.ReportDownload(url.c_str(), "C", 0, &remaining), S_OK);
    ExpectOnePostOf(SERVICE_PATH,
                    {{"lang", "en"}, {"prod", "77"}, {"empty", ""}, {"ActivateCode", "C"}, {"success", "false"},
                     {"act", "2"}});
}

TEST_F(ServiceWire, AServiceUrlAnsweringLocationIsPostedToTheLocation) {
    // The look at the service URL is a GET: only it sees the redirect, and the POST goes where it
    // points, with the Location's query pairs as the first fields. No second look is made.
    loopback.Add(Route("/old", SERVICE_HOST).Method("GET").Status(302).Header(
        "Location: http://svc.norvik.example/v2/service.php?region=eu"));
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}, {"downloadURL", "http://dl.norvik.example/f.bin"}}),
                     "/v2/service.php"));
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, "http://svc.norvik.example/old?ignored=1", "C", &fileSize),
              S_OK);
    EXPECT_STREQ(buffer.c_str(), "http://dl.norvik.example/f.bin");
    ExpectOnePostOf("/v2/service.php", {{"region", "eu"}, {"ActivateCode", "C"}, {"act", "1"}});

    const auto requests = loopback.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].target, "/old?ignored=1");
}

// --- reading the reply ---

TEST_F(ServiceWire, QueryReturnsTheDownloadUrlAndASizeBeyond32Bits) {
    const std::string url = "http://dl.norvik.example/files/setup.exe?t=1&amp;u=2";
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}, {"downloadURL", url}, {"filesize", "5000000000"}})));
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "C", &fileSize), S_OK);
    EXPECT_STREQ(buffer.c_str(), "http://dl.norvik.example/files/setup.exe?t=1&u=2");
    EXPECT_EQ(fileSize, 5000000000LL);
    EXPECT_EQ(HttpSlot(), -1);
    EXPECT_EQ(ServiceSlot(), -1);
}

TEST_F(ServiceWire, QueryWithoutDownloadUrlOrSizeGivesEmptyTextAndZero) {
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 1, SERVICE_URL, "C", &fileSize), S_OK);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], CANARY);
    EXPECT_EQ(fileSize, 0);
}

TEST_F(ServiceWire, DownloadUrlOfLengthLNeedsABufferOfLPlusOne) {
    const std::string url = "http://dl.norvik.example/files/a-download-of-some-length.zip";
    const ULONG length = static_cast<ULONG>(url.size());
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}, {"downloadURL", url}, {"filesize", "1234"}})));

    for (const ULONG size : {ULONG(0), ULONG(1), length}) {
        SCOPED_TRACE(size);
        buffer.assign(512, CANARY);
        fileSize = -7;
        EXPECT_EQ(agent.QueryDownload(buffer.data(), size, SERVICE_URL, "C", &fileSize), AGENT_E_BUFFER_TOO_SMALL);
        EXPECT_EQ(buffer, std::string(512, CANARY)) << "a refused buffer must stay as it was";
        EXPECT_EQ(fileSize, 0);
        EXPECT_EQ(HttpSlot(), -1);
        EXPECT_EQ(ServiceSlot(), -1);
    }

    buffer.assign(512, CANARY);
    EXPECT_EQ(agent.QueryDownload(buffer.data(), length + 1, SERVICE_URL, "C", &fileSize), S_OK);
    EXPECT_EQ(buffer.substr(0, length + 1), url + '\0');
    EXPECT_EQ(buffer.substr(length + 1), std::string(512 - length - 1, CANARY));
    EXPECT_EQ(fileSize, 1234);
}

TEST_F(ServiceWire, QueryExReadsTheDigestInLowercaseAndRefusesAMalformedOne) {
    const std::string digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    struct Case {
        const char* what;
        ReplyFields extra;  // beside StatusCode 1, the URL and the size
        HRESULT result;
        std::string named;  // the digest written, when the call succeeds
    };
    const Case cases[] = {
        {"lowercase", {{"sha256", digest}}, S_OK, digest},
        {"uppercase, spaces around", {{"sha256", "  " + upper + " "}}, S_OK, digest},
        {"none", {}, S_OK, ""},
        {"empty", {{"sha256", ""}}, S_OK, ""},
        {"63 digits", {{"sha256", digest.substr(1)}}, AGENT_E_SERVICE_STATUS, ""},
        {"not hex", {{"sha256", digest.substr(0, 63) + "x"}}, AGENT_E_SERVICE_STATUS, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        ReplyFields fields = {{"StatusCode", "1"}, {"downloadURL", "http://dl/x"}, {"filesize", "77"}};
        fields.insert(fields.end(), c.extra.begin(), c.extra.end());
        loopback.Add(Answer(ServiceReply(fields)).Times(2));
        buffer.assign(512, CANARY);
        std::string named(80, CANARY);
        EXPECT_EQ(agent.QueryDownloadEx(buffer.data(), 512, SERVICE_URL, "C", &fileSize, named.data(), 80), c.result);
        if (c.result == S_OK) {
            EXPECT_STREQ(buffer.c_str(), "http://dl/x");
            EXPECT_STREQ(named.c_str(), c.named.c_str());
            EXPECT_EQ(fileSize, 77);
        } else {
            EXPECT_EQ(ServiceSlot(), 0) << "a malformed digest makes the reply unreadable";
            EXPECT_EQ(buffer, std::string(512, CANARY));
            EXPECT_EQ(named, std::string(80, CANARY));
            EXPECT_EQ(fileSize, 0);
        }
        // The first interface ignores the field, malformed or not.
        EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "C", &fileSize), S_OK);
    }
}

TEST_F(ServiceWire, QueryExWritesNeitherBufferWhenEitherIsTooSmall) {
    const std::string url = "http://dl.norvik.example/f.bin";
    const std::string digest(64, 'a');
    const ULONG length = static_cast<ULONG>(url.size());
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}, {"downloadURL", url}, {"filesize", "9"}, {"sha256", digest}})));
    const std::pair<ULONG, ULONG> tooSmall[] = {{length, 65}, {length + 1, 64}, {length + 1, 0}, {0, 65}};
    for (const auto& [urlSize, digestSize] : tooSmall) {
        SCOPED_TRACE(testing::Message() << urlSize << ", " << digestSize);
        buffer.assign(512, CANARY);
        std::string named(80, CANARY);
        EXPECT_EQ(agent.QueryDownloadEx(buffer.data(), urlSize, SERVICE_URL, "C", &fileSize, named.data(), digestSize),
                  AGENT_E_BUFFER_TOO_SMALL);
        EXPECT_EQ(buffer, std::string(512, CANARY));
        EXPECT_EQ(named, std::string(80, CANARY));
        EXPECT_EQ(fileSize, 0);
    }
    std::string named(80, CANARY);
    EXPECT_EQ(agent.QueryDownloadEx(buffer.data(), length + 1, SERVICE_URL, "C", &fileSize, named.data(), 65), S_OK);
    EXPECT_EQ(named.substr(0, 66), digest + '\0' + CANARY);
    EXPECT_EQ(buffer.substr(0, length + 1), url + '\0');
    EXPECT_EQ(fileSize, 9);
}

// The list of sources: the download URL and the mirrors in their order, each with its zero and one more,
// under the one rule for both outputs; the first three interfaces see the download URL alone.
TEST_F(ServiceWire, QuerySourcesListsTheMirrorsAfterTheDownloadUrlAndWritesBothOrNeither) {
    const std::string url = "http://dl.norvik.example/f.bin";
    const std::string list = url + '\0' + "http://m1.norvik.example/f.bin" + '\0' + "http://m2.norvik.example/f.bin" +
                             '\0' + '\0';
    const std::string digest(64, 'b');
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"},
                                      {"downloadURL", url},
                                      {"mirrorURL", "http://m1.norvik.example/f.bin"},
                                      {"filesize", "9"},
                                      {"mirrorURL", "http://m2.norvik.example/f.bin"},
                                      {"sha256", digest}})));
    const ULONG size = static_cast<ULONG>(list.size());
    const std::pair<ULONG, ULONG> tooSmall[] = {{size - 1, 65}, {size, 64}, {0, 65}};
    for (const auto& [listSize, digestSize] : tooSmall) {
        SCOPED_TRACE(testing::Message() << listSize << ", " << digestSize);
        buffer.assign(512, CANARY);
        std::string named(80, CANARY);
        EXPECT_EQ(agent.QueryDownloadSources(buffer.data(), listSize, SERVICE_URL, "C", &fileSize, named.data(),
                                             digestSize),
                  AGENT_E_BUFFER_TOO_SMALL);
        EXPECT_EQ(buffer, std::string(512, CANARY));
        EXPECT_EQ(named, std::string(80, CANARY));
        EXPECT_EQ(fileSize, 0);
    }
    std::string named(80, CANARY);
    EXPECT_EQ(agent.QueryDownloadSources(buffer.data(), size, SERVICE_URL, "C", &fileSize, named.data(), 65), S_OK);
    EXPECT_EQ(buffer.substr(0, size + 1), list + CANARY);
    EXPECT_EQ(named.substr(0, 66), digest + '\0' + CANARY);
    EXPECT_EQ(fileSize, 9);
    buffer.assign(512, CANARY);
    EXPECT_EQ(agent.QueryDownloadEx(buffer.data(), 512, SERVICE_URL, "C", &fileSize, named.data(), 80), S_OK);
    EXPECT_EQ(buffer.substr(0, url.size() + 2), url + '\0' + CANARY) << "the mirrors are the fourth interface's";
}

// The long report: the first interface's three fields in their order, then what the download did; with no
// info, the first interface's report itself. A service that reads only the three answers as always.
TEST_F(ServiceWire, ReportExPostsTheDownloadsFieldsAfterTheFirstThree) {
    TAMSEL_DOWNLOAD_INFO info{};
    info.cbSize = sizeof(info);
    info.attempts = 4;
    info.sourceIndex = 2;
    info.bytesResumed = 5000000000LL;
    info.waitedMs = 2500;
    info.lastAttemptResult = AGENT_E_BROKEN;
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}, {"dltotalcount", "3"}, {"dltimes", "1"}})).Times(2));
    EXPECT_EQ(agent.ReportDownloadEx(SERVICE_URL, "CODE-9", 0, &info, &remaining), S_OK);
    EXPECT_EQ(remaining, 2);
    // No download of this object filled the info: its last attempt's result stands for the call's.
    ExpectOnePostOf(SERVICE_PATH, {{"ActivateCode", "CODE-9"}, {"success", "false"}, {"act", "2"}, {"attempts", "4"},
                                   {"source", "2"}, {"result", "80042F06"}, {"resumedBytes", "5000000000"},
                                   {"waitedMs", "2500"}});
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})));
    EXPECT_EQ(agent.ReportDownloadEx(SERVICE_URL, "CODE-9", 1, nullptr, &remaining), S_OK);
    ExpectOnePostOf(SERVICE_PATH, {{"ActivateCode", "CODE-9"}, {"success", "true"}, {"act", "2"}});
    info.cbSize = sizeof(info) - 4;
    remaining = -7;
    EXPECT_EQ(agent.ReportDownloadEx(SERVICE_URL, "CODE-9", 1, &info, &remaining), E_INVALIDARG);
    EXPECT_EQ(remaining, -7);
}

TEST_F(ServiceWire, ServiceStatusAcceptedOrKept) {
    struct Case {
        const char* what;
        std::string body;
        HRESULT query;   // and what QueryDownload's slot then holds
        LONG querySlot;
        HRESULT report;
        LONG reportSlot;
    };
    const Case cases[] = {
        {"1", ServiceReply({{"StatusCode", "1"}}), S_OK, -1, S_OK, -1},
        {"digit 1 then letters", ServiceReply({{"StatusCode", "1abc"}}), S_OK, -1, S_OK, -1},
        {"blanks and a plus", ServiceReply({{"StatusCode", " +1 "}}), S_OK, -1, S_OK, -1},
        {"2", ServiceReply({{"StatusCode", "2"}}), AGENT_E_SERVICE_STATUS, 2, S_OK, -1},
        {"3", ServiceReply({{"StatusCode", "3"}}), AGENT_E_SERVICE_STATUS, 3, AGENT_E_SERVICE_STATUS, 3},
        {"0", ServiceReply({{"StatusCode", "0"}}), AGENT_E_SERVICE_STATUS, 0, AGENT_E_SERVICE_STATUS, 0},
        {"-5", ServiceReply({{"StatusCode", "-5"}}), AGENT_E_SERVICE_STATUS, -5, AGENT_E_SERVICE_STATUS, -5},
        // Stored, but -1 is what "nothing kept" looks like: the getter then reports nothing.
        {"-1", ServiceReply({{"StatusCode", "-1"}}), AGENT_E_SERVICE_STATUS, -1, AGENT_E_SERVICE_STATUS, -1},
        {"missing", ServiceReply({{"downloadURL", "http://x/"}}), AGENT_E_SERVICE_STATUS, 0, AGENT_E_SERVICE_STATUS, 0},
        {"not a number", ServiceReply({{"StatusCode", "OK"}}), AGENT_E_SERVICE_STATUS, 0, AGENT_E_SERVICE_STATUS, 0},
        {"not markup", "StatusCode=1\r\n", AGENT_E_SERVICE_STATUS, 0, AGENT_E_SERVICE_STATUS, 0},
        {"empty body", "", AGENT_E_SERVICE_STATUS, 0, AGENT_E_SERVICE_STATUS, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Answer(c.body));
        buffer.assign(512, CANARY);
        EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "C", &fileSize), c.query);
        EXPECT_EQ(ServiceSlot(), c.querySlot);
        EXPECT_EQ(HttpSlot(), -1);
        if (c.query != S_OK) {
            EXPECT_EQ(fileSize, 0);
            EXPECT_EQ(buffer, std::string(512, CANARY));
        }

        EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "C", 1, &remaining), c.report);
        EXPECT_EQ(ServiceSlot(), c.reportSlot);
        EXPECT_EQ(HttpSlot(), -1);
        if (c.report != S_OK) {
            EXPECT_EQ(remaining, -1);
        }
    }
}

TEST_F(ServiceWire, ReportReturnsTotalMinusDoneWithin32Bits) {
    struct Case {
        const char* total;  // null: the field is missing
        const char* done;
        LONG expected;
    };
    const Case cases[] = {
        {"10", "3", 7},
        {"3", "10", -7},  // more done than allowed: negative
        {nullptr, nullptr, 0},
        {"5", nullptr, 5},
        {nullptr, "4", -4},
        {"2147483647", "-1", LONG_MAX},          // would wrap to LONG_MIN in 32 bits
        {"-2147483648", "1", LONG_MIN},          // would wrap to LONG_MAX
        {"-2147483648", "2147483647", LONG_MIN},
        {"99999999999", "0", LONG_MAX},          // the count itself stops at its limit
        {"12 downloads", "2x", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.total ? c.total : "(none)") << " - " << (c.done ? c.done : "(none)"));
        ASSERT_TRUE(loopback.Reset());
        Fields fields = {{"StatusCode", "2"}};
        if (c.total) fields.emplace_back("dltotalcount", c.total);
        if (c.done) fields.emplace_back("dltimes", c.done);
        loopback.Add(Answer(ServiceReply(fields)));
        remaining = -7;
        EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "C", 1, &remaining), S_OK);
        EXPECT_EQ(remaining, c.expected);
    }
}

// --- failures before and at the exchange ---

TEST_F(ServiceWire, HttpStatusOtherThan200IsKeptAndTheReplyIgnored) {
    const std::string good = ServiceReply({{"StatusCode", "1"}, {"downloadURL", "http://x/"}, {"filesize", "9"}});
    struct Case {
        const char* what;
        Route route;
        LONG kept;
    };
    const Case cases[] = {
        {"500 with a good body", Answer(good).Status(500), 500},
        {"404", Answer(good).Status(404), 404},
        {"201", Answer(good).Status(201), 201},
        // No exchange at all: the status read is the 0 of a request that was never answered.
        {"closed unanswered", Route(SERVICE_PATH, SERVICE_HOST).Method("POST").CloseWithoutAnswer(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(c.route);
        buffer.assign(512, CANARY);
        EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "C", &fileSize), AGENT_E_HTTP_STATUS);
        EXPECT_EQ(HttpSlot(), c.kept);
        EXPECT_EQ(ServiceSlot(), -1);
        EXPECT_EQ(fileSize, 0);
        EXPECT_EQ(buffer, std::string(512, CANARY));

        EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "C", 1, &remaining), AGENT_E_HTTP_STATUS);
        EXPECT_EQ(HttpSlot(), c.kept);
        EXPECT_EQ(ServiceSlot(), -1);
        EXPECT_EQ(remaining, -1);
    }
}

TEST_F(ServiceWire, EachOperationStartsWithEmptySlots) {
    // An HTTP failure, then a success: the second call's prologue cleared the slot.
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}})).Status(500).Times(1));
    loopback.Add(Answer(ServiceReply({{"StatusCode", "1"}, {"dltotalcount", "3"}})));
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "C", &fileSize), AGENT_E_HTTP_STATUS);
    EXPECT_EQ(HttpSlot(), 500);
    EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "C", 1, &remaining), S_OK);
    EXPECT_EQ(remaining, 3);
    EXPECT_EQ(HttpSlot(), -1);
    EXPECT_EQ(ServiceSlot(), -1);

    // A rejected service status, then an HTTP failure: only the newer slot holds anything.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Answer(ServiceReply({{"StatusCode", "7"}})).Times(1));
    loopback.Add(Answer("").Status(502));
    EXPECT_EQ(agent.ReportDownload(SERVICE_URL, "C", 1, &remaining), AGENT_E_SERVICE_STATUS);
    EXPECT_EQ(ServiceSlot(), 7);
    EXPECT_EQ(agent.QueryDownload(buffer.data(), 512, SERVICE_URL, "C", &fileSize), AGENT_E_HTTP_STATUS);
    EXPECT_EQ(HttpSlot(), 502);
    EXPECT_EQ(ServiceSlot(), -1);
}

}  // namespace
}  // namespace tamsel::agent
