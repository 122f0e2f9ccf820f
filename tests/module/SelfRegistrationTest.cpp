// DllRegisterServer and DllUnregisterServer called in process on the DLL and on copies of it: repeat
// registration, a quote in the module path, the ".tlb" beside the module, and IDispatch before and
// after registration. Leaves the class unregistered.
#include "support/AgentModule.h"
#include "tests/module/AgentRegistry.h"
#include "tests/module/RegistryDump.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace tamsel::module::test {
namespace {

// A copy of the DLL loaded as a module of its own; unloaded at scope end.
struct LoadedCopy {
    explicit LoadedCopy(const std::wstring& copyPath)
        : path(copyPath), exports(ExportsOf(::LoadLibraryW(copyPath.c_str()))) {}
    ~LoadedCopy() {
        if (exports.module != nullptr) {
            ::FreeLibrary(exports.module);
        }
    }
    std::wstring path;
    AgentExports exports;
};

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

class SelfRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        ASSERT_NE(Agent().DllRegisterServer, nullptr);
        ASSERT_EQ(Agent().DllUnregisterServer(), S_OK);
    }
    void TearDown() override {
        EXPECT_EQ(Agent().DllUnregisterServer(), S_OK);
        ::CoUninitialize();
    }
};

TEST_F(SelfRegistration, DispatchReportsTheLoadFailureUntilTheLibraryIsRegistered) {
    LoadedCopy copy(CopyAgentModule(L"tamsel-dispatch", L"NorvikTamselAgent.dll"));
    ASSERT_NE(copy.exports.DllGetClassObject, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(copy.exports.DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory,
                                             reinterpret_cast<void**>(&factory)), S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    factory->Release();

    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1234);
    EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(info, nullptr);
    LPOLESTR name = const_cast<LPOLESTR>(L"GetTypeInfoCount");
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), TYPE_E_LIBNOTREGISTERED);
    DISPPARAMS none = {};
    EXPECT_EQ(dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              TYPE_E_LIBNOTREGISTERED);

    ASSERT_EQ(copy.exports.DllRegisterServer(), S_OK);
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK) << "the failed load is tried again";
    info->Release();
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 0x60010000) << "GetTypeInfoCount, the first member of IDispatch";
    LPOLESTR otherCase = const_cast<LPOLESTR>(L"gettypeinfocount");
    DISPID otherId = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &otherCase, 1, LOCALE_USER_DEFAULT, &otherId), S_OK)
        << "names are matched without regard to case, as late binding expects";
    EXPECT_EQ(id, otherId);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispatch->Invoke(4711, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(copy.exports.DllUnregisterServer(), S_OK);
    EXPECT_EQ(dispatch->Release(), 0u);
}

TEST_F(SelfRegistration, RegisteringTwiceWritesTheSameContent) {
    ASSERT_EQ(Agent().DllRegisterServer(), S_OK);
    const std::wstring first = AgentKeys() + DumpKey(HKEY_CLASSES_ROOT, TypeLibraryKey());
    EXPECT_EQ(AgentKeys(), ExpectedAgentKeys(AgentModulePath()));

    // The class key is force-removed: what a stale registration left under it goes.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, (AgentClassKey() + L"\\Stale").c_str(), nullptr,
                                REG_SZ, L"x", 4), ERROR_SUCCESS);
    ASSERT_EQ(Agent().DllRegisterServer(), S_OK);
    EXPECT_EQ(AgentKeys() + DumpKey(HKEY_CLASSES_ROOT, TypeLibraryKey()), first);

    ASSERT_EQ(Agent().DllUnregisterServer(), S_OK);
    EXPECT_EQ(AgentKeys(), L"");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey()));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_EQ(Agent().DllUnregisterServer(), S_OK) << "unregistering what is not registered still succeeds";
}

TEST_F(SelfRegistration, QuoteInTheModulePathIsStoredOnce) {
    LoadedCopy copy(CopyAgentModule(L"tamsel it's quoted", L"NorvikTamselAgent.dll"));
    ASSERT_NE(copy.exports.DllRegisterServer, nullptr);
    ASSERT_EQ(copy.exports.DllRegisterServer(), S_OK);
    EXPECT_EQ(AgentKeys(), ExpectedAgentKeys(copy.path));
    EXPECT_EQ(RegisteredTypeLibraryFile(), copy.path);
    EXPECT_EQ(copy.exports.DllUnregisterServer(), S_OK);
    EXPECT_EQ(AgentKeys(), L"");
}

// Replaces the module's own type library with bytes that are none, so that only the file beside the
// module can answer. (Wine's UpdateResource cannot delete a resource, but it can replace one.)
bool SpoilTypeLibraryResource(const std::wstring& path) {
    static char notALibrary[] = "not a type library";
    HANDLE update = ::BeginUpdateResourceW(path.c_str(), FALSE);
    return update != nullptr &&
           ::UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             notALibrary, sizeof notALibrary) &&
           ::EndUpdateResourceW(update, FALSE);
}

std::string TypeLibraryResource(HMODULE module) {
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), L"TYPELIB");
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(module, resource) : nullptr;
    if (loaded == nullptr) {
        return {};
    }
    return std::string(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(module, resource));
}

bool WriteTypeLibraryFile(const std::wstring& path) {
    const std::string library = TypeLibraryResource(Agent().module);
    std::ofstream file(path.c_str(), std::ios::binary);
    file.write(library.data(), library.size());
    return !library.empty() && static_cast<bool>(file);
}

TEST_F(SelfRegistration, TypeLibraryComesFromTheTlbBesideTheModule) {
    const std::wstring path = CopyAgentModule(L"tamsel-tlb-beside", L"NorvikTamselAgent.DLL");
    ASSERT_TRUE(SpoilTypeLibraryResource(path));
    const std::wstring tlb = FolderOf(path) + L"NorvikTamselAgent.tlb";
    ::DeleteFileW(tlb.c_str());
    {
        LoadedCopy copy(path);
        ASSERT_NE(copy.exports.DllRegisterServer, nullptr);
        ASSERT_EQ(TypeLibraryResource(Agent().module).find("MSFT"), 0u);
        ASSERT_EQ(TypeLibraryResource(copy.exports.module).find("MSFT"), std::string::npos);
        EXPECT_TRUE(FAILED(copy.exports.DllRegisterServer())) << "no type library anywhere";
        EXPECT_EQ(AgentKeys(), ExpectedAgentKeys(path)) << "the class keys come first and stay";
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey()));
        EXPECT_EQ(copy.exports.DllUnregisterServer(), S_OK);
    }
    ASSERT_TRUE(WriteTypeLibraryFile(tlb));
    LoadedCopy copy(path);
    ASSERT_EQ(copy.exports.DllRegisterServer(), S_OK);
    EXPECT_EQ(RegisteredTypeLibraryFile(), tlb);
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey() + L"\\HELPDIR"), FolderOf(path));
    EXPECT_EQ(copy.exports.DllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey())) << "unregistration finds the file too";
}

}  // namespace
}  // namespace tamsel::module::test
