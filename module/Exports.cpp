// The DLL's entry point and its four exports, over the one-entry class table.
#include "include/NorvikTamselAgent.h"
#include "module/AgentComObject.h"
#include "module/ClassFactory.h"
#include "module/ComModule.h"
#include "module/Registration.h"

using tamsel::module::ClassEntry;
using tamsel::module::ComModule;

namespace {

ClassEntry g_classTable[] = {
    {&CLSID_nvTamselAgent, &tamsel::module::UpdateAgentRegistration, &tamsel::module::CreateCachedFactory,
     &tamsel::module::CreateAgentInstance, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ComModule::Instance().Start(instance, g_classTable);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Module end only on FreeLibrary. When the process exits (reserved non-null) the other DLLs
        // may already be detached and other threads are gone: releasing the cached type information
        // would call into oleaut32, which may no longer work. The memory goes with the process.
        ComModule::Instance().End();
    }
    return TRUE;
}

// The exports are declared by the platform headers without noexcept; each only calls noexcept code.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    return ComModule::Instance().GetClassObject(clsid, riid, object);
}

STDAPI DllCanUnloadNow() {
    return ComModule::Instance().CanUnloadNow();
}

STDAPI DllRegisterServer() {
    return tamsel::module::RegisterServer(g_classTable);
}

STDAPI DllUnregisterServer() {
    return tamsel::module::UnregisterServer(g_classTable);
}
