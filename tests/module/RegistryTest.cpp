// What regsvr32 and regsvr32 /u leave in the registry, read back key by key, and what a host can do
// with it. ctest runs the Registered suite after regsvr32 and the Unregistered suite after regsvr32 /u.
#include "support/AgentModule.h"
#include "tests/module/AgentRegistry.h"
#include "tests/module/RegistryDump.h"

#include <gtest/gtest.h>

namespace tamsel::module::test {
namespace {

class ComApartment : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr))); }
    void TearDown() override { ::CoUninitialize(); }
};

using Registered = ComApartment;

TEST_F(Registered, ClassAndProgIdKeysMatchTheTable) {
    EXPECT_EQ(ExpectedAgentKeys(AgentModulePath()), AgentKeys());
}

TEST_F(Registered, InprocServerIsTheFullLongPathOfTheModule) {
    const std::wstring server = DefaultValue(HKEY_CLASSES_ROOT, AgentClassKey() + L"\\InprocServer32");
    wchar_t longPath[MAX_PATH] = L"";
    ASSERT_NE(0u, ::GetLongPathNameW(server.c_str(), longPath, MAX_PATH)) << "no such file";
    EXPECT_EQ(server, longPath);
    EXPECT_EQ(AgentModulePath(), server);
    EXPECT_NE(std::wstring::npos, server.find(L":\\")) << "not a full path";
}

TEST_F(Registered, TypeLibraryPointsAtTheModule) {
    EXPECT_EQ(L"NorvikTamselAgent 1.0 Type Library", DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey()));
    EXPECT_EQ(AgentModulePath(), RegisteredTypeLibraryFile());
    EXPECT_EQ(ProgramFolder(), DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey() + L"\\HELPDIR"));
}

TEST_F(Registered, HostCreatesTheAgentByEitherProgId) {
    for (const wchar_t* progId : {PROGID, PROGID_1}) {
        CLSID clsid = {};
        ASSERT_EQ(S_OK, ::CLSIDFromProgID(progId, &clsid)) << progId;
        EXPECT_TRUE(::IsEqualCLSID(CLSID_nvTamselAgent, clsid)) << progId;
    }
    InvTamselAgentOps* ops = nullptr;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER, IID_InvTamselAgentOps,
                                       reinterpret_cast<void**>(&ops)));
    LONG status = 0;
    EXPECT_EQ(E_FAIL, ops->GetLastServiceStatus(&status));
    EXPECT_EQ(0u, ops->Release());
}

TEST_F(Registered, DispatchFaceAnswersFromTheTypeLibrary) {
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       reinterpret_cast<void**>(&dispatch)));
    ITypeInfo* info = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(::IsEqualIID(IID_InvTamselAgent, attributes->guid));
    EXPECT_EQ(TKIND_DISPATCH, attributes->typekind);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attributes);
    info->Release();

    LPOLESTR unknownName = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, &unknownName, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(0u, dispatch->Release());
}

using Unregistered = ComApartment;

TEST_F(Unregistered, ClassAndProgIdKeysAreGoneButTheClsidRootStays) {
    EXPECT_EQ(L"", AgentKeys());
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey()));
    CLSID clsid = {};
    EXPECT_NE(S_OK, ::CLSIDFromProgID(PROGID, &clsid));
    IUnknown* object = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER,
                                                       IID_IUnknown, reinterpret_cast<void**>(&object)));
}

}  // namespace
}  // namespace tamsel::module::test
