// A script's array object as the automation face meets it: JScript's, reached through IDispatch alone.
#pragma once

#include <oaidl.h>

#include <string>
#include <vector>

namespace tamsel::test {

// Answers GetIDsOfNames for "length" and for "0", "1", ... (as JScript names an array's members) and
// Invoke's DISPATCH_PROPERTYGET of them: the length as a number, each element as a string. Anything else
// is an unknown name. Counted, but never freed by its count: it lives on the test's stack.
class ScriptArray final : public IDispatch {
public:
    explicit ScriptArray(std::vector<std::wstring> elements) : m_elements(std::move(elements)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

    ULONG references = 1;
    size_t gets = 0;  // property gets answered

private:
    static constexpr DISPID LENGTH = 1000;
    std::vector<std::wstring> m_elements;
};

}  // namespace tamsel::test
