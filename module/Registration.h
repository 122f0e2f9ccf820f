// Self-registration: the registry script through the platform registrar, and the module's type library.
#pragma once

#include "module/ClassFactory.h"

#include <windows.h>

namespace tamsel::module {

// Registers (or unregisters) every class of the table, then the type library: the work of
// DllRegisterServer and DllUnregisterServer.
HRESULT RegisterServer(const ClassEntry* classes, size_t count) noexcept;
HRESULT UnregisterServer(const ClassEntry* classes, size_t count) noexcept;

// Runs the "REGISTRY" resource with this id, with %MODULE% standing for the module's path.
HRESULT RunRegistryScript(UINT resourceId, bool doRegister) noexcept;
HRESULT RegisterTypeLibrary() noexcept;
HRESULT UnregisterTypeLibrary() noexcept;

}  // namespace tamsel::module
