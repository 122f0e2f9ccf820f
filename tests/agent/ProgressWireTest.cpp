// Progress in one place, from the host down: what a download tells its sink (percents up to 100 without
// taking a reference, a cancel that keeps the bytes up to its chunk, the sink's answers ignored, percents
// of a length past 4 GiB, bytes with and without a length); beneath it, the percentages over the exchange
// itself and where a body stands when a cancel or a close ends it; and at the bottom the agent's progress
// over a body, told after each block and at the chunk ends where marks fall, where a stop keeps whole
// chunks.
#include "support/AgentWire.h"

#include "agent/DownloadProgress.h"
#include "base/Handle.h"
#include "faces/HostProgress.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "web/Exchange.h"
#include "support/WireDoubles.h"

#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::BIG_FILE_PATH;
using testbed::BIG_FILE_URL;
using testbed::FILE_PATH;
using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::Route;
using web::wire::RecordingConsumer;

constexpr uint64_t MIB = 1024 * 1024;

// --- what a download tells the host's sink ---

class HostProgressWire : public AgentWireTest {
protected:
    // FetchToFile of BIG_FILE_URL into target, given at most limitMs; S_FALSE when it overstays.
    HRESULT Fetch(std::shared_ptr<RecordingSink> sink, DWORD limitMs) { return FetchWithin(limitMs, BIG_FILE_URL, sink); }
    // FetchToFileEx of the file into target, without flags.
    HRESULT FetchEx(LONGLONG expected, ProgressSink* sink) {
        return agent->FetchToFileEx(FILE_URL, Wide(target).c_str(), sink, 0, expected);
    }
};

TEST_F(HostProgressWire, ProgressIsReportedUpTo100WithoutTakingReferences) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(409600));
    RecordingSink sink;
    EXPECT_EQ(agent->FetchToFile(FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 409600));
    const std::vector<LONG> percents = sink.Percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(sink.WellFormed()) << "the flag is cleared before every report, each right after NotifyCode";
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]);
    EXPECT_EQ(sink.Codes(), std::vector<LONG>(percents.size(), PROGRESS_CODE));
    EXPECT_EQ(sink.references, 1);
}

TEST_F(HostProgressWire, CancelKeepsTheBytesUpToTheCancellingChunk) {
    // 1 % of 1,000,000 bytes is first reached by the third 4096-byte chunk: 12288 bytes.
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000000));
    RecordingSink sink(SinkScript{1});
    EXPECT_EQ(agent->FetchToFile(FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_EQ(sink.Percents(), std::vector<LONG>{1});
    EXPECT_TRUE(sink.WellFormed());
    EXPECT_TRUE(HoldsPattern(Contents(target), 12288));
    EXPECT_TRUE(NoStatusKept(*agent));

    // A later cancel: at 50 %, the chunk that reaches 500,000 bytes ends at 123 * 4096.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000000));
    RecordingSink later(SinkScript{50});
    EXPECT_EQ(agent->FetchToFile(FILE_URL, target.c_str(), &later), S_OK);
    EXPECT_TRUE(later.WellFormed()) << "the flag is cleared before every report, each right after NotifyCode";
    EXPECT_EQ(later.Percents().back(), 50);
    EXPECT_TRUE(HoldsPattern(Contents(target), 123 * 4096));
}

TEST_F(HostProgressWire, SinkAnswersAreIgnoredAndAnyNonZeroFlagCancels) {
    // 1,000,000 bytes: 1 % (10,000 bytes) is first reached by the third 4096-byte chunk, 12,288 bytes;
    // 50 % (500,000 bytes) by the 123rd, 503,808 bytes.
    struct Case {
        const char* what;
        SinkScript script;
        std::vector<LONG> percents;  // empty: every percent from 1 to 100
        uint64_t kept;
    };
    const Case cases[] = {
        {"cancel on every report, failing", {1000, true, 1, E_FAIL}, {1}, 12288},
        {"cancel at once with -1", {1, false, -1, E_UNEXPECTED}, {1}, 12288},
        {"cancel at once with the sign bit", {1, false, LONG_MIN, S_FALSE}, {1}, 12288},
        {"cancel at 50 %", {50, false, 1, E_NOTIMPL}, {}, 503808},
        {"never cancel, always failing", {1000, false, 1, E_FAIL}, {}, 1000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Generated(1000000), BIG_FILE_PATH);
        RecordingSink sink(c.script);
        EXPECT_EQ(agent->FetchToFile(BIG_FILE_URL, target.c_str(), &sink), S_OK);
        EXPECT_TRUE(sink.WellFormed());
        ASSERT_FALSE(sink.Percents().empty());
        if (c.percents.empty()) {
            EXPECT_EQ(sink.Percents().back(), c.script.cancelAtPercent <= 100 ? 50 : 100);
        } else {
            EXPECT_EQ(sink.Percents(), c.percents);
        }
        EXPECT_TRUE(HoldsPattern(Contents(target), c.kept)) << SizeOf(target) << " bytes stored";
        EXPECT_EQ(sink.references, 1);
        EXPECT_TRUE(NoStatusKept(*agent));
    }
}

TEST_F(HostProgressWire, LengthPast4GiBGivesPercentsOfTheWhole64BitLength) {
    // Announced 4 GiB + 1 MiB; the server sends 64 MiB and closes. Cut to 32 bits the length would be
    // 1 MiB and the percents would run far past 100 within the first MiB.
    constexpr uint64_t announced = (uint64_t{1} << 32) + MIB;
    constexpr uint64_t sent = 64 * MIB;
    const Route file = Route(BIG_FILE_PATH, FILES_HOST).Generated(sent).ContentLength(announced);

    AddDownload(file, BIG_FILE_PATH);
    auto cancelAtOnce = std::make_shared<RecordingSink>(SinkScript{1});
    EXPECT_EQ(Fetch(cancelAtOnce, 60000), S_OK) << "cancelled download";
    EXPECT_EQ(cancelAtOnce->Percents(), std::vector<LONG>{1});
    EXPECT_TRUE(cancelAtOnce->WellFormed());
    // 1 % of 4,296,015,872 bytes is 42,960,158.72: first reached by the 10,489th 4096-byte chunk,
    // which ends at 42,962,944 bytes.
    ASSERT_EQ(SizeOf(target), 42962944) << "a cancel keeps the bytes up to its chunk";
    EXPECT_TRUE(HoldsPattern(Contents(target), 42962944));
    EXPECT_TRUE(NoStatusKept(*agent));

    // Without a cancel the short body is a broken transfer, whose 64 MiB never reach 2 %.
    ASSERT_TRUE(loopback.Reset());
    AddDownload(file, BIG_FILE_PATH);
    auto watching = std::make_shared<RecordingSink>();
    EXPECT_EQ(Fetch(watching, 60000), E_FAIL) << "broken download";
    EXPECT_EQ(watching->Percents(), std::vector<LONG>{1});
    EXPECT_LE(SizeOf(target), static_cast<int64_t>(sent));
    EXPECT_TRUE(NoStatusKept(*agent)) << "the status was a 200: the failure is the transfer's";
}

TEST_F(HostProgressWire, BytesAreReportedWithAndWithoutALength) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Times(1).Generated(200000));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(200000).NoContentLength());
    BytesSink known;
    EXPECT_EQ(FetchEx(-1, &known), S_OK);
    ASSERT_FALSE(known.bytes.empty());
    EXPECT_EQ(known.bytes.back(), std::make_pair(200000LL, 200000LL));
    for (size_t i = 1; i < known.bytes.size(); ++i) EXPECT_GT(known.bytes[i].first, known.bytes[i - 1].first);
    ASSERT_FALSE(known.percents.empty());
    EXPECT_EQ(known.percents.back(), 100);

    BytesSink unknown;
    EXPECT_EQ(FetchEx(200000, &unknown), S_OK);
    ASSERT_FALSE(unknown.bytes.empty());
    EXPECT_EQ(unknown.bytes.back(), std::make_pair(200000LL, -1LL));
    EXPECT_TRUE(unknown.percents.empty()) << "no length, no percentages";
    EXPECT_TRUE(HoldsPattern(Contents(target), 200000));
}

// --- the percentages over the exchange itself: cancel and where a body stands ---

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

// --- the agent's progress over a body: blocks, marks and stops ---

constexpr uint64_t CHUNK = web::BODY_CHUNK_SIZE;

// The file: keeps the size of every write.
class Writes final : public web::BodyConsumer {
public:
    bool StartReply(const web::ReplyHead&) override { return true; }
    bool Write(const char*, size_t size) override {
        sizes.push_back(size);
        return true;
    }
    std::vector<size_t> sizes;
};

// Asks for marks at the counts given and records what it is told: 'm' at a mark, 'r' after a block.
class Told final : public DownloadProgress {
public:
    explicit Told(std::vector<uint64_t> marks) : m_marks(std::move(marks)) {}

    uint64_t NextMark(uint64_t received, int64_t) const noexcept override {
        for (const uint64_t mark : m_marks) {
            if (mark > received) return mark;
        }
        return NO_MARK;
    }
    bool AtMark(uint64_t received, int64_t total) noexcept override { return Tell('m', received, total); }
    bool Reached(uint64_t received, int64_t total) noexcept override { return Tell('r', received, total); }

    std::vector<std::pair<char, uint64_t>> calls;
    char stopAt = 0;             // the kind of call that answers false at stopAtCount or past it
    uint64_t stopAtCount = 0;
    int64_t total = 0;

private:
    bool Tell(char kind, uint64_t received, int64_t whole) noexcept {
        calls.emplace_back(kind, received);
        total = whole;
        return !(kind == stopAt && received >= stopAtCount);
    }
    std::vector<uint64_t> m_marks;
};

// A reply whose body begins at start bytes of a file of length bytes (0: unknown).
web::ReplyHead Head(uint64_t start, uint64_t length) {
    web::ReplyHead head;
    head.status = 200;
    head.bodyStart = start;
    head.fileLength = length;
    return head;
}

const std::string BLOCK(8 * CHUNK, 'x');

TEST(ProgressBody, WithoutMarksEachBlockGoesWholeAndIsToldInBytesOfTheFile) {
    Writes file;
    Told told({});
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(1000, 0)));
    ASSERT_TRUE(body.Write(BLOCK.data(), BLOCK.size()));
    ASSERT_TRUE(body.Write(BLOCK.data(), 100));  // the body's short last piece
    EXPECT_EQ(file.sizes, (std::vector<size_t>{BLOCK.size(), 100})) << "one write per block";
    const std::vector<std::pair<char, uint64_t>> expected = {{'r', 1000 + BLOCK.size()}, {'r', 1100 + BLOCK.size()}};
    EXPECT_EQ(told.calls, expected) << "the resumed part counts in what is told";
    EXPECT_EQ(told.total, -1) << "a length of 0 is none known";
    EXPECT_EQ(reach.received, 1100 + BLOCK.size());
    EXPECT_EQ(reach.total, -1);
}

TEST(ProgressBody, AMarkIsToldAtTheFirstChunkEndAtOrPastItAndTheBlockStillGoesInOneWrite) {
    Writes file;
    // Within the first chunk, exactly at the third chunk's end, and inside the body's short last piece.
    Told told({10, 3 * CHUNK, 8 * CHUNK + 50});
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(0, 8 * CHUNK + 100)));
    ASSERT_TRUE(body.Write(BLOCK.data(), BLOCK.size()));
    ASSERT_TRUE(body.Write(BLOCK.data(), 100));
    const std::vector<std::pair<char, uint64_t>> expected = {
        {'m', CHUNK}, {'m', 3 * CHUNK}, {'r', 8 * CHUNK}, {'m', 8 * CHUNK + 100}, {'r', 8 * CHUNK + 100}};
    EXPECT_EQ(told.calls, expected);
    EXPECT_EQ(told.total, int64_t(8 * CHUNK + 100));
    EXPECT_EQ(file.sizes, (std::vector<size_t>{BLOCK.size(), 100})) << "marks split no write";
}

TEST(ProgressBody, AStopAtAMarkKeepsTheBlockUpToItsChunkAndIsToldOnce) {
    Writes file;
    Told told({2 * CHUNK + 1, 6 * CHUNK});
    told.stopAt = 'm';
    told.stopAtCount = 3 * CHUNK;
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(0, 0)));
    EXPECT_FALSE(body.Write(BLOCK.data(), BLOCK.size()));
    EXPECT_TRUE(body.Cancelled()) << "a stop, not a failure to take the bytes";
    EXPECT_EQ(file.sizes, (std::vector<size_t>{3 * CHUNK})) << "the chunk that asked to stop is kept, no more";
    const std::vector<std::pair<char, uint64_t>> expected = {{'m', 3 * CHUNK}, {'r', 3 * CHUNK}};
    EXPECT_EQ(told.calls, expected) << "the block cut short is still told, and no mark past the stop";
    EXPECT_EQ(reach.received, 3 * CHUNK);
}

TEST(ProgressBody, AStopAfterABlockKeepsTheBlock) {
    Writes file;
    Told told({});
    told.stopAt = 'r';
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(0, 0)));
    EXPECT_FALSE(body.Write(BLOCK.data(), BLOCK.size()));
    EXPECT_TRUE(body.Cancelled());
    EXPECT_EQ(file.sizes, (std::vector<size_t>{BLOCK.size()}));
}

TEST(ProgressBody, WithNobodyToTellTheReachIsStillKept) {
    Writes file;
    Reach reach;
    ProgressBody body(file, nullptr, reach);
    ASSERT_TRUE(body.StartReply(Head(5, 5 + BLOCK.size())));
    ASSERT_TRUE(body.Write(BLOCK.data(), BLOCK.size()));
    EXPECT_FALSE(body.Cancelled());
    EXPECT_EQ(reach.received, 5 + BLOCK.size());
    EXPECT_EQ(reach.total, int64_t(5 + BLOCK.size()));
}

}  // namespace
}  // namespace tamsel::agent
