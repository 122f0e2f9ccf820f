// The agent's state, the prologue every network operation runs, its four operations and the getters.
#include "agent/AgentObject.h"

#include "agent/CallerBuffer.h"
#include "agent/Decimal.h"
#include "agent/FileWriter.h"
#include "base/Result.h"
#include "markup/ReplyField.h"
#include "web/FixedUrls.h"
#include "web/Redirect.h"
#include "web/WebSession.h"

namespace tamsel::agent {
namespace {

bool IsEmpty(const char* text) noexcept {
    return text[0] == '\0';
}

// Text that goes into a request line or a form part as it is: a control character there (CR and LF
// above all) would add header lines, form fields or a whole second request.
bool HasControlCharacter(const char* text) noexcept {
    for (; *text != '\0'; ++text) {
        const auto c = static_cast<unsigned char>(*text);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

// Claims the agent for one network operation for as long as it lives; false when another one holds it.
class NetworkOperation {
public:
    explicit NetworkOperation(std::atomic<bool>& busy) noexcept
        : m_busy(busy), m_claimed(!busy.exchange(true, std::memory_order_acquire)) {}
    ~NetworkOperation() {
        if (m_claimed) m_busy.store(false, std::memory_order_release);
    }
    NetworkOperation(const NetworkOperation&) = delete;
    NetworkOperation& operator=(const NetworkOperation&) = delete;
    explicit operator bool() const noexcept { return m_claimed; }

private:
    std::atomic<bool>& m_busy;
    bool m_claimed;
};

static_assert(AGENT_E_BUSY == HRESULT_FROM_WIN32(ERROR_BUSY), "the busy code is the platform's own");

// The downloads an operation may still make: total allowed minus done, kept within 32 bits.
LONG Remaining(int32_t total, int32_t done) noexcept {
    const int64_t remaining = int64_t(total) - int64_t(done);
    if (remaining > INT32_MAX) return INT32_MAX;
    if (remaining < INT32_MIN) return INT32_MIN;
    return static_cast<LONG>(remaining);
}

}  // namespace

AgentObject::AgentObject() noexcept = default;

AgentObject::~AgentObject() = default;

// Replaces the session with a fresh one and keeps it only if its probe saw the internet; resets the
// status slots. AGENT_E_NO_SESSION when there is no usable session.
HRESULT AgentObject::BeginNetworkOperation() noexcept {
    m_session.reset();
    const HRESULT built = ComBoundary([&] {
        m_session = std::make_unique<web::WebSession>();
        return S_OK;
    });
    if (SUCCEEDED(built) && !m_session->ProbeConnectivity()) {
        m_session.reset();
    }
    m_lastHttpStatus = -1;
    m_lastServiceStatus = -1;
    return m_session ? S_OK : AGENT_E_NO_SESSION;
}

// A status other than 200 is kept for GetLastHttpStatus.
HRESULT AgentObject::CheckHttpStatus(int32_t status) noexcept {
    if (status == 200) {
        return S_OK;
    }
    m_lastHttpStatus = status;
    return AGENT_E_HTTP_STATUS;
}

// The reply's StatusCode, kept for GetLastServiceStatus unless it is one of the accepted values.
HRESULT AgentObject::CheckServiceStatus(const web::WebReply& reply, bool acceptTwo) {
    const int32_t serviceStatus = ReadDecimal32(markup::GetReplyField(reply.body, "StatusCode"));
    if (serviceStatus == 1 || (acceptTwo && serviceStatus == 2)) {
        return S_OK;
    }
    m_lastServiceStatus = serviceStatus;
    return AGENT_E_SERVICE_STATUS;
}

HRESULT AgentObject::LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl, const char* serial,
                                    const char* language, const char* type) noexcept {
    const NetworkOperation operation(m_busy);
    RETURN_HR_IF(AGENT_E_BUSY, !operation);
    RETURN_HR_IF(E_INVALIDARG,
                 HasControlCharacter(serial) || HasControlCharacter(language) || HasControlCharacter(type));
    RETURN_IF_FAILED(BeginNetworkOperation());
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(lookupUrl) || IsEmpty(serial) || IsEmpty(language) || IsEmpty(type));
    return ComBoundary([&] {
        // Plain concatenation: nothing is escaped, and a lookup URL with a query gets a second "?".
        const std::string query =
            std::string(lookupUrl) + "?SN=" + serial + "&LN=" + language + "&TYPE=" + type;
        const std::string location = web::QueryUrlHeader(query.c_str(), "Location");
        RETURN_HR_IF(E_INVALIDARG, location.empty() || location == HomePageUrl);
        return CopyToCallerBuffer(location, target, targetSize);
    });
}

HRESULT AgentObject::QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                   const char* code, LONGLONG* fileSize) noexcept {
    const NetworkOperation operation(m_busy);
    RETURN_HR_IF(AGENT_E_BUSY, !operation);
    *fileSize = 0;
    RETURN_HR_IF(E_INVALIDARG, HasControlCharacter(code));
    RETURN_IF_FAILED(BeginNetworkOperation());
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(serviceUrl) || IsEmpty(code));
    return ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !m_session->SetUrl(serviceUrl));
        m_session->AddField("ActivateCode", code);
        m_session->AddField("act", "1");
        const web::WebReply reply = m_session->Post(web::BodyEncoding::MULTIPART_FORM_DATA);
        RETURN_IF_FAILED(CheckHttpStatus(reply.status));
        RETURN_IF_FAILED(CheckServiceStatus(reply, false));
        RETURN_IF_FAILED(CopyToCallerBuffer(markup::GetReplyField(reply.body, "downloadURL"), downloadUrl,
                                            downloadUrlSize));
        *fileSize = ReadDecimal64(markup::GetReplyField(reply.body, "filesize"));
        return S_OK;
    });
}

HRESULT AgentObject::FetchToFile(const char* url, const char* path, ProgressSink* progress) noexcept {
    const NetworkOperation operation(m_busy);
    RETURN_HR_IF(AGENT_E_BUSY, !operation);
    RETURN_IF_FAILED(BeginNetworkOperation());
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(url) || IsEmpty(path));
    return ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !m_session->SetUrl(url));
        // The file is opened only once the reply is a 200 and written as the body arrives, so a
        // download of any size keeps memory flat and a failed one leaves any existing file alone.
        FileWriter file(path);
        const web::DownloadResult download = m_session->Get(progress, file);
        RETURN_IF_FAILED(CheckHttpStatus(download.status));
        // A cancel keeps what arrived and counts as success; a cut or failed transfer does not.
        const bool stored =
            download.end == web::TransferEnd::Complete || download.end == web::TransferEnd::Cancelled;
        return file.Finish() && stored ? S_OK : E_FAIL;
    });
}

HRESULT AgentObject::ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                    LONG* remaining) noexcept {
    const NetworkOperation operation(m_busy);
    RETURN_HR_IF(AGENT_E_BUSY, !operation);
    *remaining = -1;
    RETURN_HR_IF(E_INVALIDARG, HasControlCharacter(code));
    RETURN_IF_FAILED(BeginNetworkOperation());
    RETURN_HR_IF(E_INVALIDARG, IsEmpty(serviceUrl));
    return ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !m_session->SetUrl(serviceUrl));
        m_session->AddField("ActivateCode", code);
        m_session->AddField("success", success != 0 ? "true" : "false");
        m_session->AddField("act", "2");
        const web::WebReply reply = m_session->Post(web::BodyEncoding::MULTIPART_FORM_DATA);
        RETURN_IF_FAILED(CheckHttpStatus(reply.status));
        RETURN_IF_FAILED(CheckServiceStatus(reply, true));
        const int32_t total = ReadDecimal32(markup::GetReplyField(reply.body, "dltotalcount"));
        const int32_t done = ReadDecimal32(markup::GetReplyField(reply.body, "dltimes"));
        *remaining = Remaining(total, done);
        return S_OK;
    });
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
