// IDispatch for a dual interface, answered from its registered type library: the cached type
// information and its name cache.
#pragma once

#include "base/Handle.h"

#include <oaidl.h>

#include <atomic>
#include <memory>

namespace tamsel::module {

class DispatchTypeInfo {
public:
    DispatchTypeInfo(const IID& iid, const GUID& libid, WORD majorVersion, WORD minorVersion) noexcept
        : m_iid(iid), m_libid(libid), m_majorVersion(majorVersion), m_minorVersion(minorVersion) {}
    // Deliberately releases nothing: the loaded information goes at module end through the termination
    // list, and at process exit oleaut32 may already be gone.
    ~DispatchTypeInfo() = default;
    DispatchTypeInfo(const DispatchTypeInfo&) = delete;
    DispatchTypeInfo& operator=(const DispatchTypeInfo&) = delete;

    HRESULT GetTypeInfo(LCID locale, ITypeInfo** info) noexcept;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept;
    HRESULT Invoke(IDispatch* face, DISPID member, LCID locale, WORD flags, DISPPARAMS* parameters,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

private:
    struct NameEntry {
        PlatformString name;  // null when the member's name could not be read: never matches
        UINT length = 0;
        DISPID id = DISPID_UNKNOWN;
    };
    // What one successful load yields, published as a whole.
    struct Loaded {
        ComPointer<ITypeInfo> info;
        std::unique_ptr<NameEntry[]> names;
        UINT nameCount = 0;
    };

    // The loaded information, or the failure of the load (retried on the next call).
    HRESULT Ensure(LCID locale, Loaded*& loaded) noexcept;
    HRESULT Load(LCID locale, Loaded*& loaded) noexcept;
    static HRESULT FillNameCache(ITypeInfo* info, Loaded& loaded) noexcept;
    static bool FindCachedName(const Loaded& loaded, const OLECHAR* name, DISPID& id) noexcept;
    static void Clear(DWORD_PTR self) noexcept;

    const IID& m_iid;
    const GUID& m_libid;
    WORD m_majorVersion;
    WORD m_minorVersion;
    std::atomic<Loaded*> m_loaded{nullptr};
    bool m_clearQueued = false;  // guarded by the module's type-information lock
};

}  // namespace tamsel::module
