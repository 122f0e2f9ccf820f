// FetchToFileVerified on the wire: a file takes the target's place only when its digest matches, a
// resume hashes what the break left, a local cause is named where the earlier downloads say E_FAIL, and
// a call from the download's own sink is busy.
#include "support/FileDownloadWire.h"

#include "base/Handle.h"
#include "support/Bounded.h"
#include "support/Pattern.h"

#include <cctype>
#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using testbed::FILE_PATH;
using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::Route;


class FetchToFileVerifiedWire : public FileDownloadWire {};

TEST_F(FetchToFileVerifiedWire, AVerifiedFileTakesTheTargetsPlaceOnlyWhenItsDigestMatches) {
    const std::string old = "the host's previous file";
    // Some megabytes: more blocks than the hashing thread has slots.
    constexpr uint64_t SIZE = 6000001;
    const std::string digest = DigestOf(Pattern(SIZE));
    // One byte changed anywhere, the length kept: each is found, even with RESUME asked for.
    for (const uint64_t flipped : {uint64_t(0), SIZE / 2, SIZE - 1}) {
        SCOPED_TRACE(flipped);
        ASSERT_TRUE(loopback.Reset());
        ASSERT_TRUE(WriteWhole(target, old));
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(SIZE).FlipByte(flipped));
        EXPECT_EQ(Verified(RESUME, digest.c_str(), target), AGENT_E_DIGEST_MISMATCH);
        EXPECT_EQ(Contents(target), old);
        EXPECT_TRUE(OnlyTheTargetRemains()) << "wrong bytes are not kept to resume from";
    }
    // No digest checks nothing; an uppercase one is the same digest.
    EXPECT_EQ(Verified(0, nullptr, target), S_OK);
    EXPECT_EQ(SizeOf(target), static_cast<int64_t>(SIZE));
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(SIZE));
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    EXPECT_EQ(Verified(0, upper.c_str(), target), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), SIZE));
    EXPECT_TRUE(OnlyTheTargetRemains());
}

TEST_F(FetchToFileVerifiedWire, AVerifiedResumeHashesWhatTheBreakLeftAndFindsItTampered) {
    const std::string digest = DigestOf(Pattern(300000));
    const std::string partial = target + ".tamsel-partial";
    {
        ShortWaits shortWaits(1500);
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).StallAfter(20000));
        EXPECT_EQ(Verified(RESUME, digest.c_str(), target), AGENT_E_BROKEN) << "a stall is a break";
        EXPECT_TRUE(HoldsPattern(Contents(partial), 20000));
    }
    for (const bool tampered : {false, true}) {
        SCOPED_TRACE(tampered ? "tampered prefix" : "prefix as it came");
        ::DeleteFileA(target.c_str());
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).CloseAfter(100000));
        EXPECT_EQ(Verified(RESUME, digest.c_str(), target), AGENT_E_BROKEN) << "worth a resume";
        ASSERT_TRUE(HoldsPattern(Contents(partial), 100000));
        if (tampered) {
            std::string bytes = Contents(partial);
            bytes[5000] ^= 0x01;
            ASSERT_TRUE(WriteWhole(partial, bytes));
        }
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
        EXPECT_EQ(Verified(RESUME, digest.c_str(), target), tampered ? AGENT_E_DIGEST_MISMATCH : S_OK);
        const auto gets = Downloads();
        ASSERT_EQ(gets.size(), 1u);
        EXPECT_TRUE(Has(gets[0], "Range: bytes=100000-")) << "only the rest came over the wire";
        EXPECT_EQ(Exists(target), !tampered);
        if (!tampered) {
            EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
        }
        EXPECT_TRUE(OnlyTheTargetRemains());
    }
}

TEST_F(FetchToFileVerifiedWire, AVerifiedDownloadNamesTheLocalCauseWhereTheOthersSayEFail) {
    const std::string old = "kept";
    const std::string readOnly = scratch.Write("read-only.bin", old);
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string held = scratch.Write("held.bin", old);
    FileHandle holder(::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    // Another download of the same target, in another process, holds the partial file.
    const std::string busy = scratch.File("busy.bin");
    scratch.Write("busy.bin.tamsel-partial", old);
    FileHandle busyHolder(::CreateFileA((busy + ".tamsel-partial").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    ASSERT_TRUE(busyHolder);
    struct Case {
        const char* what;
        std::string path;
        HRESULT verified;
        bool partialIsOurs;
    };
    const Case cases[] = {
        {"missing folder", scratch.File("no-such-folder\\f.bin"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), true},
        {"read-only target", readOnly, E_ACCESSDENIED, true},
        // The platform refuses a rename onto a file open elsewhere as access denied.
        {"target open elsewhere", held, E_ACCESSDENIED, true},
        {"partial file open elsewhere", busy, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), false},
    };
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(5000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(agent.FetchToFileEx(FILE_URL, Wide(c.path).c_str(), nullptr, SAFE, -1), E_FAIL);
        EXPECT_EQ(Verified(SAFE, nullptr, c.path), c.verified);
        EXPECT_EQ(Exists(c.path + ".tamsel-partial"), !c.partialIsOurs) << "without RESUME ours does not stay";
    }
    holder.reset();
    EXPECT_EQ(Contents(readOnly), old);
    EXPECT_EQ(Contents(held), old);
}

TEST_F(FetchToFileVerifiedWire, AVerifiedResumeThatCannotReadThePartialFileSaysWhyRatherThanBroken) {
    const std::string digest = DigestOf(Pattern(300000));
    const std::string partial = target + ".tamsel-partial";
    CutAt100000(ETAG_LINE);
    loopback.Add(Route(FILE_PATH, FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    {
        // Another download of the same target writes the partial file this one would hash and go on from.
        FileHandle holder(::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(Verified(RESUME, digest.c_str(), target), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))
            << "the partial file's fault, not the server's (AGENT_E_HTTP_STATUS for its 206)";
        ASSERT_FALSE(Downloads().empty());
        EXPECT_TRUE(Has(Downloads().back(), "Range: bytes=100000-"));
    }
    EXPECT_TRUE(HoldsPattern(Contents(partial), 100000)) << "kept for the next attempt";
    EXPECT_EQ(Verified(RESUME, digest.c_str(), target), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
}

TEST_F(FetchToFileVerifiedWire, ACallFromTheSinkIsBusyBeforeItsArgumentsAreRead) {
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(200000));
    BytesSink sink;
    std::vector<HRESULT> nested;
    sink.atFirstBytes = [&] {
        // Arguments the agent would refuse of a call of its own: busy comes first all the same.
        nested.push_back(agent.FetchToFileVerified(FILE_URL, L"x.bin", nullptr, 0, -1, "not a digest"));
        nested.push_back(agent.FetchToFileEx(FILE_URL, L"x.bin", nullptr, 0x8, -1));
    };
    EXPECT_EQ(agent.FetchToFileVerified(FILE_URL, Wide(target).c_str(), &sink, 0, -1, nullptr), S_OK);
    EXPECT_EQ(nested, (std::vector<HRESULT>{AGENT_E_BUSY, AGENT_E_BUSY}));
    EXPECT_TRUE(HoldsPattern(Contents(target), 200000));
}

}  // namespace
}  // namespace tamsel::agent
