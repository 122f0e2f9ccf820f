// FetchToFile on the wire: bytes stored over http, https and ftp, cancel, and when a file is touched;
// the host's percentages over the exchange itself.
#include "support/FacedAgent.h"

#include "agent/DownloadProgress.h"
#include "faces/HostProgress.h"
#include "support/Bounded.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "support/Testbed.h"
#include "base/Handle.h"
#include "web/Exchange.h"
#include "web/WireDoubles.h"

#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::Route;
using web::wire::RecordingConsumer;

constexpr char FILES_HOST[] = "files.norvik.example";
constexpr char FILE_URL[] = "http://files.norvik.example/pub/f.bin";
constexpr char FILE_PATH[] = "/pub/f.bin";

class FetchToFileWire : public testbed::TestbedTest {
protected:
    void SetUp() override {
        TestbedTest::SetUp();
        ASSERT_TRUE(Exists(folder)) << folder;
    }

    void ExpectRefusedTarget(const std::string& path);

    void ExpectNoStatusKept() {
        LONG status = 12345;
        EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL);
        EXPECT_EQ(agent.GetLastServiceStatus(&status), E_FAIL);
        EXPECT_EQ(status, 12345);
    }

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
    ExpectNoStatusKept();

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
    ExpectNoStatusKept();

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

// --- progress and cancel ---

TEST_F(FetchToFileWire, ProgressIsReportedUpTo100WithoutTakingReferences) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(409600));
    RecordingSink sink;
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 409600));
    const std::vector<LONG> percents = sink.Percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(sink.WellFormed()) << "the flag is cleared before every report, each right after NotifyCode";
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]);
    EXPECT_EQ(sink.Codes(), std::vector<LONG>(percents.size(), PROGRESS_CODE));
    EXPECT_EQ(sink.references, 1);
}

TEST_F(FetchToFileWire, CancelKeepsTheBytesUpToTheCancellingChunk) {
    // 1 % of 1,000,000 bytes is first reached by the third 4096-byte chunk: 12288 bytes.
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000000));
    RecordingSink sink(SinkScript{1});
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_EQ(sink.Percents(), std::vector<LONG>{1});
    EXPECT_TRUE(sink.WellFormed());
    EXPECT_TRUE(HoldsPattern(Contents(target), 12288));
    ExpectNoStatusKept();

    // A later cancel: at 50 %, the chunk that reaches 500,000 bytes ends at 123 * 4096.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000000));
    RecordingSink later(SinkScript{50});
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), &later), S_OK);
    EXPECT_TRUE(later.WellFormed()) << "the flag is cleared before every report, each right after NotifyCode";
    EXPECT_EQ(later.Percents().back(), 50);
    EXPECT_TRUE(HoldsPattern(Contents(target), 123 * 4096));
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
    ExpectNoStatusKept();
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
    ExpectNoStatusKept();
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
        ExpectNoStatusKept();
        const std::string stored = Contents(target);
        EXPECT_LE(stored.size(), c.atMost);
        EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";
    }
}

TEST_F(FetchToFileWire, ATransferThatStallsEndsAsAFailure) {
    // The bounded wait of every exchange, shortened so that the stall is given up quickly.
    ShortWaits shortWaits(1500);
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(100000).StallAfter(20000));
    EXPECT_EQ(agent.FetchToFile(FILE_URL, target.c_str(), nullptr), E_FAIL);
    ExpectNoStatusKept();
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 20000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size()));
}

// --- refused before or at the exchange ---

TEST_F(FetchToFileWire, UnknownSchemeIsAnExchangeWithStatus0) {
    EXPECT_EQ(agent.FetchToFile("gopher://files.norvik.example:70/pub/f.bin", target.c_str(), nullptr),
              AGENT_E_HTTP_STATUS);
    LONG status = -1;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Exists(target));
}

TEST_F(FetchToFileWire, EmptyOrRefusedArgumentsMakeNoFile) {
    struct Case {
        const char* url;
        std::string path;
    };
    const Case cases[] = {
        {"", target},
        {FILE_URL, ""},
        {"", ""},
        {"files.norvik.example/pub/f.bin", target},  // no scheme
        {"http://files.norvik.example:0/pub/f.bin", target},
        {"ftp://127.0.0.1:65536/f.bin", target},
    };
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.url << "\" to \"" << c.path << '"');
        EXPECT_EQ(agent.FetchToFile(c.url, c.path.c_str(), nullptr), E_INVALIDARG);
        EXPECT_FALSE(Exists(target));
        ExpectNoStatusKept();
    }
}

// --- the host's progress over the exchange itself: percentages, cancel and where a body stands ---

// The sinks here answer every call with a failure, which the download must ignore; cancelAtReport as
// in SinkScript.
SinkScript Failing(size_t cancelAtReport = 0) {
    SinkScript script;
    script.answer = E_FAIL;
    script.cancelAtReport = cancelAtReport;
    return script;
}

class ProgressWire : public testbed::TestbedTest {
protected:
    // A GET of url into consumer with the sink's percentages; the status it leaves lands in lastStatus.
    web::TransferEnd Download(const std::string& url, ProgressSink* sink, RecordingConsumer& consumer) {
        web::HttpRequest request;
        EXPECT_TRUE(request.ParseUrl(url.c_str())) << url;
        faces::HostProgress host(sink, faces::HostProgress::Reports::PERCENT);
        Reach reach;
        ProgressBody reported(consumer, &host, reach);
        const web::DownloadResult result = web::SendGet(request, {}, reported);
        lastStatus = result.status;
        return result.end;
    }

    // The ftp URL of name in folder, which an FTP server started at the first call serves.
    std::string FtpUrl(const std::string& name) {
        if (port == 0) port = loopback.StartFtp(folder.path);
        EXPECT_NE(port, 0) << "no FTP server";
        return "ftp://127.0.0.1:" + std::to_string(port) + "/" + name;
    }

    int32_t lastStatus = -1;
    ScratchFolder folder;
    uint16_t port = 0;
};

TEST_F(ProgressWire, ConsumerThatDeclinesTheBodyGetsNoByte) {
    loopback.Add(Route("/big", FILES_HOST).Status(404).Generated(1 << 20));
    RecordingConsumer consumer;
    consumer.acceptStart = false;
    RecordingSink sink(Failing());
    EXPECT_EQ(Download("http://files.norvik.example/big", &sink, consumer), web::TransferEnd::Declined);
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{404});
    EXPECT_TRUE(consumer.writes.empty());
    EXPECT_TRUE(sink.calls.empty()) << "nothing was read, so nothing to report";
    EXPECT_EQ(lastStatus, 404);
}

TEST_F(ProgressWire, SmallBodyWithItsLengthGivesOneFullReport) {
    loopback.Add(Route("/small", FILES_HOST).Generated(250));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/small", &sink, consumer), web::TransferEnd::Complete);
    ASSERT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(sink.calls[0].kind, SinkCall::Code);
    EXPECT_EQ(sink.calls[0].value, PROGRESS_CODE);
    EXPECT_EQ(sink.calls[1].kind, SinkCall::Progress);
    EXPECT_EQ(sink.calls[1].value, 100);
    EXPECT_EQ(sink.calls[1].flagHandedOver, 0);
    EXPECT_EQ(sink.references, 1) << "the download takes no reference on the sink";
    EXPECT_TRUE(HoldsPattern(consumer.body, 250));
}

TEST_F(ProgressWire, LargeBodyReportsRisingPercentsChunkByChunk) {
    constexpr uint64_t size = 300000;  // every 4096-byte chunk moves the percentage
    loopback.Add(Route("/big", FILES_HOST).Generated(size));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/big", &sink, consumer), web::TransferEnd::Complete);
    EXPECT_TRUE(sink.WellFormed());
    const std::vector<LONG> percents = sink.Percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(percents.size(), (size + 4095) / 4096) << "one report per 4096-byte chunk, not per read block";
    EXPECT_EQ(sink.references, 1);
    EXPECT_TRUE(HoldsPattern(consumer.body, size));
}

TEST_F(ProgressWire, CancelKeepsExactlyTheChunksUpToTheOneThatCausedIt) {
    // 409600 bytes: every 4096-byte chunk is one more percent, so report n comes after n chunks;
    // report 20 falls inside the second 64 KiB read block.
    constexpr uint64_t size = 409600;
    for (const size_t cancelAt : {1u, 3u, 16u, 20u}) {
        SCOPED_TRACE(cancelAt);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/big", FILES_HOST).Status(203).Generated(size));
        RecordingSink sink(Failing(cancelAt));
        RecordingConsumer consumer;
        EXPECT_EQ(Download("http://files.norvik.example/big", &sink, consumer), web::TransferEnd::Cancelled);
        EXPECT_EQ(lastStatus, 203) << "the real status stays";
        EXPECT_EQ(sink.Percents().size(), cancelAt) << "no report after the cancel";
        EXPECT_TRUE(HoldsPattern(consumer.body, cancelAt * 4096));
    }
}

TEST_F(ProgressWire, NullSinkDownloadRunsToItsEnd) {
    loopback.Add(Route("/big", FILES_HOST).Generated(200000));
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/big", nullptr, consumer), web::TransferEnd::Complete);
    EXPECT_TRUE(HoldsPattern(consumer.body, 200000));
}

TEST_F(ProgressWire, BodyWithoutALengthGivesNoReportsAndArrivesWhole) {
    loopback.Add(Route("/big", FILES_HOST).NoContentLength().Generated(150000));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/big", &sink, consumer), web::TransferEnd::Complete);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_TRUE(HoldsPattern(consumer.body, 150000));
}

TEST_F(ProgressWire, ZeroContentLengthGivesNoReports) {
    loopback.Add(Route("/empty", FILES_HOST).Body(""));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/empty", &sink, consumer), web::TransferEnd::Complete);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{200});
    EXPECT_EQ(consumer.body, "");
}

TEST_F(ProgressWire, LengthBeyond32BitsIsNotCutToItsLowBits) {
    // Announced 2^32 + 50000, sent 100000: read as 32 bits the length would be 50000, the body
    // complete at 200 %. Read whole it is barely begun: no report, and a broken transfer.
    constexpr uint64_t announced = (uint64_t{1} << 32) + 50000;
    loopback.Add(Route("/huge", FILES_HOST).Generated(100000).ContentLength(announced));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/huge", &sink, consumer), web::TransferEnd::Broken);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_TRUE(HoldsPattern(consumer.body, 100000)) << "read on to the close";
}

TEST_F(ProgressWire, CloseBeforeTheAnnouncedLengthIsBrokenWithTheBytesSoFar) {
    loopback.Add(Route("/big", FILES_HOST).Generated(100000).CloseAfter(30000));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download("http://files.norvik.example/big", &sink, consumer), web::TransferEnd::Broken);
    EXPECT_EQ(lastStatus, 200);
    EXPECT_TRUE(HoldsPattern(consumer.body, 30000));
    EXPECT_TRUE(sink.WellFormed());
    EXPECT_EQ(sink.Percents().back(), 30);
}

TEST_F(ProgressWire, FtpFileArrivesWholeWithStatus200AndReportsAgainstItsSize) {
    constexpr uint64_t size = 150000;
    folder.Write("file.bin", Pattern(size));
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download(FtpUrl("file.bin"), &sink, consumer), web::TransferEnd::Complete);
    EXPECT_EQ(lastStatus, 200);
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{200});
    EXPECT_TRUE(HoldsPattern(consumer.body, size));
    EXPECT_TRUE(sink.WellFormed());
    EXPECT_EQ(sink.Percents().size(), (size + 4095) / 4096);
    EXPECT_EQ(sink.Percents().back(), 100);
}

TEST_F(ProgressWire, LargeFtpFileGivesPercentsFormedIn64Bits) {
    // A sparse file of 2 GiB - 1, the largest size Wine's WinINet reads from an FTP listing (it
    // takes the size with a 32-bit atol). Past about 41 MiB the product total * 100 no longer fits
    // 32 bits: the third report, at 3 %, comes only from a percentage formed in 64 bits.
    constexpr uint64_t size = 0x7FFFFFFF;
    const std::string path = folder.Write("large.bin", "");
    {
        FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ASSERT_TRUE(file && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
    }
    RecordingSink sink(Failing(3));
    RecordingConsumer consumer;
    EXPECT_EQ(Download(FtpUrl("large.bin"), &sink, consumer), web::TransferEnd::Cancelled);
    EXPECT_EQ(sink.Percents(), (std::vector<LONG>{1, 2, 3}));
    const uint64_t threePercent = (3 * size + 99) / 100;
    EXPECT_EQ(consumer.body.size(), (threePercent + 4095) / 4096 * 4096);
}

TEST_F(ProgressWire, EmptyFtpFileIsCompleteWithoutBytesOrReports) {
    folder.Write("empty.bin", "");
    RecordingSink sink(Failing());
    RecordingConsumer consumer;
    EXPECT_EQ(Download(FtpUrl("empty.bin"), &sink, consumer), web::TransferEnd::Complete);
    EXPECT_EQ(consumer.starts, std::vector<int32_t>{200});
    EXPECT_EQ(consumer.body, "");
    EXPECT_TRUE(sink.calls.empty());
}

}  // namespace
}  // namespace tamsel::agent
