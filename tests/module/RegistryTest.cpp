// What regsvr32 and regsvr32 /u leave in the registry, read back key by key, and what a host can do
// with it. ctest runs the Registered suite after regsvr32 and the Unregistered suite after regsvr32 /u.
#include "support/AgentModule.h"
#include "tests/module/AgentRegistry.h"
#include "tests/module/RegistryDump.h"

#include <gtest/gtest.h>
#include <ocidl.h>

#include <utility>
#include <vector>

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
    EXPECT_TRUE(::IsEqualIID(IID_InvTamselAgent2, attributes->guid));
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attributes);
    info->Release();

    LPOLESTR unknownName = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &unknownName, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispatch->Release(), 0u);
}

// One interface of the type library: its members in slot order (the header's), with their kind.
struct Described {
    const IID* iid;
    const wchar_t* name;
    bool automation;  // dual and oleautomation, or 8-bit strings for importers only
    UINT firstSlot;   // the slot of the first member: after IUnknown's 3 or IDispatch's 7
    std::vector<std::pair<const wchar_t*, INVOKEKIND>> members;
};

std::wstring MemberName(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) return L"<none>";
    std::wstring text = name;
    ::SysFreeString(name);
    return text;
}

// What .NET's and Delphi's importers read: every interface by name, every member by name in the slot
// the header gives it, and the automation interface's fixed dispatch ids.
TEST_F(Registered, TypeLibraryDescribesEveryInterfaceInTheHeadersSlots) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_NORVIKTAMSELAGENTLib, 1, 2, LOCALE_NEUTRAL, &library), S_OK);
    const INVOKEKIND M = INVOKE_FUNC, G = INVOKE_PROPERTYGET;
    const std::vector<Described> table = {
        {&IID_InvTamselAgent2, L"InvTamselAgent2", true, 7,
         {{L"LookupRedirect", M}, {L"QueryDownload", M}, {L"Download", M}, {L"ReportDownload", M},
          {L"LastFileSize", G}, {L"LastSha256", G}, {L"LastHttpStatus", G}, {L"LastServiceStatus", G},
          {L"OnProgress", G}, {L"OnProgress", INVOKE_PROPERTYPUT}, {L"OnProgress", INVOKE_PROPERTYPUTREF},
          {L"Version", G}}},
        {&IID_InvTamselAgentOps, L"InvTamselAgentOps", false, 3,
         {{L"LookupRedirect", M}, {L"QueryDownload", M}, {L"FetchToFile", M}, {L"ReportDownload", M},
          {L"GetLastHttpStatus", M}, {L"GetLastServiceStatus", M}}},
        {&IID_InvTamselAgentOps2, L"InvTamselAgentOps2", false, 9, {{L"FetchToFileEx", M}}},
        {&IID_InvTamselAgentOps3, L"InvTamselAgentOps3", false, 10,
         {{L"QueryDownloadEx", M}, {L"FetchToFileVerified", M}}},
        {&IID_ProgressSink, L"ProgressSink", false, 3, {{L"NotifyCode", M}, {L"NotifyProgress", M}}},
        {&IID_ProgressSink2, L"ProgressSink2", false, 5, {{L"NotifyBytes", M}}},
        {&IID_InvTamselAgentOps4, L"InvTamselAgentOps4", false, 12,
         {{L"QueryDownloadSources", M}, {L"FetchToFileResilient", M}, {L"ReportDownloadEx", M},
          {L"SetProxyCredentials", M}}},
        {&IID_ProgressSink3, L"ProgressSink3", false, 6, {{L"NotifyRetry", M}}},
    };
    for (const Described& described : table) {
        SCOPED_TRACE(described.name);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*described.iid, &info), S_OK);
        EXPECT_EQ(MemberName(info, MEMBERID_NIL), described.name);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        const WORD automationFlags = described.automation ? TYPEFLAG_FDUAL : TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
        EXPECT_EQ(attributes->wTypeFlags & automationFlags, described.automation ? TYPEFLAG_FDUAL : 0);
        info->ReleaseTypeAttr(attributes);
        if (described.automation) {  // the vtable side of the dual interface holds the slots
            HREFTYPE vtable = 0;
            ITypeInfo* side = nullptr;
            ASSERT_EQ(info->GetRefTypeOfImplType(-1, &vtable), S_OK);
            ASSERT_EQ(info->GetRefTypeInfo(vtable, &side), S_OK);
            info->Release();
            info = side;
        }
        for (UINT index = 0; index < described.members.size(); ++index) {
            FUNCDESC* function = nullptr;
            ASSERT_EQ(info->GetFuncDesc(index, &function), S_OK) << index;
            EXPECT_EQ(MemberName(info, function->memid), described.members[index].first) << index;
            EXPECT_EQ(function->invkind, described.members[index].second) << index;
            EXPECT_EQ(function->oVft, static_cast<SHORT>((described.firstSlot + index) * sizeof(void*))) << index;
            info->ReleaseFuncDesc(function);
        }
        info->Release();
    }

    // Dispatch ids by name, and the class's default interface and event source.
    ITypeInfo* automation = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_InvTamselAgent2, &automation), S_OK);
    const std::vector<std::pair<const wchar_t*, DISPID>> ids = {
        {L"LookupRedirect", DISPID_TAMSEL_LOOKUPREDIRECT}, {L"Download", DISPID_TAMSEL_DOWNLOAD},
        {L"LastSha256", DISPID_TAMSEL_LASTSHA256}, {L"OnProgress", DISPID_TAMSEL_ONPROGRESS},
        {L"Version", DISPID_TAMSEL_VERSION}};
    for (const auto& [name, expected] : ids) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        MEMBERID id = 0;
        EXPECT_EQ(automation->GetIDsOfNames(names, 1, &id), S_OK) << name;
        EXPECT_EQ(id, expected) << name;
    }
    automation->Release();
    ITypeInfo* events = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(DIID__InvTamselAgentEvents, &events), S_OK);
    LPOLESTR progress[] = {const_cast<LPOLESTR>(L"Progress")};
    MEMBERID id = 0;
    EXPECT_EQ(events->GetIDsOfNames(progress, 1, &id), S_OK);
    EXPECT_EQ(id, DISPID_TAMSEL_EVENT_PROGRESS);
    events->Release();
    library->Release();
}

TEST_F(Registered, ClassInformationNamesTheDefaultInterfaceAndTheEventSource) {
    IProvideClassInfo* provider = nullptr;
    ASSERT_EQ(::CoCreateInstance(CLSID_nvTamselAgent, nullptr, CLSCTX_INPROC_SERVER, IID_IProvideClassInfo,
                                 reinterpret_cast<void**>(&provider)), S_OK);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(provider->GetClassInfo(&coclass), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
    std::vector<std::pair<std::wstring, int>> implemented;
    for (UINT index = 0; index < attributes->cImplTypes; ++index) {
        HREFTYPE reference = 0;
        ITypeInfo* implementedInfo = nullptr;
        int flags = 0;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(index, &reference), S_OK);
        ASSERT_EQ(coclass->GetRefTypeInfo(reference, &implementedInfo), S_OK);
        coclass->GetImplTypeFlags(index, &flags);
        implemented.emplace_back(MemberName(implementedInfo, MEMBERID_NIL), flags);
        implementedInfo->Release();
    }
    coclass->ReleaseTypeAttr(attributes);
    coclass->Release();
    const std::vector<std::pair<std::wstring, int>> expected = {
        {L"InvTamselAgent2", IMPLTYPEFLAG_FDEFAULT}, {L"InvTamselAgent", 0}, {L"InvTamselAgentOps4", 0}, {L"InvTamselAgentOps3", 0},
        {L"InvTamselAgentOps2", 0}, {L"InvTamselAgentOps", 0}, {L"_InvTamselAgentEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    EXPECT_EQ(implemented, expected);
    EXPECT_EQ(provider->Release(), 0u);
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
