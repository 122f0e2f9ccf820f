// Wire tests of the session's requests: the Location step of SetUrl, Get and Post, and the bounded waits.
#include "web/WebSession.h"

#include "support/Bounded.h"
#include "support/Pattern.h"
#include "support/Testbed.h"
#include "web/Internet.h"
#include "support/WireDoubles.h"

#include <memory>
#include <string>
#include <vector>

namespace tamsel::web {
namespace {

using namespace wire;


std::vector<std::pair<std::string, std::string>> Fields(const HttpRequest& request) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const FormField& field : request.formFields) fields.emplace_back(field.name, field.value);
    return fields;
}

using FieldList = std::vector<std::pair<std::string, std::string>>;

class SessionWire : public testbed::TestbedTest {};

// --- SetUrl ---

TEST_F(SessionWire, SetUrlTakesTheLocationWhateverItsStatus) {
    for (const int status : {302, 200}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/svc", SERVICE_HOST).Method("GET").Status(status).Header(
            "Location: http://files.norvik.example:8080/real/post?ActivateCode=X1&lang=en"));
        loopback.Add(Route("/real/post", FILES_HOST).Method("POST").Body("<reply/>"));

        WebSession session;
        ASSERT_TRUE(session.SetUrl("http://svc.norvik.example/svc?old=1"));
        EXPECT_EQ(session.Request().server, FILES_HOST);
        EXPECT_EQ(session.Request().port, 8080);
        EXPECT_EQ(session.Request().objectPath, "/real/post");
        EXPECT_EQ(session.Request().service, SERVICE_HTTP);
        EXPECT_EQ(Fields(session.Request()), (FieldList{{"ActivateCode", "X1"}, {"lang", "en"}}))
            << "the pairs of the Location, not those of the URL asked";

        session.AddField("act", "1");
        const WebReply reply = session.Post(BodyEncoding::URL_ENCODED);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, "<reply/>");

        // One look at the URL, its Location never fetched, then the POST to where it pointed.
        const auto requests = loopback.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].RequestLine(), "GET http://svc.norvik.example:80/svc?old=1 HTTP/1.1");
        EXPECT_EQ(requests[1].RequestLine(), "POST http://files.norvik.example:8080/real/post HTTP/1.1");
        EXPECT_EQ(requests[1].Body(), "ActivateCode=X1&lang=en&act=1");
    }
}

TEST_F(SessionWire, RelativeLocationIsHandedOverUnchanged) {
    loopback.Add(Route("/svc", SERVICE_HOST).Status(302).Header("Location: /elsewhere?a=1"));
    WebSession session;
    // The relative reference is not resolved against the URL, so it cannot be taken apart; its pair
    // has been taken all the same, and no target was set.
    EXPECT_FALSE(session.SetUrl("http://svc.norvik.example/svc"));
    EXPECT_EQ(Fields(session.Request()), (FieldList{{"a", "1"}}));
    EXPECT_EQ(session.Request().server, "");
    EXPECT_EQ(session.Request().service, SERVICE_NONE);

    RecordingConsumer consumer;
    EXPECT_EQ(session.Get({}, consumer).status, 0);
    EXPECT_EQ(loopback.Requests().size(), 1u) << "only the look went out";
}

TEST_F(SessionWire, UnreachableUrlIsParsedAsGiven) {
    loopback.Add(Route("/p", "gone.norvik.example").CloseWithoutAnswer());
    WebSession session;
    EXPECT_TRUE(session.SetUrl("http://gone.norvik.example/p?x=1"));
    EXPECT_EQ(session.Request().server, "gone.norvik.example");
    EXPECT_EQ(session.Request().objectPath, "/p");
    EXPECT_EQ(Fields(session.Request()), (FieldList{{"x", "1"}}));

    WebSession refused;
    EXPECT_FALSE(refused.SetUrl("not a url"));
}

// --- Get ---

TEST_F(SessionWire, GetStreamsTheBodyOfAnyAnswerWithItsStatus) {
    const std::string binary("\0\x01zero\0\xff", 9);
    for (const int status : {200, 404, 500}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/f", FILES_HOST).Status(status).Body(binary));
        WebSession session;
        ASSERT_TRUE(session.SetUrl("http://files.norvik.example/f"));
        RecordingConsumer consumer;
        const DownloadResult result = session.Get({}, consumer);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.end, TransferEnd::Complete);
        EXPECT_EQ(consumer.starts, std::vector<int32_t>{status});
        EXPECT_EQ(consumer.body, binary);
    }

    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route("/big", FILES_HOST).Status(206).Generated(300000));
    WebSession session;
    ASSERT_TRUE(session.SetUrl("http://files.norvik.example/big"));
    RecordingConsumer consumer;
    const DownloadResult result = session.Get({}, consumer);
    EXPECT_EQ(result.end, TransferEnd::Complete);
    EXPECT_EQ(result.status, 206);
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{206});
    EXPECT_TRUE(HoldsPattern(consumer.body, 300000));
}

TEST_F(SessionWire, AFirstGetThatIsTheLookGoesWhereItsReplyPointsWhateverTheStatus) {
    for (const int status : {302, 200}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/f", FILES_HOST).Status(status).Header("Location: http://files.norvik.example/real?x=1")
                         .Body("not the file"));
        loopback.Add(Route("/real", FILES_HOST).Body("the file"));
        WebSession session;
        ASSERT_TRUE(session.SetDownloadUrl("http://files.norvik.example/f", false));
        EXPECT_EQ(loopback.Requests().size(), 0u) << "the look is left to the first Get";
        RecordingConsumer consumer;
        const DownloadResult result = session.Get({}, consumer);
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(result.end, TransferEnd::Complete);
        EXPECT_EQ(consumer.starts, std::vector<int32_t>{200}) << "the reply naming the Location reached no one";
        EXPECT_EQ(consumer.body, "the file");
        EXPECT_EQ(Fields(session.Request()), (FieldList{{"x", "1"}})) << "the Location parsed as SetUrl parses it";
        // A download request of its own after the look, not a redirect the exchange followed (which would
        // ask again as HTTP/1.1, the query with it).
        const auto requests = loopback.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].RequestLine(), "GET http://files.norvik.example:80/f HTTP/1.0");
        EXPECT_EQ(requests[1].RequestLine(), "GET http://files.norvik.example:80/real HTTP/1.0");
    }
}

TEST_F(SessionWire, GetOfAnUnknownSchemeMakesNoExchange) {
    WebSession session;
    ASSERT_TRUE(session.SetUrl("gopher://files.norvik.example:70/x"));
    RecordingConsumer consumer;
    const DownloadResult result = session.Get({}, consumer);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.end, TransferEnd::NoExchange);
    EXPECT_TRUE(consumer.starts.empty());
    for (const RecordedRequest& request : loopback.Requests()) {
        EXPECT_NE(request.RequestLine().rfind("GET", 0), 0u) << "nothing fetched: " << request.RequestLine();
    }
}

TEST_F(SessionWire, ALocationOfAnUnknownSchemeLeadsNowhereWhicheverRequestFoundIt) {
    // Its host and port serve something else: nothing there may be fetched over http instead.
    for (const bool lookInGet : {false, true}) {
        SCOPED_TRACE(lookInGet ? "the look made by the first Get" : "the look made by SetUrl");
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/f", FILES_HOST).Status(302).Header("Location: gopher://files.norvik.example:70/x"));
        loopback.Add(Route("/x", FILES_HOST).Body("not the file"));
        WebSession session;
        ASSERT_TRUE(lookInGet ? session.SetDownloadUrl("http://files.norvik.example/f", false)
                              : session.SetUrl("http://files.norvik.example/f"));
        RecordingConsumer consumer;
        const DownloadResult result = session.Get({}, consumer);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.end, TransferEnd::NoExchange);
        EXPECT_TRUE(consumer.starts.empty());
        const auto requests = loopback.Requests();
        ASSERT_EQ(requests.size(), 1u) << "only the look; then " << requests.back().RequestLine();
        EXPECT_EQ(requests[0].target, "/f");
    }
}

// --- bounded waits ---

TEST_F(SessionWire, LocationLookAtAServerThatNeverAnswersEndsWithinItsBound) {
    constexpr uint32_t shortWaitMs = 2000;
    ShortWaits shortWaits(shortWaitMs);
    loopback.Add(Route("/svc", SERVICE_HOST).NeverAnswer());
    for (const char* url : {"http://svc.norvik.example/svc?a=1", "https://svc.norvik.example/svc?a=1"}) {
        SCOPED_TRACE(url);
        auto session = std::make_shared<WebSession>();
        auto accepted = std::make_shared<bool>(false);
        BoundedRun run([session, accepted, url] { *accepted = session->SetUrl(url); });
        ASSERT_TRUE(run.Within(4 * shortWaitMs)) << "SetUrl still waiting for the Location after "
                                                 << 4 * shortWaitMs << " ms";
        EXPECT_GE(run.elapsedMs, shortWaitMs / 2) << "the server held the look: the wait itself ended it";
        EXPECT_TRUE(*accepted) << "no answer: the URL itself is parsed";
        EXPECT_EQ(session->Request().server, SERVICE_HOST);
        EXPECT_EQ(Fields(session->Request()), (FieldList{{"a", "1"}}));
    }
}

TEST_F(SessionWire, ProductWaitsAreSixtySeconds) {
    ASSERT_EQ(ExchangeTimeoutMs(), 60000u) << "an earlier test left its short wait behind";
    // Wine's WinINet reads back only the connect timeout of these handles; that the send and receive
    // waits follow the same value is shown by the short-wait tests, which end in time only through it.
    InternetSession session = OpenInternet(nullptr);
    ASSERT_TRUE(session);
    DWORD value = 0;
    DWORD length = sizeof(value);
    ASSERT_TRUE(::InternetQueryOptionA(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &value, &length));
    EXPECT_EQ(value, 60000u);

    // What an exchange gives its request handle before sending.
    InternetConnection connection(
        ::InternetConnectA(session.get(), FILES_HOST, 80, "", "", INTERNET_SERVICE_HTTP, 0, 0));
    ASSERT_TRUE(connection);
    InternetRequest request(::HttpOpenRequestA(connection.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0));
    ASSERT_TRUE(request);
    ApplyTimeouts(request.get());
    value = 0;
    length = sizeof(value);
    ASSERT_TRUE(::InternetQueryOptionA(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &value, &length));
    EXPECT_EQ(value, 60000u);
}

}  // namespace
}  // namespace tamsel::web
