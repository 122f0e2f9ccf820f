// FetchToFile on the wire: bytes stored over http, https and ftp, and when a file is touched; its progress
// and cancel stand with the other progress (ProgressWireTest.cpp).
#include "support/AgentWire.h"

#include "support/Bounded.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "support/Testbed.h"
#include "base/Handle.h"

#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::FILES_HOST;
using testbed::Route;

constexpr char FILE_URL[] = "http://files.norvik.example/pub/f.bin";
constexpr char FILE_PATH[] = "/pub/f.bin";

class FetchToFileWire : public testbed::TestbedTest {
protected:
    void SetUp() override {
        TestbedTest::SetUp();
        ASSERT_TRUE(Exists(folder)) << folder;
    }

    void ExpectRefusedTarget(const std::string& path);


    // The GETs of the file's host, the Location look included.
    std::vector<testbed::RecordedRequest> FileRequests(const char* channel = "http") {
        std::vector<testbed::RecordedRequest> chosen;
        for (testbed::RecordedRequest& request : loopback.Requests(channel)) {
            if (request.host == FILES_HOST) chosen.push_back(std::move(request));
        }
        return chosen;
    }

    test::FacedAgent agent;
    ScratchFolder scratch;
    const std::string folder = scratch.path;
    const std::string target = scratch.File("download.bin");
};

// --- bytes stored ---

TEST_F(FetchToFileWire, HttpBodyIsStoredByteForByteWithoutTheQuery) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(300000));
    const std::string url = std::string(FILE_URL) + "?token=a1&x=2";
    EXPECT_EQ(agent.FetchToFile(url.c_str(), target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    EXPECT_TRUE(NoStatusKept(agent));

    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u) << "the Location look, then the download";
    EXPECT_EQ(requests[0].target, "/pub/f.bin?token=a1&x=2");
    EXPECT_EQ(requests[1].target, FILE_PATH) << "the query became form fields, which a GET does not send";
    EXPECT_EQ(requests[1].RequestLine().compare(0, 4, "GET "), 0);
    EXPECT_EQ(requests[1].Body(), "");
}

TEST_F(FetchToFileWire, BodyWithoutContentLengthIsStoredToItsEnd) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(100000).NoContentLength());
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 100000));
}

TEST_F(FetchToFileWire, HttpsBodyIsStoredThroughTheTunnel) {
    loopback.Add(Route(FILE_PATH, "secure.norvik.example").Generated(70001));
    EXPECT_EQ(agent.FetchToFile("https://secure.norvik.example/pub/f.bin", target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 70001));
    const auto inside = loopback.Requests("https");
    ASSERT_FALSE(inside.empty());
    EXPECT_EQ(inside.back().target, FILE_PATH);
    EXPECT_EQ(inside.back().RequestLine().compare(0, 4, "GET "), 0);
}

TEST_F(FetchToFileWire, FtpFileIsStoredByteForByte) {
    const std::string served = folder + "\\served";
    ASSERT_TRUE(::CreateDirectoryA(served.c_str(), nullptr));
    const std::string source = served + "\\remote.bin";
    ASSERT_TRUE(WriteWhole(source, Pattern(150000, 17)));
    const uint16_t port = loopback.StartFtp(served);
    ASSERT_NE(port, 0);
    const std::string base = "ftp://127.0.0.1:" + std::to_string(port);

    EXPECT_EQ(agent.FetchToFile((base + "/remote.bin").c_str(), target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 150000, 17));
    EXPECT_TRUE(NoStatusKept(agent));

    // A missing remote file is no exchange at all: status 0 kept, no local file made.
    const std::string other = folder + "\\other.bin";
    EXPECT_EQ(agent.FetchToFile((base + "/absent.bin").c_str(), other.c_str(), nullptr), AGENT_E_HTTP_STATUS);
    LONG status = -1;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Exists(other));

    EXPECT_TRUE(loopback.StopFtp());
    ::DeleteFileA(source.c_str());
    ::RemoveDirectoryA(served.c_str());
}

TEST_F(FetchToFileWire, TheLocationOfTheUrlIsFetchedInstead) {
    loopback.Add(Route("/old", FILES_HOST).Method("GET").Times(1).Status(302).Header(
        "Location: http://files.norvik.example/new/f.bin"));
    loopback.Add(Route("/old", FILES_HOST).Body("the old file"));
    loopback.Add(Route("/new/f.bin", FILES_HOST).Generated(5000));
    EXPECT_EQ(agent.FetchToFile("http://files.norvik.example/old", target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u) << "one look, one download: the Location is not looked at again";
    EXPECT_EQ(requests[1].target, "/new/f.bin");
}

// --- when the file is touched ---

TEST_F(FetchToFileWire, NonSuccessStatusLeavesAnExistingFileAlone) {
    for (const int status : {404, 500, 204, 302}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(loopback.Reset());
        ASSERT_TRUE(WriteWhole(target, "the file the host already had"));
        loopback.Add(Route(FILE_PATH, FILES_HOST).Status(status).Body(std::string(20000, 'e')));
        RecordingSink sink;
        EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), &sink), AGENT_E_HTTP_STATUS);
        EXPECT_EQ(Contents(target), "the file the host already had");
        EXPECT_TRUE(sink.Percents().empty()) << "the body of a failure is not downloaded";
        LONG kept = -1;
        EXPECT_EQ(agent.GetLastHttpStatus(&kept), S_OK);
        EXPECT_EQ(kept, status);
        EXPECT_EQ(agent.GetLastServiceStatus(&kept), E_FAIL);

        const std::string fresh = folder + "\\fresh.bin";
        EXPECT_EQ(agent.FetchToFile(FILE_URL, fresh.c_str(), nullptr), AGENT_E_HTTP_STATUS);
        EXPECT_FALSE(Exists(fresh)) << "no file is made for a failure";
    }
}

TEST_F(FetchToFileWire, EmptyBodyLeavesAnEmptyFile) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Body(""));
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ(Contents(target), "");

    ASSERT_TRUE(WriteWhole(target, "older contents"));
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), nullptr), S_OK);
    EXPECT_EQ(Contents(target), "");
}

TEST_F(FetchToFileWire, ALongerExistingFileIsTruncatedAndOverwritten) {
    ASSERT_TRUE(WriteWhole(target, std::string(100000, 'x')));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(3000));
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 3000));
}

// Neither creatable nor truncatable: the transfer stops at the headers and the target stays as it was.
void FetchToFileWire::ExpectRefusedTarget(const std::string& path) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000000));
    RecordingSink sink;
    EXPECT_EQ(agent.FetchToFile(FILE_URL, path.c_str(), &sink), E_FAIL);
    EXPECT_TRUE(sink.Percents().empty()) << "nothing is downloaded beyond the headers";
    EXPECT_TRUE(NoStatusKept(agent));
}

TEST_F(FetchToFileWire, ATargetHeldOpenWithoutSharingFails) {
    ASSERT_TRUE(WriteWhole(target, "held contents"));
    FileHandle holder(
        ::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    ExpectRefusedTarget(target);
    holder.reset();
    EXPECT_EQ(Contents(target), "held contents");
}

TEST_F(FetchToFileWire, ATargetThatIsAFolderFails) {
    ASSERT_TRUE(::CreateDirectoryA(target.c_str(), nullptr));
    ExpectRefusedTarget(target);
    EXPECT_TRUE(::GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ::RemoveDirectoryA(target.c_str());
}

TEST_F(FetchToFileWire, AReadOnlyTargetFails) {
    ASSERT_TRUE(WriteWhole(target, "read-only contents"));
    ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    ExpectRefusedTarget(target);
    EXPECT_EQ(Contents(target), "read-only contents");
}

TEST_F(FetchToFileWire, ATargetInAMissingFolderFails) {
    const std::string missing = folder + "\\no-such-folder\\f.bin";
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000));
    EXPECT_EQ(agent.FetchToFile(FILE_URL, missing.c_str(), nullptr), E_FAIL);
    EXPECT_FALSE(Exists(folder + "\\no-such-folder"));
    EXPECT_TRUE(NoStatusKept(agent));
}

TEST_F(FetchToFileWire, ATransferCutShortFailsWithNothingKept) {
    struct Case {
        const char* what;
        Route route;
        size_t atMost;
    };
    const Case cases[] = {
        {"closed mid-body", Route(FILE_PATH, FILES_HOST).Generated(200000).CloseAfter(50000), 50000},
        {"fewer bytes than announced", Route(FILE_PATH, FILES_HOST).Generated(100000).ContentLength(300000), 100000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(c.route);
        EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), nullptr), E_FAIL);
        // The status was a 200, so the slots hold nothing: the failure is the transfer's.
        EXPECT_TRUE(NoStatusKept(agent));
        const std::string stored = Contents(target);
        EXPECT_LE(stored.size(), c.atMost);
        EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";
    }
}

// --- refused at the exchange (its bad arguments: ArgumentRefusalTest.cpp) ---

TEST_F(FetchToFileWire, UnknownSchemeIsAnExchangeWithStatus0) {
    EXPECT_EQ(agent.FetchToFile("gopher://files.norvik.example:70/pub/f.bin", target.c_str(), nullptr),
              AGENT_E_HTTP_STATUS);
    LONG status = -1;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Exists(target));
}

}  // namespace
}  // namespace tamsel::agent
