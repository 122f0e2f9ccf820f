// The class factory that the class table caches, and its creator.
#include "module/ClassFactory.h"

#include "base/Result.h"

#include <new>

namespace tamsel::module {

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void** object) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    RETURN_HR_IF(E_NOINTERFACE, !::IsEqualIID(riid, IID_IUnknown) && !::IsEqualIID(riid, IID_IClassFactory));
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() noexcept {
    CriticalSectionLock lock(m_cacheLock);
    const LONG count = ++m_count;
    if (count == 2) {
        ComModule::Instance().LockModule();
    }
    return count;
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() noexcept {
    LONG count = 0;
    {
        CriticalSectionLock lock(m_cacheLock);
        count = --m_count;
    }
    if (count == 0) {
        delete this;
    } else if (count == 1) {
        ComModule::Instance().UnlockModule();
    }
    return count;
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
        ComModule::Instance().LockModule();
    } else {
        ComModule::Instance().UnlockModule();
    }
    return S_OK;
}

HRESULT CreateCachedFactory(InstanceCreator createInstance, REFIID riid, void** object) noexcept {
    auto* factory = new (std::nothrow) ClassFactory(createInstance);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, factory);
    const HRESULT hr = factory->QueryInterface(riid, object);
    if (FAILED(hr)) {
        delete factory;
    }
    return hr;
}

}  // namespace tamsel::module
