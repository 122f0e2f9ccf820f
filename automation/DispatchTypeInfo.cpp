// IDispatch from the registered type library: the load published once, the forwarding to it, and the
// component's two type informations.
#include "automation/DispatchTypeInfo.h"

#include "base/Handle.h"
#include "base/Result.h"
#include "include/NorvikTamselAgent.h"

namespace tamsel::automation {
namespace {

DispatchTypeInfo agentTypeInfo(IID_InvTamselAgent3, LIBID_NORVIKTAMSELAGENTLib, 1, 3);
DispatchTypeInfo classTypeInfo(CLSID_nvTamselAgent, LIBID_NORVIKTAMSELAGENTLib, 1, 3);

}  // namespace

DispatchTypeInfo& AgentTypeInfo() noexcept {
    return agentTypeInfo;
}

DispatchTypeInfo& ClassTypeInfo() noexcept {
    return classTypeInfo;
}

void UnloadTypeInformation() noexcept {
    agentTypeInfo.Unload();
    classTypeInfo.Unload();
}

HRESULT DispatchTypeInfo::Ensure(LCID locale, ITypeInfo*& info) noexcept {
    info = m_info.load(std::memory_order_acquire);
    if (info != nullptr) {
        return S_OK;
    }
    ComPointer<ITypeLib> library;
    RETURN_IF_FAILED(::LoadRegTypeLib(m_libid, m_majorVersion, m_minorVersion, locale, library.put()));
    ComPointer<ITypeInfo> loaded;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(m_iid, loaded.put()));
    // Threads that load at once all load; the first to publish wins, the others keep its copy.
    ITypeInfo* expected = nullptr;
    if (m_info.compare_exchange_strong(expected, loaded.get(), std::memory_order_acq_rel)) {
        info = loaded.release();
    } else {
        info = expected;
    }
    return S_OK;
}

void DispatchTypeInfo::Unload() noexcept {
    if (ITypeInfo* info = m_info.exchange(nullptr)) {
        info->Release();
    }
}

HRESULT DispatchTypeInfo::GetTypeInfo(LCID locale, ITypeInfo** info) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    ITypeInfo* loaded = nullptr;
    RETURN_IF_FAILED(Ensure(locale, loaded));
    loaded->AddRef();
    *info = loaded;
    return S_OK;
}

// Names go straight to the type information, which matches them without regard to case as late
// binding expects, parameter names included; a cache of our own would only repeat its search.
HRESULT DispatchTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept {
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(Ensure(locale, info));
    RETURN_HR_IF(E_POINTER, count != 0 && (names == nullptr || ids == nullptr));
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT DispatchTypeInfo::Invoke(IDispatch* face, DISPID member, LCID locale, WORD flags,
                                 DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                 UINT* argumentError) noexcept {
    ITypeInfo* info = nullptr;
    RETURN_IF_FAILED(Ensure(locale, info));
    return info->Invoke(face, member, flags, parameters, result, exception, argumentError);
}

}  // namespace tamsel::automation
