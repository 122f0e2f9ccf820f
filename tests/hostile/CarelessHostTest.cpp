// Careless hosts through the DLL's exports: a progress sink that calls the agent again and lets go of
// it while its download is still running; an event sink on the automation face that stops a download.
#include "base/Handle.h"
#include "hostile/HostileSupport.h"
#include "support/AgentModule.h"
#include "support/AutomationHost.h"

#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <string_view>

namespace tamsel::hostile {
namespace {

using module::test::Agent;
using module::test::CreateAgent;
using module::test::CreateAutomation;
using module::test::ErrorText;
using module::test::Text;
using testbed::Route;
using namespace std::literals;

// At its first report: every network operation of the same agent again, both getters, then the
// host's last reference released.
class MeddlingSink final : public ProgressSink {
public:
    explicit MeddlingSink(InvTamselAgentOps* agent) : m_agent(agent) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG*) override {
        percents.push_back(percent);
        if (m_agent == nullptr) return S_OK;
        char text[256] = "untouched";
        LONGLONG size = 99;
        LONG value = 99;
        nested.push_back(m_agent->LookupRedirect(text, sizeof(text), SERVICE_URL, "S", "en", "t"));
        nested.push_back(m_agent->QueryDownload(text, sizeof(text), SERVICE_URL, "CODE", &size));
        nested.push_back(m_agent->FetchToFile(FILE_URL, "elsewhere.bin", nullptr));
        nested.push_back(m_agent->ReportDownload(SERVICE_URL, "CODE", 1, &value));
        getters.push_back(m_agent->GetLastHttpStatus(&value));
        getters.push_back(m_agent->GetLastServiceStatus(&value));
        untouched = std::string(text) == "untouched" && size == 99 && value == 99;
        releasedTo = m_agent->Release();
        m_agent = nullptr;
        return S_OK;
    }

    std::vector<LONG> percents;
    std::vector<HRESULT> nested;
    std::vector<HRESULT> getters;
    bool untouched = false;
    ULONG releasedTo = 99;

private:
    InvTamselAgentOps* m_agent;
};

// A late-bound client's event sink, as Visual Basic or .NET makes one: IDispatch under the event
// interface's name. Stops the download at the first report of stopAt percent or more.
class EventSink final : public IDispatch {
public:
    explicit EventSink(LONG stopAt) : m_stopAt(stopAt) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        const bool known = riid == __uuidof(IUnknown) || riid == IID_IDispatch || riid == DIID__InvTamselAgentEvents;
        *out = known ? this : nullptr;
        if (known) AddRef();
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        // Progress(received, total, percent, cancel), in IDispatch's reverse order.
        const VARIANTARG* a = parameters->rgvarg;
        const bool shaped = member == DISPID_TAMSEL_EVENT_PROGRESS && flags == DISPATCH_METHOD &&
                            parameters->cArgs == 4 && a[3].vt == VT_R8 && a[2].vt == VT_R8 && a[1].vt == VT_I4 &&
                            a[0].vt == (VT_BOOL | VT_BYREF) && *a[0].pboolVal == VARIANT_FALSE;
        if (!shaped) return ++misshapen, DISP_E_BADPARAMCOUNT;
        reports.push_back({a[3].dblVal, a[2].dblVal, a[1].lVal});
        if (a[1].lVal >= m_stopAt) *a[0].pboolVal = VARIANT_TRUE;
        return S_OK;
    }

    struct Report {
        double received, total;
        LONG percent;
    };
    std::vector<Report> reports;
    int misshapen = 0;
    ULONG count = 1;

private:
    LONG m_stopAt;
};

// A script's OnProgress handler (its default member) that asks the same object for a query at its
// first call, as a script that checks for a newer file might.
class QueryingHandler final : public IDispatch {
public:
    explicit QueryingHandler(InvTamselAgent2* agent) : m_agent(agent) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        const bool known = riid == __uuidof(IUnknown) || riid == IID_IDispatch;
        *out = known ? this : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (member != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
        if (nested.empty()) {
            BSTR service = ::SysAllocString(L"http://svc.norvik.example/svc");
            BSTR code = ::SysAllocString(L"CODE");
            BSTR url = nullptr;
            nested.push_back(m_agent->QueryDownload(service, code, &url));
            ::SysFreeString(url);
            ::SysFreeString(code);
            ::SysFreeString(service);
        }
        return S_OK;
    }

    std::vector<HRESULT> nested;

private:
    InvTamselAgent2* m_agent;
};

// A script's OnProgress handler (its default member) that gives the same answer at every call.
class AnsweringHandler final : public IDispatch {
public:
    explicit AnsweringHandler(const VARIANT& answer) : m_answer(answer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        const bool known = riid == __uuidof(IUnknown) || riid == IID_IDispatch;
        *out = known ? this : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (member != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
        ++calls;
        return result != nullptr ? ::VariantCopy(result, const_cast<VARIANT*>(&m_answer)) : S_OK;
    }

    int calls = 0;

private:
    const VARIANT& m_answer;
};

// An object whose default value is True: as a handler's answer it is an object, not a value to ask for.
class TrueValuedObject final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        const bool known = riid == __uuidof(IUnknown) || riid == IID_IDispatch;
        *out = known ? this : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        ++asked;
        if (member != DISPID_VALUE || result == nullptr) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_TRUE;
        return S_OK;
    }

    int asked = 0;
};

class CarelessHost : public HostileTest {
protected:
    void SetUp() override {
        HostileTest::SetUp();
        ASSERT_NE(Agent().DllGetClassObject, nullptr) << "NorvikTamselAgent.dll is not beside the test";
    }
};

TEST_F(CarelessHost, SinkThatCallsAgainAndReleasesTheLastReferenceLeavesTheDownloadWhole) {
    // A service that would answer 500: a nested call that got through would leave its status behind.
    AddDownload(Route(FILE_PATH, FILES_HOST).Generated(1000000), FILE_PATH);
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Status(500)));
    InvTamselAgentOps* agent = CreateAgent();
    ASSERT_NE(agent, nullptr);
    MeddlingSink sink(agent);

    // The host's pointer is dead as far as the host goes once the sink has released it; the call
    // itself must still run to its end in a live object.
    EXPECT_EQ(agent->FetchToFile(FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_EQ(sink.nested, std::vector<HRESULT>(4, AGENT_E_BUSY));
    EXPECT_EQ(sink.getters, std::vector<HRESULT>(2, E_FAIL)) << "the getters answer during a download";
    EXPECT_TRUE(sink.untouched) << "a refused call writes no output";
    EXPECT_EQ(sink.releasedTo, 1u) << "the running call holds the object";
    ASSERT_FALSE(sink.percents.empty());
    EXPECT_EQ(sink.percents.back(), 100);
    EXPECT_TRUE(HoldsPattern(Contents(target), 1000000));
    EXPECT_EQ(loopback.Requests().size(), 3u) << "probe, look and download: the nested calls sent nothing";
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK) << "the object went when the call returned";
}

TEST_F(CarelessHost, EventSinkStopsTheDownloadAndFailuresCarryTheirSentence) {
    // A later interface's download makes its look with its own first request: no separate look.
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(8000000)));
    ASSERT_TRUE(loopback.Add(Route("/missing.bin", FILES_HOST).Status(404)));
    InvTamselAgentOps* ops = CreateAgent();
    ASSERT_NE(ops, nullptr);
    InvTamselAgent2* agent = nullptr;
    IConnectionPointContainer* container = nullptr;
    IProvideClassInfo2* classInfo = nullptr;
    ISupportErrorInfo* errors = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_InvTamselAgent2, reinterpret_cast<void**>(&agent)), S_OK);
    ASSERT_EQ(ops->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    ASSERT_EQ(ops->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)), S_OK);
    ASSERT_EQ(ops->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)), S_OK);
    GUID source = GUID_NULL;
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(source == DIID__InvTamselAgentEvents);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_InvTamselAgent2), S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(DIID__InvTamselAgentEvents, &point), S_OK);
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], point) << "the container has the one point it finds";
    listed[0]->Release();
    points->Release();

    EventSink sink(10);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    const std::wstring path(target.begin(), target.end());
    BSTR url = ::SysAllocString(L"http://files.norvik.example/f.bin");
    BSTR file = ::SysAllocString(path.c_str());
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(agent->Download(url, file, 0, missing, nullptr), E_ABORT);
    const std::wstring cancelled = ErrorText();
    EXPECT_EQ(cancelled.find(L"NorvikTamselAgent.nvTamselAgent: the download was cancelled after "), 0u) << cancelled;
    EXPECT_EQ(sink.misshapen, 0);
    ASSERT_FALSE(sink.reports.empty());
    EXPECT_GE(sink.reports.back().percent, 10);
    EXPECT_LT(sink.reports.back().received, 8000000) << "stopped at the report that asked";
    for (const auto& report : sink.reports) EXPECT_EQ(report.total, 8000000);

    // Once unadvised the sink hears nothing, and a failure's sentence names the status behind it.
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink.count, 1u) << "the point let go of the sink";
    const size_t heard = sink.reports.size();
    ::SysFreeString(url);
    url = ::SysAllocString(L"http://files.norvik.example/missing.bin");
    EXPECT_EQ(agent->Download(url, file, 0, missing, nullptr), AGENT_E_HTTP_STATUS);
    EXPECT_EQ(ErrorText(), L"NorvikTamselAgent.nvTamselAgent: the server answered 404 Not Found");
    EXPECT_EQ(sink.reports.size(), heard);
    ::SysFreeString(url);
    ::SysFreeString(file);

    point->Release();
    errors->Release();
    classInfo->Release();
    container->Release();
    agent->Release();
    EXPECT_EQ(ops->Release(), 0u);
    // The cancelled reply's rest is read off on a worker that holds the module until it is done.
    for (int wait = 0; wait < 600 && Agent().DllCanUnloadNow() != S_OK; ++wait) ::Sleep(50);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK);
}

TEST_F(CarelessHost, HandlerThatQueriesDuringTheDownloadLeavesTheLastQuerysAnswer) {
    const std::string digest(64, 'a');
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(300000)));
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(ServiceReply(
        {{"StatusCode", "1"}, {"downloadURL", FILE_URL}, {"filesize", "300000"}, {"sha256", digest}}))));
    InvTamselAgentOps* ops = CreateAgent();
    ASSERT_NE(ops, nullptr);
    InvTamselAgent2* agent = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_InvTamselAgent2, reinterpret_cast<void**>(&agent)), S_OK);
    BSTR service = ::SysAllocString(L"http://svc.norvik.example/svc");
    BSTR code = ::SysAllocString(L"CODE");
    BSTR url = nullptr;
    ASSERT_EQ(agent->QueryDownload(service, code, &url), S_OK);
    QueryingHandler handler(agent);
    ASSERT_EQ(agent->put_OnProgress(&handler), S_OK);

    const std::wstring path(target.begin(), target.end());
    BSTR file = ::SysAllocString(path.c_str());
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(agent->Download(url, file, 0, missing, nullptr), S_OK) << ErrorText();
    EXPECT_EQ(handler.nested, std::vector<HRESULT>{AGENT_E_BUSY});
    double size = 0;
    BSTR sha256 = nullptr;
    EXPECT_EQ(agent->get_LastFileSize(&size), S_OK);
    EXPECT_EQ(agent->get_LastSha256(&sha256), S_OK);
    EXPECT_EQ(size, 300000) << "a query refused as busy changes nothing";
    EXPECT_EQ(std::wstring(sha256 ? sha256 : L""), std::wstring(digest.begin(), digest.end()));
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));

    // VBScript passes a variable by reference: one that holds Empty checks no size, as Empty itself.
    VARIANT empty;
    empty.vt = VT_EMPTY;
    VARIANT byReference;
    byReference.vt = VT_BYREF | VT_VARIANT;
    byReference.pvarVal = &empty;
    EXPECT_EQ(agent->Download(url, file, 0, byReference, nullptr), S_OK) << ErrorText();
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    ::SysFreeString(sha256);
    ::SysFreeString(file);
    ::SysFreeString(url);
    ::SysFreeString(code);
    ::SysFreeString(service);
    EXPECT_EQ(agent->put_OnProgress(nullptr), S_OK);
    agent->Release();
    EXPECT_EQ(ops->Release(), 0u);
}

// The service's 8-bit text reaches a script byte by byte: each byte the character of that number.
TEST_F(CarelessHost, AnswerWithBytesAboveAsciiReachesTheScriptByteByByte) {
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(ServiceReply(
        {{"StatusCode", "1"}, {"downloadURL", "http://files.norvik.example/caf\xE9\xFF.bin"}, {"filesize", "5"}}))));
    InvTamselAgentOps* ops = CreateAgent();
    ASSERT_NE(ops, nullptr);
    InvTamselAgent2* agent = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_InvTamselAgent2, reinterpret_cast<void**>(&agent)), S_OK);
    BSTR service = ::SysAllocString(L"http://svc.norvik.example/svc");
    BSTR code = ::SysAllocString(L"CODE");
    BSTR url = nullptr;
    EXPECT_EQ(agent->QueryDownload(service, code, &url), S_OK) << ErrorText();
    EXPECT_EQ(std::wstring(url ? url : L""), L"http://files.norvik.example/caf\u00E9\u00FF.bin");
    ::SysFreeString(url);
    ::SysFreeString(code);
    ::SysFreeString(service);
    agent->Release();
    EXPECT_EQ(ops->Release(), 0u);
}

// The handler's answer is read as the platform converts it to a Boolean: only a true one cancels. One
// that does not convert goes on and is reported nowhere; an object is not asked for its value.
TEST_F(CarelessHost, HandlerAnswerCancelsOnlyWhenItConvertsToTrue) {
    constexpr int SIZE = 4000000;
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(SIZE)));
    InvTamselAgent2* agent = CreateAutomation();
    ASSERT_NE(agent, nullptr);
    const std::wstring targetPath(target.begin(), target.end());
    const PlatformString url = Text(L"http://files.norvik.example/f.bin"sv);
    const PlatformString path = Text(targetPath);
    VARIANT noSize;
    noSize.vt = VT_ERROR;
    noSize.scode = DISP_E_PARAMNOTFOUND;
    TrueValuedObject object;
    struct Row {
        const char* reason;
        VARTYPE type;
        LONG number;           // VT_I2, VT_I4, VT_BOOL, VT_ERROR
        const wchar_t* text;   // VT_BSTR
        bool cancels;
    };
    const Row rows[] = {
        {"the text False, as a handler that answers with text gives it", VT_BSTR, 0, L"False", false},
        {"the text 0", VT_BSTR, 0, L"0", false},
        {"the number 0", VT_I4, 0, nullptr, false},
        {"False itself", VT_BOOL, VARIANT_FALSE, nullptr, false},
        {"Empty: a function that assigns no answer", VT_EMPTY, 0, nullptr, false},
        {"the empty text", VT_BSTR, 0, L"", false},
        {"Null, which converts to no Boolean", VT_NULL, 0, nullptr, false},
        {"a text that is no Boolean", VT_BSTR, 0, L"maybe", false},
        {"an error value", VT_ERROR, static_cast<LONG>(E_FAIL), nullptr, false},
        {"an object, even one whose default value is True", VT_DISPATCH, 0, nullptr, false},
        {"True itself", VT_BOOL, VARIANT_TRUE, nullptr, true},
        {"-1 as a VBScript Integer", VT_I2, -1, nullptr, true},
        {"any other number but 0", VT_I4, 2, nullptr, true},
        {"the text True, in any case", VT_BSTR, 0, L"tRUE", true},
        {"the text -1", VT_BSTR, 0, L"-1", true},
    };
    for (const Row& row : rows) {
        VARIANT answer;
        ::VariantInit(&answer);
        answer.vt = row.type;
        if (row.type == VT_BSTR) answer.bstrVal = ::SysAllocString(row.text);
        if (row.type == VT_DISPATCH) answer.pdispVal = &object;
        if (row.type == VT_I2 || row.type == VT_BOOL) answer.iVal = static_cast<SHORT>(row.number);
        if (row.type == VT_I4 || row.type == VT_ERROR) answer.lVal = row.number;
        AnsweringHandler handler(answer);
        ASSERT_EQ(agent->put_OnProgress(&handler), S_OK);
        const HRESULT hr = agent->Download(url.get(), path.get(), 0, noSize, nullptr);
        if (row.cancels) {
            EXPECT_EQ(hr, E_ABORT) << row.reason << " cancels";
            EXPECT_EQ(handler.calls, 1) << row.reason << ": the first answer stopped the download";
        } else {
            EXPECT_EQ(hr, S_OK) << row.reason << " goes on";
            EXPECT_GT(handler.calls, 1) << row.reason;
            EXPECT_TRUE(HoldsPattern(Contents(target), SIZE)) << row.reason;
            IErrorInfo* info = nullptr;
            EXPECT_EQ(::GetErrorInfo(0, &info), S_FALSE) << row.reason << " is reported as no error";
            if (info != nullptr) info->Release();
        }
        EXPECT_EQ(agent->put_OnProgress(nullptr), S_OK) << "the agent lets go of the row's handler";
        ::VariantClear(&answer);
    }
    EXPECT_EQ(object.asked, 0) << "an answer that is an object is not called";
    EXPECT_EQ(agent->Release(), 0u);
    // The cancelled replies' rest is read off on workers that hold the module until they are done.
    for (int wait = 0; wait < 600 && Agent().DllCanUnloadNow() != S_OK; ++wait) ::Sleep(50);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace tamsel::hostile
