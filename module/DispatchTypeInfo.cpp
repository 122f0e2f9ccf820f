// IDispatch from the registered type library: loading under the module's type-information lock, the
// name cache, and the forwarding to the type information.
#include "module/DispatchTypeInfo.h"

#include "base/Result.h"
#include "module/ComModule.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace tamsel::module {

HRESULT DispatchTypeInfo::Ensure(LCID locale, Loaded*& loaded) noexcept {
    loaded = m_loaded.load(std::memory_order_acquire);
    if (loaded != nullptr) {
        return S_OK;
    }
    CriticalSectionLock lock(ComModule::Instance().TypeInfoLock());
    loaded = m_loaded.load(std::memory_order_acquire);
    if (loaded != nullptr) {
        return S_OK;
    }
    // One release node for the module's life, not one per failed load: an unregistered library is
    // retried on every call and must not grow the termination list.
    if (!m_clearQueued) {
        RETURN_IF_FAILED(ComModule::Instance().AddTermFunction(&Clear, reinterpret_cast<DWORD_PTR>(this)));
        m_clearQueued = true;
    }
    return Load(locale, loaded);
}

HRESULT DispatchTypeInfo::Load(LCID locale, Loaded*& loaded) noexcept {
    ITypeLib* rawLibrary = nullptr;
    RETURN_IF_FAILED(::LoadRegTypeLib(m_libid, m_majorVersion, m_minorVersion, locale, &rawLibrary));
    ComPointer<ITypeLib> library(rawLibrary);

    ITypeInfo* rawInfo = nullptr;
    RETURN_IF_FAILED(library.get()->GetTypeInfoOfGuid(m_iid, &rawInfo));
    ComPointer<ITypeInfo> info(rawInfo);
    ITypeInfo2* info2 = nullptr;
    if (SUCCEEDED(info.get()->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
        info.reset(info2);
    }

    std::unique_ptr<Loaded> fresh(new (std::nothrow) Loaded);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, fresh);
    RETURN_IF_FAILED(FillNameCache(info.get(), *fresh));
    fresh->info = std::move(info);
    loaded = fresh.release();
    m_loaded.store(loaded, std::memory_order_release);
    return S_OK;
}

HRESULT DispatchTypeInfo::FillNameCache(ITypeInfo* info, Loaded& loaded) noexcept {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) {
        return S_OK;  // no cache: every name goes to the type information
    }
    const UINT count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    if (count == 0) {
        return S_OK;
    }
    loaded.names.reset(new (std::nothrow) NameEntry[count]);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, loaded.names);
    loaded.nameCount = count;
    for (UINT index = 0; index < count; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(index, &function))) {
            continue;
        }
        NameEntry& entry = loaded.names[index];
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
            entry.name.reset(name);
            entry.length = ::SysStringLen(name);
            entry.id = function->memid;
        }
        info->ReleaseFuncDesc(function);
    }
    return S_OK;
}

bool DispatchTypeInfo::FindCachedName(const Loaded& loaded, const OLECHAR* name, DISPID& id) noexcept {
    if (name == nullptr) {
        return false;
    }
    const size_t length = std::wcslen(name);
    for (UINT index = loaded.nameCount; index-- > 0;) {
        const NameEntry& entry = loaded.names[index];
        if (entry.name && entry.length == length &&
            std::memcmp(entry.name.get(), name, length * sizeof(OLECHAR)) == 0) {
            id = entry.id;
            return true;
        }
    }
    return false;
}

void DispatchTypeInfo::Clear(DWORD_PTR self) noexcept {
    auto* holder = reinterpret_cast<DispatchTypeInfo*>(self);
    delete holder->m_loaded.exchange(nullptr);
    holder->m_clearQueued = false;
}

HRESULT DispatchTypeInfo::GetTypeInfo(LCID locale, ITypeInfo** info) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    Loaded* loaded = nullptr;
    RETURN_IF_FAILED(Ensure(locale, loaded));
    *info = loaded->info.get();
    (*info)->AddRef();
    return S_OK;
}

HRESULT DispatchTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept {
    Loaded* loaded = nullptr;
    RETURN_IF_FAILED(Ensure(locale, loaded));
    RETURN_HR_IF(E_POINTER, count != 0 && (names == nullptr || ids == nullptr));
    for (UINT index = 0; index < count; ++index) {
        if (!FindCachedName(*loaded, names[index], ids[index])) {
            // The type information answers the whole request, parameter names included.
            return loaded->info.get()->GetIDsOfNames(names, count, ids);
        }
    }
    return S_OK;
}

HRESULT DispatchTypeInfo::Invoke(IDispatch* face, DISPID member, LCID locale, WORD flags,
                                 DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                 UINT* argumentError) noexcept {
    Loaded* loaded = nullptr;
    RETURN_IF_FAILED(Ensure(locale, loaded));
    return loaded->info.get()->Invoke(face, member, flags, parameters, result, exception, argumentError);
}

}  // namespace tamsel::module
