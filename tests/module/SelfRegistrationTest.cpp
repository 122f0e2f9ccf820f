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
        ASSERT_NE(nullptr, Agent().DllRegisterServer);
        ASSERT_EQ(S_OK, Agent().DllUnregisterServer());
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, Agent().DllUnregisterServer());
        ::CoUninitialize();
    }
};

TEST_F(SelfRegistration, DispatchReportsTheLoadFailureUntilTheLibraryIsRegistered) {
    LoadedCopy copy(CopyAgentModule(L"tamsel-dispatch", L"NorvikTamselAgent.dll"));
    ASSERT_NE(nullptr, copy.exports.DllGetClassObject);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, copy.exports.DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory,
                                                   reinterpret_cast<void**>(&factory)));
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    factory->Release();

    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1234);
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    EXPECT_EQ(nullptr, info);
    LPOLESTR name = const_cast<LPOLESTR>(L"GetTypeInfoCount");
    DISPID id = 0;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS none = {};
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
              dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));

    ASSERT_EQ(S_OK, copy.exports.DllRegisterServer());
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) << "the failed load is tried again";
    info->Release();
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(0x60010000, id) << "GetTypeInfoCount, the first member of IDispatch";
    LPOLESTR otherCase = const_cast<LPOLESTR>(L"gettypeinfocount");
    DISPID otherId = 0;
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &otherCase, 1, LOCALE_USER_DEFAULT, &otherId))
        << "a name the cache does not hold goes to the type information";
    EXPECT_EQ(id, otherId);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              dispatch->Invoke(4711, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, copy.exports.DllUnregisterServer());
    EXPECT_EQ(0u, dispatch->Release());
}

TEST_F(SelfRegistration, RegisteringTwiceWritesTheSameContent) {
    ASSERT_EQ(S_OK, Agent().DllRegisterServer());
    const std::wstring first = AgentKeys() + DumpKey(HKEY_CLASSES_ROOT, TypeLibraryKey());
    EXPECT_EQ(ExpectedAgentKeys(AgentModulePath()), AgentKeys());

    // The class key is force-removed: what a stale registration left under it goes.
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CLASSES_ROOT, (AgentClassKey() + L"\\Stale").c_str(), nullptr,
                                               REG_SZ, L"x", 4));
    ASSERT_EQ(S_OK, Agent().DllRegisterServer());
    EXPECT_EQ(first, AgentKeys() + DumpKey(HKEY_CLASSES_ROOT, TypeLibraryKey()));

    ASSERT_EQ(S_OK, Agent().DllUnregisterServer());
    EXPECT_EQ(L"", AgentKeys());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey()));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_EQ(S_OK, Agent().DllUnregisterServer()) << "unregistering what is not registered still succeeds";
}

TEST_F(SelfRegistration, QuoteInTheModulePathIsStoredOnce) {
    LoadedCopy copy(CopyAgentModule(L"tamsel it's quoted", L"NorvikTamselAgent.dll"));
    ASSERT_NE(nullptr, copy.exports.DllRegisterServer);
    ASSERT_EQ(S_OK, copy.exports.DllRegisterServer());
    EXPECT_EQ(ExpectedAgentKeys(copy.path), AgentKeys());
    EXPECT_EQ(copy.path, RegisteredTypeLibraryFile());
    EXPECT_EQ(S_OK, copy.exports.DllUnregisterServer());
    EXPECT_EQ(L"", AgentKeys());
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
        ASSERT_NE(nullptr, copy.exports.DllRegisterServer);
        ASSERT_EQ(0u, TypeLibraryResource(Agent().module).find("MSFT"));
        ASSERT_EQ(std::string::npos, TypeLibraryResource(copy.exports.module).find("MSFT"));
        EXPECT_TRUE(FAILED(copy.exports.DllRegisterServer())) << "no type library anywhere";
        EXPECT_EQ(ExpectedAgentKeys(path), AgentKeys()) << "the class keys come first and stay";
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey()));
        EXPECT_EQ(S_OK, copy.exports.DllUnregisterServer());
    }
    ASSERT_TRUE(WriteTypeLibraryFile(tlb));
    LoadedCopy copy(path);
    ASSERT_EQ(S_OK, copy.exports.DllRegisterServer());
    EXPECT_EQ(tlb, RegisteredTypeLibraryFile());
    EXPECT_EQ(FolderOf(path), DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey() + L"\\HELPDIR"));
    EXPECT_EQ(S_OK, copy.exports.DllUnregisterServer());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey())) << "unregistration finds the file too";
}

}  // namespace
}  // namespace tamsel::module::test
