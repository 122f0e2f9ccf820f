// The later interfaces' downloads on the wire: an agent, a scratch folder with a target in it, and what
// the suites of FetchToFileEx and FetchToFileVerified ask of a download, its requests and its files.
#include "support/FileDownloadWire.h"

#include "agent/Sha256.h"
#include "support/Pattern.h"

namespace tamsel::test {

using testbed::RecordedRequest;
using testbed::Route;

std::string DigestOf(const std::string& bytes) {
    agent::Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    return agent::DigestText(hash.Finish().value_or(agent::Digest{}));
}

bool Has(const RecordedRequest& request, const std::string& line) {
    for (const std::string& header : request.HeaderLines()) {
        if (header == line) return true;
    }
    return false;
}

HRESULT FileDownloadWire::Fetch(ULONG flags, LONGLONG expected, ProgressSink* sink, const char* url) {
    return agent.FetchToFileEx(url, Wide(target).c_str(), sink, flags, expected);
}

HRESULT FileDownloadWire::Verified(ULONG flags, const char* sha256, const std::string& path) {
    return agent.FetchToFileVerified(testbed::FILE_URL, Wide(path).c_str(), nullptr, flags, -1, sha256);
}

std::vector<RecordedRequest> FileDownloadWire::Downloads(const char* channel) {
    std::vector<RecordedRequest> gets;
    for (RecordedRequest& request : loopback.Requests(channel)) {
        if (request.host == testbed::FILES_HOST && request.RequestLine().find(" HTTP/1.0") != std::string::npos) {
            gets.push_back(std::move(request));
        }
    }
    return gets;
}

::testing::AssertionResult FileDownloadWire::OnlyTheTargetRemains() const {
    for (const char* suffix : {".tamsel-partial", ".tamsel-resume"}) {
        if (Exists(target + suffix)) return ::testing::AssertionFailure() << target << suffix << " is left";
    }
    return ::testing::AssertionSuccess();
}

void FileDownloadWire::CutAt100000(const char* validatorLine) {
    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(testbed::FILE_PATH, testbed::FILES_HOST).Header(validatorLine).Generated(300000).CloseAfter(100000));
    ASSERT_EQ(Fetch(RESUME), E_FAIL);
    ASSERT_EQ(SizeOf(target + ".tamsel-partial"), 100000);
    ASSERT_TRUE(loopback.Reset());
}

std::vector<RecordedRequest> FileDownloadWire::ResumedWhole(BytesSink& sink) {
    EXPECT_TRUE(loopback.Reset());
    loopback.Add(Route(testbed::FILE_PATH, testbed::FILES_HOST).Header(ETAG_LINE).Generated(300000).Ranges());
    EXPECT_EQ(Fetch(RESUME, 300000, &sink), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    EXPECT_TRUE(OnlyTheTargetRemains());
    return Downloads();
}

}  // namespace tamsel::test
