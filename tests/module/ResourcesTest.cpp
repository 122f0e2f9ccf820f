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
    EXPECT_EQ(script.find("HKCR\r\n{\r\n\tNorvikTamselAgent.nvTamselAgent.1 = s 'nvTamselAgent Class'\r\n"), 0u);
    EXPECT_NE(script.find("\t\t\tInprocServer32 = s '%MODULE%'\r\n"), std::string::npos);
    EXPECT_EQ(script.find("\n\n"), std::string::npos) << "a line end lost its CR";
    EXPECT_EQ(script.find('\0'), std::string::npos);
}

TEST(Resources, TypeLibraryAndModuleName) {
    EXPECT_EQ(ResourceBytes(L"TYPELIB", 1).find("MSFT"), 0u);
    wchar_t name[64] = L"";
    EXPECT_GT(::LoadStringW(Agent().module, 100, name, 64), 0);
    EXPECT_STREQ(name, L"NorvikTamselAgent");
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
    ASSERT_NE(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // 1.3.0.0: MAKELONG takes the low word (minor, build) first.
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(3, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 0));
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);

    EXPECT_EQ(VersionString(block, L"FileDescription"), L"NorvikTamselAgent Module");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.3.0");
    EXPECT_EQ(VersionString(block, L"InternalName"), L"NorvikTamselAgent");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"NorvikTamselAgent.DLL");
    EXPECT_EQ(VersionString(block, L"ProductName"), L"NorvikTamselAgent Module");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.3.0");
    for (const wchar_t* empty : {L"OLESelfRegister", L"Comments", L"CompanyName", L"LegalTrademarks",
                                 L"PrivateBuild", L"SpecialBuild"}) {
        EXPECT_EQ(VersionString(block, empty), L"") << empty;
    }
}

}  // namespace
}  // namespace tamsel::module::test
