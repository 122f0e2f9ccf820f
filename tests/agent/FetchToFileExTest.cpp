// FetchToFileEx on the wire: resume, safe replacement, expected sizes, Unicode and long paths, strict
// TLS and the requests a download makes; the verified download has a suite of its own
// (FetchToFileVerifiedTest.cpp), the bytes it reports stand with the other progress (ProgressWireTest.cpp).
#include "support/FileDownloadWire.h"

#include "base/Handle.h"
#include "support/Bounded.h"
#include "support/FtpDouble.h"
#include "support/Pattern.h"
#include "support/ServiceReply.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::FILE_PATH;
using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::RecordedRequest;
using testbed::Route;


class FetchToFileExWire : public FileDownloadWire {};

TEST_F(FetchToFileExWire, ResumeAfterACutAsksForTheRestAndKeepsTheFileByteExact) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000));
    BytesSink first;
    EXPECT_EQ(Fetch(RESUME, -1, &first), E_FAIL) << "a cut transfer";
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(HoldsPattern(Contents(target + ".tamsel-partial"), 100000));
    EXPECT_EQ(first.references, 1) << "the QueryInterface reference is given back";

    BytesSink second;
    const auto gets = ResumedWhole(second);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_TRUE(Has(gets[0], "Range: bytes=100000-")) << gets[0].raw;
    EXPECT_TRUE(Has(gets[0], "If-Range: \"v1\"")) << gets[0].raw;
    // 100,000 of 300,000 bytes were there: 33 %; the first report is the first whole percent above.
    ASSERT_FALSE(second.percents.empty());
    EXPECT_EQ(second.percents.front(), 34);
    EXPECT_EQ(second.percents.back(), 100);
    ASSERT_FALSE(second.bytes.empty());
    EXPECT_GT(second.bytes.front().first, 100000);
    EXPECT_EQ(second.bytes.back(), std::make_pair(300000LL, 300000LL));
}

TEST_F(FetchToFileExWire, AResumeTheServerCannotHonourStartsOverWithTheWholeFile) {
    struct Case {
        const char* what;
        Route cut;     // the first attempt, cut at 100,000 bytes
        Route second;  // what answers the second attempt
        bool asksForRange;
        size_t requests;  // downloads of the second attempt
    };
    const Case cases[] = {
        {"server ignores ranges", Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000),
         Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000), true, 1},
        {"file changed", Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000),
         Route(FILE_PATH, FILES_HOST).Header("ETag: \"v2\"").Generated(300000).Ranges(), true, 1},
        {"no validator", Route(FILE_PATH, FILES_HOST).Generated(300000).CloseAfter(100000),
         Route(FILE_PATH, FILES_HOST).Generated(300000).Ranges(), false, 1},
        {"weak validator", Route(FILE_PATH, FILES_HOST).Header("ETag: W/\"v1\"").Generated(300000).CloseAfter(100000),
         Route(FILE_PATH, FILES_HOST).Generated(300000).Ranges(), false, 1},
        {"416", Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000),
         Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Status(416).Times(1), true, 2},
        // "bytes 100000-299999/*" under the recorded ETag: without its whole length the part cannot be
        // proven to end the file recorded (a server may send less than asked), so it is not spliced on.
        {"a part of unknown whole length",
         Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000),
         Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).RangesOfUnknownWhole(), true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(c.cut));
        EXPECT_EQ(Fetch(RESUME), E_FAIL);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(c.second).Method("GET"));
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000));  // once the 416 is used up
        EXPECT_EQ(Fetch(RESUME, 300000), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
        EXPECT_TRUE(OnlyTheTargetRemains());
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), c.requests);
        EXPECT_EQ(Has(gets.front(), "Range: bytes=100000-"), c.asksForRange) << gets.front().raw;
        EXPECT_FALSE(Has(gets.back(), "Range: bytes=100000-") && c.requests > 1) << "the start over asks for all";
        ::DeleteFileA(target.c_str());
    }
}

TEST_F(FetchToFileExWire, APartOfAnotherVersionIsNeverSplicedOnTheFileSoFar) {
    // A server that honours Range and ignores If-Range answers with a part of what it has now.
    struct Case {
        const char* what;
        const char* recorded;  // the validator of the cut attempt
        const char* answered;  // the 206's, or none
    };
    const Case cases[] = {
        {"another ETag", ETAG_LINE, "ETag: \"v2\""},
        {"another Last-Modified", "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT",
         "Last-Modified: Wed, 02 Dec 2026 10:00:00 GMT"},
        {"no validator", ETAG_LINE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(CutAt100000(c.recorded));
        Route careless = Route(FILE_PATH, FILES_HOST).Generated(300000).RangesIgnoringIfRange();
        if (c.answered != nullptr) careless.Header(c.answered);
        loopback.Add(careless);
        EXPECT_EQ(Fetch(RESUME, 300000), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
        EXPECT_TRUE(OnlyTheTargetRemains());
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 2u) << "the resume, then the start over in the same call";
        const std::string validator = std::string(c.recorded).substr(std::string(c.recorded).find(": ") + 2);
        EXPECT_TRUE(Has(gets[0], "Range: bytes=100000-") && Has(gets[0], "If-Range: " + validator)) << gets[0].raw;
        EXPECT_EQ(gets[1].raw.find("Range"), std::string::npos) << gets[1].raw;
        ::DeleteFileA(target.c_str());
    }
}

TEST_F(FetchToFileExWire, ARecordIsCheckedWhenReadAndKeepsNoUrl) {
    ASSERT_NO_FATAL_FAILURE(CutAt100000(ETAG_LINE));
    const std::string record = Contents(target + ".tamsel-resume");
    EXPECT_EQ(record.find("norvik"), std::string::npos) << "the URL is not kept: " << record;
    EXPECT_EQ(record.find('\n'), 16u) << "a 64-bit digest in hex stands for it: " << record;
    const size_t validator = record.find("\"v1\"");
    ASSERT_NE(validator, std::string::npos) << record;
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"a header line in the validator", std::string(record).insert(validator + 4, "\rX-Injected: yes")},
        {"a control character in the validator", std::string(record).insert(validator + 4, "\x01")},
        {"the URL in plain text", std::string(FILE_URL) + record.substr(16)},
        {"a whole length that is no number", record.substr(0, record.rfind('\n', record.size() - 2) + 1) + "3e5\n"},
        // Slices kept past the prefix by a download over several connections.
        {"kept slices past the whole length", record + "kept 50000 60000-400000\n"},
        {"kept slices that overlap", record + "kept 50000 60000-80000 70000-100000\n"},
        {"a partial file longer than its kept slices", record + "kept 50000 60000-90000\n"},
        {"a kept slice at the prefix: no gap", record + "kept 50000 50000-100000\n"},
        {"a kept line without slices", record + "kept 100000\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        ASSERT_TRUE(WriteWhole(target + ".tamsel-partial", Pattern(100000)));
        ASSERT_TRUE(WriteWhole(target + ".tamsel-resume", c.text));
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
        EXPECT_EQ(Fetch(RESUME, 300000), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
        EXPECT_TRUE(OnlyTheTargetRemains());
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_EQ(gets[0].raw.find("Range"), std::string::npos) << "no record: a plain GET\n" << gets[0].raw;
        EXPECT_EQ(gets[0].raw.find("X-Injected"), std::string::npos) << gets[0].raw;
    }
}

TEST_F(FetchToFileExWire, ALinkPlantedAsThePartialFileIsNeverWrittenThrough) {
    const std::string outside = scratch.File("outside.bin");
    const std::string partial = target + ".tamsel-partial";
    struct Case {
        const char* what;
        bool symbolic;  // a Unix symbolic link (Wine makes none), else a hard link
    };
    for (const Case& c : {Case{"hard link", false}, Case{"symbolic link", true}}) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(CutAt100000(ETAG_LINE));
        ASSERT_TRUE(WriteWhole(outside, Pattern(100000)));
        ASSERT_TRUE(::DeleteFileA(partial.c_str()));
        ASSERT_TRUE(c.symbolic ? loopback.Symlink(partial, outside)
                               : ::CreateHardLinkA(partial.c_str(), outside.c_str(), nullptr) != FALSE);
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
        EXPECT_EQ(Fetch(RESUME, 300000), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
        EXPECT_EQ(Contents(outside), Pattern(100000)) << "the file outside is untouched";
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_EQ(gets[0].raw.find("Range"), std::string::npos) << "started over\n" << gets[0].raw;
        // A hard link's name is simply removed; Wine would delete the file a symbolic link points to
        // rather than the link, so that name (and the record beside it) is left alone.
        const std::vector<std::string> left =
            c.symbolic ? std::vector<std::string>{"download.bin", "download.bin.tamsel-partial",
                                                  "download.bin.tamsel-resume", "outside.bin"}
                       : std::vector<std::string>{"download.bin", "outside.bin"};
        EXPECT_EQ(Names(), left);
        if (c.symbolic) {
            EXPECT_TRUE(loopback.Unlink(partial));
        }
        ::DeleteFileA(target.c_str());
    }
}

TEST_F(FetchToFileExWire, ALocalRefusalAtA206IsTheFilesFaultNotTheServers) {
    struct Case {
        const char* what;
        bool holdPartial;   // open elsewhere, shared with nobody
        bool readOnlyTarget;
    };
    for (const Case& c : {Case{"partial file held open", true, false}, Case{"read-only target", false, true}}) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(CutAt100000(ETAG_LINE));
        if (c.readOnlyTarget) {
            ASSERT_TRUE(WriteWhole(target, "old"));
            ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        FileHandle held(c.holdPartial ? ::CreateFileA((target + ".tamsel-partial").c_str(), GENERIC_READ, 0, nullptr,
                                                      OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE);
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
        EXPECT_EQ(Fetch(RESUME, 300000), E_FAIL);
        LONG status = -7;
        EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL) << "status " << status << " was kept";
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_TRUE(Has(gets[0], "Range: bytes=100000-")) << gets[0].raw;
        held.reset();
        EXPECT_EQ(SizeOf(target + ".tamsel-partial"), 100000) << "kept for the next attempt";
        EXPECT_EQ(Contents(target), c.readOnlyTarget ? "old" : "<missing>");
        ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(target.c_str());
    }
}

TEST_F(FetchToFileExWire, AWholePartialFileIsProvenByItsLastByteAndPutInPlace) {
    // The target is held open elsewhere: the replace fails with the whole file beside it.
    ASSERT_TRUE(WriteWhole(target, "old"));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    {
        FileHandle held(::CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Fetch(RESUME, 300000), E_FAIL);
    }
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(SizeOf(target + ".tamsel-partial"), 300000);

    BytesSink sink;
    const auto gets = ResumedWhole(sink);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_TRUE(Has(gets[0], "Range: bytes=299999-") && Has(gets[0], "If-Range: \"v1\"")) << gets[0].raw;
    EXPECT_EQ(sink.bytes, (std::vector<std::pair<LONGLONG, LONGLONG>>{{300000, 300000}})) << "one byte came";
}

TEST_F(FetchToFileExWire, ANameTooLongForTheUsualPartialNameGetsAHashedOne) {
    const std::string name(250, 'n');
    const std::string longTarget = scratch.File(name);
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000));
    EXPECT_EQ(agent.FetchToFileEx(FILE_URL, Wide(longTarget).c_str(), nullptr, RESUME, 300000), E_FAIL);
    const std::vector<std::string> beside = Names();
    ASSERT_EQ(beside.size(), 2u);
    const std::string partial = beside[0];  // ".tamsel-<16 hex>.partial" sorts before ".resume"
    EXPECT_EQ(partial.size(), 32u) << partial;
    EXPECT_EQ(partial.substr(0, 8) + partial.substr(24), ".tamsel-.partial");
    EXPECT_EQ(beside[1], partial.substr(0, 24) + ".resume");
    EXPECT_EQ(SizeOf(scratch.File(partial)), 100000);
    EXPECT_NE(::GetFileAttributesA(scratch.File(partial).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    EXPECT_EQ(agent.FetchToFileEx(FILE_URL, Wide(longTarget).c_str(), nullptr, RESUME, 300000), S_OK);
    const std::wstring prefixed = L"\\\\?\\" + Wide(longTarget);  // past MAX_PATH
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExW(prefixed.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 300000u);
    EXPECT_EQ(Names(), std::vector<std::string>{name});
    ASSERT_EQ(Downloads().size(), 1u);
    EXPECT_TRUE(Has(Downloads()[0], "Range: bytes=100000-")) << Downloads()[0].raw;
    ::DeleteFileW(prefixed.c_str());
}

TEST_F(FetchToFileExWire, TheOldTargetStaysByteForByteUntilANewOneIsWhole) {
    const std::string old = "the host's previous file";
    struct Case {
        const char* what;
        Route route;
        LONGLONG expected;
        LONG cancelAtPercent;
        HRESULT result;
        bool holdTarget = false;  // open elsewhere: the final rename fails
    };
    const Case cases[] = {
        {"cut", Route(FILE_PATH, FILES_HOST).Generated(300000).CloseAfter(100000), -1, 1000, E_FAIL},
        {"target held open", Route(FILE_PATH, FILES_HOST).Generated(300000), -1, 1000, E_FAIL, true},
        {"cancelled", Route(FILE_PATH, FILES_HOST).Generated(300000), -1, 50, E_ABORT},
        {"announced size differs", Route(FILE_PATH, FILES_HOST).Generated(300000), 299999, 1000, AGENT_E_SIZE_MISMATCH},
        {"unannounced body of another size", Route(FILE_PATH, FILES_HOST).Generated(300000).NoContentLength(), 300001,
         1000, AGENT_E_SIZE_MISMATCH},
        {"not found", Route(FILE_PATH, FILES_HOST).Status(404), -1, 1000, AGENT_E_HTTP_STATUS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        ASSERT_TRUE(WriteWhole(target, old));
        loopback.Add(Route(c.route));
        BytesSink sink;
        sink.cancelAtPercent = c.cancelAtPercent;
        FileHandle held(c.holdTarget ? ::CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE);
        EXPECT_EQ(Fetch(SAFE, c.expected, &sink), c.result);
        held.reset();
        EXPECT_EQ(Contents(target), old);
        EXPECT_TRUE(OnlyTheTargetRemains()) << "without resume nothing is kept for later";
    }

    // The same download whole replaces it, and the new file is not hidden.
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(300000));
    EXPECT_EQ(Fetch(SAFE, 300000), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    EXPECT_EQ(::GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_TRUE(OnlyTheTargetRemains());
}

TEST_F(FetchToFileExWire, ACancelledResumableDownloadKeepsWhatArrivedForLater) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    BytesSink sink;
    sink.cancelAtBytes = 1;  // at the first block
    EXPECT_EQ(Fetch(RESUME, -1, &sink), E_ABORT);
    EXPECT_FALSE(Exists(target));
    ASSERT_EQ(sink.bytes.size(), 1u);
    const LONGLONG kept = sink.bytes.front().first;
    EXPECT_EQ(sink.bytes.front().second, 300000);
    EXPECT_TRUE(HoldsPattern(Contents(target + ".tamsel-partial"), static_cast<uint64_t>(kept)));
    EXPECT_NE(::GetFileAttributesA((target + ".tamsel-partial").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    EXPECT_EQ(Fetch(RESUME, 300000), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    EXPECT_TRUE(OnlyTheTargetRemains());
    EXPECT_TRUE(Has(Downloads().back(), "Range: bytes=" + std::to_string(kept) + "-"));
}

TEST_F(FetchToFileExWire, ADownloadThatLosesTheTargetToAnotherLeavesThatOnesFilesAlone) {
    // While this object's resumable download is under way, another object downloads the same target
    // without RESUME: it finds the partial file in use, and must not remove it or its record on its way out.
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    test::FacedAgent other;
    std::vector<HRESULT> lost;
    BytesSink sink;
    sink.cancelAtBytes = 1;  // the first block is all this attempt keeps
    sink.atFirstBytes = [&] {
        lost.push_back(other.FetchToFileVerified(FILE_URL, Wide(target).c_str(), nullptr, 0, -1, nullptr));
        lost.push_back(other.FetchToFileEx(FILE_URL, Wide(target).c_str(), nullptr, SAFE, -1));
    };
    EXPECT_EQ(Fetch(RESUME, -1, &sink), E_ABORT);
    EXPECT_EQ(lost, (std::vector<HRESULT>{HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), E_FAIL}));
    ASSERT_EQ(sink.bytes.size(), 1u);
    const LONGLONG kept = sink.bytes.front().first;
    EXPECT_TRUE(HoldsPattern(Contents(target + ".tamsel-partial"), static_cast<uint64_t>(kept)));
    EXPECT_EQ(Names(), (std::vector<std::string>{"download.bin.tamsel-partial", "download.bin.tamsel-resume"}));
    EXPECT_EQ(Downloads().size(), 3u) << "this download, and the other's two";

    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    EXPECT_EQ(Fetch(RESUME, 300000), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    ASSERT_EQ(Downloads().size(), 1u);
    EXPECT_TRUE(Has(Downloads()[0], "Range: bytes=" + std::to_string(kept) + "-")) << Downloads()[0].raw;
    EXPECT_TRUE(Has(Downloads()[0], "If-Range: \"v1\"")) << Downloads()[0].raw;
}

TEST_F(FetchToFileExWire, ABodyWithoutALengthStopsAtTheFirstBytePastTheExpectedSize) {
    // 100,000 bytes expected, and a body of 16 MiB with no length (as good as endless): nothing past
    // the expected size is stored or reported, in either file mode, and nothing is kept to resume.
    for (const ULONG flags : {0ul, RESUME}) {
        SCOPED_TRACE(flags);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(16 << 20).NoContentLength());
        BytesSink sink;
        EXPECT_EQ(Fetch(flags, 100000, &sink), AGENT_E_SIZE_MISMATCH);
        ASSERT_FALSE(sink.bytes.empty());
        for (const auto& report : sink.bytes) EXPECT_LE(report.first, 100000);
        if (flags == 0) {
            EXPECT_TRUE(HoldsPattern(Contents(target), 100000)) << "the file holds what came, up to the size";
            ::DeleteFileA(target.c_str());
        } else {
            EXPECT_FALSE(Exists(target));
        }
        EXPECT_TRUE(OnlyTheTargetRemains());
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_FALSE(Has(gets[0], "Range: bytes=0-")) << gets[0].raw;
    }
}

TEST_F(FetchToFileExWire, ARangeEndsTheBodyOfA206WhateverFollowsIt) {
    // A cut first attempt keeps 100,000 of 300,007 bytes; the resume's 206 names bytes 100000-300006
    // but, with no length, sends 200,000 bytes more than that before it closes.
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300007).CloseAfter(100000));
    EXPECT_EQ(Fetch(RESUME), E_FAIL);
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Status(206).Header(ETAG_LINE).Header("Content-Range: bytes 100000-300006/300007")
                     .NoContentLength().Body(Pattern(400007, 100000)));
    BytesSink sink;
    EXPECT_EQ(Fetch(RESUME, 300007, &sink), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300007));
    EXPECT_TRUE(OnlyTheTargetRemains());
    ASSERT_FALSE(sink.bytes.empty());
    for (const auto& report : sink.bytes) EXPECT_LE(report.first, 300007);
    EXPECT_EQ(sink.bytes.back(), std::make_pair(300007LL, 300007LL));
    const auto gets = Downloads();
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_TRUE(Has(gets[0], "Range: bytes=100000-")) << gets[0].raw;
}

TEST_F(FetchToFileExWire, UnicodeNamesAndPathsPastMaxPathAreWritten) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(5000));
    // CJK and an emoji (a surrogate pair) in the name.
    const std::wstring name = Wide(scratch.path) + L"\\\u65e5\u672c\u8a9e-\U0001F600.bin";
    EXPECT_EQ(agent.FetchToFileEx(FILE_URL, name.c_str(), nullptr, SAFE, 5000), S_OK);
    FileHandle unicode(::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(unicode);
    EXPECT_EQ(::GetFileSize(unicode.get(), nullptr), 5000u);

    // Three folders of 100 characters: the file's path is past 300 characters.
    std::wstring folder = L"\\\\?\\" + Wide(scratch.path);
    std::vector<std::wstring> made;
    for (wchar_t letter : {L'a', L'b', L'c'}) {
        folder += L"\\" + std::wstring(100, letter);
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        made.push_back(folder);
    }
    const std::wstring longName = folder.substr(4) + L"\\long.bin";
    ASSERT_GT(longName.size(), 300u);
    EXPECT_EQ(agent.FetchToFileEx(FILE_URL, longName.c_str(), nullptr, RESUME, 5000), S_OK);
    EXPECT_EQ(agent.FetchToFileEx(FILE_URL, longName.c_str(), nullptr, 0, 5000), S_OK) << "without the flags too";
    const std::wstring prefixed = folder + L"\\long.bin";
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExW(prefixed.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5000u);
    ::DeleteFileW(prefixed.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) ::RemoveDirectoryW(it->c_str());
    ::DeleteFileW(name.c_str());
}

TEST_F(FetchToFileExWire, StrictTlsRefusesAnUnknownAuthorityAndAnotherNameAtOnce) {
    for (const char* host : {"untrusted.norvik.example", "othername.norvik.example"}) {
        SCOPED_TRACE(host);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(FILE_PATH, host).Generated(5000));
        const std::string url = std::string("https://") + host + FILE_PATH;
        EXPECT_EQ(Fetch(TAMSEL_FETCH_STRICT_TLS | SAFE, -1, nullptr, url.c_str()), AGENT_E_CERTIFICATE);
        EXPECT_FALSE(Exists(target));
        EXPECT_TRUE(loopback.Requests("https").empty()) << "nothing is sent to a server that is not trusted";
    }
    // Without the flag a certificate for another name passes, as it does for FetchToFile.
    EXPECT_EQ(Fetch(SAFE, 5000, nullptr, "https://othername.norvik.example/f.bin"), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
}

TEST_F(FetchToFileExWire, StrictTlsRefusesARedirectThatLeavesHttps) {
    constexpr char SECURE[] = "secure.norvik.example";
    const std::string clear = std::string("Location: ") + FILE_URL;
    const struct {
        const char* where;
        std::vector<Route> routes;
    } cases[] = {
        {"at the look", {Route(FILE_PATH, SECURE).Status(302).Header(clear)}},
        {"at a later hop of the download",
         {Route(FILE_PATH, SECURE).Status(302).Header("Location: https://secure.norvik.example/g.bin"),
          Route("/g.bin", SECURE).Status(301).Header(clear)}},
        {"to ftp at a later hop",
         {Route(FILE_PATH, SECURE).Status(302).Header("Location: https://secure.norvik.example/g.bin"),
          Route("/g.bin", SECURE).Status(301).Header("Location: ftp://files.norvik.example/f.bin")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        ASSERT_TRUE(loopback.Reset());
        for (const Route& route : c.routes) loopback.Add(route);
        loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(5000));
        EXPECT_EQ(Fetch(TAMSEL_FETCH_STRICT_TLS | SAFE, -1, nullptr, "https://secure.norvik.example/f.bin"),
                  AGENT_E_INSECURE_REDIRECT);
        EXPECT_FALSE(Exists(target));
        EXPECT_TRUE(OnlyTheTargetRemains());
        for (const RecordedRequest& request : loopback.Requests("http")) {
            EXPECT_NE(request.host, FILES_HOST) << "fetched in clear: " << request.RequestLine();
        }
        LONG status = 0;
        EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL) << "no status to blame: " << status;
    }
    // Without strict TLS the same redirect is followed, as FetchToFile follows it.
    ASSERT_TRUE(loopback.Reset());
    for (const Route& route : cases[1].routes) loopback.Add(route);
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(5000));
    EXPECT_EQ(Fetch(SAFE, 5000, nullptr, "https://secure.norvik.example/f.bin"), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
    EXPECT_EQ(loopback.Requests("http").back().RequestLine(), "GET http://files.norvik.example:80/f.bin HTTP/1.1");
}

TEST_F(FetchToFileExWire, FtpResumesWithRestWhileTheListingIsUnchanged) {
    const std::string served = scratch.File("served");
    ASSERT_TRUE(::CreateDirectoryA(served.c_str(), nullptr));
    const std::string source = served + "\\remote.bin";
    ASSERT_TRUE(WriteWhole(source, test::Pattern(300000)));
    const uint16_t port = loopback.StartFtp(served);
    ASSERT_NE(port, 0);
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/remote.bin";

    BytesSink first;
    first.cancelAtBytes = 1;  // at the first block
    EXPECT_EQ(Fetch(RESUME, -1, &first, url.c_str()), E_ABORT);
    ASSERT_EQ(first.bytes.size(), 1u);
    const LONGLONG kept = first.bytes.front().first;
    EXPECT_EQ(first.bytes.front().second, 300000);

    const size_t before = loopback.Requests("ftp").size();
    EXPECT_EQ(Fetch(RESUME, 300000, nullptr, url.c_str()), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    EXPECT_TRUE(OnlyTheTargetRemains());
    const auto commands = loopback.Requests("ftp");
    bool restarted = false;
    for (size_t i = before; i < commands.size(); ++i) {
        restarted = restarted || commands[i].raw == "REST " + std::to_string(kept);
    }
    EXPECT_TRUE(restarted) << "the second attempt asked for the rest of the file";
    EXPECT_TRUE(loopback.StopFtp());
    ::DeleteFileA(source.c_str());
    ::RemoveDirectoryA(served.c_str());
}

// A file of 300,000 bytes whose bytes are the pattern's XOR version: another file of the same size.
std::string Version(unsigned char version) {
    std::string bytes = Pattern(300000);
    for (char& byte : bytes) byte = static_cast<char>(byte ^ version);
    return bytes;
}

TEST_F(FetchToFileExWire, FtpResumesOnlyUnderAValidatorThatTellsSameSizeFilesApart) {
    // The listing's time goes down to the minute at best: a same-size file put in place within it lists
    // the same. A first attempt keeps 4096 bytes of version 0; the server then has version `after`.
    constexpr char OLD[] = "20240101120005";
    struct Row {
        const char* name;
        const char* mdtmBefore;
        const char* mdtmAfter;
        unsigned char after;
        int digestOf;  // -1: no digest; otherwise the version whose SHA-256 the download proves
        HRESULT result;
        bool restarted;  // the second attempt asked for the rest (REST)
    };
    const Row rows[] = {
        {"unchanged, MDTM unchanged: resumed", OLD, OLD, 0, -1, S_OK, true},
        {"replaced within the minute, MDTM seconds differ: started over", OLD, "20240101120042", 0x5A, -1, S_OK, false},
        {"replaced, no MDTM, no digest: started over", "", "", 0x5A, -1, S_OK, false},
        {"unchanged, no MDTM, no digest: nothing proves it, started over", "", "", 0, -1, S_OK, false},
        {"unchanged, no MDTM, the digest proves the whole: resumed", "", "", 0, 0, S_OK, true},
        {"replaced, no MDTM, the new file's digest: the splice fails it, started over", "", "", 0x5A, 0x5A, S_OK, true},
        {"replaced, no MDTM, the old file's digest: nothing kept", "", "", 0x5A, 0, AGENT_E_DIGEST_MISMATCH, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FtpScript script;
        script.fileSize = script.sendBeforeDrop = 300000;
        script.mdtm = row.mdtmBefore;
        test::FtpDouble server(script);
        ASSERT_NE(server.Port(), 0);
        const std::string url = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/file.bin";
        const std::string digest = row.digestOf < 0 ? "" : DigestOf(Version(static_cast<unsigned char>(row.digestOf)));
        ASSERT_TRUE(WriteWhole(target, "the host's own file"));
        test::RecordingSink first({1000, false, 1, S_OK, 1});  // cancels at the first report, 4096 bytes in
        EXPECT_EQ(agent.FetchToFileVerified(url.c_str(), Wide(target).c_str(), &first, RESUME, -1, digest.c_str()),
                  E_ABORT);
        ASSERT_EQ(SizeOf(target + ".tamsel-partial"), 4096);

        script.mdtm = row.mdtmAfter;
        script.version = row.after;
        server.SetScript(script);
        const size_t before = server.Commands().size();
        EXPECT_EQ(agent.FetchToFileVerified(url.c_str(), Wide(target).c_str(), nullptr, RESUME, -1, digest.c_str()),
                  row.result);
        const std::vector<std::string> commands = server.Commands();
        const auto rest = std::find(commands.begin() + before, commands.end(), "REST 4096");
        EXPECT_EQ(rest != commands.end(), row.restarted);
        if (SUCCEEDED(row.result)) {
            EXPECT_TRUE(Contents(target) == Version(row.after)) << "the file whole, of one version";
        } else {
            EXPECT_EQ(Contents(target), "the host's own file");
        }
        EXPECT_TRUE(OnlyTheTargetRemains());
        if (rest != commands.end() && row.after != 0) {
            EXPECT_GE(std::count_if(rest, commands.end(), [](const std::string& c) { return c.rfind("RETR", 0) == 0; }),
                      2) << "after the splice failed its digest, the whole file was asked for once more";
        }
    }
}

// Each request as "host request-line", in order, and how many connections carried them.
struct Sequence {
    std::vector<std::string> lines;
    size_t connections = 0;
};

Sequence SequenceOf(const std::vector<RecordedRequest>& requests) {
    Sequence sequence;
    std::set<int> connections;
    for (const RecordedRequest& request : requests) {
        sequence.lines.push_back(request.host + " " + request.RequestLine());
        connections.insert(request.connection);
    }
    sequence.connections = connections.size();
    return sequence;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST_F(FetchToFileExWire, EachDownloadMakesOnlyTheRequestsItNeeds) {
    // The probe runs beside the first request, which is the download itself unless its reply names a
    // Location; a probe that passed on the object a moment ago stands for the next one. Wine's WinINet
    // never carries a second request on a proxied connection: each request comes on one of its own.
    const std::string probe = std::string(testbed::MAKER_HOST) + " GET http://www.norvik.example:80/ HTTP/1.1";
    const std::string get = std::string(FILES_HOST) + " GET http://files.norvik.example:80/f.bin HTTP/1.0";
    const struct {
        const char* what;
        const char* url;
        bool onTheFixturesObject;  // new at the first case, probed by it for the second
        bool probed;
        std::vector<std::string> expected;  // in order, the probe left out (its place is the platform's)
    } cases[] = {
        {"file at the URL", FILE_URL, true, true, {get}},
        {"the same object again", FILE_URL, true, false, {get}},
        {"a 302 first", "http://files.norvik.example/moved.bin", false, true,
         {std::string(FILES_HOST) + " GET http://files.norvik.example:80/moved.bin HTTP/1.0", get}},
        {"a query: looked at first, sent without it", "http://files.norvik.example/f.bin?v=1", false, true,
         {std::string(FILES_HOST) + " GET http://files.norvik.example:80/f.bin?v=1 HTTP/1.1", get}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/moved.bin", FILES_HOST).Status(302).Header(std::string("Location: ") + FILE_URL));
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(100000));
        test::FacedAgent fresh;
        test::FacedAgent& used = c.onTheFixturesObject ? agent : fresh;
        ASSERT_EQ(used.FetchToFileEx(c.url, Wide(target).c_str(), nullptr, RESUME, 100000), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), 100000));
        const Sequence sequence = SequenceOf(loopback.Requests());
        std::vector<std::string> others = sequence.lines;
        others.erase(std::remove(others.begin(), others.end(), probe), others.end());
        EXPECT_EQ(others, c.expected) << Joined(sequence.lines);
        EXPECT_EQ(sequence.lines.size() - others.size(), c.probed ? 1u : 0u) << Joined(sequence.lines);
        EXPECT_EQ(sequence.connections, sequence.lines.size()) << Joined(sequence.lines);
    }
}

TEST_F(FetchToFileExWire, AQueryThenADownloadOnOneObjectMakeFourRequests) {
    constexpr char SERVICE[] = "http://svc.norvik.example/dl/service.php";
    loopback.Add(Route("/dl/service.php", "svc.norvik.example").Method("POST").Body(
        ServiceReply({{"StatusCode", "1"}, {"downloadURL", FILE_URL}, {"filesize", "100000"}})));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(100000));
    char url[256] = "";
    LONGLONG size = 0;
    ASSERT_EQ(agent.QueryDownload(url, sizeof url, SERVICE, "CODE", &size), S_OK);
    ASSERT_EQ(agent.FetchToFileEx(url, Wide(target).c_str(), nullptr, SAFE, size), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 100000));
    const Sequence sequence = SequenceOf(loopback.Requests());
    const std::vector<std::string> expected = {
        std::string(testbed::MAKER_HOST) + " GET http://www.norvik.example:80/ HTTP/1.1",
        "svc.norvik.example GET http://svc.norvik.example:80/dl/service.php HTTP/1.1",
        "svc.norvik.example POST http://svc.norvik.example:80/dl/service.php HTTP/1.1",
        std::string(FILES_HOST) + " GET http://files.norvik.example:80/f.bin HTTP/1.0",
    };
    EXPECT_EQ(sequence.lines, expected) << "the query's own three, then the file alone";
    EXPECT_EQ(sequence.connections, 4u) << Joined(sequence.lines);
}

TEST_F(FetchToFileExWire, AFailedProbeLetsTheFirstReplyGoAndTouchesNoFile) {
    // A probe that fails while the download's first request is answered: nothing reaches the target or
    // what an earlier attempt left beside it, for either download.
    CutAt100000(ETAG_LINE);
    const std::string partial = Contents(target + ".tamsel-partial");
    const std::string record = Contents(target + ".tamsel-resume");
    ASSERT_TRUE(WriteWhole(target, "old"));
    for (const bool verified : {false, true}) {
        SCOPED_TRACE(verified ? "FetchToFileVerified" : "FetchToFileEx");
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/").Status(500));
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
        test::FacedAgent fresh;
        const HRESULT result = verified ? fresh.FetchToFileVerified(FILE_URL, Wide(target).c_str(), nullptr, RESUME,
                                                                    -1, DigestOf(Pattern(300000)).c_str())
                                        : fresh.FetchToFileEx(FILE_URL, Wide(target).c_str(), nullptr, 0, -1);
        EXPECT_EQ(result, AGENT_E_NO_SESSION);
        EXPECT_EQ(Contents(target), "old");
        EXPECT_EQ(Contents(target + ".tamsel-partial"), partial);
        EXPECT_EQ(Contents(target + ".tamsel-resume"), record);
        LONG status = 0;
        EXPECT_EQ(fresh.GetLastHttpStatus(&status), E_FAIL);
    }
}

}  // namespace
}  // namespace tamsel::agent
