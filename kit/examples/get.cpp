// An integrator's C++ host: one code's whole download through InvTamselAgentOps3, with byte progress.
//
//   get.exe SERVICE_URL CODE FILE
//
// Asks the service for CODE's download and its SHA-256, downloads it into FILE (a name in any script)
// with safe replacement and resume, the bytes hashed as they arrive, tries a broken transfer twice
// more, and reports the outcome. FILE is replaced only by a file whose digest is the service's. Needs the
// registered DLL (regsvr32 NorvikTamselAgent.dll); links only ole32. In the kit's examples folder,
// MSVC: cl /EHsc /I..\include get.cpp ole32.lib;
// mingw-w64: g++ -municode -I../include get.cpp -lole32
#include "NorvikTamselAgent.h"

#include <cstdio>
#include <string>

namespace {

// The sink lives on the stack for the call: the agent holds no reference past FetchToFileEx.
class Progress final : public ProgressSink2 {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        // __uuidof rather than IID_IUnknown, whose definition lives in a library of its own (uuid).
        if (iid != __uuidof(IUnknown) && iid != IID_ProgressSink && iid != IID_ProgressSink2) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<ProgressSink2*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG, LONG*) override { return S_OK; }
    // total is -1 when the server announced no length. Write a non-zero *cancel to stop (E_ABORT).
    HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG total, LONG*) override {
        std::fprintf(stderr, "\r%lld of %lld bytes", received, total);
        return S_OK;
    }
};

// URLs and codes are 8-bit text; UTF-8 is what a URL with other characters would carry.
std::string Utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

HRESULT Get(InvTamselAgentOps3& agent, const std::string& service, const std::string& code, const wchar_t* file) {
    char url[4096];
    char sha256[65];  // 64 hex digits and the zero; empty when the service names no digest
    LONGLONG size = 0;
    HRESULT hr = agent.QueryDownloadEx(url, sizeof(url), service.c_str(), code.c_str(), &size, sha256, sizeof(sha256));
    if (FAILED(hr)) return hr;
    Progress progress;
    // Each attempt after a break goes on where the last one stopped (the bytes already there hashed
    // once); the file takes FILE's place only when whole, of the size and with the digest the service
    // named.
    for (int attempt = 0;; ++attempt) {
        hr = agent.FetchToFileVerified(url, file, &progress, TAMSEL_FETCH_RESUME, size > 0 ? size : -1, sha256);
        // AGENT_E_BROKEN: the transfer broke off or stalled; anything else would come again.
        if (hr != AGENT_E_BROKEN || attempt == 2) break;
        ::Sleep(1000u << attempt);
    }
    std::fputc('\n', stderr);
    LONG remaining = -1;
    const HRESULT reported = agent.ReportDownload(service.c_str(), code.c_str(), SUCCEEDED(hr), &remaining);
    if (SUCCEEDED(reported)) std::printf("remaining downloads: %ld\n", remaining);
    return FAILED(hr) ? hr : reported;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: get SERVICE_URL CODE FILE\n", stderr);
        return 2;
    }
    if (FAILED(::CoInitialize(nullptr))) return 1;
    CLSID clsid;
    InvTamselAgentOps3* agent = nullptr;
    HRESULT hr = ::CLSIDFromProgID(L"" NORVIK_TAMSEL_AGENT_PROGID, &clsid);
    if (SUCCEEDED(hr)) {
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_InvTamselAgentOps3,
                                reinterpret_cast<void**>(&agent));
    }
    if (SUCCEEDED(hr)) {
        hr = Get(*agent, Utf8(argv[1]), Utf8(argv[2]), argv[3]);
        agent->Release();
    }
    ::CoUninitialize();
    std::printf("result 0x%08lX\n", static_cast<unsigned long>(hr));
    return SUCCEEDED(hr) ? 0 : 1;
}
