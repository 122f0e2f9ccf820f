// The agent as the wire suites drive it: a core AgentObject behind the newest vtable face, asked with the
// interfaces' own arguments and answering their results, without the module around them.
#pragma once

#include "agent/AgentObject.h"
#include "faces/Ops4Face.h"

namespace tamsel::test {

class FacedAgent {
public:
    FacedAgent() = default;
    FacedAgent(const FacedAgent&) = delete;
    FacedAgent& operator=(const FacedAgent&) = delete;

    HRESULT LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl, const char* serial,
                           const char* language, const char* type) {
        return m_face.LookupRedirect(target, targetSize, lookupUrl, serial, language, type);
    }
    HRESULT QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl, const char* code,
                          LONGLONG* fileSize) {
        return m_face.QueryDownload(downloadUrl, downloadUrlSize, serviceUrl, code, fileSize);
    }
    HRESULT FetchToFile(const char* url, const char* path, ProgressSink* progress) {
        return m_face.FetchToFile(url, path, progress);
    }
    HRESULT ReportDownload(const char* serviceUrl, const char* code, LONG success, LONG* remaining) {
        return m_face.ReportDownload(serviceUrl, code, success, remaining);
    }
    HRESULT GetLastHttpStatus(LONG* status) { return m_face.GetLastHttpStatus(status); }
    HRESULT GetLastServiceStatus(LONG* status) { return m_face.GetLastServiceStatus(status); }
    HRESULT FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                          LONGLONG expectedSize) {
        return m_face.FetchToFileEx(url, path, progress, flags, expectedSize);
    }
    HRESULT QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl, const char* code,
                            LONGLONG* fileSize, char* sha256, ULONG sha256Size) {
        return m_face.QueryDownloadEx(downloadUrl, downloadUrlSize, serviceUrl, code, fileSize, sha256, sha256Size);
    }
    HRESULT FetchToFileVerified(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                                LONGLONG expectedSize, const char* sha256) {
        return m_face.FetchToFileVerified(url, path, progress, flags, expectedSize, sha256);
    }
    HRESULT QueryDownloadSources(char* sources, ULONG sourcesSize, const char* serviceUrl, const char* code,
                                 LONGLONG* fileSize, char* sha256, ULONG sha256Size) {
        return m_face.QueryDownloadSources(sources, sourcesSize, serviceUrl, code, fileSize, sha256, sha256Size);
    }
    HRESULT FetchToFileResilient(const char* sources, const wchar_t* path, ProgressSink* progress, ULONG flags,
                                 LONGLONG expectedSize, const char* sha256, const TAMSEL_DOWNLOAD_POLICY* policy,
                                 TAMSEL_DOWNLOAD_INFO* info) {
        return m_face.FetchToFileResilient(sources, path, progress, flags, expectedSize, sha256, policy, info);
    }
    HRESULT ReportDownloadEx(const char* serviceUrl, const char* code, LONG success, const TAMSEL_DOWNLOAD_INFO* info,
                             LONG* remaining) {
        return m_face.ReportDownloadEx(serviceUrl, code, success, info, remaining);
    }
    HRESULT SetProxyCredentials(const wchar_t* user, const wchar_t* password) {
        return m_face.SetProxyCredentials(user, password);
    }

private:
    // The face's IUnknown: nothing counts it, it lives as long as this object.
    class Face final : public faces::Ops4Face<> {
    public:
        explicit Face(agent::AgentObject& agent) noexcept : Ops4Face(agent) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) noexcept override {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
        ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
    };

    agent::AgentObject m_agent;
    Face m_face{m_agent};
};

}  // namespace tamsel::test
