// The module's handle, recorded when the module is loaded. What keeps the module loaded lives in
// base/ModuleLife.h.
#pragma once

#include <windows.h>

namespace tamsel::module {

// Registration finds the module's path through it.
void SetModuleHandle(HINSTANCE moduleHandle) noexcept;
HINSTANCE ModuleHandle() noexcept;

}  // namespace tamsel::module
