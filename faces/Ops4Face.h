// The face of the fourth interface generation, InvTamselAgentOps4: the third's, QueryDownloadSources,
// FetchToFileResilient, ReportDownloadEx and SetProxyCredentials.
#pragma once

#include "faces/Ops3Face.h"
#include "faces/Ops4Result.h"

#include <cstring>

// Answering InvTamselAgentOps4 answers the generations it extends too.
template <>
struct tamsel::InterfaceBases<InvTamselAgentOps4> {
    using type = tamsel::InterfaceList<InvTamselAgentOps3>;
};

namespace tamsel::faces {

template <typename Interface = InvTamselAgentOps4>
class Ops4Face : public Ops3Face<Interface> {
public:
    HRESULT STDMETHODCALLTYPE QueryDownloadSources(char* sources, ULONG sourcesSize, const char* serviceUrl,
                                                   const char* code, LONGLONG* fileSize, char* sha256,
                                                   ULONG sha256Size) noexcept override {
        const auto alive = this->Hold();
        const agent::QueryAnswer answer = this->QueryChecked(serviceUrl, code, fileSize);
        return ComBoundary(
            [&] { return QuerySourcesResult(answer, sources, sourcesSize, fileSize, sha256, sha256Size); });
    }
    HRESULT STDMETHODCALLTYPE FetchToFileResilient(const char* sources, const wchar_t* path, ProgressSink* progress,
                                                   ULONG flags, LONGLONG expectedSize, const char* sha256,
                                                   const TAMSEL_DOWNLOAD_POLICY* policy,
                                                   TAMSEL_DOWNLOAD_INFO* info) noexcept override {
        const auto alive = this->Hold();
        return ComBoundary([&] {
            HostProgress reported(progress, HostProgress::Reports::PERCENT_AND_BYTES);
            agent::ResilientRequest request = ResilientRequestOf(sources, path, flags, expectedSize, sha256, policy);
            if (!IsKnownInfo(info)) request.download.refused = true;
            const agent::ResilientOutcome outcome = this->m_agent.DownloadResilient(request, &reported);
            const HRESULT result = Ops4Result(outcome, outcome.localError);
            if (outcome.reason == agent::Reason::Busy) return result;
            if (IsKnownInfo(info)) FillInfo(outcome.info, info);
            Remember(outcome.info, result);
            return result;
        });
    }
    HRESULT STDMETHODCALLTYPE ReportDownloadEx(const char* serviceUrl, const char* code, LONG success,
                                               const TAMSEL_DOWNLOAD_INFO* info, LONG* remaining) noexcept override {
        if (info == nullptr) return this->ReportDownload(serviceUrl, code, success, remaining);
        if (!IsKnownInfo(info)) return E_INVALIDARG;
        const auto alive = this->Hold();
        const agent::ReportAnswer answer =
            this->m_agent.ReportDownload(serviceUrl, code, success != 0, ReportedOf(*info, ResultFor(*info)));
        if (answer.reason != agent::Reason::Busy) {
            *remaining = answer.reason == agent::Reason::Done ? answer.remaining : -1;
        }
        return Ops4Result(answer);
    }
    HRESULT STDMETHODCALLTYPE SetProxyCredentials(const wchar_t* user, const wchar_t* password) noexcept override {
        return Ops4Result(this->m_agent.SetProxyCredentials(user, password));
    }

protected:
    using Ops3Face<Interface>::Ops3Face;
    ~Ops4Face() = default;

private:
    // The report's "result" is the download call's own: the one this object answered for the info it
    // filled last, or else the info's last attempt's.
    void Remember(const agent::AttemptInfo& done, HRESULT result) noexcept {
        m_lastInfo.cbSize = sizeof(m_lastInfo);
        FillInfo(done, &m_lastInfo);
        m_lastResult = result;
    }
    HRESULT ResultFor(const TAMSEL_DOWNLOAD_INFO& info) const noexcept {
        return std::memcmp(&info, &m_lastInfo, sizeof(info)) == 0 ? m_lastResult : info.lastAttemptResult;
    }

    TAMSEL_DOWNLOAD_INFO m_lastInfo{};
    HRESULT m_lastResult = S_OK;
};

}  // namespace tamsel::faces
