// The registry table of the agent class, written out as DumpKey shows it.
#include "tests/module/AgentRegistry.h"

#include "include/NorvikTamselAgent.h"
#include "tests/module/RegistryDump.h"

namespace tamsel::module::test {

std::wstring AgentClassKey() {
    return L"CLSID\\" + RegistryForm(CLSID_nvTamselAgent);
}

std::wstring ExpectedAgentKeys(const std::wstring& modulePath) {
    const std::wstring clsid = RegistryForm(CLSID_nvTamselAgent);
    const std::wstring key = AgentClassKey();
    const std::wstring progId = PROGID, progId1 = PROGID_1;
    return SortedLines({
        progId1, progId1 + L"\\@=nvTamselAgent Class",
        progId1 + L"\\CLSID", progId1 + L"\\CLSID\\@=" + clsid,
        progId, progId + L"\\@=nvTamselAgent Class",
        progId + L"\\CLSID", progId + L"\\CLSID\\@=" + clsid,
        progId + L"\\CurVer", progId + L"\\CurVer\\@=" + progId1,
        key, key + L"\\@=nvTamselAgent Class",
        key + L"\\ProgID", key + L"\\ProgID\\@=" + progId1,
        key + L"\\VersionIndependentProgID", key + L"\\VersionIndependentProgID\\@=" + progId,
        key + L"\\Programmable",
        key + L"\\InprocServer32", key + L"\\InprocServer32\\@=" + modulePath,
        key + L"\\InprocServer32\\ThreadingModel=Apartment",
        key + L"\\TypeLib", key + L"\\TypeLib\\@=" + RegistryForm(LIBID_NORVIKTAMSELAGENTLib),
    });
}

std::wstring AgentKeys() {
    std::vector<std::wstring> lines;
    for (const std::wstring& key : {std::wstring(PROGID_1), std::wstring(PROGID), AgentClassKey()}) {
        for (auto& line : KeyLines(HKEY_CLASSES_ROOT, key)) {
            lines.push_back(std::move(line));
        }
    }
    return SortedLines(std::move(lines));
}

std::wstring TypeLibraryKey() {
    return L"TypeLib\\" + RegistryForm(LIBID_NORVIKTAMSELAGENTLib) + L"\\1.3";
}

std::wstring RegisteredTypeLibraryFile() {
    const wchar_t* systemKind = sizeof(void*) == 8 ? L"\\0\\win64" : L"\\0\\win32";
    return DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey() + systemKind);
}

}  // namespace tamsel::module::test
