// The face of the third interface generation, InvTamselAgentOps3: the second's, QueryDownloadEx and
// FetchToFileVerified.
#pragma once

#include "faces/Ops2Face.h"

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
        return this->m_agent.QueryDownloadEx(downloadUrl, downloadUrlSize, serviceUrl, code, fileSize, sha256,
                                             sha256Size);
    }
    HRESULT STDMETHODCALLTYPE FetchToFileVerified(const char* url, const wchar_t* path, ProgressSink* progress,
                                                  ULONG flags, LONGLONG expectedSize,
                                                  const char* sha256) noexcept override {
        const auto alive = this->Hold();
        return this->m_agent.FetchToFileVerified(url, path, progress, flags, expectedSize, sha256);
    }

protected:
    using Ops2Face<Interface>::Ops2Face;
    ~Ops3Face() = default;
};

}  // namespace tamsel::faces
