// A probe worker that outlives its 12 s wait keeps the module loaded by its own reference: the host
// may release everything and let COM unload the module meanwhile. Runs beside the loopback test server,
// with the class registered by regsvr32.
#include "support/Testbed.h"

#include "include/NorvikTamselAgent.h"

#include <gtest/gtest.h>

namespace tamsel::module::test {
namespace {

using testbed::Route;

const wchar_t* const MODULE_NAME = L"NorvikTamselAgent.dll";

class ProbeUnload : public testbed::TestbedTest {
protected:
    void SetUp() override {
        TestbedTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    }
    void TearDown() override { ::CoUninitialize(); }
};

// Polls until the module is gone, for at most timeoutMs; answers whether it went.
bool WaitForUnload(DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (::GetModuleHandleW(MODULE_NAME) != nullptr) {
        if (::GetTickCount() - start > timeoutMs) {
            return false;
        }
        ::Sleep(100);
    }
    return true;
}

TEST_F(ProbeUnload, LateProbeWorkerHoldsTheModuleUntilItEnds) {
    ASSERT_TRUE(loopback.Add(Route("/").DelayMs(20000)));  // the probe page answers after 20 s
    ASSERT_EQ(::GetModuleHandleW(MODULE_NAME), nullptr) << "this test must not load the module itself";

    InvTamselAgentOps* ops = nullptr;
    ASSERT_EQ(::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER, IID_InvTamselAgentOps,
                                 reinterpret_cast<void**>(&ops)), S_OK);
    char target[64] = "";
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(ops->LookupRedirect(target, sizeof target, "http://www.norvik.example/lookup",
                                  "serial", "en", "full"), AGENT_E_NO_SESSION);
    EXPECT_GE(::GetTickCount() - start, 11000u) << "the probe was not waited for";
    EXPECT_EQ(ops->Release(), 0u);

    HMODULE module = ::GetModuleHandleW(MODULE_NAME);  // no reference of our own
    ASSERT_NE(module, nullptr);
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK) << "nothing of the host's holds the module any more";

    ::CoFreeUnusedLibraries();  // COM drops its reference; only the waiting worker's is left
    EXPECT_NE(::GetModuleHandleW(MODULE_NAME), nullptr) << "the module went while its worker still runs";
    EXPECT_LT(::GetTickCount() - start, 19000u) << "the worker may have finished already: nothing proven";

    EXPECT_TRUE(WaitForUnload(40000)) << "the worker ended but the module stayed loaded";
    EXPECT_GE(::GetTickCount() - start, 19000u) << "the module went before the probe was answered";
    EXPECT_EQ(loopback.Requests().size(), 1u) << "only the probe goes out";
}

}  // namespace
}  // namespace tamsel::module::test
