// The automation face: InvTamselAgent2's members over the agent, its answers turned into BSTRs, VARIANTs and
// error sentences, and IDispatch over its type information.
#pragma once

#include "agent/AgentObject.h"
#include "automation/ConnectionPoint.h"
#include "automation/ErrorInfo.h"
#include "base/Handle.h"
#include "base/Implements.h"
#include "include/NorvikTamselAgent.h"

#include <string>

// Answering InvTamselAgent2 answers InvTamselAgent and IDispatch too.
template <>
struct tamsel::InterfaceBases<InvTamselAgent2> {
    using type = tamsel::InterfaceList<InvTamselAgent>;
};
template <>
struct tamsel::InterfaceBases<InvTamselAgent> {
    using type = tamsel::InterfaceList<IDispatch>;
};

namespace tamsel::automation {

// IUnknown's members are the COM object's that composes it. The progress of a download goes to the
// OnProgress handler and to the sinks of events, the connection point beside it in the same object. Its
// members answer as the later interfaces do: Download as FetchToFileEx, or, with a digest, as
// FetchToFileVerified.
class AutomationFace : public InvTamselAgent2 {
public:
    // A URL that a lookup or a query answers must be shorter than this: one that long is no URL a download
    // could use.
    static constexpr ULONG URL_LIMIT = 64 * 1024;

    AutomationFace(const AutomationFace&) = delete;
    AutomationFace& operator=(const AutomationFace&) = delete;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) noexcept override;

    HRESULT STDMETHODCALLTYPE LookupRedirect(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type,
                                             BSTR* target) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryDownload(BSTR serviceUrl, BSTR code, BSTR* downloadUrl) noexcept override;
    HRESULT STDMETHODCALLTYPE Download(BSTR url, BSTR path, LONG flags, VARIANT expectedSize,
                                       BSTR sha256) noexcept override;
    HRESULT STDMETHODCALLTYPE ReportDownload(BSTR serviceUrl, BSTR code, VARIANT_BOOL success,
                                             LONG* remaining) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastFileSize(double* size) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastSha256(BSTR* digest) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastHttpStatus(LONG* status) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastServiceStatus(LONG* status) noexcept override;
    HRESULT STDMETHODCALLTYPE get_OnProgress(IDispatch** handler) noexcept override;
    HRESULT STDMETHODCALLTYPE put_OnProgress(IDispatch* handler) noexcept override;
    HRESULT STDMETHODCALLTYPE putref_OnProgress(IDispatch* handler) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Version(BSTR* version) noexcept override;

protected:
    AutomationFace(agent::AgentObject& agent, ConnectionPoint& events) noexcept
        : m_agent(agent), m_events(events) {}
    ~AutomationFace() = default;

private:
    // Every member holds the object for its length: a script's handler may release the last reference
    // while a download is still writing into the agent.
    ComPointer<InvTamselAgent2> Hold() noexcept { return ShareComPointer<InvTamselAgent2>(this); }

    Outcome Lookup(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type, BSTR* target);
    Outcome Query(BSTR serviceUrl, BSTR code, BSTR* downloadUrl);
    Outcome Fetch(BSTR url, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256);
    Outcome Report(BSTR serviceUrl, BSTR code, VARIANT_BOOL success, LONG* remaining);

    agent::AgentObject& m_agent;
    ConnectionPoint& m_events;
    double m_lastFileSize = -1;
    std::wstring m_lastSha256;
    ComPointer<IDispatch> m_onProgress;
};

}  // namespace tamsel::automation
