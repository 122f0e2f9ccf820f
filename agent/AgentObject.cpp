// The agent's state, the prologue every network operation runs, its four operations and the getters.
#include "agent/AgentObject.h"

#include "agent/CallerBuffer.h"
#include "agent/Decimal.h"
#include "agent/HashedBody.h"
#include "agent/HostProgress.h"
#include "agent/LocalFile.h"
#include "agent/SafeDownload.h"
#include "agent/Sha256.h"
#include "base/Result.h"
#include "markup/ReplyField.h"
#include "web/FixedUrls.h"
#include "web/HeaderLook.h"
#include "web/UrlSplit.h"
#include "web/WebSession.h"

#include <algorithm>
#include <cwchar>

namespace tamsel::agent {
namespace {

// A null text is refused as an empty one, never read.
bool IsEmpty(const char* text) noexcept {
    return text == nullptr || text[0] == '\0';
}

// URLs, serials, languages, types and codes go into request lines and form parts as they are: a
// control character in one (CR and LF above all) would add header lines, form fields or a whole second
// request. Such an argument is refused before anything is sent, the probe included.
using web::HasControlCharacter;

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
    bool Claimed() const noexcept { return m_claimed; }

private:
    std::atomic<bool>& m_busy;
    bool m_claimed;
};

static_assert(AGENT_E_BUSY == HRESULT_FROM_WIN32(ERROR_BUSY), "the busy code is the platform's own");

constexpr ULONG KNOWN_FETCH_FLAGS = TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME | TAMSEL_FETCH_STRICT_TLS;

// The host's sink as a ProgressSink2, when it is one.
ComPointer<ProgressSink2> BytesSinkOf(ProgressSink* sink) noexcept {
    ComPointer<ProgressSink2> bytes;
    if (sink != nullptr && FAILED(sink->QueryInterface(IID_ProgressSink2, bytes.put_void()))) bytes.release();
    return bytes;
}

// The download's own refusals of its arguments, before anything is sent: unknown flags, an expected
// size below -1, a path that names a folder, a digest to prove that is not 64 hex digits (one read
// into verified).
HRESULT CheckFetchArguments(const wchar_t* path, ULONG flags, LONGLONG expectedSize,
                            std::optional<const char*> sha256, Verification& verified) noexcept {
    RETURN_HR_IF(E_INVALIDARG, (flags & ~KNOWN_FETCH_FLAGS) != 0 || expectedSize < -1);
    return ComBoundary([&] {
        if (sha256 && !IsEmpty(*sha256)) {
            verified.digest = ParseDigest(*sha256);
            RETURN_HR_IF(E_INVALIDARG, !verified.digest);
        }
        return path != nullptr && NamesFolder(path) ? E_INVALIDARG : S_OK;
    });
}

// The verified download's reasons where FetchToFileEx says only E_FAIL: the local file's own error (a
// read-only target is access denied; the hash's own, such as the partial file unreadable at a resume,
// comes before the file saw the reply), a transfer that broke off; then, all else well, the digest.
HRESULT VerifiedOutcome(HRESULT result, const web::DownloadResult& download, const PartialDownload& partial,
                        HashedBody& body, const std::wstring& target) noexcept {
    const bool fileRefused = download.end == web::TransferEnd::ConsumerFailed || partial.Refused();
    if (fileRefused && IsReadOnly(target)) return E_ACCESSDENIED;
    if (body.LocalError() != 0) return HRESULT_FROM_WIN32(body.LocalError());
    if (result == E_FAIL) return AGENT_E_BROKEN;
    if (SUCCEEDED(result) && !body.Matches()) return AGENT_E_DIGEST_MISMATCH;
    return result;
}

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

// The opening of every network operation, in this order: busy first, so that a call from a sink changes
// nothing; control characters, then the operation's own refusals, before the probe, so that such an
// argument sends nothing at all; the probe, which replaces the session and clears the status slots; and
// only then empty arguments, as the first interface always answered them (without the internet, an
// empty argument is AGENT_E_NO_SESSION, which hosts and the tests of the probe hold to).
// A later interface's probe runs alongside the first request: its empty arguments are refused inside
// ProbedOutcome, which still answers AGENT_E_NO_SESSION first.
HRESULT AgentObject::OpenOperation(bool claimed, Texts sent, Texts required, HRESULT own,
                                   ProbeTiming timing) noexcept {
    RETURN_HR_IF(AGENT_E_BUSY, !claimed);
    RETURN_HR_IF(E_INVALIDARG, std::any_of(sent.begin(), sent.end(), [](const char* text) {
                     return text != nullptr && HasControlCharacter(text);
                 }));
    RETURN_IF_FAILED(own);
    RETURN_IF_FAILED(timing == ProbeTiming::BEFORE ? BeginNetworkOperation() : BeginLaterOperation());
    RETURN_HR_IF(E_INVALIDARG, std::any_of(required.begin(), required.end(), IsEmpty));
    return S_OK;
}

// Replaces the session with a fresh one and resets the status slots; false when none could be made.
bool AgentObject::FreshSession() noexcept {
    m_session.reset();
    const HRESULT built = ComBoundary([&] {
        m_session = std::make_unique<web::WebSession>(m_proxyCredentials);
        return S_OK;
    });
    m_lastHttpStatus = -1;
    m_lastServiceStatus = -1;
    return SUCCEEDED(built);
}

// A fresh session, kept only if its probe saw the internet. AGENT_E_NO_SESSION when there is no usable
// session.
HRESULT AgentObject::BeginNetworkOperation() noexcept {
    if (FreshSession() && !m_session->ProbeConnectivity()) {
        NoteProxyRefusal();
        m_session.reset();
        NoteProbeFailed();
    }
    if (m_session) NoteProbePassed();
    return m_session ? S_OK : AGENT_E_NO_SESSION;
}

// The prologue of the later interfaces' downloads: a fresh session whose probe runs alongside the
// download's first request, or none when one passed on this object a moment ago. Every result after
// it goes through ProbedOutcome, so that no answer but AGENT_E_NO_SESSION comes without a probe's 200.
HRESULT AgentObject::BeginLaterOperation() noexcept {
    RETURN_HR_IF(AGENT_E_NO_SESSION, !FreshSession());
    if (m_probePassedAt && ::GetTickCount() - *m_probePassedAt < RECENT_PROBE_MS) {
        m_session->TrustProbe();
    } else {
        m_session->StartProbe();
    }
    return S_OK;
}

// result, once the probe has passed; AGENT_E_NO_SESSION, and no session kept, when it did not.
HRESULT AgentObject::ProbedOutcome(HRESULT result) noexcept {
    if (!m_session || !m_session->ProbePassed()) {
        if (m_session) NoteProxyRefusal();
        m_session.reset();
        NoteProbeFailed();
        return AGENT_E_NO_SESSION;
    }
    if (m_session->ProbeAnswered()) NoteProbePassed();
    return result;
}

void AgentObject::NoteProbePassed() noexcept {
    m_probePassedAt = ::GetTickCount();
}

// The network is not what it was when the last probe passed (a captive portal may have taken it over):
// that pass no longer stands for the next download, which probes again.
void AgentObject::NoteProbeFailed() noexcept {
    m_probePassedAt.reset();
}

// A probe that a proxy asked for credentials is no machine without the internet: its 407 is kept for
// GetLastHttpStatus (no other status of the probe is: it tells nothing the host can act on).
void AgentObject::NoteProxyRefusal() noexcept {
    if (m_session->ProbeStatus() == HTTP_STATUS_PROXY_AUTH_REQ) m_lastHttpStatus = HTTP_STATUS_PROXY_AUTH_REQ;
}

HRESULT AgentObject::AsLaterInterface(HRESULT hr) const noexcept {
    const bool proxyRefused = (hr == AGENT_E_NO_SESSION || hr == AGENT_E_HTTP_STATUS) &&
                              m_lastHttpStatus == HTTP_STATUS_PROXY_AUTH_REQ;
    return proxyRefused ? AGENT_E_PROXY_AUTH : hr;
}

HRESULT AgentObject::SetProxyCredentials(const wchar_t* user, const wchar_t* password) noexcept {
    const NetworkOperation operation(m_busy);
    RETURN_HR_IF(AGENT_E_BUSY, !operation.Claimed());
    RETURN_HR_IF(E_INVALIDARG, user != nullptr && std::wcschr(user, L':') != nullptr);
    m_proxyCredentials.Clear();
    return ComBoundary([&] {
        m_proxyCredentials = web::ProxyCredentials(user, password);
        return S_OK;
    });
}

// A status other than 200 is kept for GetLastHttpStatus.
HRESULT AgentObject::CheckHttpStatus(int32_t status) noexcept {
    if (status == HTTP_STATUS_OK) {
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
    RETURN_IF_FAILED(OpenOperation(operation.Claimed(), {lookupUrl, serial, language, type},
                                   {lookupUrl, serial, language, type}));
    return ComBoundary([&] {
        // Plain concatenation: nothing is escaped, and a lookup URL with a query gets a second "?".
        const std::string query =
            std::string(lookupUrl) + "?SN=" + serial + "&LN=" + language + "&TYPE=" + type;
        int32_t status = 0;
        const std::string location =
            web::QueryUrlHeader(query.c_str(), "Location", false, nullptr, &m_proxyCredentials, &status);
        // A proxy that refused the look found nothing either way, but the host can do something about it.
        if (location.empty() && status == HTTP_STATUS_PROXY_AUTH_REQ) return CheckHttpStatus(status);
        RETURN_HR_IF(E_INVALIDARG, location.empty() || location == HomePageUrl);
        return CopyToCallerBuffer(location, target, targetSize);
    });
}

HRESULT AgentObject::QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                   const char* code, LONGLONG* fileSize) noexcept {
    const NetworkOperation operation(m_busy);
    if (operation.Claimed()) *fileSize = 0;
    RETURN_IF_FAILED(OpenOperation(operation.Claimed(), {serviceUrl, code}, {serviceUrl, code}));
    return ComBoundary([&] {
        web::WebReply reply;
        RETURN_IF_FAILED(AskForDownload(serviceUrl, code, reply));
        RETURN_IF_FAILED(CopyToCallerBuffer(markup::GetReplyField(reply.body, "downloadURL"), downloadUrl,
                                            downloadUrlSize));
        *fileSize = ReadDecimal64(markup::GetReplyField(reply.body, "filesize"));
        return S_OK;
    });
}

// Posts the code for a download; S_OK when the reply came with status 200 and service status 1.
HRESULT AgentObject::AskForDownload(const char* serviceUrl, const char* code, web::WebReply& reply) {
    RETURN_HR_IF(E_INVALIDARG, !m_session->SetUrl(serviceUrl));
    m_session->AddField("ActivateCode", code);
    m_session->AddField("act", "1");
    reply = m_session->Post(web::BodyEncoding::MULTIPART_FORM_DATA);
    RETURN_IF_FAILED(CheckHttpStatus(reply.status));
    return CheckServiceStatus(reply, false);
}

HRESULT AgentObject::QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                                     const char* code, LONGLONG* fileSize, char* sha256, ULONG sha256Size) noexcept {
    const NetworkOperation operation(m_busy);
    if (operation.Claimed()) *fileSize = 0;
    RETURN_IF_FAILED(AsLaterInterface(OpenOperation(operation.Claimed(), {serviceUrl, code}, {serviceUrl, code})));
    return AsLaterInterface(ComBoundary([&] {
        web::WebReply reply;
        RETURN_IF_FAILED(AskForDownload(serviceUrl, code, reply));
        const std::string url = markup::GetReplyField(reply.body, "downloadURL");
        const std::string named = markup::GetReplyField(reply.body, "sha256");
        const std::optional<Digest> digest = ParseDigest(named);
        if (!named.empty() && !digest) {
            m_lastServiceStatus = 0;  // an unreadable reply, as one that names no StatusCode
            return AGENT_E_SERVICE_STATUS;
        }
        const std::string digestText = digest ? DigestText(*digest) : std::string();
        RETURN_HR_IF(AGENT_E_BUFFER_TOO_SMALL,
                     !FitsCallerBuffer(url, downloadUrlSize) || !FitsCallerBuffer(digestText, sha256Size));
        CopyToCallerBuffer(url, downloadUrl, downloadUrlSize);
        CopyToCallerBuffer(digestText, sha256, sha256Size);
        *fileSize = ReadDecimal64(markup::GetReplyField(reply.body, "filesize"));
        return S_OK;
    }));
}

HRESULT AgentObject::FetchToFile(const char* url, const char* path, ProgressSink* progress) noexcept {
    const NetworkOperation operation(m_busy);
    RETURN_IF_FAILED(OpenOperation(operation.Claimed(), {url}, {url, path}));
    return ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !m_session->SetUrl(url));
        // The file is opened only once the reply is a 200 and written as the body arrives, so a
        // download of any size keeps memory flat and a failed one leaves any existing file alone.
        LocalFile file(WidenPath(path));
        DirectTarget target(file, ExpectedSize(-1));
        HostProgress reported(target, {progress, nullptr});
        const web::DownloadResult download = m_session->Get({}, reported);
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
    if (operation.Claimed()) *remaining = -1;
    RETURN_IF_FAILED(OpenOperation(operation.Claimed(), {serviceUrl, code}, {serviceUrl}));
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

// What a download that brought no whole file answers: a refused certificate or redirect, a status other
// than 200 kept for GetLastHttpStatus, a cancel, a broken transfer. A 206 counts as a success only when
// its body was taken: the answer to a resume that fits.
HRESULT AgentObject::CheckDownload(const web::DownloadResult& download) noexcept {
    RETURN_HR_IF(AGENT_E_CERTIFICATE, download.certificateRefused);
    RETURN_HR_IF(AGENT_E_INSECURE_REDIRECT, download.insecureRedirect);
    const bool partTaken =
        download.status == HTTP_STATUS_PARTIAL_CONTENT && download.end != web::TransferEnd::Declined;
    if (!partTaken) {
        RETURN_IF_FAILED(CheckHttpStatus(download.status));
    }
    RETURN_HR_IF(E_ABORT, download.end == web::TransferEnd::Cancelled);
    return download.end == web::TransferEnd::Complete ? S_OK : E_FAIL;
}

// The expected size's verdict beside the download's: a whole length announced otherwise, or a body that
// ran past it, before how the transfer ended; then, when no length was announced, the size the file came to.
HRESULT AgentObject::CheckSizedDownload(const web::DownloadResult& download, bool announcedOtherwise,
                                        uint64_t stored, const ExpectedSize& expected) noexcept {
    RETURN_HR_IF(AGENT_E_SIZE_MISMATCH, announcedOtherwise || download.end == web::TransferEnd::TooLong);
    RETURN_IF_FAILED(CheckDownload(download));
    RETURN_HR_IF(AGENT_E_SIZE_MISMATCH, !expected.Fits(stored));
    return S_OK;
}

HRESULT AgentObject::FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                                   LONGLONG expectedSize) noexcept {
    return FetchChecked(url, path, progress, flags, expectedSize, std::nullopt);
}

HRESULT AgentObject::FetchToFileVerified(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                                         LONGLONG expectedSize, const char* sha256) noexcept {
    return FetchChecked(url, path, progress, flags | TAMSEL_FETCH_REPLACE_SAFELY, expectedSize, sha256);
}

// Both downloads of a wide path: the arguments checked, then the body to the target or a partial file.
// sha256: the verified download's text (null or empty: no digest to prove); nothing: FetchToFileEx.
HRESULT AgentObject::FetchChecked(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                                  LONGLONG expectedSize, std::optional<const char*> sha256) noexcept {
    const NetworkOperation operation(m_busy);
    Verification verification;
    const HRESULT own = operation.Claimed() ? CheckFetchArguments(path, flags, expectedSize, sha256, verification)
                                            : S_OK;
    RETURN_IF_FAILED(OpenOperation(operation.Claimed(), {url}, {}, own, ProbeTiming::ALONGSIDE));
    const Verification* verified = sha256 ? &verification : nullptr;
    return AsLaterInterface(ProbedOutcome(ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, IsEmpty(url) || path == nullptr || path[0] == L'\0');
        const std::wstring target = PlatformPath(path);
        RETURN_HR_IF(E_INVALIDARG, target.empty());
        const bool strictTls = (flags & TAMSEL_FETCH_STRICT_TLS) != 0;
        RETURN_HR_IF(E_INVALIDARG, !m_session->SetDownloadUrl(url, strictTls));
        const ComPointer<ProgressSink2> bytes = BytesSinkOf(progress);
        web::DownloadAsk ask;
        ask.strictTls = strictTls;
        ask.expectedSize = expectedSize;
        const ProgressSinks sinks{progress, bytes.get()};
        if ((flags & (TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME)) == 0) {
            return FetchDirectly(target, ask, sinks);
        }
        return FetchSafely(url, target, ask, flags, sinks, verified);
    })));
}

// The file handling of FetchToFile: the target itself, opened on a 200 and written as the body comes.
HRESULT AgentObject::FetchDirectly(const std::wstring& path, const web::DownloadAsk& ask,
                                   const ProgressSinks& sinks) {
    const ExpectedSize expected(ask.expectedSize);
    LocalFile file(path);
    DirectTarget target(file, expected);
    HostProgress reported(target, sinks);
    const web::DownloadResult download = m_session->Get(ask, reported);
    RETURN_HR_IF(AGENT_E_NO_SESSION, !m_session->ProbePassed());
    RETURN_HR_IF(E_INVALIDARG, download.urlRefused);
    const bool closed = file.Finish();
    RETURN_IF_FAILED(CheckSizedDownload(download, target.mismatch, file.Size(), expected));
    return closed ? S_OK : E_FAIL;
}

// The body into a partial file beside the target, which takes the target's place only when whole (and,
// verified, only when its digest matches).
HRESULT AgentObject::FetchSafely(const char* url, const std::wstring& path, web::DownloadAsk& ask, ULONG flags,
                                 const ProgressSinks& sinks, const Verification* verified) {
    const ExpectedSize expected(ask.expectedSize);
    const bool resume = (flags & TAMSEL_FETCH_RESUME) != 0;
    const std::optional<SafePaths> paths = UsablePathsFor(path);
    RETURN_HR_IF(E_FAIL, !paths);  // every name beside the target leads elsewhere: nothing is touched
    const Digest* digest = verified != nullptr && verified->digest ? &*verified->digest : nullptr;
    std::optional<ResumePoint> point = resume ? FindResumePoint(*paths, url) : std::nullopt;
    ask.wantsValidator = resume;
    ask.digestProvesWhole = digest != nullptr;
    for (;;) {
        PartialDownload partial(*paths, url, point, expected, resume);
        HashedBody body(partial, digest);
        HostProgress reported(body, sinks);
        ask.resumeFrom = point ? point->offset : 0;
        ask.ifRange = point ? point->validator : std::string();
        const web::DownloadResult download = m_session->Get(ask, reported);
        if (!m_session->ProbePassed() || download.urlRefused) {
            partial.LeaveAlone();  // nothing was sent to it: what an earlier attempt left stays
            return m_session->ProbePassed() ? E_INVALIDARG : AGENT_E_NO_SESSION;
        }
        if (partial.StartOver() && point) {
            point.reset();  // the server cannot continue that file: ask for all of it, once
            continue;
        }
        HRESULT result = SafeOutcome(download, partial, expected);
        if (verified != nullptr) {
            result = VerifiedOutcome(result, download, partial, body, paths->target);
        }
        if (result == AGENT_E_DIGEST_MISMATCH && partial.MaySplice()) {
            // The earlier bytes and the rest may be of two versions of the file (an FTP file replaced by
            // one of the same size within the minute its listing tells), which only the digest could
            // tell: the whole file once more, from its first byte, before its digest is called wrong.
            partial.Abandon(false);
            point.reset();
            continue;
        }
        if (FAILED(result)) {
            // Bytes past the expected size, or bytes whose digest does not match, are no start to resume.
            partial.Abandon(download.end != web::TransferEnd::TooLong && result != AGENT_E_DIGEST_MISMATCH);
            return result;
        }
        if (partial.Replace()) return S_OK;
        const DWORD error = ::GetLastError();
        partial.Abandon();  // without a record to resume from, nothing stays beside the target
        return verified != nullptr && error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
}

// How a safe download ended, before the replace, as FetchToFileEx reports it: a local refusal is the
// file's fault whatever the status, a body of another size than expected or announced is no whole file,
// and every other failure of the file or the transfer is E_FAIL.
HRESULT AgentObject::SafeOutcome(const web::DownloadResult& download, const PartialDownload& partial,
                                 const ExpectedSize& expected) noexcept {
    RETURN_HR_IF(E_FAIL, partial.Refused());
    RETURN_IF_FAILED(CheckSizedDownload(download, partial.SizeMismatch(), partial.Size(), expected));
    return partial.Size() == partial.Whole().value_or(partial.Size()) ? S_OK : E_FAIL;
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
