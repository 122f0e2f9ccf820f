// Everything that keeps this module loaded: the lock that alone decides DllCanUnloadNow, and the loader
// references of worker threads, which outlast any answer it gives. As all of base/, every folder may use it.
#pragma once

#include "base/Handle.h"

#include <windows.h>

namespace tamsel {

// The module lock: one per live object, per class factory reference a caller holds, per LockServer(TRUE)
// not yet undone, and per asynchronous request whose status callback the platform may still call.
void LockModule() noexcept;
void UnlockModule() noexcept;

// DllCanUnloadNow's answer: S_OK while nothing holds the lock, else S_FALSE.
HRESULT CanUnloadNow() noexcept;

// Holds the lock for as long as its owner lives.
class ModuleLock {
public:
    ModuleLock() noexcept { LockModule(); }
    ~ModuleLock() { UnlockModule(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

// A worker thread may still run this module's code after the host released every object and COM freed
// the library: the thread holds the loader's reference to the module, taken before it starts, and gives
// it back as its very last act, which returns into nothing of the module's.
LibraryHandle PinModule() noexcept;
[[noreturn]] void ExitThreadUnpinning(HMODULE module) noexcept;

}  // namespace tamsel
