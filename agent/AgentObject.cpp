// The agent's state, the prologue every network operation runs, and the status getters.
#include "agent/AgentObject.h"

#include "agent/Result.h"
#include "web/WebSession.h"

namespace tamsel::agent {
namespace {

bool IsEmpty(const char* text) noexcept {
    return text[0] == '\0';
}

}  // namespace

AgentObject::AgentObject() noexcept = default;

AgentObject::~AgentObject() = default;

// Replaces the session with a fresh one and keeps it only if its probe saw the internet.
// Returns AGENT_E_NO_SESSION when there is no usable session, after the status slots are reset.
HRESULT AgentObject::BeginNetworkOperation() noexcept {
    m_session.reset();
    m_session.reset(new (std::nothrow) web::WebSession);
    if (m_session && !m_session->ProbeConnectivity()) {
        m_session.reset();
    }
    m_lastHttpStatus = -1;
    m_lastServiceStatus = -1;
    return m_session ? S_OK : AGENT_E_NO_SESSION;
}

HRESULT AgentObject::LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl, const char* serial,
                                    const char* language, const char* type) noexcept {
    RETURN_IF_FAILED(BeginNetworkOperation());
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(lookupUrl) || IsEmpty(serial) || IsEmpty(language) || IsEmpty(type));
    (void)target;
    (void)targetSize;
    return E_NOTIMPL;
}

HRESULT AgentObject::QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                   const char* code, LONGLONG* fileSize) noexcept {
    const HRESULT begun = BeginNetworkOperation();
    *fileSize = 0;
    RETURN_IF_FAILED(begun);
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(serviceUrl) || IsEmpty(code));
    (void)downloadUrl;
    (void)downloadUrlSize;
    return E_NOTIMPL;
}

HRESULT AgentObject::FetchToFile(const char* url, const char* path, ProgressSink* progress) noexcept {
    RETURN_IF_FAILED(BeginNetworkOperation());
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(url) || IsEmpty(path));
    (void)progress;
    return E_NOTIMPL;
}

HRESULT AgentObject::ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                    LONG* remaining) noexcept {
    const HRESULT begun = BeginNetworkOperation();
    *remaining = -1;
    RETURN_IF_FAILED(begun);
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(serviceUrl));
    (void)code;
    (void)success;
    return E_NOTIMPL;
}

HRESULT AgentObject::GetLastHttpStatus(LONG* status) noexcept {
    RETURN_HR_IF(E_FAIL, m_lastHttpStatus == -1);
    *status = m_lastHttpStatus;
    return S_OK;
}

HRESULT AgentObject::GetLastServiceStatus(LONG* status) noexcept {
    RETURN_HR_IF(E_FAIL, m_lastServiceStatus == -1);
    *status = m_lastServiceStatus;
    return S_OK;
}

}  // namespace tamsel::agent
