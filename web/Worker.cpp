// Worker threads that keep this module loaded for as long as they run.
#include "web/Worker.h"

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
    ::FreeLibraryAndExitThread(start.module, 0);
    return 0;
}

HMODULE PinOwnModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerRoutine),
                         &module);
    return module;
}

}  // namespace

KernelHandle StartWorker(void (*work)(void*) noexcept, void* argument) noexcept {
    const HMODULE module = PinOwnModule();
    if (module == nullptr) {
        return {};
    }
    auto* start = new (std::nothrow) WorkerStart{work, argument, module};
    if (start == nullptr) {
        ::FreeLibrary(module);
        return {};
    }
    KernelHandle thread(::CreateThread(nullptr, 0, WorkerRoutine, start, 0, nullptr));
    if (!thread) {
        delete start;
        ::FreeLibrary(module);
    }
    return thread;
}

}  // namespace tamsel::web
