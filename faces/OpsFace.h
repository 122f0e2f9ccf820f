// The face of the first interface generation, InvTamselAgentOps: its six operations over the agent, their
// answers put into the caller's buffers and outputs.
#pragma once

#include "agent/AgentObject.h"
#include "base/Handle.h"
#include "base/Implements.h"
#include "base/Result.h"
#include "faces/CallerBuffer.h"
#include "faces/HostProgress.h"
#include "faces/OpsResult.h"
#include "include/NorvikTamselAgent.h"

namespace tamsel::faces {

// Interface is InvTamselAgentOps or a later generation, which repeats these slots first: each
// generation's face derives from the previous one's with the newest interface, so that one vtable holds
// them all. IUnknown's members are the COM object's that composes the newest face. A network operation
// refused as busy writes no output.
template <typename Interface = InvTamselAgentOps>
class OpsFace : public Interface {
public:
    OpsFace(const OpsFace&) = delete;
    OpsFace& operator=(const OpsFace&) = delete;

    HRESULT STDMETHODCALLTYPE LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl,
                                             const char* serial, const char* language,
                                             const char* type) noexcept override {
        const auto alive = Hold();
        const agent::LookupAnswer answer = m_agent.LookupRedirect(lookupUrl, serial, language, type);
        RETURN_IF_FAILED(OpsResult(answer));
        return CopyToCallerBuffer(answer.target, target, targetSize);
    }
    HRESULT STDMETHODCALLTYPE QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                            const char* code, LONGLONG* fileSize) noexcept override {
        const auto alive = Hold();
        const agent::QueryAnswer answer = m_agent.QueryDownload(serviceUrl, code, agent::NamedDigest::Ignored);
        if (answer.reason != agent::Reason::Busy) *fileSize = 0;
        RETURN_IF_FAILED(OpsResult(answer));
        RETURN_IF_FAILED(CopyToCallerBuffer(answer.url, downloadUrl, downloadUrlSize));
        *fileSize = answer.size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FetchToFile(const char* url, const char* path, ProgressSink* progress) noexcept override {
        const auto alive = Hold();
        return ComBoundary([&] {
            HostProgress reported(progress, HostProgress::Reports::PERCENT);
            return FetchResult(m_agent, m_agent.Download(FetchRequest(url, path), &reported));
        });
    }
    HRESULT STDMETHODCALLTYPE ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                             LONG* remaining) noexcept override {
        const auto alive = Hold();
        const agent::ReportAnswer answer = m_agent.ReportDownload(serviceUrl, code, success != 0);
        if (answer.reason != agent::Reason::Busy) {
            *remaining = answer.reason == agent::Reason::Done ? answer.remaining : -1;
        }
        return OpsResult(answer);
    }
    // The getters touch no session: nothing can release the object under them.
    HRESULT STDMETHODCALLTYPE GetLastHttpStatus(LONG* status) noexcept override {
        return StatusResult(m_agent.LastHttpStatus(), status);
    }
    HRESULT STDMETHODCALLTYPE GetLastServiceStatus(LONG* status) noexcept override {
        return StatusResult(m_agent.LastServiceStatus(), status);
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
