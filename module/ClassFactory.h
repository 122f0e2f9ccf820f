// The class factory as static data: one object per class, picked by CLSID, never built or freed.
#pragma once

#include "base/Implements.h"

#include <unknwn.h>

namespace tamsel::module {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** object) noexcept;

// Lives as long as the module, so it keeps no count: AddRef locks the module and answers 2, Release unlocks
// it and answers 1, the answers of an object that someone else still holds. Only the module lock decides
// unloading.
class ClassFactory final : public Answers<ClassFactory, IClassFactory> {
public:
    constexpr explicit ClassFactory(InstanceCreator createInstance) noexcept : m_createInstance(createInstance) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

private:
    InstanceCreator m_createInstance;
};

// One creatable class: what DllGetClassObject picks by CLSID and DllRegisterServer registers.
struct ClassEntry {
    const CLSID& clsid;
    UINT registryScript;  // the id of the "REGISTRY" resource that registers it
    ClassFactory& factory;
};

}  // namespace tamsel::module
