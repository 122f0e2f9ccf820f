// Worker threads that keep this module loaded for as long as they run.
#pragma once

#include "base/Handle.h"

namespace tamsel::web {

// Runs work(argument) on a thread of its own that holds a reference to the module with this code
// until work has returned: a host may release every object and unload the module while the thread is
// still busy. An empty handle means that no thread started and work will not run.
KernelHandle StartWorker(void (*work)(void*) noexcept, void* argument) noexcept;

}  // namespace tamsel::web
