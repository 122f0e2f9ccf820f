// The class factory as static data: one object per class, picked by CLSID, never built or freed.
#pragma once

#include <unknwn.h>

#include <atomic>

namespace tamsel::module {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** object) noexcept;

// Lives as long as the module. Every reference a caller holds holds the module, so no count of its
// own decides anything: the one it keeps only makes AddRef and Release answer as a counted object
// would, the class table's own reference included.
class ClassFactory final : public IClassFactory {
public:
    constexpr explicit ClassFactory(InstanceCreator createInstance) noexcept : m_createInstance(createInstance) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

private:
    InstanceCreator m_createInstance;
    std::atomic<ULONG> m_count{1};  // the class table's reference, which never goes
};

// One creatable class: what DllGetClassObject picks by CLSID and DllRegisterServer registers.
struct ClassEntry {
    const CLSID& clsid;
    UINT registryScript;  // the id of the "REGISTRY" resource that registers it
    ClassFactory& factory;
};

}  // namespace tamsel::module
