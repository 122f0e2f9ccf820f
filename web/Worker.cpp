// Worker threads that keep this module loaded for as long as they run (ModuleLife pins it for them).
#include "web/Worker.h"

#include "base/ModuleLife.h"

#include <new>

namespace tamsel::web {
namespace {

struct WorkerStart {
    void (*work)(void*) noexcept;
    void* argument;
    HMODULE module;
};

DWORD WINAPI WorkerRoutine(void* parameter) {
    const WorkerStart start = *static_cast<WorkerStart*>(parameter);
    delete static_cast<WorkerStart*>(parameter);
    start.work(start.argument);
    ExitThreadUnpinning(start.module);
}

}  // namespace

KernelHandle StartWorker(void (*work)(void*) noexcept, void* argument) noexcept {
    LibraryHandle pin = PinModule();
    if (!pin) {
        return {};
    }
    auto* start = new (std::nothrow) WorkerStart{work, argument, pin.get()};
    if (start == nullptr) {
        return {};
    }
    KernelHandle thread(::CreateThread(nullptr, 0, WorkerRoutine, start, 0, nullptr));
    if (!thread) {
        delete start;
        return {};
    }
    pin.release();  // the thread gives it back as it exits
    return thread;
}

}  // namespace tamsel::web
