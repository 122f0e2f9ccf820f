// Shared pieces of the hostile-world suites: their hosts, status checks and fixture; the helpers every
// suite shares come from tests/support.
#pragma once

#include "support/FacedAgent.h"
#include "support/Bounded.h"
#include "support/Files.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "support/ServiceReply.h"
#include "support/Testbed.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tamsel::hostile {

inline constexpr char FILES_HOST[] = "files.norvik.example";
inline constexpr char SERVICE_HOST[] = "svc.norvik.example";
// The file and the service most hostile tests script.
inline constexpr char FILE_URL[] = "http://files.norvik.example/f.bin";
inline constexpr char FILE_PATH[] = "/f.bin";
inline constexpr char SERVICE_URL[] = "http://svc.norvik.example/svc";

using test::BoundedRun;
using test::Contents;
using test::Exists;
using test::HoldsPattern;
using test::Pattern;
using test::RecordingSink;
using test::ScratchFolder;
using test::ServiceReply;
using test::ShortWaits;
using test::SinkScript;
using test::SizeOf;
using test::WriteWhole;

// Both status getters report nothing and leave their output alone.
::testing::AssertionResult NoStatusKept(test::FacedAgent& agent);
// GetLastHttpStatus reports exactly status (and the service slot nothing).
::testing::AssertionResult HttpStatusKept(test::FacedAgent& agent, LONG status);

// An agent, a scratch folder and a target path in it, with a loopback server that has no routes.
class HostileTest : public testbed::TestbedTest {
protected:
    // Scripts path on host to answer its Location look with a small 200, so that route answers only
    // the download. A look that met a large body would cost its whole length when it is closed.
    void AddDownload(const testbed::Route& route, const std::string& path, const std::string& host = FILES_HOST);

    // FetchToFile of url into target on a thread of its own, given at most limitMs; S_FALSE (and a failed
    // expectation) when it overstays, the run left behind with what it owns. elapsedMs tells how long it ran.
    HRESULT FetchWithin(DWORD limitMs, const char* url = FILE_URL, std::shared_ptr<ProgressSink> sink = nullptr);
    long long elapsedMs = 0;

    std::shared_ptr<test::FacedAgent> agent = std::make_shared<test::FacedAgent>();
    ScratchFolder folder;
    std::string target = folder.File("download.bin");
};

}  // namespace tamsel::hostile
