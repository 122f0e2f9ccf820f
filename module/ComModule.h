// The module-wide state: the module's handle and the count of what holds the module loaded.
#pragma once

#include <windows.h>

namespace tamsel::module {

// Recorded when the module is loaded; registration finds the module's path through it.
void SetModuleHandle(HINSTANCE moduleHandle) noexcept;
HINSTANCE ModuleHandle() noexcept;

// One lock per live object, per reference to a class factory and per LockServer(TRUE) not yet undone.
void LockModule() noexcept;
void UnlockModule() noexcept;
// S_OK while nothing holds the module and the agent has no download still closing, else S_FALSE: the
// answer of DllCanUnloadNow.
HRESULT CanUnloadNow() noexcept;

// Holds the module for as long as it lives: one per live object.
class ModuleReference {
public:
    ModuleReference() noexcept { LockModule(); }
    ~ModuleReference() { UnlockModule(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

}  // namespace tamsel::module
