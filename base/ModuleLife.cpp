// Everything that keeps this module loaded: the module lock, and the loader references of worker threads.
#include "base/ModuleLife.h"

#include <atomic>

namespace tamsel {
namespace {

std::atomic<LONG> lockCount{0};

}  // namespace

void LockModule() noexcept {
    ++lockCount;
}

void UnlockModule() noexcept {
    --lockCount;
}

HRESULT CanUnloadNow() noexcept {
    return lockCount.load() == 0 ? S_OK : S_FALSE;
}

// The module that holds this code: the DLL, or the program that links the component statically.
LibraryHandle PinModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PinModule), &module);
    return LibraryHandle(module);
}

void ExitThreadUnpinning(HMODULE module) noexcept {
    ::FreeLibraryAndExitThread(module, 0);
}

}  // namespace tamsel
