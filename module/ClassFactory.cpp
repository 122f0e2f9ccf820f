// The class factory that serves one class from static data, counted by the module lock alone.
#include "module/ClassFactory.h"

#include "base/Result.h"
#include "base/ModuleLife.h"

namespace tamsel::module {

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() noexcept {
    LockModule();
    return 2;
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() noexcept {
    UnlockModule();
    return 1;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    // An outer object may only ask for the inner unknown: any other face would delegate to itself.
    RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr && !::IsEqualIID(riid, IID_IUnknown));
    return m_createInstance(outer, riid, object);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

}  // namespace tamsel::module
