// The second interface generation's answers: FetchToFileEx's results over the first interface's, and what
// it asks of the agent.
#include "faces/Ops2Result.h"

#include <wininet.h>

namespace tamsel::faces {
namespace {

constexpr ULONG KNOWN_FETCH_FLAGS = TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME | TAMSEL_FETCH_STRICT_TLS;

}  // namespace

HRESULT Ops2Result(const agent::Answer& answer) noexcept {
    using agent::Reason;
    // A proxy that asked for credentials it did not get (or refused those given), at the probe or at any
    // request, where the first interface answers AGENT_E_NO_SESSION or AGENT_E_HTTP_STATUS.
    const bool proxyRefused = (answer.reason == Reason::NoInternet || answer.reason == Reason::HttpStatus) &&
                              answer.httpStatus == HTTP_STATUS_PROXY_AUTH_REQ;
    if (proxyRefused) return AGENT_E_PROXY_AUTH;
    switch (answer.reason) {
        case Reason::Cancelled: return E_ABORT;
        case Reason::SizeMismatch: return AGENT_E_SIZE_MISMATCH;
        case Reason::Certificate: return AGENT_E_CERTIFICATE;
        case Reason::InsecureRedirect: return AGENT_E_INSECURE_REDIRECT;
        default: return OpsResult(answer);
    }
}

agent::DownloadRequest FetchExRequest(const char* url, const wchar_t* path, ULONG flags, LONGLONG expectedSize) {
    agent::DownloadRequest request;
    request.url = url;
    request.path = path != nullptr ? path : L"";
    request.safely = (flags & TAMSEL_FETCH_REPLACE_SAFELY) != 0;
    request.resume = (flags & TAMSEL_FETCH_RESUME) != 0;
    request.strictTls = (flags & TAMSEL_FETCH_STRICT_TLS) != 0;
    request.expectedSize = expectedSize;
    request.refused = (flags & ~KNOWN_FETCH_FLAGS) != 0;
    return request;
}

}  // namespace tamsel::faces
