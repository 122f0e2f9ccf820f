// FetchToFileResilient on the wire: what is retried where and after which wait, resume within the call and
// across sources, the info it fills and the report that tells it, NotifyRetry and a cancel during a wait.
#include "support/FacedAgent.h"

#include "agent/Sha256.h"
#include "base/Handle.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "support/ServiceReply.h"
#include "support/Testbed.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::FILES_HOST;
using testbed::RecordedRequest;
using testbed::Route;

constexpr char MIRROR_HOST[] = "mirror.norvik.example";
constexpr char FILE_PATH[] = "/f.bin";
constexpr char FILE_URL[] = "http://files.norvik.example/f.bin";
constexpr char MIRROR_URL[] = "http://mirror.norvik.example/f.bin";
constexpr char OTHER_MIRROR_URL[] = "http://mirror.norvik.example/g.bin";
constexpr uint64_t SIZE = 60000;
constexpr ULONG RESUME = TAMSEL_FETCH_RESUME;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // the scratch folder's path is ASCII
}

// The multi-string of these URLs: each with its zero, one more after the last.
std::string Sources(std::initializer_list<const char*> urls) {
    std::string list;
    for (const char* url : urls) list += std::string(url) + '\0';
    return list + '\0';
}

std::string DigestOfPattern(uint64_t size) {
    const std::string bytes = Pattern(size);
    Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    return DigestText(hash.Finish().value_or(Digest{}));
}

// An HTTP date this many seconds from now, as a Retry-After names one.
std::string HttpDateIn(int seconds) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart += uint64_t(seconds) * 10000000;
    const FILETIME then{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME time;
    ::FileTimeToSystemTime(&then, &time);
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04u %02u:%02u:%02u GMT", days[time.wDayOfWeek], time.wDay,
                  months[time.wMonth - 1], time.wYear, time.wHour, time.wMinute, time.wSecond);
    return text;
}

// A sink that hears retries: records each NotifyRetry and the byte reports, and cancels as told.
class RetrySink final : public ProgressSink3 {
public:
    struct Retry {
        ULONG attempt, waitMs;
        HRESULT reason;
        ULONG source;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        const bool known = ::IsEqualIID(iid, IID_ProgressSink3) || ::IsEqualIID(iid, IID_ProgressSink2) ||
                           ::IsEqualIID(iid, IID_ProgressSink) || ::IsEqualIID(iid, IID_IUnknown);
        *out = known ? this : nullptr;
        if (!known) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG, LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG, LONG* cancel) override {
        ++reports;
        if (cancelled) ++reportsAfterCancel;
        wentBack = wentBack || received < lastReceived;
        lastReceived = received;
        if (cancelAtBytes >= 0 && received >= cancelAtBytes) {
            *cancel = 1;
            cancelled = true;
        }
        // A report while waiting comes after a NotifyRetry with nothing new.
        if (cancelInWait && !retries.empty()) {
            *cancel = 1;
            cancelled = true;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyRetry(ULONG attempt, ULONG waitMs, HRESULT reason, ULONG source) override {
        retries.push_back({attempt, waitMs, reason, source});
        if (!writerProbe.empty()) {
            // Another program that would write to the partial file while the call waits.
            const FileHandle writer(::CreateFileA(writerProbe.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
            writerErrors.push_back(writer ? ERROR_SUCCESS : ::GetLastError());
        }
        return retryAnswer;
    }

    LONG references = 1;
    bool cancelInWait = false;
    bool cancelled = false;
    HRESULT retryAnswer = S_OK;
    size_t reports = 0;
    size_t reportsAfterCancel = 0;
    LONGLONG lastReceived = -1;
    bool wentBack = false;        // a report counted fewer bytes than the one before
    LONGLONG cancelAtBytes = -1;  // cancels at the first report of this many bytes or more
    std::vector<Retry> retries;
    std::string writerProbe;          // a file to try opening for writing at each retry
    std::vector<DWORD> writerErrors;  // what each try met
};

class ResilientWire : public testbed::TestbedTest {
protected:
    HRESULT Fetch(const std::string& sources, const char* sha256 = nullptr, ULONG flags = 0,
                  ProgressSink* sink = nullptr) {
        info = {};
        info.cbSize = sizeof(info);
        return agent.FetchToFileResilient(sources.c_str(), Wide(target).c_str(), sink != nullptr ? sink : &sinkOf,
                                          flags, -1, sha256, &policy, &info);
    }

    // The GETs of the file, from either host, in order.
    std::vector<RecordedRequest> Downloads() {
        std::vector<RecordedRequest> gets;
        for (RecordedRequest& request : loopback.Requests()) {
            if (request.host != testbed::MAKER_HOST) gets.push_back(std::move(request));
        }
        return gets;
    }

    static std::string HeaderOf(const RecordedRequest& request, const std::string& name) {
        for (const std::string& line : request.HeaderLines()) {
            if (line.compare(0, name.size() + 2, name + ": ") == 0) return line.substr(name.size() + 2);
        }
        return "<none>";
    }

    test::FacedAgent agent;
    ScratchFolder scratch;
    const std::string target = scratch.File("download.bin");
    TAMSEL_DOWNLOAD_POLICY policy = {sizeof(TAMSEL_DOWNLOAD_POLICY), 0, 1, 0, 0, 0, 0};  // waits of 1 ms at most
    TAMSEL_DOWNLOAD_INFO info{};
    RetrySink sinkOf;
};

// One exchange script and everything it should come to: the result, the info, the retries heard.
struct Case {
    const char* why;
    std::vector<Route> routes;
    std::string sources;
    bool digest;
    ULONG maxRetryWaitMs;  // 0: the table's 1 ms
    ULONG deadlineMs;
    HRESULT result;
    ULONG attempts;
    ULONG sourceIndex;
    HRESULT lastAttempt;
    LONG lastStatus;
    ULONG retryAfterMs;  // exact, or at least this much when a date named it
    std::vector<RetrySink::Retry> retries;  // their waits not compared (jitter) when the table's 1 ms is the cap
};

Route File(const char* host = FILES_HOST) {
    return Route(FILE_PATH, host).Generated(SIZE);
}

Route Refusal(int status, const char* host = FILES_HOST) {
    return Route(FILE_PATH, host).Status(status).Times(1);
}

TEST_F(ResilientWire, EachCauseIsRetriedOrNotAsTheRulesSay) {
    const std::string one = Sources({FILE_URL});
    const std::string two = Sources({FILE_URL, MIRROR_URL});
    const HRESULT STATUS = AGENT_E_HTTP_STATUS;
    std::vector<Case> cases;
    for (int status : {408, 429, 500, 502, 503, 504}) {
        cases.push_back({"a retried status, then the file", {Refusal(status), File()}, one, false, 0, 0, S_OK, 2, 0,
                         S_OK, 200, 0, {{2, 0, STATUS, 0}}});
    }
    cases.insert(cases.end(), {
        {"a connection closed before any answer", {Route(FILE_PATH, FILES_HOST).CloseWithoutAnswer().Times(1), File()},
         one, false, 0, 0, S_OK, 2, 0, S_OK, 200, 0, {{2, 0, STATUS, 0}}},
        {"a break, resumed on the one source until whole",
         {File().Header("ETag: \"a\"").Ranges().CloseAfter(SIZE / 3)}, one, false, 0, 0, S_OK, 3, 0, S_OK, 206, 0,
         {{2, 0, AGENT_E_BROKEN, 0}, {3, 0, AGENT_E_BROKEN, 0}}},
        {"another 4xx of the one source ends the call", {Refusal(410)}, one, false, 0, 0, STATUS, 1, 0, STATUS, 410, 0,
         {}},
        {"another 4xx moves to the mirror at once", {Refusal(404), File(MIRROR_HOST)}, two, false, 0, 0, S_OK, 2, 1,
         S_OK, 200, 0, {{2, 0, STATUS, 1}}},
        {"a mirror serving other bytes is passed for the next",
         {File().FlipByte(100), File(MIRROR_HOST)}, two, true, 0, 0, S_OK, 2, 1, S_OK, 200, 0,
         {{2, 0, AGENT_E_DIGEST_MISMATCH, 1}}},
        {"every source serving other bytes", {File().FlipByte(100), File(MIRROR_HOST).FlipByte(7)}, two, true, 0, 0,
         AGENT_E_DIGEST_MISMATCH, 2, 1, AGENT_E_DIGEST_MISMATCH, 200, 0, {{2, 0, AGENT_E_DIGEST_MISMATCH, 1}}},
        {"Retry-After in seconds is waited out when it fits",
         {Refusal(503).Header("Retry-After: 1"), File()}, one, false, 2000, 0, S_OK, 2, 0, S_OK, 200, 1000,
         {{2, 1000, STATUS, 0}}},
        {"Retry-After longer than the longest wait: the mirror at once",
         {Refusal(503).Header("Retry-After: 120"), File(MIRROR_HOST)}, two, false, 2000, 0, S_OK, 2, 1, S_OK, 200,
         120000, {{2, 0, STATUS, 1}}},
        {"Retry-After longer than the longest wait, no other source", {Refusal(429).Header("Retry-After: 120")}, one,
         false, 2000, 0, AGENT_E_RETRY_LATER, 1, 0, STATUS, 429, 120000, {}},
        {"Retry-After as a date an hour ahead", {Refusal(503).Header("Retry-After: " + HttpDateIn(3600))}, one, false,
         2000, 0, AGENT_E_RETRY_LATER, 1, 0, STATUS, 503, 3590000, {}},
        {"Retry-After past the deadline", {Refusal(503).Header("Retry-After: 2")}, one, false, 60000, 1500,
         AGENT_E_RETRY_LATER, 1, 0, STATUS, 503, 2000, {}},
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(loopback.Reset());
        for (const Route& route : c.routes) loopback.Add(route);
        policy.maxRetryWaitMs = c.maxRetryWaitMs != 0 ? c.maxRetryWaitMs : 1;
        policy.deadlineMs = c.deadlineMs;
        sinkOf.retries.clear();
        const std::string digest = DigestOfPattern(SIZE);
        EXPECT_EQ(Fetch(c.sources, c.digest ? digest.c_str() : nullptr), c.result);
        EXPECT_EQ(info.cbSize, sizeof(info));
        EXPECT_EQ(info.attempts, c.attempts);
        EXPECT_EQ(info.sourceIndex, c.sourceIndex);
        EXPECT_EQ(info.lastAttemptResult, c.lastAttempt);
        EXPECT_EQ(info.lastHttpStatus, c.lastStatus);
        EXPECT_EQ(info.connections, 1u);
        if (c.retryAfterMs >= 3000000) {
            EXPECT_GE(info.retryAfterMs, c.retryAfterMs);
            EXPECT_LE(info.retryAfterMs, 3600000u);
        } else {
            EXPECT_EQ(info.retryAfterMs, c.retryAfterMs);
        }
        EXPECT_EQ(info.bytesResumed, 0) << "nothing of an earlier call";
        ASSERT_EQ(sinkOf.retries.size(), c.retries.size());
        for (size_t i = 0; i < c.retries.size(); ++i) {
            EXPECT_EQ(sinkOf.retries[i].attempt, c.retries[i].attempt) << i;
            EXPECT_EQ(sinkOf.retries[i].reason, c.retries[i].reason) << i;
            EXPECT_EQ(sinkOf.retries[i].source, c.retries[i].source) << i;
            EXPECT_LE(sinkOf.retries[i].waitMs, c.maxRetryWaitMs != 0 ? c.maxRetryWaitMs : 1u) << i;
            if (c.retries[i].waitMs != 0) {
                EXPECT_EQ(sinkOf.retries[i].waitMs, c.retries[i].waitMs) << i;
            }
        }
        if (c.result == S_OK) {
            EXPECT_TRUE(HoldsPattern(Contents(target), SIZE));
            EXPECT_GE(info.waitedMs, c.retries.empty() ? 0 : c.retries.back().waitMs);
        } else {
            EXPECT_FALSE(Exists(target));
        }
        EXPECT_FALSE(Exists(target + ".tamsel-partial")) << "without RESUME nothing stays beside the target";
        EXPECT_FALSE(Exists(target + ".tamsel-resume"));
        ::DeleteFileA(target.c_str());
    }
}

// The first source dies a third of the way in, twice: it is passed over, and the mirror takes over. With
// a digest the mirror goes on from the byte reached (the digest proves the whole, whatever validators the
// two name); without one it starts over.
TEST_F(ResilientWire, ASwitchOfSourceMidFileContinuesOnlyUnderADigest) {
    const uint64_t cut = 20480;
    for (const bool withDigest : {true, false}) {
        SCOPED_TRACE(withDigest ? "with a digest" : "without");
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(File().Header("ETag: \"a\"").CloseAfter(cut));
        loopback.Add(File(MIRROR_HOST).Header("ETag: \"b\"").Ranges());
        const std::string digest = DigestOfPattern(SIZE);
        sinkOf.writerProbe = target + ".tamsel-partial";
        sinkOf.writerErrors.clear();
        ASSERT_EQ(Fetch(Sources({FILE_URL, MIRROR_URL}), withDigest ? digest.c_str() : nullptr), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), SIZE));
        if (withDigest) {
            // The bytes hashed so far go on to the next attempt unread, so the partial file is held against
            // writers from one attempt to the next.
            EXPECT_EQ(sinkOf.writerErrors, std::vector<DWORD>(2, ERROR_SHARING_VIOLATION));
        }
        EXPECT_EQ(info.attempts, 3u);
        EXPECT_EQ(info.sourceIndex, 1u);
        EXPECT_EQ(info.bytesReceived, LONGLONG(2 * cut + (withDigest ? SIZE - cut : SIZE)));
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 3u);
        EXPECT_EQ(gets[0].host, FILES_HOST);
        EXPECT_EQ(HeaderOf(gets[1], "Range"), "bytes=" + std::to_string(cut) + "-") << "the same source, resumed";
        EXPECT_EQ(HeaderOf(gets[1], "If-Range"), "\"a\"");
        EXPECT_EQ(gets[2].host, MIRROR_HOST);
        EXPECT_EQ(HeaderOf(gets[2], "Range"), withDigest ? "bytes=" + std::to_string(cut) + "-" : "<none>");
        EXPECT_EQ(HeaderOf(gets[2], "If-Range"), "<none>") << "the first source's validator means nothing there";
        ASSERT_EQ(sinkOf.retries.size(), 2u);
        EXPECT_EQ(sinkOf.retries[1].source, 1u);
        sinkOf.retries.clear();
        ::DeleteFileA(target.c_str());
    }
}

// RESUME keeps what a failed call reached, and the next call goes on from it: bytesResumed says so.
TEST_F(ResilientWire, ACallWithResumeGoesOnFromAnEarlierCallsPartialFile) {
    policy.maxAttempts = 1;
    loopback.Add(File().Header("ETag: \"a\"").Ranges().CloseAfter(SIZE / 2).Times(1));
    EXPECT_EQ(Fetch(Sources({FILE_URL}), nullptr, RESUME), AGENT_E_BROKEN);
    const LONGLONG kept = SizeOf(target + ".tamsel-partial");
    EXPECT_EQ(kept, LONGLONG(SIZE / 2));
    EXPECT_EQ(info.bytesResumed, 0);
    loopback.Add(File().Header("ETag: \"a\"").Ranges());
    EXPECT_EQ(Fetch(Sources({FILE_URL}), nullptr, RESUME), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), SIZE));
    EXPECT_EQ(info.bytesResumed, kept);
    EXPECT_EQ(info.bytesReceived, LONGLONG(SIZE) - kept);
}

// The deadline ends a transfer still running as a stall would, and a request still unanswered as a
// timeout; a stall bound of the call's own ends each attempt's stall there. RESUME keeps what arrived.
TEST_F(ResilientWire, TheDeadlineAndTheCallsStallBoundEndTransfersAsStalls) {
    const struct {
        const char* why;
        Route route;
        ULONG deadlineMs, stallMs;
        HRESULT result;
        ULONG attempts;
        HRESULT lastAttempt;
        LONGLONG kept;
    } cases[] = {
        {"a deadline inside the first transfer", File().Header("ETag: \"a\"").StallAfter(8192), 1500, 0,
         AGENT_E_BROKEN, 1, AGENT_E_BROKEN, 8192},
        {"a stall bound of half a second, twice", File().Header("ETag: \"a\"").StallAfter(8192), 0, 500,
         AGENT_E_BROKEN, 2, AGENT_E_BROKEN, 8192},
        {"a deadline while the server never answers", Route(FILE_PATH, FILES_HOST).NeverAnswer(), 1500, 0,
         AGENT_E_HTTP_STATUS, 1, HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(loopback.Reset());
        ::DeleteFileA((target + ".tamsel-partial").c_str());
        ::DeleteFileA((target + ".tamsel-resume").c_str());
        loopback.Add(c.route);
        policy.maxAttempts = 2;
        policy.deadlineMs = c.deadlineMs;
        policy.stallMs = c.stallMs;
        EXPECT_EQ(Fetch(Sources({FILE_URL}), nullptr, RESUME), c.result);
        EXPECT_EQ(info.attempts, c.attempts);
        EXPECT_EQ(info.lastAttemptResult, c.lastAttempt);
        EXPECT_EQ(SizeOf(target + ".tamsel-partial"), c.kept);
        EXPECT_FALSE(Exists(target));
    }
}

// A cancel set at the first report of a wait is honoured there: nothing more is reported or sent.
TEST_F(ResilientWire, ACancelDuringAWaitEndsItAtThatReport) {
    loopback.Add(Refusal(503).Header("Retry-After: 30"));
    loopback.Add(File());
    policy.maxRetryWaitMs = 60000;
    sinkOf.cancelInWait = true;
    EXPECT_EQ(Fetch(Sources({FILE_URL})), E_ABORT);
    ASSERT_EQ(sinkOf.retries.size(), 1u);
    EXPECT_EQ(sinkOf.retries[0].waitMs, 30000u);
    EXPECT_TRUE(sinkOf.cancelled);
    EXPECT_EQ(sinkOf.reportsAfterCancel, 0u);
    EXPECT_EQ(info.attempts, 1u);
    EXPECT_LT(info.waitedMs, 30000u);
    EXPECT_EQ(Downloads().size(), 1u) << "no second attempt";

    // A NotifyRetry that fails cancels before the wait.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Refusal(503));
    loopback.Add(File());
    sinkOf = RetrySink();
    sinkOf.retryAnswer = E_FAIL;
    EXPECT_EQ(Fetch(Sources({FILE_URL})), E_ABORT);
    EXPECT_EQ(sinkOf.retries.size(), 1u);
    EXPECT_EQ(sinkOf.reports, 0u);
    EXPECT_EQ(Downloads().size(), 1u);

    // A sink of percentages alone hears the wait as its percentage (0: no length known yet), and cancels it.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Refusal(503).Header("Retry-After: 30"));
    loopback.Add(File());
    SinkScript script;
    script.cancelAtReport = 1;
    RecordingSink percents(script);
    EXPECT_EQ(Fetch(Sources({FILE_URL}), nullptr, 0, &percents), E_ABORT);
    EXPECT_EQ(percents.Codes(), std::vector<LONG>{PROGRESS_CODE});
    EXPECT_EQ(percents.Percents(), std::vector<LONG>{0});
    EXPECT_EQ(percents.references, 1);
    EXPECT_EQ(Downloads().size(), 1u);
}

// A file large and slow enough for further connections: after the first second at 8 MiB/s, 16 MiB remain.
constexpr uint64_t BIG = 24ull << 20;
constexpr uint64_t PER_CONNECTION = 8ull << 20;

Route Sliceable(const char* validator = "ETag: \"a\"") {
    Route route = Route(FILE_PATH, FILES_HOST).Generated(BIG).Rate(PER_CONNECTION).Ranges();
    if (*validator != '\0') route.Header(validator);
    return route;
}

// Further connections to one source: when they open (Accept-Ranges, a validator or a digest), what their
// ranges ask with, and what a range answered otherwise does (that connection closes with no wait, the
// file still whole in one attempt, no further range asked for).
TEST_F(ResilientWire, FurtherConnectionsOpenOnlyWhereRangesAreSafe) {
    const struct {
        const char* why;
        Route route;
        ULONG connections;
        bool digest;
        ULONG most;           // info.connections
        const char* ifRange;  // on every slice's request; null: no slice is asked for
        size_t refusedSlices;  // 0: every slice answered as asked; else exactly this many slices asked for
    } cases[] = {
        {"a strong ETag: slices under If-Range", Sliceable().Header("Accept-Ranges: bytes"), 2, false, 2, "\"a\"", 0},
        {"four connections", Sliceable().Header("Accept-Ranges: bytes"), 4, true, 4, "\"a\"", 0},
        {"Last-Modified alone", Sliceable("Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT").Header("Accept-Ranges: bytes"),
         2, false, 2, "Tue, 01 Dec 2026 10:00:00 GMT", 0},
        {"no validator, under a digest: ranges without If-Range", Sliceable("").Header("Accept-Ranges: bytes"), 2, true,
         2, "<none>", 0},
        {"no validator, no digest: one connection", Sliceable("").Header("Accept-Ranges: bytes"), 2, false, 1, nullptr,
         0},
        {"a weak ETag is no validator", Sliceable("ETag: W/\"a\"").Header("Accept-Ranges: bytes"), 2, false, 1, nullptr,
         0},
        {"no Accept-Ranges: one connection", Sliceable(), 4, true, 1, nullptr, 0},
        {"connections 1", Sliceable().Header("Accept-Ranges: bytes"), 1, true, 1, nullptr, 0},
        {"a slice answered with 200", Sliceable().Header("Accept-Ranges: bytes").Slices("whole"), 2, true, 2, "\"a\"",
         1},
        {"a slice under another ETag", Sliceable().Header("Accept-Ranges: bytes").Slices("etag"), 2, false, 2,
         "\"a\"", 1},
        {"a slice answered with 429", Sliceable().Header("Accept-Ranges: bytes").Slices("429"), 2, false, 2, "\"a\"",
         1},
        {"a slice answered with 503", Sliceable().Header("Accept-Ranges: bytes").Slices("503"), 2, true, 2, "\"a\"",
         1},
    };
    const std::string digest = DigestOfPattern(BIG);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(c.route);
        policy.connections = c.connections;
        EXPECT_EQ(Fetch(Sources({FILE_URL}), c.digest ? digest.c_str() : nullptr), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), BIG));
        EXPECT_EQ(info.attempts, 1u);
        EXPECT_EQ(info.waitedMs, 0u);
        EXPECT_EQ(info.connections, c.most);
        EXPECT_EQ(info.bytesReceived, LONGLONG(BIG)) << "every byte once";
        EXPECT_EQ(sinkOf.lastReceived, LONGLONG(BIG));
        EXPECT_FALSE(sinkOf.wentBack) << "progress is monotone";
        sinkOf = RetrySink();
        const auto gets = Downloads();
        ASSERT_FALSE(gets.empty());
        EXPECT_EQ(HeaderOf(gets[0], "Range"), "<none>");
        size_t slices = 0;
        for (size_t i = 1; i < gets.size(); ++i) {
            const std::string range = HeaderOf(gets[i], "Range");
            ASSERT_EQ(range.compare(0, 6, "bytes="), 0) << range;
            EXPECT_NE(range.back(), '-') << "a slice names its last byte: " << range;
            EXPECT_EQ(HeaderOf(gets[i], "If-Range"), c.ifRange != nullptr ? c.ifRange : "");
            ++slices;
        }
        if (c.ifRange == nullptr) {
            EXPECT_EQ(slices, 0u);
        } else if (c.refusedSlices == 0) {
            EXPECT_GE(slices, 2u);
        } else {
            EXPECT_EQ(slices, c.refusedSlices) << "no further range after a refusal";
        }
        ::DeleteFileA(target.c_str());
    }
}

// A slice whose bytes were changed on the way is caught by the digest: the file is not put in place.
TEST_F(ResilientWire, ATamperedSliceIsCaughtByTheDigest) {
    loopback.Add(Sliceable().Header("Accept-Ranges: bytes").FlipByte(BIG - 1000));
    policy.connections = 3;
    policy.maxAttempts = 1;
    const std::string digest = DigestOfPattern(BIG);
    EXPECT_EQ(Fetch(Sources({FILE_URL}), digest.c_str()), AGENT_E_DIGEST_MISMATCH);
    EXPECT_EQ(info.connections, 3u) << "the byte came on a further connection";
    EXPECT_FALSE(Exists(target));
}

// A cancel while four connections run ends the call there: the partial file holds exactly the bytes
// progress last told, in order, and nothing more is told.
TEST_F(ResilientWire, ACancelEndsEveryConnectionAndKeepsWhatWasToldInOrder) {
    loopback.Add(Sliceable().Header("Accept-Ranges: bytes"));
    policy.connections = 4;
    sinkOf.cancelAtBytes = 14 << 20;
    EXPECT_EQ(Fetch(Sources({FILE_URL}), nullptr, RESUME), E_ABORT);
    EXPECT_EQ(info.connections, 4u);
    EXPECT_EQ(sinkOf.reportsAfterCancel, 0u);
    const std::string kept = Contents(target + ".tamsel-partial");
    EXPECT_EQ(LONGLONG(kept.size()), sinkOf.lastReceived);
    EXPECT_TRUE(HoldsPattern(kept, kept.size()));
    EXPECT_FALSE(Exists(target));
}

// A cancel while the first connection is slow and two slices ahead of it have come whole: the partial
// file keeps its prefix and both slices, the record names them, and the next call asks only for the
// gaps, the digest still proven in one pass.
TEST_F(ResilientWire, ABreakKeepsWholeSlicesAndTheResumeAsksOnlyTheGaps) {
    constexpr uint64_t MiB = 1 << 20;
    // The first connection at 2 MiB/s, the slices as fast as loopback goes: a second after the slices
    // were asked for, the first is halfway through its own.
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(BIG).Rate(2 * MiB).Ranges().Header("ETag: \"a\"")
                     .Header("Accept-Ranges: bytes").Times(1));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(BIG).Ranges().Header("ETag: \"a\"")
                     .Header("Accept-Ranges: bytes"));
    policy.connections = 3;
    policy.maxAttempts = 1;
    sinkOf.cancelAtBytes = 4 * MiB;
    ASSERT_EQ(Fetch(Sources({FILE_URL}), nullptr, RESUME), E_ABORT);
    const LONGLONG prefix = sinkOf.lastReceived;
    // "kept P a-b b-c": the prefix, then two slices of at least 4 MiB, a gap before them.
    const std::string record = Contents(target + ".tamsel-resume");
    const size_t kept = record.find("\nkept " + std::to_string(prefix) + " ");
    ASSERT_NE(kept, std::string::npos) << record;
    const std::string slices = record.substr(kept + 7 + std::to_string(prefix).size());
    const uint64_t keptFirst = std::strtoull(slices.c_str(), nullptr, 10);
    const uint64_t keptEnd = std::strtoull(slices.c_str() + slices.rfind('-') + 1, nullptr, 10);
    EXPECT_EQ(std::count(slices.begin(), slices.end(), '-'), 2) << slices;
    EXPECT_GT(keptFirst, uint64_t(prefix)) << "a gap between the prefix and the slices";
    EXPECT_GE(keptEnd - keptFirst, 8 * MiB);
    EXPECT_EQ(SizeOf(target + ".tamsel-partial"), LONGLONG(keptEnd)) << "the prefix, a gap, two whole slices";

    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(BIG).Rate(16 * MiB).Ranges().Header("ETag: \"a\"")
                     .Header("Accept-Ranges: bytes"));
    sinkOf = RetrySink();
    const std::string digest = DigestOfPattern(BIG);
    ASSERT_EQ(Fetch(Sources({FILE_URL}), digest.c_str(), RESUME), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), BIG));
    EXPECT_EQ(info.bytesResumed, prefix);
    EXPECT_FALSE(sinkOf.wentBack);
    const auto gets = Downloads();
    ASSERT_GE(gets.size(), 2u);
    EXPECT_EQ(HeaderOf(gets[0], "Range"), "bytes=" + std::to_string(prefix) + "-");
    EXPECT_EQ(HeaderOf(gets[0], "If-Range"), "\"a\"");
    uint64_t asked = 0;
    for (size_t i = 1; i < gets.size(); ++i) {
        const std::string range = HeaderOf(gets[i], "Range");
        const uint64_t first = std::strtoull(range.c_str() + 6, nullptr, 10);
        const uint64_t last = std::strtoull(range.c_str() + range.find('-') + 1, nullptr, 10);
        EXPECT_GE(first, keptEnd) << "nothing of the kept slices is asked again: " << range;
        asked += last - first + 1;
    }
    EXPECT_EQ(asked, BIG - keptEnd) << "the gap after the kept slices, once";
    EXPECT_FALSE(Exists(target + ".tamsel-resume"));
}

// What the report tells the service of two downloads: one from the mirror after a refusal, and one the
// server asked to come back for later.
TEST_F(ResilientWire, TheReportTellsTheServiceWhatEachDownloadDid) {
    const char* const SERVICE_URL = "http://svc.norvik.example/dl/service.php";
    const auto field = [](const std::string& name, const std::string& value) {
        return "name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    };
    struct Row {
        std::vector<Route> routes;
        std::string sources;
        std::vector<std::pair<std::string, std::string>> fields;
    } rows[] = {
        {{Refusal(404), File(MIRROR_HOST)}, Sources({FILE_URL, MIRROR_URL}),
         {{"success", "true"}, {"attempts", "2"}, {"source", "1"}, {"result", "00000000"}, {"resumedBytes", "0"}}},
        {{Refusal(503).Header("Retry-After: 120")}, Sources({FILE_URL}),
         {{"success", "false"}, {"attempts", "1"}, {"source", "0"}, {"result", "80042F08"}}},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(loopback.Reset());
        for (const Route& route : row.routes) loopback.Add(route);
        const HRESULT result = Fetch(row.sources);
        const std::string reply = ServiceReply({{"StatusCode", "1"}});
        loopback.Add(Route("/dl/service.php", testbed::SERVICE_HOST).Method("POST").Body(reply));
        LONG remaining = 0;
        ASSERT_EQ(agent.ReportDownloadEx(SERVICE_URL, "C", result == S_OK, &info, &remaining), S_OK);
        std::string body;
        for (const RecordedRequest& request : loopback.Requests()) {
            if (request.RequestLine().compare(0, 5, "POST ") == 0) body = request.Body();
        }
        for (const auto& [name, value] : row.fields) {
            EXPECT_NE(body.find(field(name, value)), std::string::npos) << name;
        }
        EXPECT_NE(body.find(field("waitedMs", std::to_string(info.waitedMs))), std::string::npos);
    }
}

}  // namespace
}  // namespace tamsel::agent
