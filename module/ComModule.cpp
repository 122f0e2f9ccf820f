// The module-wide state: the module's handle and its lock count.
#include "module/ComModule.h"

#include "agent/AgentObject.h"

#include <atomic>

namespace tamsel::module {
namespace {

HINSTANCE moduleHandle = nullptr;
std::atomic<LONG> lockCount{0};

}  // namespace

void SetModuleHandle(HINSTANCE handle) noexcept {
    moduleHandle = handle;
}

HINSTANCE ModuleHandle() noexcept {
    return moduleHandle;
}

void LockModule() noexcept {
    ++lockCount;
}

void UnlockModule() noexcept {
    --lockCount;
}

HRESULT CanUnloadNow() noexcept {
    // The platform may still call the status callback of a download's closing request.
    return lockCount.load() == 0 && !agent::DownloadsStillClosing() ? S_OK : S_FALSE;
}

}  // namespace tamsel::module
