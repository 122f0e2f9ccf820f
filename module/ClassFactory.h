// The class factory that the class table caches: one per class, shared by every caller.
#pragma once

#include "module/ComModule.h"
#include "base/CriticalSection.h"

#include <unknwn.h>

#include <atomic>

namespace tamsel::module {

// The class-table's own reference does not hold the module; every reference beyond it does, which is
// why the count moves under a lock: AddRef and Release must see the 1 <-> 2 step they just made.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(InstanceCreator createInstance) noexcept : m_createInstance(createInstance) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

private:
    std::atomic<LONG> m_count{0};
    InstanceCreator m_createInstance;
    CriticalSection m_cacheLock;
};

// The class-object creator of the class table: a new factory serving createInstance, asked for riid.
HRESULT CreateCachedFactory(InstanceCreator createInstance, REFIID riid, void** object) noexcept;

}  // namespace tamsel::module
