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
    EXPECT_EQ(AgentKeys(), ExpectedAgentKeys(AgentModulePath()));
}

TEST_F(Registered, InprocServerIsTheFullLongPathOfTheModule) {
    const std::wstring server = DefaultValue(HKEY_CLASSES_ROOT, AgentClassKey() + L"\\InprocServer32");
    wchar_t longPath[MAX_PATH] = L"";
    ASSERT_NE(::GetLongPathNameW(server.c_str(), longPath, MAX_PATH), 0u) << "no such file";
    EXPECT_EQ(server, longPath);
    EXPECT_EQ(server, AgentModulePath());
    EXPECT_NE(server.find(L":\\"), std::wstring::npos) << "not a full path";
}

TEST_F(Registered, TypeLibraryPointsAtTheModule) {
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey()), L"NorvikTamselAgent 1.2 Type Library");
    EXPECT_EQ(RegisteredTypeLibraryFile(), AgentModulePath());
    EXPECT_EQ(DefaultValue(HKEY_CLASSES_ROOT, TypeLibraryKey() + L"\\HELPDIR"), ProgramFolder());
}

TEST_F(Registered, HostCreatesTheAgentByEitherProgId) {
    for (const wchar_t* progId : {PROGID, PROGID_1}) {
        CLSID clsid = {};
        ASSERT_EQ(::CLSIDFromProgID(progId, &clsid), S_OK) << progId;
        EXPECT_TRUE(::IsEqualCLSID(CLSID_nvTamselAgent, clsid)) << progId;
    }
    InvTamselAgentOps* ops = nullptr;
    ASSERT_EQ(::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER, IID_InvTamselAgentOps,
                                 reinterpret_cast<void**>(&ops)), S_OK);
    LONG status = 0;
    EXPECT_EQ(ops->GetLastServiceStatus(&status), E_FAIL);
    EXPECT_EQ(ops->Release(), 0u);
}

TEST_F(Registered, DispatchFaceAnswersFromTheTypeLibrary) {
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(&dispatch)), S_OK);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(::IsEqualIID(IID_InvTamselAgent, attributes->guid));
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attributes);
    info->Release();

    LPOLESTR unknownName = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &unknownName, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispatch->Release(), 0u);
}

using Unregistered = ComApartment;

TEST_F(Unregistered, ClassAndProgIdKeysAreGoneButTheClsidRootStays) {
    EXPECT_EQ(AgentKeys(), L"");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, TypeLibraryKey()));
    CLSID clsid = {};
    EXPECT_NE(::CLSIDFromProgID(PROGID, &clsid), S_OK);
    IUnknown* object = nullptr;
    EXPECT_EQ(::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IUnknown, reinterpret_cast<void**>(&object)), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace tamsel::module::test
