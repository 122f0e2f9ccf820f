// Hostile downloads: bodies left unread or longer than announced, and replies closed in numbers; stalls
// stand with the other silences (SilenceTest.cpp).
#include "hostile/HostileSupport.h"

#include "web/CloseQueue.h"
#include "web/Internet.h"

#include <climits>

namespace tamsel::hostile {
namespace {

using testbed::Route;

constexpr uint64_t MIB = 1024 * 1024;

class Transfer : public HostileTest {
protected:
    // FetchToFile of BIG_FILE_URL into target, given at most limitMs; S_FALSE when it overstays.
    HRESULT Fetch(std::shared_ptr<RecordingSink> sink, DWORD limitMs) { return FetchWithin(limitMs, BIG_FILE_URL, sink); }
};

TEST_F(Transfer, BodiesLeftUnreadDoNotHoldTheCaller) {
    // The Location look at the file and the download cancelled at its first report both let go of a
    // 256 MiB reply with nearly all of it still coming. Wine's WinINet reads the rest of such a reply
    // before its close returns, about 5 MiB/s on loopback: close to two minutes if the caller waited.
    constexpr uint64_t size = 256 * MIB;
    ASSERT_TRUE(loopback.Add(Route(BIG_FILE_PATH, FILES_HOST).Method("GET").Generated(size)));
    auto cancelAtOnce = std::make_shared<RecordingSink>(SinkScript{1});
    EXPECT_EQ(Fetch(cancelAtOnce, 20000), S_OK);
    EXPECT_EQ(cancelAtOnce->Percents(), std::vector<LONG>{1});
    // 1 % of 268,435,456 bytes is 2,684,354.56: first reached by the 656th chunk, 2,686,976 bytes.
    ASSERT_EQ(SizeOf(target), 2686976);
    EXPECT_TRUE(HoldsPattern(Contents(target), 2686976));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(loopback.Requests().size(), 3u) << "probe, look and download: nothing more is sent";
}

TEST_F(Transfer, BytesBeyondTheAnnouncedLengthAreNeitherStoredNorHandedToTheNextRequest) {
    // 300,000 bytes behind a Content-Length of 100,000: the rest stays on the connection, which must
    // not be reused as if it were clean.
    AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Generated(300000).ContentLength(100000), BIG_FILE_PATH);
    ASSERT_TRUE(loopback.Add(Route("/next.bin", FILES_HOST).Generated(5000)));
    RecordingSink sink;
    EXPECT_EQ(agent->FetchToFile(BIG_FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 100000));
    EXPECT_TRUE(sink.WellFormed());
    ASSERT_FALSE(sink.Percents().empty());
    EXPECT_EQ(sink.Percents().back(), 100);

    const std::string next = folder.File("next.bin");
    EXPECT_EQ(agent->FetchToFile("http://files.norvik.example/next.bin", next.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(next), 5000));
    EXPECT_TRUE(NoStatusKept(*agent));
}

TEST_F(Transfer, BytesSentWithTheHeadersPastTheLengthAreNotStored) {
    // One packet: a head announcing 1000 bytes and 5000 bytes behind it.
    AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + Pattern(5000)),
                BIG_FILE_PATH);
    auto sink = std::make_shared<RecordingSink>();
    EXPECT_EQ(Fetch(sink, 20000), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 1000)) << SizeOf(target) << " bytes stored";
    EXPECT_EQ(sink->Percents(), std::vector<LONG>{100});
    EXPECT_TRUE(sink->WellFormed());
}

TEST_F(Transfer, AtMostFourRepliesCloseAtOnceAndTheRestWaitTheirTurn) {
    // Eight 16 MiB replies whose bodies keep flowing: the platform drains a reply framed by its length on
    // close for as long as bytes come (one that has stalled, or has no length, it lets go at once, and no
    // worker would run long enough to be seen). The caller never waits; four workers do, then the rest.
    // Closes that earlier tests handed over (a 256 MiB body drains for a minute or more on a loaded
    // machine) would share the four workers and the deadline below: they go first.
    const auto drained = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (web::CloseWorkersRunning() != 0 && std::chrono::steady_clock::now() < drained) ::Sleep(100);
    ASSERT_EQ(web::CloseWorkersRunning(), 0u) << "earlier tests' closes never ended";
    ShortWaits shortWaits(1500);
    ASSERT_TRUE(loopback.Add(Route(BIG_FILE_PATH, FILES_HOST).Generated(16 << 20)));
    std::vector<web::UnreadReply> replies;
    for (int i = 0; i < 8; ++i) {
        web::InternetSession session = web::OpenInternet(nullptr);
        web::InternetRequest request = web::OpenUrlBounded(session.get(), BIG_FILE_URL, INTERNET_FLAG_RELOAD);
        ASSERT_TRUE(request) << "request " << i;
        replies.push_back({std::move(session), {}, std::move(request)});
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto& reply : replies) web::CloseUnreadOnWorker(std::move(reply));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000)) << "the caller waited";

    size_t peak = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (web::CloseWorkersRunning() != 0 && std::chrono::steady_clock::now() < deadline) {
        peak = std::max(peak, web::CloseWorkersRunning());
        ::Sleep(20);
    }
    // Never more than four at once, and more than one: each drain lasts while its body flows.
    EXPECT_LE(peak, 4u) << "more than four workers closed at once";
    EXPECT_GE(peak, 2u) << "the closes did not run side by side";
    EXPECT_EQ(web::CloseWorkersRunning(), 0u) << "the queue was not drained";
}

}  // namespace
}  // namespace tamsel::hostile
