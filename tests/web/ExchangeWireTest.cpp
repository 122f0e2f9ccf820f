// Wire tests of the exchanges: POST bytes and reply, streamed GET, consumers that stop it, broken bodies,
// https through a tunnel, ftp, and the bounded waits, against the loopback test server.
#include "web/Exchange.h"

#include "support/Bounded.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/Testbed.h"
#include "web/Handle.h"
#include "support/WireDoubles.h"

#include <memory>
#include <string>
#include <vector>

namespace tamsel::web {
namespace {

using namespace wire;

constexpr char SECURE[] = "secure.norvik.example";

HttpRequest Target(const std::string& url) {
    HttpRequest request;
    EXPECT_TRUE(request.ParseUrl(url.c_str())) << url;
    return request;
}

// Every byte value, zero included, twice over.
std::string AllByteValues() {
    std::string bytes;
    for (int round = 0; round < 2; ++round) {
        for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
    }
    return bytes;
}

// payload in chunked transfer coding, pieces of at most `piece` bytes; the last chunk only if whole.
std::string Chunked(const std::string& payload, size_t piece, bool whole) {
    static const char digits[] = "0123456789abcdef";
    std::string coded;
    for (size_t at = 0; at < payload.size(); at += piece) {
        const std::string part = payload.substr(at, piece);
        std::string size;
        for (size_t n = part.size(); n != 0; n /= 16) size.insert(size.begin(), digits[n % 16]);
        coded += size + "\r\n" + part + "\r\n";
    }
    return whole ? coded + "0\r\n\r\n" : coded;
}

class ExchangeWire : public testbed::TestbedTest {
protected:
    // The one request the exchange made, on the proxy's plain channel.
    RecordedRequest OnlyRequest() {
        const auto requests = loopback.Requests();
        EXPECT_EQ(requests.size(), 1u) << "one exchange, one request";
        return requests.empty() ? RecordedRequest{} : requests.front();
    }

    // A GET of url into consumer; the status it leaves lands in lastStatus.
    TransferEnd Download(const std::string& url, RecordingConsumer& consumer) {
        const DownloadResult result = SendGet(Target(url), {}, consumer);
        lastStatus = result.status;
        return result.end;
    }

    int32_t lastStatus = -1;
};

// --- POST ---

TEST_F(ExchangeWire, MultipartPostReachesTheServerByteForByte) {
    loopback.Add(Route("/svc/activate", SERVICE_HOST).Method("POST").Header("X-Reply: one").Body("<r>done</r>"));
    ScratchFolder folder;
    const std::string binary("A\0B\r\n\xff", 6);
    const std::string file = folder.Write("part.bin", binary);

    HttpRequest request = Target("http://svc.norvik.example/svc/activate?lang=en&sn=A1");
    request.AddFormField("ActivateCode", "CODE 1");
    request.AddFormField("act", "1");
    request.fileFields.push_back({"upload", file, "application/octet-stream"});
    const WebReply reply = SendPost(request, BodyEncoding::MULTIPART_FORM_DATA);

    const std::string& b = request.boundary;
    const RecordedRequest sent = OnlyRequest();
    EXPECT_EQ(sent.RequestLine(), "POST http://svc.norvik.example:80/svc/activate HTTP/1.1");
    const std::string expectedBody =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"lang\"\r\n\r\nen\r\n" +
        "--" + b + "\r\nContent-Disposition: form-data; name=\"sn\"\r\n\r\nA1\r\n" +
        "--" + b + "\r\nContent-Disposition: form-data; name=\"ActivateCode\"\r\n\r\nCODE 1\r\n" +
        "--" + b + "\r\nContent-Disposition: form-data; name=\"act\"\r\n\r\n1\r\n" +
        "--" + b + "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"" + file + "\"\r\n" +
        "Content-Type: application/octet-stream\r\n\r\n" + binary + "\r\n" +
        "--" + b + "--\r\n";
    EXPECT_EQ(sent.Body(), expectedBody) << "sent by length, zero bytes included";
    // Our two lines first, then what WinINet adds, the agent text among them. Asked not to write the
    // reply to its cache, WinINet also asks every cache on the way not to serve one.
    const std::vector<std::string> expectedHeaders = {
        "Accept: */*",
        "Content-Type: multipart/form-data; boundary=" + b,
        "Host: svc.norvik.example",
        "Content-Length: " + std::to_string(expectedBody.size()),
        "User-Agent: Norvik POST/0.1",
        "Cache-Control: no-cache",
        "Connection: Keep-Alive",
    };
    EXPECT_EQ(sent.HeaderLines(), expectedHeaders);

    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers, "HTTP/1.1 200 OK\r\nX-Reply: one\r\nContent-Length: 11\r\n\r\n");
    EXPECT_EQ(reply.body, "<r>done</r>");
}

TEST_F(ExchangeWire, UrlEncodedPostSendsTheQueryPairsFirstUnescaped) {
    loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body("ok"));
    HttpRequest request = Target("http://svc.norvik.example/svc?lang=en&sn=A1");
    request.AddFormField("ActivateCode", "a b&c=d");
    request.AddFormField("act", "1");
    EXPECT_EQ(SendPost(request, BodyEncoding::URL_ENCODED).body, "ok");

    const RecordedRequest sent = OnlyRequest();
    EXPECT_EQ(sent.Body(), "lang=en&sn=A1&ActivateCode=a b&c=d&act=1");
    const auto headers = sent.HeaderLines();
    ASSERT_GE(headers.size(), 2u);
    EXPECT_EQ(headers[0], "Accept: */*");
    EXPECT_EQ(headers[1], "Content-Type: application/x-www-form-urlencoded");
}

TEST_F(ExchangeWire, PostAnswered500ReturnsItsBodyStatusAndHeaderBlock) {
    loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Status(500).Header("X-Why: broken").Body("<error/>"));
    const WebReply reply = SendPost(Target("http://svc.norvik.example/svc"), BodyEncoding::MULTIPART_FORM_DATA);
    EXPECT_EQ(reply.body, "<error/>");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.headers, "HTTP/1.1 500 Internal Server Error\r\nX-Why: broken\r\nContent-Length: 8\r\n\r\n");
}

TEST_F(ExchangeWire, PostReplyTextLosesTheRestOfTheChunkAfterAZeroByte) {
    loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(std::string("before\0after", 12)));
    const WebReply reply = SendPost(Target("http://svc.norvik.example/svc"), BodyEncoding::MULTIPART_FORM_DATA);
    EXPECT_EQ(reply.body, "before");
    EXPECT_EQ(reply.status, 200);
}

TEST_F(ExchangeWire, PostToAnFtpUrlSpeaksHttpToThatPort) {
    // What the proxy sees: an http request for the ftp URL's host and port, 21 when none is named.
    const struct {
        const char* url;
        const char* requestLine;
    } cases[] = {
        {"ftp://files.norvik.example/upload?x=1", "POST http://files.norvik.example:21/upload HTTP/1.1"},
        {"ftp://files.norvik.example:2121/upload", "POST http://files.norvik.example:2121/upload HTTP/1.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/upload", FILES_HOST).Method("POST").Body("taken"));
        const WebReply reply = SendPost(Target(c.url), BodyEncoding::MULTIPART_FORM_DATA);
        EXPECT_EQ(reply.body, "taken");
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(OnlyRequest().RequestLine(), c.requestLine);
    }
}

TEST_F(ExchangeWire, PostThatGetsNoReplyIsStatus0WithNothingElse) {
    loopback.Add(Route("/svc", SERVICE_HOST).CloseWithoutAnswer());
    const WebReply reply = SendPost(Target("http://svc.norvik.example/svc"), BodyEncoding::MULTIPART_FORM_DATA);
    EXPECT_EQ(reply.body, "");
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.headers, "");
}

// --- GET ---

TEST_F(ExchangeWire, GetAsksForThePathAloneWithHttp10) {
    loopback.Add(Route("/dl/file.bin", FILES_HOST).Body("payload"));
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/dl/file.bin?a=1&b=2", consumer), TransferEnd::Complete);

    const RecordedRequest sent = OnlyRequest();
    EXPECT_EQ(sent.RequestLine(), "GET http://files.norvik.example:80/dl/file.bin HTTP/1.0")
        << "the query became form fields, and a GET sends none";
    // No agent text was given: WinINet sends no User-Agent line at all.
    const std::vector<std::string> expectedHeaders = {
        "Accept: */*",
        "Host: files.norvik.example",
        "Connection: Keep-Alive",
    };
    EXPECT_EQ(sent.HeaderLines(), expectedHeaders);
    EXPECT_EQ(sent.Body(), "");
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{200});
    EXPECT_EQ(consumer.body, "payload");
}

TEST_F(ExchangeWire, GetThatGetsNoReplyMakesNoExchange) {
    loopback.Add(Route("/f", FILES_HOST).CloseWithoutAnswer());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/f", consumer), TransferEnd::NoExchange);
    EXPECT_EQ(lastStatus, 0);
    EXPECT_TRUE(consumer.starts.empty());
}

TEST_F(ExchangeWire, GetKeepsEveryByteAndTheBodyOfAnyStatus) {
    const std::string binary = AllByteValues();
    for (const int status : {200, 404, 500}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/f", FILES_HOST).Status(status).Body(binary));
        RecordingConsumer consumer;
        EXPECT_EQ(Download("http://files.norvik.example/f", consumer), TransferEnd::Complete);
        EXPECT_EQ(lastStatus, status);
        EXPECT_EQ(consumer.starts, std::vector<int32_t>{status});
        EXPECT_EQ(consumer.body, binary);
    }
}

TEST_F(ExchangeWire, BodyOfManyReadBlocksArrivesWholeAndInOrder) {
    // A read takes at most 1 MiB, whatever more has arrived: the body streams through in pieces, each
    // but the last a whole number of chunks, so that a consumer stopping at a chunk stops at its byte.
    constexpr uint64_t block = 1024 * 1024;
    constexpr uint64_t size = 5 * block + 1234;
    loopback.Add(Route("/big", FILES_HOST).Generated(size));
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/big", consumer), TransferEnd::Complete);
    EXPECT_TRUE(HoldsPattern(consumer.body, size));
    EXPECT_GE(consumer.writes.size(), 6u) << "streamed, not gathered";
    for (size_t i = 0; i < consumer.writes.size(); ++i) {
        EXPECT_GT(consumer.writes[i], 0u);
        EXPECT_LE(consumer.writes[i], block);
        const bool last = i + 1 == consumer.writes.size();
        EXPECT_TRUE(last || consumer.writes[i] % BODY_CHUNK_SIZE == 0)
            << "write " << i << " of " << consumer.writes[i] << " bytes: whole chunks but for the last";
    }
}

TEST_F(ExchangeWire, RedirectToALocationFullOfSpacesIsFollowed) {
    // Each space grows to "%20" in the combined URL: the platform asks for a larger buffer, and gets it.
    const std::string spaces(100, ' ');
    std::string escaped;
    for (size_t i = 0; i < spaces.size(); ++i) escaped += "%20";
    loopback.Add(Route("/f", FILES_HOST).Status(302).Header("Location: /moved" + spaces + "here.bin"));
    loopback.Add(Route("/moved" + escaped + "here.bin", FILES_HOST).Generated(3000));
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/f", consumer), TransferEnd::Complete);
    EXPECT_EQ(lastStatus, 200);
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{200});
    EXPECT_TRUE(HoldsPattern(consumer.body, 3000));
    const auto requests = loopback.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].RequestLine(), "GET http://files.norvik.example:80/moved" + escaped + "here.bin HTTP/1.1");
}

TEST_F(ExchangeWire, ConsumerWriteFailureEndsTheTransferThere) {
    loopback.Add(Route("/big", FILES_HOST).Generated(400000));
    RecordingConsumer consumer;
    consumer.failWriteAt = 2;
    EXPECT_EQ(Download("http://files.norvik.example/big", consumer), TransferEnd::ConsumerFailed);
    EXPECT_EQ(consumer.writes.size(), 2u) << "no write after the failed one";
    EXPECT_TRUE(HoldsPattern(consumer.body, consumer.writes[0]));
}

// --- broken bodies ---

TEST_F(ExchangeWire, CloseWithoutALengthCannotBeToldFromTheEnd) {
    // Without Content-Length or chunked coding the close is the only end mark there is.
    loopback.Add(Route("/big", FILES_HOST).NoContentLength().Generated(100000).CloseAfter(30000));
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/big", consumer), TransferEnd::Complete);
    EXPECT_TRUE(HoldsPattern(consumer.body, 30000));
}

TEST_F(ExchangeWire, ChunkedBodyArrivesWholeAndACutOneKeepsItsBytesInOrder) {
    std::string payload = AllByteValues();
    while (payload.size() < 100000) payload += payload;
    loopback.Add(Route("/whole", FILES_HOST).NoContentLength().Header("Transfer-Encoding: chunked").Body(
        Chunked(payload, 7000, true)));
    loopback.Add(Route("/cut", FILES_HOST).NoContentLength().Header("Transfer-Encoding: chunked").Body(
        Chunked(payload, 7000, false).substr(0, 50000)));

    RecordingConsumer whole;
    EXPECT_EQ(Download("http://files.norvik.example/whole", whole), TransferEnd::Complete);
    EXPECT_EQ(whole.body, payload);

    // Wine's WinINet ends a chunked body cut short by the close with a read of 0 bytes, just as at
    // its last chunk, and offers no way to ask which it was: the cut cannot be told from the end.
    RecordingConsumer cut;
    EXPECT_EQ(Download("http://files.norvik.example/cut", cut), TransferEnd::Complete);
    EXPECT_GT(cut.body.size(), 40000u);
    EXPECT_LT(cut.body.size(), 50000u);
    EXPECT_EQ(cut.body, payload.substr(0, cut.body.size()));
}

// --- https through the proxy's tunnel ---

TEST_F(ExchangeWire, HttpsGetAndPostTravelInsideTheTunnel) {
    loopback.Add(Route("/dl/file.bin", SECURE).Generated(100000));
    loopback.Add(Route("/svc", SECURE).Method("POST").Body("<secure/>"));

    RecordingConsumer consumer;
    EXPECT_EQ(Download("https://secure.norvik.example/dl/file.bin?x=1", consumer), TransferEnd::Complete);
    EXPECT_EQ(lastStatus, 200);
    EXPECT_TRUE(HoldsPattern(consumer.body, 100000));

    HttpRequest post = Target("https://secure.norvik.example/svc");
    post.AddFormField("act", "1");
    const WebReply reply = SendPost(post, BodyEncoding::URL_ENCODED);
    EXPECT_EQ(reply.body, "<secure/>");
    EXPECT_EQ(reply.status, 200);

    const auto tunnels = loopback.Requests("http");
    ASSERT_GE(tunnels.size(), 1u);
    for (const RecordedRequest& tunnel : tunnels) {
        EXPECT_EQ(tunnel.RequestLine().rfind("CONNECT secure.norvik.example:443 HTTP/1.", 0), 0u)
            << tunnel.RequestLine();
    }
    // Inside the tunnel the GET goes out as HTTP/1.1: Wine's WinINet takes the request's version from
    // the proxy's answer to CONNECT.
    const auto inside = loopback.Requests("https");
    ASSERT_EQ(inside.size(), 2u);
    EXPECT_EQ(inside[0].RequestLine(), "GET /dl/file.bin HTTP/1.1");
    EXPECT_EQ(inside[1].RequestLine(), "POST /svc HTTP/1.1");
    EXPECT_EQ(inside[1].Body(), "act=1");
}

TEST_F(ExchangeWire, UntrustedCertificateAuthorityEndsTheExchangePromptly) {
    // Wine's WinINet fails the handshake with ERROR_INTERNET_SEC_CERT_REV_FAILED here (the chain the
    // server sends reaches no known root), so no prompt is offered: the exchange must end as none,
    // whatever status the proxy's answer to CONNECT left behind, and not ask again for ever.
    struct Outcome {
        HttpRequest get = Target("https://untrusted.norvik.example/f");
        HttpRequest post = Target("https://untrusted.norvik.example/svc");
        RecordingConsumer consumer;
        DownloadResult got{-1, TransferEnd::Complete};
        WebReply posted{-1, "unset", "unset"};
    };
    auto outcome = std::make_shared<Outcome>();
    BoundedRun run([outcome] {
        outcome->got = SendGet(outcome->get, {}, outcome->consumer);
        outcome->posted = SendPost(outcome->post, BodyEncoding::MULTIPART_FORM_DATA);
    });
    ASSERT_TRUE(run.Within(30000)) << "the certificate loop did not end";
    EXPECT_EQ(outcome->got.end, TransferEnd::NoExchange);
    EXPECT_EQ(outcome->got.status, 0);
    EXPECT_TRUE(outcome->consumer.starts.empty());
    EXPECT_EQ(outcome->posted.body, "");
    EXPECT_EQ(outcome->posted.status, 0);
    EXPECT_TRUE(loopback.Requests("https").empty()) << "nothing may be sent to a server that is not trusted";
}

// --- ftp ---

class FtpWire : public ExchangeWire {
protected:
    void SetUp() override {
        ExchangeWire::SetUp();
        port = loopback.StartFtp(folder.path);
        ASSERT_NE(port, 0) << "no FTP server";
    }

    std::string Url(const std::string& name) const {
        return "ftp://127.0.0.1:" + std::to_string(port) + "/" + name;
    }

    ScratchFolder folder;
    uint16_t port = 0;
};

TEST_F(FtpWire, MissingFileMakesNoExchangeAndLeavesTheStatus) {
    RecordingConsumer consumer;
    EXPECT_EQ(Download(Url("missing.bin"), consumer), TransferEnd::NoExchange);
    EXPECT_EQ(lastStatus, 0);
    EXPECT_TRUE(consumer.starts.empty());
}

// --- bounded waits ---

constexpr uint32_t SHORT_WAIT_MS = 2000;
constexpr DWORD BOUND = 4 * SHORT_WAIT_MS;

// A GET and a POST, each given BOUND to end on a thread of its own; a run that overstays is left
// behind with what it owns.
struct BoundedExchanges {
    HttpRequest get;
    HttpRequest post;
    RecordingConsumer consumer;
    DownloadResult got{-1, TransferEnd::Complete};
    WebReply posted{-1, "unset", "unset"};
    bool getEnded = false;
    bool postEnded = false;
    long long postMs = 0;
};

std::shared_ptr<BoundedExchanges> RunBounded(const char* getUrl, const char* postUrl) {
    auto run = std::make_shared<BoundedExchanges>();
    run->get = Target(getUrl);
    run->post = Target(postUrl);
    BoundedRun get([run] { run->got = SendGet(run->get, {}, run->consumer); });
    run->getEnded = get.Within(BOUND);
    BoundedRun post([run] { run->posted = SendPost(run->post, BodyEncoding::MULTIPART_FORM_DATA); });
    run->postEnded = post.Within(BOUND);
    run->postMs = post.elapsedMs;
    return run;
}

TEST_F(ExchangeWire, ServerThatNeverAnswersEndsTheExchangeWithinItsBound) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    loopback.Add(Route("/svc", SERVICE_HOST).NeverAnswer());
    const auto run = RunBounded("http://svc.norvik.example/svc", "http://svc.norvik.example/svc");
    ASSERT_TRUE(run->getEnded) << "GET still waiting after " << BOUND << " ms";
    EXPECT_EQ(run->got.end, TransferEnd::NoExchange);
    EXPECT_EQ(run->got.status, 0);
    ASSERT_TRUE(run->postEnded) << "POST still waiting after " << BOUND << " ms";
    EXPECT_EQ(run->posted.body, "");
    EXPECT_EQ(run->posted.status, 0);
    EXPECT_GE(run->postMs, SHORT_WAIT_MS / 2) << "the server held the request: the wait itself ended it";
}

TEST_F(ExchangeWire, ServerThatStallsMidBodyEndsTheTransferWithinItsBound) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    loopback.Add(Route("/big", FILES_HOST).Generated(200000).StallAfter(10000));
    loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(std::string(50000, 'x')).StallAfter(10000));
    const auto run = RunBounded("http://files.norvik.example/big", "http://svc.norvik.example/svc");
    ASSERT_TRUE(run->getEnded) << "GET still reading after " << BOUND << " ms";
    EXPECT_EQ(run->got.end, TransferEnd::Broken);
    EXPECT_EQ(run->got.status, 200);
    EXPECT_TRUE(HoldsPattern(run->consumer.body, run->consumer.body.size()));
    EXPECT_LE(run->consumer.body.size(), 10000u);
    ASSERT_TRUE(run->postEnded) << "POST still reading after " << BOUND << " ms";
    EXPECT_EQ(run->posted.status, 200);
    EXPECT_LE(run->posted.body.size(), 10000u);
}

}  // namespace
}  // namespace tamsel::web
