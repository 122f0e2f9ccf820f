// Creating the agent by ProgID through COM, or through a DLL's own class factory.
#include "host/AgentLoader.h"

#include "host/Text.h"

namespace tamsel::host {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

HRESULT LastError() noexcept {
    return HRESULT_FROM_WIN32(::GetLastError());
}

using CanUnloadFunction = HRESULT(STDAPICALLTYPE*)();

// Whether the DLL lets itself be unloaded now; one without the export has nothing to wait for.
bool CanUnload(HMODULE module) noexcept {
    const FARPROC export_ = ::GetProcAddress(module, "DllCanUnloadNow");
    return export_ == nullptr || reinterpret_cast<CanUnloadFunction>(reinterpret_cast<void*>(export_))() == S_OK;
}

}  // namespace

Library::~Library() {
    if (m_module != nullptr && CanUnload(m_module)) {
        ::FreeLibrary(m_module);
    }
}

HRESULT Library::Load(const std::string& path) noexcept {
    // A missing file gets its own answer; LoadLibrary would report a missing dependency the same way.
    const std::wstring wide = Widen(path);
    if (::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return LastError();
    }
    // The altered search path lets the DLL find DLLs beside it, as it does when registered.
    m_module = ::LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return m_module != nullptr ? S_OK : LastError();
}

HRESULT CreateRegisteredAgent(ComPointer<InvTamselAgentOps3>& agent) noexcept {
    CLSID clsid;
    const HRESULT found = ::CLSIDFromProgID(L"" NORVIK_TAMSEL_AGENT_PROGID, &clsid);
    if (FAILED(found)) {
        return found;
    }
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_InvTamselAgentOps3, agent.put_void());
}

HRESULT CreateAgentFromDll(const std::string& path, Library& library, ComPointer<InvTamselAgentOps3>& agent) noexcept {
    const HRESULT loaded = library.Load(path);
    if (FAILED(loaded)) {
        return loaded;
    }
    const FARPROC export_ = ::GetProcAddress(library.get(), "DllGetClassObject");
    if (export_ == nullptr) {
        return LastError();
    }
    const auto getClassObject = reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(export_));
    ComPointer<IClassFactory> factory;
    const HRESULT got = getClassObject(CLSID_nvTamselAgent, IID_IClassFactory, factory.put_void());
    if (FAILED(got)) {
        return got;
    }
    return factory->CreateInstance(nullptr, IID_InvTamselAgentOps3, agent.put_void());
}

}  // namespace tamsel::host
