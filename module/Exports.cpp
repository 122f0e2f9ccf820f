// The DLL's entry point, its four exports and the class table they serve.
#include "automation/DispatchTypeInfo.h"
#include "base/ModuleLife.h"
#include "base/Result.h"
#include "include/NorvikTamselAgent.h"
#include "module/AgentComObject.h"
#include "module/ClassFactory.h"
#include "module/ComModule.h"
#include "module/Registration.h"
#include "module/ResourceIds.h"

#include <iterator>

using namespace tamsel::module;

namespace {

ClassFactory agentFactory(&CreateAgentInstance);

const ClassEntry CLASSES[] = {
    {CLSID_nvTamselAgent, IDR_NVTAMSELAGENT, agentFactory},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleHandle(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Module end only on FreeLibrary. When the process exits (reserved non-null) the other DLLs
        // may already be detached and other threads are gone: releasing the cached type information
        // would call into oleaut32, which may no longer work. The memory goes with the process.
        tamsel::automation::UnloadTypeInformation();
    }
    return TRUE;
}

// The exports are declared by the platform headers without noexcept; each only calls noexcept code.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    for (const ClassEntry& entry : CLASSES) {
        if (::IsEqualCLSID(entry.clsid, clsid)) {
            return entry.factory.QueryInterface(riid, object);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The module lock alone decides: every object, factory reference and request whose callback may still
// come holds it.
STDAPI DllCanUnloadNow() {
    return tamsel::CanUnloadNow();
}

STDAPI DllRegisterServer() {
    return RegisterServer(CLASSES, std::size(CLASSES));
}

STDAPI DllUnregisterServer() {
    return UnregisterServer(CLASSES, std::size(CLASSES));
}
