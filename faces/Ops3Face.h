// The face of the third interface generation, InvTamselAgentOps3: the second's, QueryDownloadEx and
// FetchToFileVerified.
#pragma once

#include "faces/Ops2Face.h"
#include "faces/Ops3Result.h"

// Answering InvTamselAgentOps3 answers the generations it extends too.
template <>
struct tamsel::InterfaceBases<InvTamselAgentOps3> {
    using type = tamsel::InterfaceList<InvTamselAgentOps2>;
};

namespace tamsel::faces {

template <typename Interface = InvTamselAgentOps3>
class Ops3Face : public Ops2Face<Interface> {
public:
    HRESULT STDMETHODCALLTYPE QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                              const char* code, LONGLONG* fileSize, char* sha256,
                                              ULONG sha256Size) noexcept override {
        const auto alive = this->Hold();
        const agent::QueryAnswer answer = this->QueryChecked(serviceUrl, code, fileSize);
        return ComBoundary(
            [&] { return QueryExResult(answer, downloadUrl, downloadUrlSize, fileSize, sha256, sha256Size); });
    }
    HRESULT STDMETHODCALLTYPE FetchToFileVerified(const char* url, const wchar_t* path, ProgressSink* progress,
                                                  ULONG flags, LONGLONG expectedSize,
                                                  const char* sha256) noexcept override {
        const auto alive = this->Hold();
        return ComBoundary([&] {
            HostProgress reported(progress, HostProgress::Reports::PERCENT_AND_BYTES);
            const agent::DownloadOutcome outcome =
                this->m_agent.Download(VerifiedRequest(url, path, flags, expectedSize, sha256), &reported);
            return Ops3Result(outcome, outcome.localError);
        });
    }

protected:
    using Ops2Face<Interface>::Ops2Face;
    ~Ops3Face() = default;

    // The query of this generation and the later ones: the digest named is checked, and the size output is
    // cleared first unless another call holds the object.
    agent::QueryAnswer QueryChecked(const char* serviceUrl, const char* code, LONGLONG* fileSize) {
        agent::QueryAnswer answer = this->m_agent.QueryDownload(serviceUrl, code, agent::NamedDigest::Checked);
        if (answer.reason != agent::Reason::Busy) *fileSize = 0;
        return answer;
    }
};

}  // namespace tamsel::faces
