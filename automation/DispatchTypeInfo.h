// IDispatch for a dual interface, answered from its registered type library: the type information,
// loaded on first use and kept until the module unloads; the component's two of them.
#pragma once

#include <oaidl.h>

#include <atomic>

namespace tamsel::automation {

class DispatchTypeInfo {
public:
    constexpr DispatchTypeInfo(const IID& iid, const GUID& libid, WORD majorVersion, WORD minorVersion) noexcept
        : m_iid(iid), m_libid(libid), m_majorVersion(majorVersion), m_minorVersion(minorVersion) {}
    // Deliberately releases nothing: Unload does, at module end; at process exit oleaut32 may already
    // be gone.
    ~DispatchTypeInfo() = default;
    DispatchTypeInfo(const DispatchTypeInfo&) = delete;
    DispatchTypeInfo& operator=(const DispatchTypeInfo&) = delete;

    HRESULT GetTypeInfo(LCID locale, ITypeInfo** info) noexcept;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept;
    HRESULT Invoke(IDispatch* face, DISPID member, LCID locale, WORD flags, DISPPARAMS* parameters,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

    // Lets go of the type information: at module end, when nothing can call any more.
    void Unload() noexcept;

private:
    // The type information, or the failure of its load (tried again on the next call).
    HRESULT Ensure(LCID locale, ITypeInfo*& info) noexcept;

    const IID& m_iid;
    const GUID& m_libid;
    WORD m_majorVersion;
    WORD m_minorVersion;
    std::atomic<ITypeInfo*> m_info{nullptr};  // holds one reference once published
};

// The component's two: InvTamselAgent3's (whose members begin with InvTamselAgent2's), behind the automation
// face's IDispatch, and the class's, behind IProvideClassInfo.
DispatchTypeInfo& AgentTypeInfo() noexcept;
DispatchTypeInfo& ClassTypeInfo() noexcept;
// Lets go of both: at module end.
void UnloadTypeInformation() noexcept;

// The arguments of an IDispatch call, each as a VARIANTARG (a call takes them last first).
inline VARIANTARG DoubleArgument(double value) noexcept {
    VARIANTARG argument;
    argument.vt = VT_R8;
    argument.dblVal = value;
    return argument;
}
inline VARIANTARG LongArgument(LONG value) noexcept {
    VARIANTARG argument;
    argument.vt = VT_I4;
    argument.lVal = value;
    return argument;
}
inline VARIANTARG BoolReference(VARIANT_BOOL* value) noexcept {
    VARIANTARG argument;
    argument.vt = VT_BOOL | VT_BYREF;
    argument.pboolVal = value;
    return argument;
}

}  // namespace tamsel::automation
