// Careless hosts through the DLL's exports: a progress sink that calls the agent again and lets go of
// it while its download is still running; an event sink on the automation face that stops a download;
// scripts' downloads from several sources, in each form a script gives them, with their retries heard.
#include "base/Handle.h"
#include "hostile/HostileSupport.h"
#include "support/AgentModule.h"
#include "support/AutomationHost.h"
#include "support/ScriptArray.h"

#include <ocidl.h>
#include <olectl.h>

#include <climits>
#include <functional>
#include <string_view>
#include <tuple>

namespace tamsel::hostile {
namespace {

using module::test::Agent;
using module::test::Argument;
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

// A late-bound client's event sink that hears Retrying: each retry's arguments, and a cancel when told.
class RetryEventSink final : public IDispatch {
public:
    struct Retry {
        LONG attempt, waitMs, reason, source;
        ULONGLONG tick;
    };

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
        if (member == DISPID_TAMSEL_EVENT_PROGRESS) return S_OK;
        // Retrying(attempt, waitMs, reason, sourceIndex, cancel), in IDispatch's reverse order.
        const VARIANTARG* a = parameters->rgvarg;
        const bool shaped = member == DISPID_TAMSEL_EVENT_RETRYING && flags == DISPATCH_METHOD &&
                            parameters->cArgs == 5 && a[4].vt == VT_I4 && a[3].vt == VT_I4 && a[2].vt == VT_I4 &&
                            a[1].vt == VT_I4 && a[0].vt == (VT_BOOL | VT_BYREF) && *a[0].pboolVal == VARIANT_FALSE;
        if (!shaped) return ++misshapen, DISP_E_BADPARAMCOUNT;
        retries.push_back({a[4].lVal, a[3].lVal, a[2].lVal, a[1].lVal, ::GetTickCount64()});
        if (cancel) *a[0].pboolVal = VARIANT_TRUE;
        return S_OK;
    }

    std::vector<Retry> retries;
    bool cancel = false;
    int misshapen = 0;
    ULONG count = 1;
};

// A script's OnProgress handler that records what it hears and answers True once it has heard `stopAt`.
class CountingHandler final : public IDispatch {
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
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (member != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
        received.push_back(parameters->rgvarg[2].dblVal);
        ticks.push_back(::GetTickCount64());
        if (result != nullptr) {
            result->vt = VT_BOOL;
            result->boolVal = received.size() >= stopAt ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }

    std::vector<double> received;
    std::vector<ULONGLONG> ticks;
    size_t stopAt = SIZE_MAX;
};

// The strings of an array a member answered, or "<not an array of strings>".
std::vector<std::wstring> StringsOf(const VARIANT& array) {
    if (array.vt != (VT_ARRAY | VT_VARIANT) || ::SafeArrayGetDim(array.parray) != 1) return {L"<not an array>"};
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array.parray, 1, &lower);
    ::SafeArrayGetUBound(array.parray, 1, &upper);
    std::vector<std::wstring> texts;
    for (LONG index = lower; index <= upper; ++index) {
        VARIANT* item = nullptr;
        ::SafeArrayPtrOfIndex(array.parray, &index, reinterpret_cast<void**>(&item));
        texts.push_back(item->vt == VT_BSTR ? std::wstring(item->bstrVal, ::SysStringLen(item->bstrVal))
                                            : L"<not a string>");
    }
    if (lower != 0) texts.push_back(L"<lower bound not 0>");
    return texts;
}

// The body of the last POST the server received.
std::string LastPostBody(testbed::Testbed& server) {
    std::string body;
    for (const testbed::RecordedRequest& request : server.Requests()) {
        if (request.RequestLine().compare(0, 5, "POST ") == 0) body = request.Body();
    }
    return body;
}

// A multipart field as the report's body carries it.
std::string Field(const std::string& name, const std::string& value) {
    return "name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

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

constexpr char MIRROR_HOST[] = "mirror.norvik.example";
constexpr uint64_t SOURCES_SIZE = 50000;

// DownloadFrom reads its sources in every form a script gives them, and goes from source to source as the
// resilient download does: two that refuse (404, not retried on the same source) and the third that serves.
TEST_F(CarelessHost, DownloadFromTakesSourcesInEveryFormAScriptGivesThem) {
    InvTamselAgent3* agent = CreateAutomation<InvTamselAgent3>();
    ASSERT_NE(agent, nullptr);
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(agent->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID__InvTamselAgentEvents, &point), S_OK);
    container->Release();
    RetryEventSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    const std::vector<std::wstring> urls = {L"http://files.norvik.example/missing.bin",
                                            L"http://mirror.norvik.example/missing.bin",
                                            L"http://mirror.norvik.example/f.bin"};
    test::ScriptArray scriptArray(urls);
    Argument byReferenceTarget = Argument::Array(urls);
    Argument byReference;
    byReference.value.vt = VT_BYREF | VT_VARIANT;
    byReference.value.pvarVal = &byReferenceTarget.value;
    Argument jscript;
    jscript.value.vt = VT_DISPATCH;
    jscript.value.pdispVal = &scriptArray;
    scriptArray.AddRef();  // the VARIANT's own, given back when it is cleared
    const ULONG held = scriptArray.references;
    struct Row {
        const char* form;
        const VARIANT* sources;
    };
    const Argument lines(urls[0] + L"\r" + urls[1] + L"\r\n" + urls[2] + L"\n");
    const Argument variants = Argument::Array(urls);
    const Argument strings = Argument::Array(urls, VT_BSTR);
    const Row rows[] = {
        {"one string, its URLs separated by CR, CRLF and a last LF", &lines.value},
        {"VBScript's Array(): VARIANTs holding strings", &variants.value},
        {"an array of strings", &strings.value},
        {"a script's variable by reference, holding an array", &byReference.value},
        {"a JScript array, through its length and indexed members", &jscript.value},
    };
    const PlatformString path = Text(std::wstring(target.begin(), target.end()));
    VARIANT noSize;
    noSize.vt = VT_ERROR;
    noSize.scode = DISP_E_PARAMNOTFOUND;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.form);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route("/missing.bin", FILES_HOST).Status(404));
        loopback.Add(Route("/missing.bin", MIRROR_HOST).Status(404));
        loopback.Add(Route(FILE_PATH, MIRROR_HOST).Generated(SOURCES_SIZE));
        ::DeleteFileA(target.c_str());
        sink.retries.clear();
        EXPECT_EQ(agent->DownloadFrom(*row.sources, path.get(), 0, noSize, nullptr), S_OK) << ErrorText();
        // Each refusal moves to the next source at once: Retrying names it, with no wait.
        EXPECT_EQ(sink.retries.size(), 2u);
        for (LONG next = 1; next <= 2 && sink.retries.size() == 2; ++next) {
            const RetryEventSink::Retry& retry = sink.retries[static_cast<size_t>(next - 1)];
            EXPECT_EQ(std::make_tuple(retry.attempt, retry.waitMs, retry.reason, retry.source),
                      std::make_tuple(next + 1, LONG(0), LONG(AGENT_E_HTTP_STATUS), next));
        }
        EXPECT_TRUE(HoldsPattern(Contents(target), SOURCES_SIZE));
        LONG attempts = 0, source = -1, result = -1;
        EXPECT_EQ(agent->get_LastAttempts(&attempts), S_OK);
        EXPECT_EQ(agent->get_LastSourceIndex(&source), S_OK);
        EXPECT_EQ(agent->get_LastAttemptResult(&result), S_OK);
        EXPECT_EQ(attempts, 3);
        EXPECT_EQ(source, 2);
        EXPECT_EQ(result, S_OK);
        std::vector<std::string> asked;
        for (const auto& request : loopback.Requests()) {
            if (request.host != testbed::MAKER_HOST) asked.push_back(request.host + request.target);
        }
        EXPECT_EQ(asked, (std::vector<std::string>{"files.norvik.example/missing.bin", "mirror.norvik.example/missing.bin",
                                                   "mirror.norvik.example/f.bin"}))
            << "every source in its order, none twice";
    }
    EXPECT_GE(scriptArray.gets, 4u) << "the script's array was read through IDispatch";
    ASSERT_TRUE(loopback.Reset());

    // What is no list of sources, or one with a URL that cannot be sent, is refused before anything is sent.
    std::vector<std::wstring> ten(10, urls[2]);
    test::ScriptArray tooLong(ten);
    Argument tooLongScript;
    tooLongScript.value.vt = VT_DISPATCH;
    tooLongScript.value.pdispVal = &tooLong;
    tooLong.AddRef();
    Argument number;
    number.value.vt = VT_I4;
    number.value.lVal = 42;
    Argument mixed = Argument::Array({urls[0]});
    LONG first = 0;
    VARIANT* element = nullptr;
    ::SafeArrayPtrOfIndex(mixed.value.parray, &first, reinterpret_cast<void**>(&element));
    ::VariantClear(element);
    element->vt = VT_I4;
    element->lVal = 7;
    Argument grid;
    SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
    grid.value.vt = VT_ARRAY | VT_VARIANT;
    grid.value.parray = ::SafeArrayCreate(VT_VARIANT, 2, bounds);
    std::wstring tenLines;
    for (const std::wstring& url : ten) tenLines += url + L"\n";
    const Argument empty(L""sv), emptyLine(urls[0] + L"\n\n" + urls[2]), manyLines(tenLines);
    const Argument noElements = Argument::Array({}), withNul = Argument::Array({urls[0] + L"\0x"s});
    const Argument beyondAscii = Argument::Array({L"http://files.norvik.example/caf\u00E9.bin"});
    const struct {
        const char* why;
        const VARIANT* sources;
        const wchar_t* sentence;
    } refusals[] = {
        {"an empty string", &empty.value, L"the argument sources holds no URL"},
        {"an empty line between two URLs", &emptyLine.value, L"the argument sources holds an empty URL at position 2"},
        {"ten lines", &manyLines.value, L"the argument sources holds more than 9 URLs"},
        {"a JScript array of ten", &tooLongScript.value, L"the argument sources holds more than 9 URLs"},
        {"an empty array", &noElements.value, L"the argument sources holds no URL"},
        {"a number among the strings", &mixed.value, L"the argument sources holds an element that is not a string"},
        {"a NUL inside an element", &withNul.value, L"the argument sources holds a NUL character"},
        {"a character beyond ASCII", &beyondAscii.value,
         L"the argument sources holds a character other than printable ASCII"},
        {"a number", &number.value, L"the argument sources is not a URL"},
        {"an array of two dimensions", &grid.value, L"the argument sources is not a URL"},
    };
    for (const auto& refusal : refusals) {
        EXPECT_EQ(agent->DownloadFrom(*refusal.sources, path.get(), 0, noSize, nullptr), E_INVALIDARG) << refusal.why;
        const std::wstring error = ErrorText();
        EXPECT_NE(error.find(refusal.sentence), std::wstring::npos) << refusal.why << ": " << std::string(error.begin(), error.end());
    }
    EXPECT_TRUE(loopback.Requests().empty()) << "nothing reached the server, not even the probe";
    EXPECT_EQ(sink.misshapen, 0);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    point->Release();
    EXPECT_EQ(agent->Release(), 0u);
    EXPECT_EQ(scriptArray.references, held) << "the agent keeps no reference to the script's array";
}

// The policy's properties: their defaults, the value 0 putting the default back, their bounds, a refused
// value leaving the one set before.
TEST_F(CarelessHost, PolicyPropertiesHoldTheirRanges) {
    InvTamselAgent3* agent = CreateAutomation<InvTamselAgent3>();
    ASSERT_NE(agent, nullptr);
    using Put = HRESULT (STDMETHODCALLTYPE InvTamselAgent3::*)(LONG);
    using Get = HRESULT (STDMETHODCALLTYPE InvTamselAgent3::*)(LONG*);
    const struct {
        const char* name;
        Put put;
        Get get;
        LONG byDefault, most;
        const wchar_t* refusal;
    } rows[] = {
        {"MaxAttempts", &InvTamselAgent3::put_MaxAttempts, &InvTamselAgent3::get_MaxAttempts, 5, 32,
         L"the property MaxAttempts takes a number from 0 to 32 (0: 5)"},
        {"MaxRetryWait", &InvTamselAgent3::put_MaxRetryWait, &InvTamselAgent3::get_MaxRetryWait, 60000, LONG_MAX,
         L"the property MaxRetryWait takes a number from 0 to 2147483647 (0: 60000)"},
        {"Deadline", &InvTamselAgent3::put_Deadline, &InvTamselAgent3::get_Deadline, 0, LONG_MAX,
         L"the property Deadline takes a number from 0 to 2147483647 (0: none)"},
        {"MaxBytesPerSecond", &InvTamselAgent3::put_MaxBytesPerSecond, &InvTamselAgent3::get_MaxBytesPerSecond, 0,
         LONG_MAX, L"the property MaxBytesPerSecond takes a number from 0 to 2147483647 (0: none)"},
        {"Connections", &InvTamselAgent3::put_Connections, &InvTamselAgent3::get_Connections, 1, 4,
         L"the property Connections takes a number from 0 to 4 (0: 1)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto get = [&] {
            LONG value = -99;
            EXPECT_EQ((agent->*row.get)(&value), S_OK);
            return value;
        };
        EXPECT_EQ(get(), row.byDefault);
        EXPECT_EQ((agent->*row.put)(row.most), S_OK);
        EXPECT_EQ(get(), row.most);
        EXPECT_EQ((agent->*row.put)(0), S_OK);
        EXPECT_EQ(get(), row.byDefault) << "0 puts the default back";
        EXPECT_EQ((agent->*row.put)(3), S_OK);
        for (const LONG wrong : {LONG(-1), row.most == LONG_MAX ? LONG_MIN : row.most + 1}) {
            EXPECT_EQ((agent->*row.put)(wrong), E_INVALIDARG) << wrong;
            const std::wstring error = ErrorText();
            EXPECT_NE(error.find(row.refusal), std::wstring::npos) << std::string(error.begin(), error.end());
            EXPECT_EQ(get(), 3) << "a refused value changes nothing";
        }
    }
    EXPECT_EQ(agent->Release(), 0u);
}

// LastSources: the download URL and the mirrors a query's reply names, in order; nothing after a failed
// query.
TEST_F(CarelessHost, LastSourcesAreTheQuerysDownloadUrlAndMirrors) {
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Times(1).Body(ServiceReply(
        {{"StatusCode", "1"}, {"downloadURL", FILE_URL}, {"mirrorURL", "http://mirror.norvik.example/f.bin"},
         {"filesize", "300"}, {"mirrorURL", "ftp://mirror2.norvik.example/pub/f.bin"}}))));
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(ServiceReply({{"StatusCode", "3"}}))));
    InvTamselAgent3* agent = CreateAutomation<InvTamselAgent3>();
    ASSERT_NE(agent, nullptr);
    Argument sources;
    EXPECT_EQ(agent->get_LastSources(&sources.value), S_OK);
    EXPECT_EQ(StringsOf(sources.value), std::vector<std::wstring>{}) << "an empty array before any query";
    const PlatformString service = Text(L"http://svc.norvik.example/svc"sv);
    const PlatformString code = Text(L"CODE"sv);
    BSTR url = nullptr;
    ASSERT_EQ(agent->QueryDownload(service.get(), code.get(), &url), S_OK) << ErrorText();
    ::SysFreeString(url);
    ::VariantClear(&sources.value);
    EXPECT_EQ(agent->get_LastSources(&sources.value), S_OK);
    EXPECT_EQ(StringsOf(sources.value),
              (std::vector<std::wstring>{L"http://files.norvik.example/f.bin", L"http://mirror.norvik.example/f.bin",
                                         L"ftp://mirror2.norvik.example/pub/f.bin"}));
    EXPECT_EQ(agent->QueryDownload(service.get(), code.get(), &url), AGENT_E_SERVICE_STATUS);
    ::VariantClear(&sources.value);
    EXPECT_EQ(agent->get_LastSources(&sources.value), S_OK);
    EXPECT_EQ(StringsOf(sources.value), std::vector<std::wstring>{}) << "a failed query leaves no sources";
    EXPECT_EQ(agent->Release(), 0u);
}

// A download that broke off once (RESUME keeps its part), then one that the server asked to wait for:
// what each left in the Last properties, the Retrying event before the wait, the OnProgress handler heard
// during it, and the report that tells the service all of it.
TEST_F(CarelessHost, LastValuesRetryingEventAndReportTellWhatDownloadFromDid) {
    const std::string etag = "ETag: \"v1\"";
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(SOURCES_SIZE).Header(etag).CloseAfter(SOURCES_SIZE / 2).Times(1));
    InvTamselAgentOps* ops = CreateAgent();
    ASSERT_NE(ops, nullptr);
    InvTamselAgent3* agent = nullptr;
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_InvTamselAgent3, reinterpret_cast<void**>(&agent)), S_OK);
    ASSERT_EQ(ops->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(container->FindConnectionPoint(DIID__InvTamselAgentEvents, &point), S_OK);
    RetryEventSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    CountingHandler handler;
    ASSERT_EQ(agent->put_OnProgress(&handler), S_OK);
    const Argument source(L"http://files.norvik.example/f.bin"sv);
    const PlatformString path = Text(std::wstring(target.begin(), target.end()));
    VARIANT noSize;
    noSize.vt = VT_ERROR;
    noSize.scode = DISP_E_PARAMNOTFOUND;
    const PlatformString service = Text(L"http://svc.norvik.example/svc"sv);
    const PlatformString code = Text(L"CODE"sv);
    const auto report = [&](VARIANT_BOOL success) {
        loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(ServiceReply({{"StatusCode", "1"}, {"dltotalcount", "4"}})));
        LONG remaining = 0;
        EXPECT_EQ(agent->ReportDownloadEx(service.get(), code.get(), success, &remaining), S_OK) << ErrorText();
        EXPECT_EQ(remaining, 4);
        return LastPostBody(loopback);
    };
    struct Last {
        LONG attempts = -1, source = -1, result = -1;
        double resumed = -1, retryAfter = -1;
    };
    const auto last = [&] {
        Last values;
        agent->get_LastAttempts(&values.attempts);
        agent->get_LastSourceIndex(&values.source);
        agent->get_LastAttemptResult(&values.result);
        agent->get_LastBytesResumed(&values.resumed);
        agent->get_LastRetryAfter(&values.retryAfter);
        return values;
    };

    ASSERT_EQ(agent->put_MaxAttempts(1), S_OK);
    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), TAMSEL_FETCH_RESUME, noSize, nullptr), AGENT_E_BROKEN);
    Last broken = last();
    EXPECT_EQ(broken.attempts, 1);
    EXPECT_EQ(broken.result, AGENT_E_BROKEN);
    EXPECT_EQ(broken.resumed, 0);
    EXPECT_TRUE(sink.retries.empty()) << "one attempt allowed: no retry";
    std::string body = report(VARIANT_FALSE);
    for (const auto& [name, value] : {std::pair<const char*, const char*>{"success", "false"}, {"attempts", "1"},
                                      {"source", "0"}, {"result", "80042F06"}, {"resumedBytes", "0"}}) {
        EXPECT_NE(body.find(Field(name, value)), std::string::npos) << name << " in " << body;
    }

    ASSERT_TRUE(loopback.Reset());
    loopback.Add(Route(FILE_PATH, FILES_HOST).Status(503).Header("Retry-After: 1").Times(1));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(SOURCES_SIZE).Header(etag).Ranges());
    ASSERT_EQ(agent->put_MaxAttempts(3), S_OK);
    handler.received.clear();
    handler.ticks.clear();
    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), TAMSEL_FETCH_RESUME, noSize, nullptr), S_OK) << ErrorText();
    EXPECT_TRUE(HoldsPattern(Contents(target), SOURCES_SIZE));
    Last resumed = last();
    EXPECT_EQ(resumed.attempts, 2);
    EXPECT_EQ(resumed.source, 0);
    EXPECT_EQ(resumed.result, S_OK);
    EXPECT_EQ(resumed.resumed, SOURCES_SIZE / 2) << "the first call's part was kept";
    EXPECT_EQ(resumed.retryAfter, 1000);
    EXPECT_EQ(sink.misshapen, 0);
    ASSERT_EQ(sink.retries.size(), 1u);
    EXPECT_EQ(sink.retries[0].attempt, 2);
    EXPECT_EQ(sink.retries[0].waitMs, 1000);
    EXPECT_EQ(sink.retries[0].reason, AGENT_E_HTTP_STATUS);
    EXPECT_EQ(sink.retries[0].source, 0);
    // The wait of 1 s is told to the handler with the counts unchanged, at least twice a second.
    size_t duringWait = 0;
    for (size_t call = 0; call < handler.ticks.size(); ++call) {
        const bool inWait = handler.ticks[call] >= sink.retries[0].tick && handler.ticks[call] < sink.retries[0].tick + 900;
        if (inWait) {
            EXPECT_EQ(handler.received[call], handler.received.front()) << "counts unchanged while waiting";
        }
        duringWait += inWait ? 1 : 0;
    }
    EXPECT_GE(duringWait, 2u) << "the handler heard the wait";
    body = report(VARIANT_TRUE);
    for (const auto& [name, value] : {std::pair<const char*, const char*>{"success", "true"}, {"attempts", "2"},
                                      {"source", "0"}, {"result", "00000000"}, {"resumedBytes", "25000"}}) {
        EXPECT_NE(body.find(Field(name, value)), std::string::npos) << name << " in " << body;
    }
    const size_t waited = body.find("name=\"waitedMs\"\r\n\r\n");
    ASSERT_NE(waited, std::string::npos);
    EXPECT_GE(std::stoul(body.substr(waited + 19)), 990u);

    // A cancel from the Retrying event, and a true answer of the handler during the wait, end the call.
    for (const bool fromEvent : {true, false}) {
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(Route(FILE_PATH, FILES_HOST).Status(503).Header("Retry-After: 30"));
        ::DeleteFileA(target.c_str());
        sink.cancel = fromEvent;
        handler.received.clear();
        handler.ticks.clear();
        handler.stopAt = fromEvent ? SIZE_MAX : 1;
        ASSERT_EQ(agent->put_MaxRetryWait(60000), S_OK);
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), 0, noSize, nullptr), E_ABORT) << fromEvent;
        EXPECT_LT(::GetTickCount64() - start, 10000u) << "not the 30 s the server asked for";
        EXPECT_NE(ErrorText().find(L"the download was cancelled"), std::wstring::npos);
        LONG attempts = 0;
        EXPECT_EQ(agent->get_LastAttempts(&attempts), S_OK);
        EXPECT_EQ(attempts, 1) << fromEvent;
        EXPECT_FALSE(Exists(target));
    }
    sink.cancel = false;
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(agent->put_OnProgress(nullptr), S_OK);
    point->Release();
    container->Release();
    agent->Release();
    EXPECT_EQ(ops->Release(), 0u);
}

// ProxyUser and the written-only ProxyPassword, in either order, answer a proxy that asks for credentials;
// an empty user clears both, and a user Basic cannot carry is refused without being echoed.
TEST_F(CarelessHost, ProxyUserAndPasswordAnswerTheProxyUntilCleared) {
    ASSERT_TRUE(loopback.RequireProxyAuth("ann", "s3cret"));
    loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(SOURCES_SIZE));
    InvTamselAgent3* agent = CreateAutomation<InvTamselAgent3>();
    ASSERT_NE(agent, nullptr);
    const Argument source(L"http://files.norvik.example/f.bin"sv);
    const PlatformString path = Text(std::wstring(target.begin(), target.end()));
    VARIANT noSize;
    noSize.vt = VT_ERROR;
    noSize.scode = DISP_E_PARAMNOTFOUND;

    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), 0, noSize, nullptr), AGENT_E_PROXY_AUTH);
    EXPECT_NE(ErrorText().find(L"the proxy asked for credentials"), std::wstring::npos);
    EXPECT_EQ(agent->put_ProxyPassword(Text(L"s3cret"sv).get()), S_OK) << "the password first, waiting for the user";
    EXPECT_EQ(agent->put_ProxyUser(Text(L"ann"sv).get()), S_OK);
    BSTR user = nullptr;
    EXPECT_EQ(agent->get_ProxyUser(&user), S_OK);
    EXPECT_EQ(std::wstring(user ? user : L""), L"ann");
    ::SysFreeString(user);
    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), 0, noSize, nullptr), S_OK) << ErrorText();
    EXPECT_TRUE(HoldsPattern(Contents(target), SOURCES_SIZE));
    size_t answered = 0;
    for (const auto& request : loopback.Requests()) {
        const bool answers = request.raw.find("\r\nProxy-Authorization: Basic YW5uOnMzY3JldA==\r\n") != std::string::npos;
        answered += answers ? 1 : 0;
        EXPECT_EQ(request.raw.find("\r\nAuthorization:"), std::string::npos) << "nothing authenticates to a server";
    }
    EXPECT_GE(answered, 1u) << "ann:s3cret answered the proxy";

    EXPECT_EQ(agent->put_ProxyUser(Text(L"ann:x"sv).get()), E_INVALIDARG);
    const std::wstring refusal = ErrorText();
    EXPECT_NE(refusal.find(L"ProxyUser holds ':'"), std::wstring::npos) << std::string(refusal.begin(), refusal.end());
    EXPECT_EQ(refusal.find(L"ann:x"), std::wstring::npos) << "the name is not echoed";
    EXPECT_EQ(agent->put_ProxyPassword(Text(L"s3c\0ret"sv).get()), E_INVALIDARG);
    EXPECT_NE(ErrorText().find(L"the argument ProxyPassword holds a NUL character"), std::wstring::npos);
    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), 0, noSize, nullptr), S_OK) << "refusals kept the credentials";

    EXPECT_EQ(agent->put_ProxyUser(Text(L""sv).get()), S_OK);
    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), 0, noSize, nullptr), AGENT_E_PROXY_AUTH);
    EXPECT_EQ(agent->put_ProxyUser(Text(L"ann"sv).get()), S_OK);
    EXPECT_EQ(agent->DownloadFrom(source.value, path.get(), 0, noSize, nullptr), AGENT_E_PROXY_AUTH)
        << "an empty user cleared the password too";
    EXPECT_EQ(agent->Release(), 0u);
}

}  // namespace
}  // namespace tamsel::hostile
