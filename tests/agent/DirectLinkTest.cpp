// Connections on a link without a proxy, where the test hosts are the loopback server itself: the
// platform's keep-alive pool carries a later-interface download to a host over the connection that an
// earlier request, of the same operation or of the one before, left open.
#include "support/FacedAgent.h"

#include "support/Files.h"
#include "support/Pattern.h"
#include "support/ServiceReply.h"
#include "support/Testbed.h"

#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::Route;
using testbed::SERVICE_HOST;

constexpr char MOVED_URL[] = "http://files.norvik.example/moved.bin";
constexpr char SERVICE_URL[] = "http://svc.norvik.example/dl/service.php";
// SHA-256 of the first 100,000 bytes of the generated pattern (i % 251).
constexpr char PATTERN_100000_SHA256[] = "cd2df694e424bc7968cc37f47751019e5ca0cd1bdf2e479ea537c3a1c32ee1aa";

class DirectLink : public testbed::TestbedTest {
protected:
    // Each request as "host request-line" and the connection it came on, in order.
    void Read() {
        lines.clear();
        connections.clear();
        for (const testbed::RecordedRequest& request : loopback.Requests()) {
            lines.push_back(request.host + " " + request.RequestLine());
            connections.push_back(request.connection);
        }
    }

    std::string Joined() const {
        std::string text;
        for (size_t i = 0; i < lines.size(); ++i) text += std::to_string(connections[i]) + " " + lines[i] + "\n";
        return text;
    }

    test::FacedAgent agent;
    ScratchFolder scratch;
    const std::string target = scratch.File("download.bin");
    const std::wstring wideTarget = std::wstring(target.begin(), target.end());  // the scratch path is ASCII
    std::vector<std::string> lines;
    std::vector<int> connections;
};

TEST_F(DirectLink, AQueryAndTwoDownloadsOnOneObjectOpenOneConnectionPerHost) {
    // The query probes, looks at the service URL and posts to it; the first download goes to the file at
    // once (the query's probe stands for its own); the second, a verified one, asks a URL that moves to
    // the same file.
    // The look and the POST share a connection, and every request to the file's host comes on the one
    // its first request opened: three connections for six requests, each host's opened once.
    loopback.Add(Route("/dl/service.php", SERVICE_HOST).Method("POST").Body(
        ServiceReply({{"StatusCode", "1"}, {"downloadURL", FILE_URL}, {"filesize", "100000"}})));
    loopback.Add(Route("/moved.bin", FILES_HOST).Status(302).Header(std::string("Location: ") + FILE_URL));
    loopback.Add(Route("/f.bin", FILES_HOST).Generated(100000));
    char url[256] = "";
    LONGLONG size = 0;
    ASSERT_EQ(agent.QueryDownload(url, sizeof url, SERVICE_URL, "CODE", &size), S_OK);
    ASSERT_EQ(agent.FetchToFileEx(url, wideTarget.c_str(), nullptr, TAMSEL_FETCH_REPLACE_SAFELY, size), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 100000));
    ASSERT_EQ(agent.FetchToFileVerified(MOVED_URL, wideTarget.c_str(), nullptr, TAMSEL_FETCH_REPLACE_SAFELY, size,
                                        PATTERN_100000_SHA256),
              S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 100000));

    Read();
    const std::vector<std::string> expected = {
        std::string(testbed::MAKER_HOST) + " GET / HTTP/1.1",
        std::string(SERVICE_HOST) + " GET /dl/service.php HTTP/1.1",
        std::string(SERVICE_HOST) + " POST /dl/service.php HTTP/1.1",
        std::string(FILES_HOST) + " GET /f.bin HTTP/1.0",
        std::string(FILES_HOST) + " GET /moved.bin HTTP/1.0",
        std::string(FILES_HOST) + " GET /f.bin HTTP/1.0",
    };
    ASSERT_EQ(lines, expected) << Joined();
    EXPECT_EQ(connections[2], connections[1]) << "the POST on the look's connection\n" << Joined();
    EXPECT_EQ(connections[4], connections[3]) << "the next download on the last one's connection\n" << Joined();
    EXPECT_EQ(connections[5], connections[3]) << "the file after its 302 on the same connection\n" << Joined();
    EXPECT_NE(connections[0], connections[1]) << Joined();
    EXPECT_NE(connections[3], connections[1]) << Joined();
}

}  // namespace
}  // namespace tamsel::agent
