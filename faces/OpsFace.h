// The face of the first interface generation, InvTamselAgentOps: its six operations over the agent.
#pragma once

#include "agent/AgentObject.h"
#include "base/Handle.h"
#include "base/Implements.h"
#include "include/NorvikTamselAgent.h"

namespace tamsel::faces {

// Interface is InvTamselAgentOps or a later generation, which repeats these slots first: each
// generation's face derives from the previous one's with the newest interface, so that one vtable holds
// them all. IUnknown's members are the COM object's that composes the newest face.
template <typename Interface = InvTamselAgentOps>
class OpsFace : public Interface {
public:
    OpsFace(const OpsFace&) = delete;
    OpsFace& operator=(const OpsFace&) = delete;

    HRESULT STDMETHODCALLTYPE LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl,
                                             const char* serial, const char* language,
                                             const char* type) noexcept override {
        const auto alive = Hold();
        return m_agent.LookupRedirect(target, targetSize, lookupUrl, serial, language, type);
    }
    HRESULT STDMETHODCALLTYPE QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                            const char* code, LONGLONG* fileSize) noexcept override {
        const auto alive = Hold();
        return m_agent.QueryDownload(downloadUrl, downloadUrlSize, serviceUrl, code, fileSize);
    }
    HRESULT STDMETHODCALLTYPE FetchToFile(const char* url, const char* path, ProgressSink* progress) noexcept override {
        const auto alive = Hold();
        return m_agent.FetchToFile(url, path, progress);
    }
    HRESULT STDMETHODCALLTYPE ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                             LONG* remaining) noexcept override {
        const auto alive = Hold();
        return m_agent.ReportDownload(serviceUrl, code, success, remaining);
    }
    // The getters touch no session: nothing can release the object under them.
    HRESULT STDMETHODCALLTYPE GetLastHttpStatus(LONG* status) noexcept override {
        return m_agent.GetLastHttpStatus(status);
    }
    HRESULT STDMETHODCALLTYPE GetLastServiceStatus(LONG* status) noexcept override {
        return m_agent.GetLastServiceStatus(status);
    }

protected:
    explicit OpsFace(agent::AgentObject& agent) noexcept : m_agent(agent) {}
    ~OpsFace() = default;

    // Every operation holds the object for its length: a progress sink may release the host's last
    // reference while a download is still writing into the agent.
    ComPointer<Interface> Hold() noexcept { return ShareComPointer<Interface>(this); }

    agent::AgentObject& m_agent;
};

}  // namespace tamsel::faces
