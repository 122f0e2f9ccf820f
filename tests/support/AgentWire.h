// The agent on the wire with every call bounded in time: an agent a call left running may outlive the test
// with, a scratch folder and a target in it, and the checks of the status slots the suites share.
#pragma once

#include "support/Bounded.h"
#include "support/FacedAgent.h"
#include "support/Files.h"
#include "support/Testbed.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tamsel::test {

// Both status getters report nothing and leave their output alone.
::testing::AssertionResult NoStatusKept(FacedAgent& agent);
// GetLastHttpStatus reports exactly status (and the service slot nothing).
::testing::AssertionResult HttpStatusKept(FacedAgent& agent, LONG status);

// The interfaces' downloads, as a test asks for one: FetchToFile, FetchToFileVerified with no flags and no
// digest, FetchToFileEx with RESUME.
enum class Download { FETCH_TO_FILE, VERIFIED, RESUMING };

// What a bounded QueryDownload answered: its result, the URL written ("<untouched>" when none) and the size.
struct QueryOutcome {
    HRESULT result = S_FALSE;
    std::string url;
    LONGLONG size = 99;
};

// An agent, a scratch folder and a target path in it, with a loopback server that has no routes.
class AgentWireTest : public testbed::TestbedTest {
protected:
    // Scripts path on host to answer its Location look with a small 200, so that route answers only
    // the download. A look that met a large body would cost its whole length when it is closed.
    void AddDownload(const testbed::Route& route, const std::string& path,
                     const std::string& host = testbed::FILES_HOST);

    // A download of url into target on a thread of its own, given at most limitMs; S_FALSE (and a failed
    // expectation) when it overstays, the run left behind with what it owns. elapsedMs tells how long it ran.
    HRESULT FetchWithin(DWORD limitMs, const std::string& url = testbed::FILE_URL,
                        std::shared_ptr<ProgressSink> sink = nullptr, Download call = Download::FETCH_TO_FILE);

    // QueryDownload of code at the service URL into a buffer of 70,000 bytes, given at most limitMs (a failed
    // expectation when it overstays); elapsedMs tells how long it ran.
    QueryOutcome Query(const char* code = "CODE", DWORD limitMs = 30000);

    long long elapsedMs = 0;

    std::shared_ptr<FacedAgent> agent = std::make_shared<FacedAgent>();
    ScratchFolder folder;
    std::string target = folder.File("download.bin");
};

}  // namespace tamsel::test
