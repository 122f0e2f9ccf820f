// A host of the DLL beside the test program, as a script host is one: a new agent from the class
// factory, its automation face, counted strings that may hold a NUL, and the thread's error record.
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

InvTamselAgent2* CreateAutomation() {
    InvTamselAgentOps* ops = CreateAgent();
    if (ops == nullptr) return nullptr;
    InvTamselAgent2* agent = nullptr;
    EXPECT_EQ(ops->QueryInterface(IID_InvTamselAgent2, reinterpret_cast<void**>(&agent)), S_OK);
    ops->Release();
    return agent;
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
