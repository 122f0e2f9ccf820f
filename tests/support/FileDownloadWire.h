// The later interfaces' downloads on the wire: an agent, a scratch folder with a target in it, and what
// the suites of FetchToFileEx and FetchToFileVerified ask of a download, its requests and its files.
#pragma once

#include "support/FacedAgent.h"
#include "support/Files.h"
#include "support/RecordingSink.h"
#include "support/Testbed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamsel::test {

inline constexpr ULONG SAFE = TAMSEL_FETCH_REPLACE_SAFELY;
inline constexpr ULONG RESUME = TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME;
inline constexpr char ETAG_LINE[] = "ETag: \"v1\"";

// The SHA-256 of bytes as 64 lowercase hex digits.
std::string DigestOf(const std::string& bytes);
// True when request carries the header line exactly as given.
bool Has(const testbed::RecordedRequest& request, const std::string& line);

class FileDownloadWire : public testbed::TestbedTest {
protected:
    // FetchToFileEx of url into target.
    HRESULT Fetch(ULONG flags, LONGLONG expected = -1, ProgressSink* sink = nullptr,
                  const char* url = testbed::FILE_URL);
    // FetchToFileVerified of the file into path, with no sink and no expected size.
    HRESULT Verified(ULONG flags, const char* sha256, const std::string& path);

    // Only the file's GETs: the probe and any separate Location look left out.
    std::vector<testbed::RecordedRequest> Downloads(const char* channel = "http");
    // Only the target: no partial file, no record.
    ::testing::AssertionResult OnlyTheTargetRemains() const;
    // Every name in the scratch folder, hidden ones too, sorted.
    std::vector<std::string> Names() const { return scratch.Names(); }

    // A first attempt cut at 100,000 of 300,000 bytes: a partial file and its record wait beside the target.
    void CutAt100000(const char* validatorLine);
    // A later attempt against a server that now continues the file: the whole file takes the target's
    // place and nothing stays beside it. The GETs it made, for the caller to inspect.
    std::vector<testbed::RecordedRequest> ResumedWhole(BytesSink& sink);

    FacedAgent agent;
    ScratchFolder scratch;
    const std::string target = scratch.File("download.bin");
};

}  // namespace tamsel::test
