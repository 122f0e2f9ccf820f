// A script's array object reached through IDispatch alone: its length and its indexed members.
#include "support/ScriptArray.h"

#include <algorithm>
#include <string>
#include <cwctype>

namespace tamsel::test {

HRESULT STDMETHODCALLTYPE ScriptArray::QueryInterface(REFIID riid, void** out) {
    const bool known = ::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IDispatch);
    *out = known ? this : nullptr;
    if (!known) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ScriptArray::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ScriptArray::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    const std::wstring name = names[0];
    if (name == L"length") {
        ids[0] = LENGTH;
        return S_OK;
    }
    // An index as JScript writes it: decimal digits, no leading zero but for "0".
    const bool index = !name.empty() && name.size() < 6 && (name == L"0" || name[0] != L'0') &&
                       std::all_of(name.begin(), name.end(), [](wchar_t c) { return std::iswdigit(c) != 0; });
    if (!index || std::stoul(name) >= m_elements.size()) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = static_cast<DISPID>(std::stoul(name));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ScriptArray::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                              VARIANT* result, EXCEPINFO*, UINT*) {
    if ((flags & DISPATCH_PROPERTYGET) == 0 || parameters == nullptr || parameters->cArgs != 0 || result == nullptr) {
        return DISP_E_MEMBERNOTFOUND;
    }
    ++gets;
    ::VariantInit(result);
    if (member == LENGTH) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(m_elements.size());
        return S_OK;
    }
    if (member < 0 || static_cast<size_t>(member) >= m_elements.size()) return DISP_E_MEMBERNOTFOUND;
    const std::wstring& element = m_elements[static_cast<size_t>(member)];
    result->vt = VT_BSTR;
    result->bstrVal = ::SysAllocStringLen(element.data(), static_cast<UINT>(element.size()));
    return result->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace tamsel::test
