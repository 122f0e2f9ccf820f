// The host's own loading of the DLL: let go of only when the DLL says it may be unloaded.
#include "host/AgentLoader.h"

#include <gtest/gtest.h>

namespace tamsel::host {
namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// A locked server answers DllCanUnloadNow with S_FALSE, as a module does while a download's request
// is still closing; freeing it then would pull the code from under the factory still in use.
TEST(Library, KeepsTheDllWhileItCannotUnload) {
    const std::string path = std::string("Z:") + TAMSEL_AGENT_DLL;
    IClassFactory* factory = nullptr;
    {
        Library library;
        ASSERT_HRESULT_SUCCEEDED(library.Load(path)) << path;
        const auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(::GetProcAddress(library.get(), "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_HRESULT_SUCCEEDED(getClassObject(CLSID_nvTamselAgent, IID_IClassFactory,
                                                reinterpret_cast<void**>(&factory)));
        ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
    }
    ASSERT_NE(::GetModuleHandleW(L"NorvikTamselAgent.dll"), nullptr) << "freed while locked";
    EXPECT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
    factory->Release();
}

}  // namespace
}  // namespace tamsel::host
