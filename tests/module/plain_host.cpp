// A host that is only a host: the header and the SDK, no test framework. It creates the registered
// agent by ProgID, calls one operation and exits 0 when everything answered as the header promises.
#include "include/NorvikTamselAgent.h"

#include <cstdio>

static int Fail(const char* what, HRESULT hr) {
    std::printf("plain_host: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

static int UseAgent() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"" NORVIK_TAMSEL_AGENT_PROGID, &clsid);
    if (FAILED(hr)) return Fail("CLSIDFromProgID", hr);
    if (!IsEqualCLSID(clsid, CLSID_nvTamselAgent)) return Fail("the ProgID names another class", E_FAIL);

    InvTamselAgentOps* agent = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(InvTamselAgentOps),
                          reinterpret_cast<void**>(&agent));
    if (FAILED(hr)) return Fail("CoCreateInstance", hr);
    LONG status = 42;
    hr = agent->GetLastHttpStatus(&status);
    const ULONG count = agent->Release();
    if (hr != E_FAIL || status != 42) return Fail("GetLastHttpStatus on a new agent", hr);
    if (count != 0) return Fail("Release left references", static_cast<HRESULT>(count));
    std::printf("plain_host: agent created by ProgID and answered\n");
    return 0;
}

int main() {
    if (FAILED(CoInitialize(nullptr))) return Fail("CoInitialize", E_FAIL);
    const int result = UseAgent();
    CoUninitialize();
    return result;
}
