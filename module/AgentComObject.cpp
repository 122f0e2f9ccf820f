// The COM identity of the agent: faces, interface table, plain and aggregated forms, IDispatch.
#include "module/AgentComObject.h"

#include "base/Result.h"
#include "module/DispatchTypeInfo.h"

#include <atomic>
#include <new>

namespace tamsel::module {
namespace {

DispatchTypeInfo agentTypeInfo(IID_InvTamselAgent2, LIBID_NORVIKTAMSELAGENTLib, 1, 2);
DispatchTypeInfo classTypeInfo(CLSID_nvTamselAgent, LIBID_NORVIKTAMSELAGENTLib, 1, 2);

// Scripts assign null (JScript) or Empty to drop a handler; the type information would refuse to turn
// either into an IDispatch*.
bool ClearsHandler(DISPID member, WORD flags, const DISPPARAMS* parameters) noexcept {
    if (member != DISPID_TAMSEL_ONPROGRESS || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0 ||
        parameters == nullptr || parameters->cArgs != 1) {
        return false;
    }
    const VARTYPE type = parameters->rgvarg[0].vt;
    return type == VT_NULL || type == VT_EMPTY;
}

// QueryInterface's answer: face, counted through its own AddRef (the form's, or the outer object's).
HRESULT AnswerFace(void* face, void** object) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = face;
    RETURN_HR_IF(E_NOINTERFACE, face == nullptr);
    static_cast<IUnknown*>(face)->AddRef();
    return S_OK;
}

// A form with a count of its own. The class is registered "Apartment", but a host may still hand the
// object to another thread, and the agent promises such calls AGENT_E_BUSY: every call holds a
// reference for its length, so the count moves from several threads at once and must be interlocked.
// The module reference is the first base so that it goes last, after the agent and its session are
// gone, and the module is never released while this code still runs.
template <typename Form, typename Face>
class Counted : private ModuleReference, public Face {
public:
    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return m_count.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG count = m_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) {
            delete static_cast<Form*>(this);
        }
        return count;
    }

private:
    std::atomic<ULONG> m_count{0};
};

// The plain form: every face answers from its own table.
class PlainAgent final : public Counted<PlainAgent, AgentFaces> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return AnswerFace(::IsEqualIID(riid, IID_IUnknown) ? Identity() : FindFace(riid), object);
    }
};

// The faces of an aggregated agent: identity and counting belong to the outer object.
class ContainedAgent final : public AgentFaces {
public:
    explicit ContainedAgent(IUnknown* outer) noexcept : m_outer(outer) {}

    // Only the outer object knows which interfaces the aggregate shows; asking the contained table
    // behind its back would hand out faces that the outer object's own QueryInterface denies.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return m_outer->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return m_outer->Release(); }

private:
    IUnknown* m_outer;  // not counted: the outer object owns us
};

// The inner unknown of the aggregated form, which the outer object holds.
class AggregatedAgent final : public Counted<AggregatedAgent, IUnknown> {
public:
    explicit AggregatedAgent(IUnknown* outer) noexcept : m_contained(outer) {}

    // Its own unknown counts itself; the faces count through the outer object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return AnswerFace(::IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : m_contained.FindFace(riid),
                          object);
    }

private:
    ContainedAgent m_contained;
};

template <typename Form, typename... Arguments>
HRESULT CreateForm(REFIID riid, void** object, Arguments... arguments) noexcept {
    auto* form = new (std::nothrow) Form(arguments...);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, form);
    const HRESULT hr = form->QueryInterface(riid, object);
    if (FAILED(hr)) {
        delete form;
    }
    return hr;
}

}  // namespace

HRESULT CreateAgentInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
    return outer == nullptr ? CreateForm<PlainAgent>(riid, object) : CreateForm<AggregatedAgent>(riid, object, outer);
}

void UnloadTypeInformation() noexcept {
    agentTypeInfo.Unload();
    classTypeInfo.Unload();
}

void* AgentFaces::FindFace(REFIID riid) noexcept {
    if (::IsEqualIID(riid, IID_InvTamselAgent) || ::IsEqualIID(riid, IID_IDispatch) ||
        ::IsEqualIID(riid, IID_InvTamselAgent2)) {
        return static_cast<InvTamselAgent2*>(this);
    }
    if (::IsEqualIID(riid, IID_InvTamselAgentOps) || ::IsEqualIID(riid, IID_InvTamselAgentOps2) ||
        ::IsEqualIID(riid, IID_InvTamselAgentOps3)) {
        return static_cast<InvTamselAgentOps3*>(this);
    }
    if (::IsEqualIID(riid, IID_ISupportErrorInfo)) {
        return static_cast<ISupportErrorInfo*>(this);
    }
    if (::IsEqualIID(riid, IID_IProvideClassInfo) || ::IsEqualIID(riid, IID_IProvideClassInfo2)) {
        return static_cast<IProvideClassInfo2*>(this);
    }
    if (::IsEqualIID(riid, IID_IConnectionPointContainer)) {
        return static_cast<IConnectionPointContainer*>(this);
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE AgentFaces::GetTypeInfoCount(UINT* count) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AgentFaces::GetTypeInfo(UINT, LCID locale, ITypeInfo** info) noexcept {
    return agentTypeInfo.GetTypeInfo(locale, info);
}

HRESULT STDMETHODCALLTYPE AgentFaces::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                                    DISPID* ids) noexcept {
    return agentTypeInfo.GetIDsOfNames(names, count, locale, ids);
}

HRESULT STDMETHODCALLTYPE AgentFaces::Invoke(DISPID member, REFIID, LCID locale, WORD flags,
                                             DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                             UINT* argumentError) noexcept {
    if (ClearsHandler(member, flags, parameters)) {
        m_onProgress.reset();
        return S_OK;
    }
    return agentTypeInfo.Invoke(static_cast<InvTamselAgent2*>(this), member, locale, flags, parameters, result,
                                exception, argumentError);
}

HRESULT STDMETHODCALLTYPE AgentFaces::LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl,
                                                     const char* serial, const char* language,
                                                     const char* type) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.LookupRedirect(target, targetSize, lookupUrl, serial, language, type);
}

HRESULT STDMETHODCALLTYPE AgentFaces::QueryDownload(char* downloadUrl, ULONG downloadUrlSize,
                                                    const char* serviceUrl, const char* code,
                                                    LONGLONG* fileSize) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.QueryDownload(downloadUrl, downloadUrlSize, serviceUrl, code, fileSize);
}

HRESULT STDMETHODCALLTYPE AgentFaces::FetchToFile(const char* url, const char* path,
                                                  ProgressSink* progress) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.FetchToFile(url, path, progress);
}

HRESULT STDMETHODCALLTYPE AgentFaces::ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                                     LONG* remaining) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.ReportDownload(serviceUrl, code, success, remaining);
}

HRESULT STDMETHODCALLTYPE AgentFaces::FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress,
                                                    ULONG flags, LONGLONG expectedSize) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.FetchToFileEx(url, path, progress, flags, expectedSize);
}

HRESULT STDMETHODCALLTYPE AgentFaces::QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize,
                                                      const char* serviceUrl, const char* code, LONGLONG* fileSize,
                                                      char* sha256, ULONG sha256Size) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.QueryDownloadEx(downloadUrl, downloadUrlSize, serviceUrl, code, fileSize, sha256, sha256Size);
}

HRESULT STDMETHODCALLTYPE AgentFaces::FetchToFileVerified(const char* url, const wchar_t* path,
                                                          ProgressSink* progress, ULONG flags,
                                                          LONGLONG expectedSize, const char* sha256) noexcept {
    const auto alive = ShareComPointer(Identity());
    return m_agent.FetchToFileVerified(url, path, progress, flags, expectedSize, sha256);
}

HRESULT STDMETHODCALLTYPE AgentFaces::GetLastHttpStatus(LONG* status) noexcept {
    return m_agent.GetLastHttpStatus(status);
}

HRESULT STDMETHODCALLTYPE AgentFaces::GetLastServiceStatus(LONG* status) noexcept {
    return m_agent.GetLastServiceStatus(status);
}

HRESULT STDMETHODCALLTYPE AgentFaces::GetClassInfo(ITypeInfo** info) noexcept {
    return classTypeInfo.GetTypeInfo(LOCALE_NEUTRAL, info);
}

}  // namespace tamsel::module
