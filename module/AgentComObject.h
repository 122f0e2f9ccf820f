// The COM identity of the agent: its two faces, the plain and the aggregated form, and their creator.
#pragma once

#include "agent/AgentObject.h"
#include "base/Handle.h"
#include "module/ComModule.h"
#include "module/ConnectionPoint.h"
#include "module/ErrorInfo.h"

#include "include/NorvikTamselAgent.h"

#include <ocidl.h>

#include <string>

namespace tamsel::module {

// The dispatch face (InvTamselAgent2, InvTamselAgent and IDispatch; the identity), the operations face
// (InvTamselAgentOps3, whose first slots are InvTamselAgentOps2's and InvTamselAgentOps's), both over
// the contained AgentObject, and the automation plumbing: error information, class information and the
// events' connection point. Counting and QueryInterface belong to the form that derives from it. The
// automation members live in AutomationFace.cpp.
class AgentFaces : public InvTamselAgent2,
                   public InvTamselAgentOps3,
                   public ISupportErrorInfo,
                   public IProvideClassInfo2,
                   public IConnectionPointContainer {
public:
    AgentFaces() noexcept : m_events(*this) {}
    virtual ~AgentFaces() = default;
    AgentFaces(const AgentFaces&) = delete;
    AgentFaces& operator=(const AgentFaces&) = delete;

    // Every operation holds a reference to it for its length: a progress sink or a script's handler may
    // release the host's last reference while a download is still writing into the object.
    IUnknown* Identity() noexcept { return static_cast<InvTamselAgent*>(this); }
    // The interface table: the face that answers riid, or null. Takes no reference.
    void* FindFace(REFIID riid) noexcept;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) noexcept override;

    // InvTamselAgent2 (AutomationFace.cpp).
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

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) noexcept override;

    HRESULT STDMETHODCALLTYPE LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl,
                                             const char* serial, const char* language,
                                             const char* type) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                            const char* code, LONGLONG* fileSize) noexcept override;
    HRESULT STDMETHODCALLTYPE FetchToFile(const char* url, const char* path,
                                          ProgressSink* progress) noexcept override;
    HRESULT STDMETHODCALLTYPE ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                             LONG* remaining) noexcept override;
    HRESULT STDMETHODCALLTYPE GetLastHttpStatus(LONG* status) noexcept override;
    HRESULT STDMETHODCALLTYPE GetLastServiceStatus(LONG* status) noexcept override;
    HRESULT STDMETHODCALLTYPE FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress,
                                            ULONG flags, LONGLONG expectedSize) noexcept override;
    HRESULT STDMETHODCALLTYPE QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                              const char* code, LONGLONG* fileSize, char* sha256,
                                              ULONG sha256Size) noexcept override;
    HRESULT STDMETHODCALLTYPE FetchToFileVerified(const char* url, const wchar_t* path, ProgressSink* progress,
                                                  ULONG flags, LONGLONG expectedSize,
                                                  const char* sha256) noexcept override;

private:
    Outcome Lookup(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type, BSTR* target);
    Outcome Query(BSTR serviceUrl, BSTR code, BSTR* downloadUrl);
    Outcome Fetch(BSTR url, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256);
    Outcome Tell(BSTR serviceUrl, BSTR code, VARIANT_BOOL success, LONG* remaining);
    FailureFacts Facts(Operation operation) noexcept;

    agent::AgentObject m_agent;
    double m_lastFileSize = -1;
    std::wstring m_lastSha256;
    ComPointer<IDispatch> m_onProgress;
    ConnectionPoint m_events;
};

// The instance creator of the class table: the plain form without an outer object, else the
// aggregated one. Its factory has already checked object and made sure that an outer object asks for
// IUnknown.
HRESULT CreateAgentInstance(IUnknown* outer, REFIID riid, void** object) noexcept;

// Lets go of the type information the faces loaded: at module end.
void UnloadTypeInformation() noexcept;

}  // namespace tamsel::module
