// The module's identifying resources as the platform's tools read them: registry script, type
// library, module name and version block.
#include "support/AgentModule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamsel::module::test {
namespace {

std::string ResourceBytes(const wchar_t* type, int id) {
    HRSRC resource = ::FindResourceW(Agent().module, MAKEINTRESOURCEW(id), type);
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(Agent().module, resource) : nullptr;
    if (loaded == nullptr) {
        return {};
    }
    return std::string(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(Agent().module, resource));
}

TEST(Resources, RegistryScriptIsCrLfTextWithTheModulePlaceholder) {
    const std::string script = ResourceBytes(L"REGISTRY", 102);
    ASSERT_FALSE(script.empty());
    EXPECT_EQ(0u, script.find("HKCR\r\n{\r\n\tNorvikTamselAgent.nvTamselAgent.1 = s 'nvTamselAgent Class'\r\n"));
    EXPECT_NE(std::string::npos, script.find("\t\t\tInprocServer32 = s '%MODULE%'\r\n"));
    EXPECT_EQ(std::string::npos, script.find("\n\n")) << "a line end lost its CR";
    EXPECT_EQ(std::string::npos, script.find('\0'));
}

TEST(Resources, TypeLibraryAndModuleName) {
    EXPECT_EQ(0u, ResourceBytes(L"TYPELIB", 1).find("MSFT"));
    wchar_t name[64] = L"";
    EXPECT_LT(0, ::LoadStringW(Agent().module, 100, name, 64));
    EXPECT_STREQ(L"NorvikTamselAgent", name);
}

std::wstring VersionString(const std::vector<BYTE>& block, const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904b0\\" + key;
    if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length)) {
        return L"<missing>";
    }
    return length == 0 ? L"" : static_cast<const wchar_t*>(value);
}

TEST(Resources, VersionBlockNamesTheModuleAndMarksItSelfRegistering) {
    const std::wstring path = AgentModulePath();
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(2, 0), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);

    EXPECT_EQ(L"NorvikTamselAgent Module", VersionString(block, L"FileDescription"));
    EXPECT_EQ(L"1, 0, 0, 2", VersionString(block, L"FileVersion"));
    EXPECT_EQ(L"NorvikTamselAgent", VersionString(block, L"InternalName"));
    EXPECT_EQ(L"NorvikTamselAgent.DLL", VersionString(block, L"OriginalFilename"));
    EXPECT_EQ(L"NorvikTamselAgent Module", VersionString(block, L"ProductName"));
    EXPECT_EQ(L"1, 0, 0, 2", VersionString(block, L"ProductVersion"));
    for (const wchar_t* empty : {L"OLESelfRegister", L"Comments", L"CompanyName", L"LegalTrademarks",
                                 L"PrivateBuild", L"SpecialBuild"}) {
        EXPECT_EQ(L"", VersionString(block, empty)) << empty;
    }
}

}  // namespace
}  // namespace tamsel::module::test
