// Stalls and silence in one place: servers that accept and never answer at each step of an operation
// (probe, Location look, POST, GET), bodies that stop or trickle, FTP servers silent at every step of a
// download, in passive mode and in active, and service replies that trickle or never end. Each is given
// up within the bounded wait, with nothing kept that did not arrive.
#include "hostile/HostileSupport.h"
#include "support/FtpDouble.h"

#include <algorithm>

namespace tamsel::hostile {
namespace {

using testbed::Route;
using test::Download;
using test::FtpDouble;
using test::FtpScript;
using test::FtpUrl;
using test::ListingHeld;
using test::PassiveRefused;
using test::Retrievals;
using test::ScriptedFile;
using test::SilentAt;

constexpr uint32_t SHORT_WAIT_MS = 2000;
constexpr DWORD SHORT_BOUND = 4 * SHORT_WAIT_MS + 2000;

class Silence : public HostileTest {
protected:
    // The requests that reached host, on the proxy's plain channel.
    size_t RequestsTo(const std::string& host) {
        size_t count = 0;
        for (const auto& request : loopback.Requests("http")) count += request.host == host ? 1 : 0;
        return count;
    }
};

TEST_F(Silence, ProbeThatNeverAnswersMeansNoSessionAfterTheTwelveSecondWait) {
    // The product's own waits: only the probe's 12 s bound may end this.
    ASSERT_TRUE(loopback.Add(Route("/").NeverAnswer()));
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000)));
    const HRESULT result = FetchWithin(20000);
    ASSERT_NE(result, S_FALSE) << "the probe's wait did not end the operation";
    EXPECT_EQ(result, AGENT_E_NO_SESSION);
    EXPECT_GE(elapsedMs, 11500) << "the probe was not waited for";
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(RequestsTo(FILES_HOST), 0u) << "nothing may follow a probe that saw nothing";
}

TEST_F(Silence, LocationLookThatNeverAnswersStillLetsTheDownloadRun) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Method("GET").Times(1).NeverAnswer()));
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(5000)));
    const HRESULT result = FetchWithin(SHORT_BOUND);
    ASSERT_NE(result, S_FALSE) << "the Location look was not given up";
    EXPECT_EQ(result, S_OK) << "no Location: the URL itself is fetched";
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
    EXPECT_TRUE(NoStatusKept(*agent));
    EXPECT_EQ(RequestsTo(FILES_HOST), 2u);
}

TEST_F(Silence, PostThatNeverAnswersIsAnHttpFailureWithStatusZero) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").NeverAnswer()));
    auto agent = this->agent;
    struct Outcome {
        HRESULT query = S_FALSE;
        HRESULT report = S_FALSE;
        char url[64] = "untouched";
        LONGLONG size = 99;
        LONG remaining = 99;
    };
    auto outcome = std::make_shared<Outcome>();
    BoundedRun query([=] {
        outcome->query = agent->QueryDownload(outcome->url, sizeof(outcome->url), SERVICE_URL, "CODE", &outcome->size);
    });
    ASSERT_TRUE(query.Within(SHORT_BOUND)) << "QueryDownload still waiting for its reply";
    EXPECT_EQ(outcome->query, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(outcome->size, 0);
    EXPECT_STREQ(outcome->url, "untouched");
    EXPECT_TRUE(HttpStatusKept(*agent, 0)) << "no answer is kept as status 0";

    BoundedRun report([=] { outcome->report = agent->ReportDownload(SERVICE_URL, "CODE", 1, &outcome->remaining); });
    ASSERT_TRUE(report.Within(SHORT_BOUND)) << "ReportDownload still waiting for its reply";
    EXPECT_EQ(outcome->report, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(outcome->remaining, -1);
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
}

TEST_F(Silence, GetThatNeverAnswersIsAnHttpFailureAndMakesNoFile) {
    ShortWaits shortWaits(SHORT_WAIT_MS);
    AddDownload(Route(FILE_PATH, FILES_HOST).NeverAnswer(), FILE_PATH);
    ASSERT_TRUE(WriteWhole(target, "the host's own file"));
    const HRESULT result = FetchWithin(SHORT_BOUND);
    ASSERT_NE(result, S_FALSE) << "FetchToFile still waiting for its reply";
    EXPECT_EQ(result, AGENT_E_HTTP_STATUS);
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
    EXPECT_EQ(Contents(target), "the host's own file") << "a download without an answer touches no file";
}

// --- bodies that stop or trickle ---

TEST_F(Silence, ATransferThatStallsEndsAsAFailure) {
    // The bounded wait of every exchange, shortened so that the stall is given up quickly.
    ShortWaits shortWaits(1500);
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(100000).StallAfter(20000));
    EXPECT_EQ(agent->FetchToFile(FILE_URL, target.c_str(), nullptr), E_FAIL);
    EXPECT_TRUE(NoStatusKept(*agent));
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 20000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size()));
}

TEST_F(Silence, ServerThatStopsSendingMidBodyFailsWithinTheBound) {
    ShortWaits shortWaits(2000);
    AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Generated(200000).StallAfter(50000), BIG_FILE_PATH);
    EXPECT_EQ(FetchWithin(10000, BIG_FILE_URL, nullptr), E_FAIL) << "a body that stopped coming is not a download";
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 50000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";
    EXPECT_TRUE(NoStatusKept(*agent));
}

TEST_F(Silence, TrickledBodyIsBrokenWhileASlowButMovingOneArrives) {
    // With the bounded wait at 2 s: a byte every 100 ms gains 20 bytes a wait and has stalled; 8 KiB
    // every half second gains 32 KiB a wait and is a download, however long it takes.
    ShortWaits shortWaits(2000);
    AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Generated(100000).Trickle(1, 100), BIG_FILE_PATH);
    auto trickled = std::make_shared<RecordingSink>();
    EXPECT_EQ(FetchWithin(8000, BIG_FILE_URL, trickled), E_FAIL) << "a body that barely moves is a broken transfer";
    const std::string stored = Contents(target);
    EXPECT_LT(stored.size(), 100u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what arrived is kept in order";
    EXPECT_TRUE(trickled->Percents().empty()) << "no whole percent was reached to cancel from";
    EXPECT_TRUE(NoStatusKept(*agent));

    ASSERT_TRUE(loopback.Reset());
    AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Generated(65536).Trickle(8192, 500), BIG_FILE_PATH);
    EXPECT_EQ(FetchWithin(20000, BIG_FILE_URL, nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 65536));

    // A byte every 1.9 s comes just inside each wait, yet the body has stalled once the first wait is
    // over: no read may wait past that point (a read waited out in full would end it at 3.8 s).
    ASSERT_TRUE(loopback.Reset());
    AddDownload(Route(BIG_FILE_PATH, FILES_HOST).Generated(100000).Trickle(1, 1900), BIG_FILE_PATH);
    EXPECT_EQ(FetchWithin(20000, BIG_FILE_URL, nullptr), E_FAIL);
    EXPECT_LT(elapsedMs, 2000 + 1500) << "the stall was seen late";
    EXPECT_TRUE(HoldsPattern(Contents(target), SizeOf(target)));
    EXPECT_LE(SizeOf(target), 1);
}

// --- FTP servers that fall silent ---

TEST_F(Silence, SilentDataConnectionFailsWithinTheBoundedWait) {
    // The download's RETR sends 300,000 of 1,000,000 bytes, then keeps both connections open and says
    // nothing (the Location look's RETR before it is dropped). Wine's FTP reads wait for the data
    // connection with no bound of their own: only the component's wait ends this one.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    FtpDouble server(ScriptedFile(false, 1000000, 300000, 2));
    ASSERT_NE(server.Port(), 0);
    EXPECT_EQ(FetchWithin(20000, FtpUrl(server)), E_FAIL) << "a transfer that stopped moving is broken";
    EXPECT_LT(elapsedMs, wait + 1500) << "the silence was waited out for longer than the bounded wait";
    EXPECT_TRUE(NoStatusKept(*agent));
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 300000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";
    EXPECT_EQ(Retrievals(server), 2u) << "the look and the download, nothing asked again";
}

TEST_F(Silence, ASilenceBeforeTheFirstByteIsGivenUpWithinTheBoundedWait) {
    // Wine waits 30 s for each control reply, and for ever for a listing whose data connection stays
    // open: only the component's wait ends these. Every row's file is 200,000 bytes, sent whole.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    struct Case {
        const char* what;
        FtpScript script;
        Download call;
        HRESULT expected;
        unsigned stalls;    // bounded waits that run out on the way
        size_t retrievals;  // the RETRs the double saw: where the download stopped
    };
    const FtpScript file = ScriptedFile(false, 200000, 200000);
    const Case cases[] = {
        {"the download's listing never ends", ListingHeld(file), Download::FETCH_TO_FILE, AGENT_E_HTTP_STATUS, 1, 1},
        {"the download's connection gets no greeting", SilentAt(file, "greeting", 2), Download::FETCH_TO_FILE,
         AGENT_E_HTTP_STATUS, 1, 1},
        {"the download's RETR gets no reply", SilentAt(file, "RETR", 2), Download::FETCH_TO_FILE, AGENT_E_HTTP_STATUS, 1,
         2},
        {"the verified download's listing never ends", ListingHeld(file), Download::VERIFIED, AGENT_E_HTTP_STATUS, 1, 1},
        // A resume's validator is asked on the same worker: SIZE, then MDTM, which this server never answers.
        {"the resuming download's MDTM gets no reply", SilentAt(file, "MDTM", 1), Download::RESUMING, AGENT_E_HTTP_STATUS,
         1, 1},
        // A look given up is a look that found no Location: the download goes on.
        {"the look's login gets no reply", SilentAt(file, "PASS", 1), Download::FETCH_TO_FILE, S_OK, 1, 1},
        // The bytes are all there; the close that waits for the server's last word is given up.
        {"no transfer ever gets its 226", SilentAt(file, "226", 0), Download::FETCH_TO_FILE, S_OK, 2, 2},
        // The look's PASV is the first; a PASV given up ends the download, with no try in active mode.
        {"the download's PASV gets no reply", SilentAt(file, "PASV", 2), Download::FETCH_TO_FILE, AGENT_E_HTTP_STATUS,
         1, 1},
        // Passive refused: the look fails at once (it tries no active mode) and the download lists in
        // active mode, where the silence meets it.
        {"passive refused, the active listing never ends", ListingHeld(PassiveRefused(file)), Download::FETCH_TO_FILE,
         AGENT_E_HTTP_STATUS, 1, 0},
        {"passive refused, the active RETR gets no reply", SilentAt(PassiveRefused(file), "RETR", 1),
         Download::FETCH_TO_FILE, AGENT_E_HTTP_STATUS, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileA(target.c_str());
        FtpDouble server(c.script);
        ASSERT_NE(server.Port(), 0);
        EXPECT_EQ(FetchWithin(20000, FtpUrl(server), nullptr, c.call), c.expected);
        EXPECT_LT(elapsedMs, c.stalls * wait + 1500) << "a silence was waited out for longer than the bounded wait";
        EXPECT_GE(elapsedMs + 100, c.stalls * wait) << "the silences the row meets were not all met";
        EXPECT_EQ(Retrievals(server), c.retrievals);
        if (c.expected == S_OK) {
            EXPECT_TRUE(HoldsPattern(Contents(target), 200000));
        } else {
            EXPECT_TRUE(HttpStatusKept(*agent, 0)) << "no file was opened: no exchange";
            EXPECT_FALSE(Exists(target));
        }
        for (const char* suffix : {".tamsel-partial", ".tamsel-resume"}) {
            EXPECT_FALSE(Exists(target + suffix)) << "left beside the target: " << suffix;
        }
    }
}

TEST_F(Silence, ARestartNeverAnsweredKeepsThePartFileForTheNextAttempt) {
    // Every RETR sends 300,000 of 1,000,000 bytes and drops; the first REST gets no reply. SIZE and MDTM
    // are what a resume needs to be asked for at all.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    FtpScript script = SilentAt(ScriptedFile(false, 1000000, 300000), "REST", 1);
    script.mdtm = "20240101120005";
    FtpDouble server(script);
    ASSERT_NE(server.Port(), 0);
    ASSERT_EQ(FetchWithin(20000, FtpUrl(server), nullptr, Download::RESUMING), E_FAIL) << "the first attempt breaks off";
    ASSERT_EQ(SizeOf(target + ".tamsel-partial"), 300000);

    EXPECT_EQ(FetchWithin(20000, FtpUrl(server), nullptr, Download::RESUMING), AGENT_E_HTTP_STATUS) << "no exchange: the file never opened";
    EXPECT_LT(elapsedMs, wait + 1500) << "the silence was waited out for longer than the bounded wait";
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(HoldsPattern(Contents(target + ".tamsel-partial"), 300000)) << "what arrived is kept, unchanged";
    EXPECT_TRUE(Exists(target + ".tamsel-resume"));
    const std::vector<std::string> commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 300000"), commands.end());
    EXPECT_EQ(Retrievals(server), 3u) << "two looks and the first download: the second never asked";
}

// --- service replies that trickle or never end ---

TEST_F(Silence, ServiceReplyThatTricklesOrNeverEndsIsUnreadableAndNotWaitedFor) {
    // With the bounded wait at 2 s: a reply at a byte every 100 ms, or every 1.9 s (each byte just inside
    // a wait), is not whole within it, and one that goes on past 1 MiB (however little of it is text:
    // zero bytes end the text) is no service reply. None is waited for past the wait, the last two not at all.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    const std::string reply = ServiceReply({{"StatusCode", "1"}, {"downloadURL", FILE_URL}, {"filesize", "5"}});
    const std::string zeros(2 << 20, '\0');
    struct Case {
        const char* what;
        Route route;
        long long boundMs;
    };
    const Case cases[] = {
        {"trickled", Route("/svc", SERVICE_HOST).Method("POST").Body(reply).Trickle(1, 100), wait + 1500},
        {"a byte just inside each wait", Route("/svc", SERVICE_HOST).Method("POST").Body(reply).Trickle(1, 1900),
         wait + 1500},
        {"endless", Route("/svc", SERVICE_HOST).Method("POST").NoContentLength().Generated(4 << 20).StallAfter(2 << 20),
         wait + 1500},
        {"zero bytes past 1 MiB", Route("/svc", SERVICE_HOST).Method("POST").NoContentLength().Body(zeros).StallAfter(2 << 20),
         wait - 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        ASSERT_TRUE(loopback.Add(c.route));
        const QueryOutcome query = Query("CODE", 8000);
        EXPECT_EQ(query.result, AGENT_E_SERVICE_STATUS) << "read as a reply that is not markup";
        EXPECT_LT(elapsedMs, c.boundMs);
        EXPECT_EQ(query.url, "<untouched>");
        EXPECT_EQ(query.size, 0);
        LONG status = -1;
        EXPECT_EQ(agent->GetLastServiceStatus(&status), S_OK);
        EXPECT_EQ(status, 0);
    }
}

}  // namespace
}  // namespace tamsel::hostile
