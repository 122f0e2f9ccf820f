// The module under test as a host sees it: the DLL beside the test program, reached through its exports.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <windows.h>

#include <string>

namespace tamsel::module::test {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using PlainExportFunction = HRESULT(STDAPICALLTYPE*)();

struct AgentExports {
    HMODULE module = nullptr;
    GetClassObjectFunction DllGetClassObject = nullptr;
    PlainExportFunction DllCanUnloadNow = nullptr;
    PlainExportFunction DllRegisterServer = nullptr;
    PlainExportFunction DllUnregisterServer = nullptr;
};

// The folder of the running test program, with its trailing separator.
std::wstring ProgramFolder();
// NorvikTamselAgent.dll beside the test program.
std::wstring AgentModulePath();
// The exports of an already loaded module; members stay null when one is missing.
AgentExports ExportsOf(HMODULE module);
// The DLL beside the test program, loaded once for the process and never freed.
const AgentExports& Agent();
// A fresh copy of the DLL under another name in the temporary folder; loading it gives a new module
// with its own state. Returns the copy's path, or an empty string.
std::wstring CopyAgentModule(const std::wstring& folderName, const std::wstring& fileName);

// The count that Release answers, so that tests can check counts move as they should.
inline ULONG CountOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

}  // namespace tamsel::module::test
