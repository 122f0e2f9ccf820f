// The test side of the loopback "internet": scripting its routes, reading what reached it, FTP on demand.
// The server (testbed/server.py) runs beside each TESTBED test; this client talks to its control API
// over plain Winsock, never through WinINet, so that it adds nothing to what the product sends.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamsel::testbed {

// Host of the maker's web site, where the probe page lives.
inline constexpr char MAKER_HOST[] = "www.norvik.example";
// Hosts of the service and of the files it hands out, as the wire tests name them.
inline constexpr char SERVICE_HOST[] = "svc.norvik.example";
inline constexpr char FILES_HOST[] = "files.norvik.example";
// The file and the service most agent wire tests script on those hosts.
inline constexpr char FILE_URL[] = "http://files.norvik.example/f.bin";
inline constexpr char FILE_PATH[] = "/f.bin";
inline constexpr char SERVICE_URL[] = "http://svc.norvik.example/svc";
// A file whose Location look the suites answer apart (see AddDownload), for bodies of any size.
inline constexpr char BIG_FILE_URL[] = "http://files.norvik.example/big.bin";
inline constexpr char BIG_FILE_PATH[] = "/big.bin";

// One scripted answer, built fluently: Route("/svc").Status(302).Header("Location: http://x/").
// A route answers requests for its host whose path and query equal target exactly, or, failing that,
// whose path alone equals it. Unscripted: the probe page answers 200, everything else 404.
class Route {
public:
    explicit Route(std::string target, std::string host = MAKER_HOST);

    Route& Method(const std::string& verb);              // only this verb (default: any)
    Route& Times(unsigned count);                        // answer count requests, then step aside
    Route& Status(int code, const std::string& reason = {});  // default 200 and its usual phrase
    Route& Version(const std::string& text);             // status line's version (default HTTP/1.1)
    Route& Header(const std::string& line);              // sent exactly, in order of the calls
    Route& Body(const std::string& bytes);
    Route& Generated(uint64_t size);                     // size bytes of PatternByte(i), made on the fly
    Route& ContentLength(uint64_t declared);             // a wrong one closes the connection after
    Route& NoContentLength();                            // body delimited by closing the connection
    Route& DelayMs(unsigned milliseconds);               // wait before answering
    Route& NeverAnswer();                                // hold the connection until the client leaves
    Route& StallAfter(uint64_t bodyBytes);               // send head and this much body, then hold
    Route& CloseAfter(uint64_t bodyBytes);               // send head and this much body, then close
    Route& Trickle(unsigned bytes, unsigned everyMs);    // body in pieces of bytes, a pause before each
    Route& Ranges();  // "Range: bytes=N-" gets a 206 of the rest (416 past the end), unless If-Range names
                      // a validator other than the route's ETag or Last-Modified line
    Route& RangesIgnoringIfRange();  // as Ranges(), If-Range unheeded: a part of whatever the route has
    Route& RangesOfUnknownWhole();   // as Ranges(), the part's Content-Range without its whole: "bytes N-M/*"
    Route& FlipByte(uint64_t offset);                    // the body's byte at offset inverted, length kept
    Route& Rate(uint64_t bytesPerSecond);                // each connection's body at about this rate
    // How a range with a last byte ("bytes=N-M", a slice) is answered: "part" (as Ranges() says), "whole"
    // (200 and the whole body), "etag" (the part under another ETag), or a status ("429") with Retry-After.
    Route& Slices(const std::string& how);
    Route& Raw(const std::string& bytes);                // send these bytes instead of a reply, close
    Route& CloseWithoutAnswer();                         // close as soon as the request is read
    Route& CloseConnection();                            // close after a well-framed reply

    const std::string& Encoded() const { return m_fields; }

private:
    Route& Add(const char* name, const std::string& value);
    std::string m_fields;
};

// The byte at offset i of a Generated body.
inline unsigned char PatternByte(uint64_t offset) {
    return static_cast<unsigned char>(offset % 251);
}

// One request as it reached the server, byte for byte.
struct RecordedRequest {
    std::string channel;  // "http" (proxied, CONNECT included), "https" (inside a tunnel), "ftp"
    std::string host;     // host without port: of the URL, of the CONNECT, or 127.0.0.1 for FTP
    std::string target;   // path and query as routed; CONNECT: host:port; FTP: the command word
    std::string raw;      // request line, header lines and body; FTP: the command line without CRLF
    int connection = 0;   // the connection it came on (to the proxy, or to the host when direct), numbered
                          // from 1 as accepted (a tunnel's requests share their CONNECT's); 0 for FTP

    std::string RequestLine() const;
    std::vector<std::string> HeaderLines() const;  // in order, without CRLF
    std::string Body() const;
};

class Testbed {
public:
    // Reads the server's port from TAMSEL_TESTBED_PORT, which with-testbed.sh sets.
    Testbed();

    bool Ready() const { return m_port != 0; }
    // Forgets every route and recorded request and stops FTP; connections still held open by an
    // earlier route (a delay, a stall) are closed.
    bool Reset();
    bool Add(const Route& route);
    std::vector<RecordedRequest> Requests();
    // Requests of one channel, in order (the probe's among them).
    std::vector<RecordedRequest> Requests(const std::string& channel);
    // Starts anonymous read-only FTP on 127.0.0.1 serving a local folder; answers its port, 0 on failure.
    uint16_t StartFtp(const std::string& windowsFolder);
    bool StopFtp();
    // Makes a Unix symbolic link at link (a Windows path) to target (one too): what Wine cannot make.
    bool Symlink(const std::string& link, const std::string& target);
    // Removes such a link, which Wine cannot either (it deletes the file the link points to).
    bool Unlink(const std::string& link);
    // From now until the next Reset, the server as a proxy answers every proxied request and CONNECT
    // that lacks "Proxy-Authorization: Basic <user:password>" with 407 and a Basic challenge (recorded
    // like any request); an empty user lifts it.
    bool RequireProxyAuth(const std::string& user, const std::string& password);

private:
    // One control call; the reply body, or a failure added to the running test.
    bool Call(const char* verb, const std::string& command, const std::string& body, std::string* reply);

    uint16_t m_port = 0;
};

// Fixture base: every test starts with the loopback server holding no routes and no recorded requests.
class TestbedTest : public ::testing::Test {
protected:
    void SetUp() override;

    Testbed loopback;
};

// "name SP length LF bytes LF" lists, the control API's encoding both ways.
std::string EncodeField(const std::string& name, const std::string& value);
bool DecodeFields(const std::string& text, std::vector<std::pair<std::string, std::string>>* fields);

}  // namespace tamsel::testbed
