// The COM face under load: a hundred thousand create/release cycles, alone and from eight threads at
// once, leave the process's handles and memory where they were and the module free to unload.
#include "support/AgentModule.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tamsel::hostile {
namespace {

using module::test::Agent;

constexpr int CYCLES = 100000;
constexpr int THREADS = 8;
constexpr DWORD HANDLE_SLACK = 4;                 // the platform's own lazily made handles
constexpr SIZE_T MEMORY_SLACK = 2 * 1024 * 1024;  // heap growth that is not per object: far below a leak

struct Footprint {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// Wine's GetProcessHandleCount answers 0 whatever is open. Handles are numbered lowest free first, so
// the number a new handle gets is then the measure: leaked handles push it up.
DWORD HandleCount() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return count;
    HANDLE probe = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const auto number = static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe) / 4);
    ::CloseHandle(probe);
    return number;
}

// The process's private commit; Wine leaves PrivateUsage at 0 but keeps PagefileUsage, the same
// figure on Windows.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters));
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

Footprint Measure() {
    return {HandleCount(), PrivateBytes()};
}

bool Within(const Footprint& before, const Footprint& after) {
    return after.handles <= before.handles + HANDLE_SLACK && after.privateBytes <= before.privateBytes + MEMORY_SLACK;
}

// The footprint once threads of earlier tests that were still ending (a close worker letting go of a
// cancelled download's reply) have ended: a leak stays, their handles go within a second or two on a
// quiet machine, and within half a minute on one loaded many times over.
Footprint MeasureSettled(const Footprint& before) {
    Footprint after = Measure();
    for (int tries = 0; tries < 300 && !Within(before, after); ++tries) {
        ::Sleep(100);
        after = Measure();
    }
    return after;
}

// One whole cycle as a host makes it: the factory from the export, an agent from the factory, the
// other face asked for and given back. Every count must come back to zero.
bool OneCycle() {
    void* factory = nullptr;
    if (FAILED(Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &factory))) return false;
    auto* classFactory = static_cast<IClassFactory*>(factory);
    void* ops = nullptr;
    const HRESULT created = classFactory->CreateInstance(nullptr, IID_InvTamselAgentOps, &ops);
    classFactory->Release();
    if (FAILED(created)) return false;
    auto* agent = static_cast<InvTamselAgentOps*>(ops);
    void* dispatch = nullptr;
    const bool faces = SUCCEEDED(agent->QueryInterface(IID_IDispatch, &dispatch));
    if (faces) static_cast<IUnknown*>(dispatch)->Release();
    return agent->Release() == 0 && faces;
}

// Runs count cycles; the number that did not come back clean.
int Cycle(int count) {
    int failures = 0;
    for (int i = 0; i < count; ++i) failures += OneCycle() ? 0 : 1;
    return failures;
}

::testing::AssertionResult SameFootprint(const Footprint& before, const Footprint& after) {
    if (!Within(before, after)) {
        return ::testing::AssertionFailure() << "handles " << before.handles << " -> " << after.handles
                                             << ", private bytes " << before.privateBytes << " -> "
                                             << after.privateBytes;
    }
    return ::testing::AssertionSuccess();
}

class ComStress : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Agent().DllGetClassObject, nullptr) << "NorvikTamselAgent.dll is not beside the test";
        ASSERT_EQ(Cycle(1000), 0) << "warm-up";  // lets the factory, heaps and thread pools settle
    }
    void TearDown() override { EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK) << "something still holds the module"; }
};

TEST_F(ComStress, AHundredThousandCyclesLeaveNothingBehind) {
    const Footprint before = Measure();
    EXPECT_EQ(Cycle(CYCLES), 0);
    const Footprint after = MeasureSettled(before);
    EXPECT_TRUE(SameFootprint(before, after));
    std::printf("handles %lu -> %lu, private bytes %lu -> %lu\n", before.handles, after.handles,
                static_cast<unsigned long>(before.privateBytes), static_cast<unsigned long>(after.privateBytes));
}

TEST_F(ComStress, EightThreadsAtOnceLeaveNothingBehind) {
    std::vector<std::thread> warm;  // threads themselves cost handles and stacks: measure with them gone
    for (int t = 0; t < THREADS; ++t) warm.emplace_back([] { Cycle(100); });
    for (auto& thread : warm) thread.join();

    const Footprint before = Measure();
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            failures += Cycle(CYCLES / THREADS);
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    const Footprint after = MeasureSettled(before);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(SameFootprint(before, after));
    std::printf("handles %lu -> %lu, private bytes %lu -> %lu\n", before.handles, after.handles,
                static_cast<unsigned long>(before.privateBytes), static_cast<unsigned long>(after.privateBytes));
}

// One object shared by two threads, each making calls the agent refuses at once (unknown flags, or
// busy with the other thread's call). Every call holds a reference for its length; counts that are
// not interlocked lose some and free the object under its host.
TEST_F(ComStress, TwoThreadsOnOneObjectKeepItsCount) {
    void* ops = nullptr;
    ASSERT_HRESULT_SUCCEEDED(Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &ops));
    auto* factory = static_cast<IClassFactory*>(ops);
    const HRESULT created = factory->CreateInstance(nullptr, IID_InvTamselAgentOps2, &ops);
    factory->Release();
    ASSERT_HRESULT_SUCCEEDED(created);
    auto* agent = static_cast<InvTamselAgentOps2*>(ops);
    constexpr ULONG UNKNOWN_FLAG = 0x80;
    std::atomic<int> unexpected{0};
    std::atomic<HRESULT> firstUnexpected{S_OK};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 50 * CYCLES; ++i) {
                const HRESULT hr = agent->FetchToFileEx("http://files.example/f", L"f", nullptr, UNKNOWN_FLAG, -1);
                if (hr != E_INVALIDARG && hr != AGENT_E_BUSY && unexpected++ == 0) firstUnexpected = hr;
            }
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(unexpected.load(), 0) << "first unexpected result " << std::hex << firstUnexpected.load();
    EXPECT_EQ(module::test::CountOf(agent), 1u) << "the host's one reference";
    EXPECT_EQ(agent->Release(), 0u);
}

}  // namespace
}  // namespace tamsel::hostile
