// The face of the second interface generation, InvTamselAgentOps2: the first's, and FetchToFileEx.
#pragma once

#include "faces/Ops2Result.h"
#include "faces/OpsFace.h"

// Answering InvTamselAgentOps2 answers the generation it extends too.
template <>
struct tamsel::InterfaceBases<InvTamselAgentOps2> {
    using type = tamsel::InterfaceList<InvTamselAgentOps>;
};

namespace tamsel::faces {

template <typename Interface = InvTamselAgentOps2>
class Ops2Face : public OpsFace<Interface> {
public:
    HRESULT STDMETHODCALLTYPE FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress,
                                            ULONG flags, LONGLONG expectedSize) noexcept override {
        const auto alive = this->Hold();
        return ComBoundary([&] {
            HostProgress reported(progress, HostProgress::Reports::PERCENT_AND_BYTES);
            return Ops2Result(this->m_agent.Download(FetchExRequest(url, path, flags, expectedSize), &reported));
        });
    }

protected:
    using OpsFace<Interface>::OpsFace;
    ~Ops2Face() = default;
};

}  // namespace tamsel::faces
