// The automation face: InvTamselAgent2's and InvTamselAgent3's members over the agent, its answers turned into
// BSTRs, VARIANTs and error sentences, and IDispatch over its type information.
#pragma once

#include "agent/AgentObject.h"
#include "automation/ConnectionPoint.h"
#include "automation/ErrorInfo.h"
#include "base/Handle.h"
#include "base/Implements.h"
#include "include/NorvikTamselAgent.h"
#include "web/ProxyCredentials.h"

#include <cstdint>
#include <string>
#include <vector>

// Answering InvTamselAgent3 answers InvTamselAgent2, InvTamselAgent and IDispatch too.
template <>
struct tamsel::InterfaceBases<InvTamselAgent3> {
    using type = tamsel::InterfaceList<InvTamselAgent2>;
};
template <>
struct tamsel::InterfaceBases<InvTamselAgent2> {
    using type = tamsel::InterfaceList<InvTamselAgent>;
};
template <>
struct tamsel::InterfaceBases<InvTamselAgent> {
    using type = tamsel::InterfaceList<IDispatch>;
};

namespace tamsel::automation {

class ScriptProgress;

// One of DownloadFrom's policy properties: the field it sets, its bounds and its default (0 puts the
// default back where the policy has one).
struct PolicyField {
    const wchar_t* name;
    uint32_t agent::DownloadPolicy::*field;
    uint32_t most;
    uint32_t fallback;  // what 0 stands for
};

// IUnknown's members are the COM object's that composes it. The progress of a download goes to the
// OnProgress handler and to the sinks of events, the connection point beside it in the same object. Its
// members answer as the later interfaces do: Download as FetchToFileEx, or, with a digest, as
// FetchToFileVerified; DownloadFrom as FetchToFileResilient under the policy its properties hold.
class AutomationFace : public InvTamselAgent3 {
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

    HRESULT STDMETHODCALLTYPE DownloadFrom(VARIANT sources, BSTR path, LONG flags, VARIANT expectedSize,
                                           BSTR sha256) noexcept override;
    HRESULT STDMETHODCALLTYPE get_MaxAttempts(LONG* attempts) noexcept override;
    HRESULT STDMETHODCALLTYPE put_MaxAttempts(LONG attempts) noexcept override;
    HRESULT STDMETHODCALLTYPE get_MaxRetryWait(LONG* waitMs) noexcept override;
    HRESULT STDMETHODCALLTYPE put_MaxRetryWait(LONG waitMs) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Deadline(LONG* deadlineMs) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Deadline(LONG deadlineMs) noexcept override;
    HRESULT STDMETHODCALLTYPE get_MaxBytesPerSecond(LONG* rate) noexcept override;
    HRESULT STDMETHODCALLTYPE put_MaxBytesPerSecond(LONG rate) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Connections(LONG* connections) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Connections(LONG connections) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastSources(VARIANT* sources) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastAttempts(LONG* attempts) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastSourceIndex(LONG* sourceIndex) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastBytesResumed(double* bytes) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastAttemptResult(LONG* result) noexcept override;
    HRESULT STDMETHODCALLTYPE get_LastRetryAfter(double* waitMs) noexcept override;
    HRESULT STDMETHODCALLTYPE ReportDownloadEx(BSTR serviceUrl, BSTR code, VARIANT_BOOL success,
                                               LONG* remaining) noexcept override;
    HRESULT STDMETHODCALLTYPE get_ProxyUser(BSTR* user) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ProxyUser(BSTR user) noexcept override;
    HRESULT STDMETHODCALLTYPE put_ProxyPassword(BSTR password) noexcept override;

protected:
    AutomationFace(agent::AgentObject& agent, ConnectionPoint& events) noexcept
        : m_agent(agent), m_events(events) {}
    ~AutomationFace() = default;

private:
    // Every member holds the object for its length: a script's handler may release the last reference
    // while a download is still writing into the agent.
    ComPointer<InvTamselAgent3> Hold() noexcept { return ShareComPointer<InvTamselAgent3>(this); }

    Outcome Lookup(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type, BSTR* target);
    Outcome Query(BSTR serviceUrl, BSTR code, BSTR* downloadUrl);
    Outcome Fetch(BSTR url, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256);
    Outcome FetchFrom(const VARIANT& sources, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256);
    Outcome Finished(ScriptProgress& progress, HRESULT hr, const agent::DownloadOutcome& outcome,
                     LONGLONG expectedSize, uint32_t retryAfterMs = 0);
    Outcome Report(BSTR serviceUrl, BSTR code, VARIANT_BOOL success, LONG* remaining,
                   const agent::ReportedDownload* reported);
    Outcome SetPolicy(LONG value, const PolicyField& field);
    Outcome SetProxy(web::SecretText<wchar_t> user, web::SecretText<wchar_t> password);

    agent::AgentObject& m_agent;
    ConnectionPoint& m_events;
    double m_lastFileSize = -1;
    std::wstring m_lastSha256;
    std::vector<std::string> m_lastSources;  // the last query's download URL and mirrors
    ComPointer<IDispatch> m_onProgress;
    agent::DownloadPolicy m_policy;  // DownloadFrom's, as its properties set it
    // What the last DownloadFrom that ran did, and its result, which ReportDownloadEx reports.
    TAMSEL_DOWNLOAD_INFO m_lastInfo{};
    HRESULT m_lastResult = S_OK;
    // The proxy's credentials as the properties set them, in either order: the agent holds them once the
    // user is set.
    web::SecretText<wchar_t> m_proxyUser;
    web::SecretText<wchar_t> m_proxyPassword;
};

}  // namespace tamsel::automation
