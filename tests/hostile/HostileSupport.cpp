// Shared pieces of the hostile-world suites: scratch folder, sink checks, bounded calls, status checks.
#include "hostile/HostileSupport.h"

namespace tamsel::hostile {

ScratchFolder::ScratchFolder() {
    static unsigned counter = 0;
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    path = std::string(base) + "tamsel-hostile-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    ::CreateDirectoryA(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string file = path + "\\" + found.cFileName;
            ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(file.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

::testing::AssertionResult ScriptedSink::WellFormed() const {
    if (codes.size() != percents.size()) {
        return ::testing::AssertionFailure() << codes.size() << " codes for " << percents.size() << " reports";
    }
    LONG last = 0;
    for (size_t i = 0; i < percents.size(); ++i) {
        if (codes[i] != ProgressCode || handedOver[i] != 0) {
            return ::testing::AssertionFailure() << "report " << i << ": code " << codes[i] << ", flag "
                                                 << handedOver[i];
        }
        if (percents[i] <= last || percents[i] > 100) {
            return ::testing::AssertionFailure() << "percent " << percents[i] << " after " << last;
        }
        last = percents[i];
    }
    return ::testing::AssertionSuccess();
}

namespace {

DWORD WINAPI RunWork(void* argument) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
    (*work)();
    return 0;
}

}  // namespace

bool BoundedCall::Within(DWORD limitMs) {
    auto* owned = new std::function<void()>(std::move(m_work));
    const auto start = std::chrono::steady_clock::now();
    ThreadHandle thread(::CreateThread(nullptr, 0, RunWork, owned, 0, nullptr));
    if (!thread) {
        delete owned;
        ADD_FAILURE() << "no thread for the bounded call";
        return false;
    }
    const bool ended = ::WaitForSingleObject(thread.get(), limitMs) == WAIT_OBJECT_0;
    elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                    .count();
    return ended;
}

::testing::AssertionResult NoStatusKept(agent::AgentObject& agent) {
    LONG status = 4242;
    const HRESULT http = agent.GetLastHttpStatus(&status);
    const HRESULT service = agent.GetLastServiceStatus(&status);
    if (http != E_FAIL || service != E_FAIL || status != 4242) {
        return ::testing::AssertionFailure() << "a status was kept: 0x" << std::hex << http << ", 0x" << service
                                             << std::dec << ", " << status;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HttpStatusKept(agent::AgentObject& agent, LONG expected) {
    LONG status = 4242;
    if (agent.GetLastHttpStatus(&status) != S_OK || status != expected) {
        return ::testing::AssertionFailure() << "HTTP status " << status << " instead of " << expected;
    }
    LONG service = 4242;
    if (agent.GetLastServiceStatus(&service) != E_FAIL) {
        return ::testing::AssertionFailure() << "a service status was kept too: " << service;
    }
    return ::testing::AssertionSuccess();
}

void HostileTest::AddDownload(const testbed::Route& route, const std::string& path, const std::string& host) {
    ASSERT_TRUE(bench.Add(testbed::Route(path, host).Method("GET").Times(1).Body("look")));
    ASSERT_TRUE(bench.Add(route));
}

}  // namespace tamsel::hostile
