// The first interface generation's answers: InvTamselAgentOps's result for each way an operation of the
// agent ends, and what its FetchToFile asks of the agent.
#include "faces/OpsResult.h"

namespace tamsel::faces {

static_assert(AGENT_E_BUSY == HRESULT_FROM_WIN32(ERROR_BUSY), "the busy code is the platform's own");

HRESULT OpsResult(const agent::Answer& answer) noexcept {
    using agent::Reason;
    switch (answer.reason) {
        case Reason::Done: return S_OK;
        case Reason::Cancelled: return S_OK;  // the file keeps what arrived: a download the host ended
        case Reason::Busy: return AGENT_E_BUSY;
        case Reason::Refused: return E_INVALIDARG;
        case Reason::NotFound: return E_INVALIDARG;
        case Reason::NoInternet: return AGENT_E_NO_SESSION;
        case Reason::HttpStatus: return AGENT_E_HTTP_STATUS;
        case Reason::Certificate: return AGENT_E_HTTP_STATUS;  // see FetchResult
        case Reason::ServiceStatus: return AGENT_E_SERVICE_STATUS;
        case Reason::OutOfMemory: return E_OUTOFMEMORY;
        case Reason::Unexpected: return E_UNEXPECTED;
        // Every failure of the file or the transfer.
        case Reason::Broken:
        case Reason::SizeMismatch:
        case Reason::DigestMismatch:
        case Reason::InsecureRedirect:
        case Reason::LocalFile:
        case Reason::RetryLater: return E_FAIL;  // only the fourth interface's download ends so
    }
    return E_UNEXPECTED;
}

agent::DownloadRequest FetchRequest(const char* url, const char* path) {
    agent::DownloadRequest request;
    request.route = agent::DownloadRequest::Route::LookFirst;
    request.url = url;
    request.path = path != nullptr ? WidenPath(path) : std::wstring();
    request.pathAsGiven = true;
    return request;
}

HRESULT FetchResult(agent::AgentObject& agent, const agent::DownloadOutcome& outcome) noexcept {
    if (outcome.reason == agent::Reason::Certificate) agent.KeepHttpStatus(0);
    return OpsResult(outcome);
}

HRESULT StatusResult(int32_t slot, LONG* status) noexcept {
    if (slot == -1) return E_FAIL;
    *status = slot;
    return S_OK;
}

std::wstring WidenPath(const char* path) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

}  // namespace tamsel::faces
