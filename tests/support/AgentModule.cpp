// The module under test: loading the DLL beside the test program and copies of it, and its exports.
#include "support/AgentModule.h"

namespace tamsel::module::test {

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring AgentModulePath() {
    return ProgramFolder() + L"NorvikTamselAgent.dll";
}

template <typename Function>
static Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

AgentExports ExportsOf(HMODULE module) {
    AgentExports exports;
    exports.module = module;
    if (module != nullptr) {
        exports.DllGetClassObject = Lookup<GetClassObjectFunction>(module, "DllGetClassObject");
        exports.DllCanUnloadNow = Lookup<PlainExportFunction>(module, "DllCanUnloadNow");
        exports.DllRegisterServer = Lookup<PlainExportFunction>(module, "DllRegisterServer");
        exports.DllUnregisterServer = Lookup<PlainExportFunction>(module, "DllUnregisterServer");
    }
    return exports;
}

const AgentExports& Agent() {
    static const AgentExports exports = ExportsOf(::LoadLibraryW(AgentModulePath().c_str()));
    return exports;
}

std::wstring CopyAgentModule(const std::wstring& folderName, const std::wstring& fileName) {
    wchar_t temp[MAX_PATH];
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::wstring folder = std::wstring(temp) + folderName;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring copy = folder + L"\\" + fileName;
    return ::CopyFileW(AgentModulePath().c_str(), copy.c_str(), FALSE) ? copy : std::wstring();
}

}  // namespace tamsel::module::test
