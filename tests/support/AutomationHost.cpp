// A host of the DLL beside the test program, as a script host is one: a new agent from the class
// factory, its automation faces, counted strings that may hold a NUL, arguments as scripts pass them, and
// the thread's error record.
#include "support/AutomationHost.h"

#include "support/AgentModule.h"

#include <gtest/gtest.h>

namespace tamsel::module::test {

InvTamselAgentOps* CreateAgent() {
    void* factory = nullptr;
    EXPECT_EQ(Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &factory), S_OK);
    if (factory == nullptr) return nullptr;
    void* ops = nullptr;
    EXPECT_EQ(static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, IID_InvTamselAgentOps, &ops), S_OK);
    static_cast<IClassFactory*>(factory)->Release();
    return static_cast<InvTamselAgentOps*>(ops);
}

void* CreateFace(REFIID iid) {
    InvTamselAgentOps* ops = CreateAgent();
    if (ops == nullptr) return nullptr;
    void* face = nullptr;
    EXPECT_EQ(ops->QueryInterface(iid, &face), S_OK);
    ops->Release();
    return face;
}

Argument::Argument(std::wstring_view text) : Argument() {
    value.vt = VT_BSTR;
    value.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

Argument Argument::Array(const std::vector<std::wstring>& texts, VARTYPE type) {
    Argument argument;
    SAFEARRAY* array = ::SafeArrayCreateVector(type, 0, static_cast<ULONG>(texts.size()));
    for (LONG index = 0; index < static_cast<LONG>(texts.size()); ++index) {
        const std::wstring& text = texts[static_cast<size_t>(index)];
        BSTR element = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (type == VT_BSTR) {
            ::SafeArrayPutElement(array, &index, element);
        } else {
            VARIANT item;
            item.vt = VT_BSTR;
            item.bstrVal = element;
            ::SafeArrayPutElement(array, &index, &item);
        }
        ::SysFreeString(element);
    }
    argument.value.vt = VT_ARRAY | type;
    argument.value.parray = array;
    return argument;
}

PlatformString Text(std::wstring_view text) {
    return PlatformString(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

std::wstring ErrorText() {
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK) return L"<no error information>";
    BSTR source = nullptr, description = nullptr;
    info->GetSource(&source);
    info->GetDescription(&description);
    std::wstring text = std::wstring(source ? source : L"") + L": " + (description ? description : L"");
    ::SysFreeString(source);
    ::SysFreeString(description);
    info->Release();
    return text;
}

}  // namespace tamsel::module::test
