// The registry content that registering the agent class must leave, and what is there now.
#pragma once

#include <string>

namespace tamsel::module::test {

const wchar_t* const PROGID = L"NorvikTamselAgent.nvTamselAgent";
const wchar_t* const PROGID_1 = L"NorvikTamselAgent.nvTamselAgent.1";

// The class key and both ProgID keys under HKCR, as DumpKey shows them, for a module at modulePath.
std::wstring ExpectedAgentKeys(const std::wstring& modulePath);
std::wstring AgentKeys();
// The class key's name under HKCR: CLSID\{...}.
std::wstring AgentClassKey();
// The type library key 1.3 under HKCR, and the file registered for this build's system kind.
std::wstring TypeLibraryKey();
std::wstring RegisteredTypeLibraryFile();

}  // namespace tamsel::module::test
