// The module's handle, recorded when the module is loaded.
#include "module/ComModule.h"

namespace tamsel::module {
namespace {

HINSTANCE moduleHandle = nullptr;

}  // namespace

void SetModuleHandle(HINSTANCE handle) noexcept {
    moduleHandle = handle;
}

HINSTANCE ModuleHandle() noexcept {
    return moduleHandle;
}

}  // namespace tamsel::module
