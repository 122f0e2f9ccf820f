// The COM identity of the agent: its two faces, the plain and the aggregated form, and their creator.
#pragma once

#include "agent/AgentObject.h"
#include "module/ComModule.h"

#include "include/NorvikTamselAgent.h"

namespace tamsel::module {

// The dispatch face (InvTamselAgent and IDispatch; the identity) and the operations face
// (InvTamselAgentOps3, whose first slots are InvTamselAgentOps2's and InvTamselAgentOps's, forwarding to
// the contained AgentObject). Counting and QueryInterface belong to the form that derives from it.
class AgentFaces : public InvTamselAgent, public InvTamselAgentOps3 {
public:
    AgentFaces() noexcept = default;
    virtual ~AgentFaces() = default;
    AgentFaces(const AgentFaces&) = delete;
    AgentFaces& operator=(const AgentFaces&) = delete;

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
    agent::AgentObject m_agent;
};

// The instance creator of the class table: the plain form without an outer object, else the
// aggregated one (whose factory has already made sure that riid is IUnknown).
HRESULT CreateAgentInstance(IUnknown* outer, REFIID riid, void** object) noexcept;

}  // namespace tamsel::module
