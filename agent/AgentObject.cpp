// The agent's state, the opening every network operation runs, its four network operations and their answers.
#include "agent/AgentObject.h"

#include "agent/DownloadJudge.h"
#include "agent/DownloadProgress.h"
#include "agent/HashedBody.h"
#include "agent/LocalFile.h"
#include "agent/SafeDownload.h"
#include "agent/ServiceProtocol.h"
#include "web/FixedUrls.h"
#include "web/HeaderLook.h"
#include "web/UrlSplit.h"
#include "web/WebSession.h"

#include <algorithm>
#include <cwchar>
#include <new>

namespace tamsel::agent {
namespace {

// A null text is refused as an empty one, never read.
bool IsEmpty(const char* text) noexcept {
    return text == nullptr || text[0] == '\0';
}

// URLs, serials, languages, types and codes go into request lines and form parts as they are: a
// control character in one (CR and LF above all) would add header lines, form fields or a whole second
// request. Such an argument is refused before anything is sent, the probe included.
bool HoldsControlCharacter(const char* text) noexcept {
    return text != nullptr && web::HasControlCharacter(text);
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
    bool Claimed() const noexcept { return m_claimed; }

private:
    std::atomic<bool>& m_busy;
    bool m_claimed;
};

// Runs work so that nothing it throws leaves the agent: memory that ran out, or a fault of the agent's
// own, is the reason the operation ended where it was.
template <typename Work>
Reason Contained(Work&& work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Reason::OutOfMemory;
    } catch (...) {
        return Reason::Unexpected;
    }
}

Reason NothingOwn() noexcept {
    return Reason::Done;
}

// A download's own refusals of its arguments, before anything is sent: one its face could not take, an
// expected size below -1, a digest that is not 64 hex digits, a path that names a folder.
Reason DownloadRefusal(const DownloadRequest& request) {
    const bool refused = request.refused || request.expectedSize < -1 ||
                         (!request.sha256.empty() && !ParseDigest(request.sha256)) ||
                         (!request.pathAsGiven && NamesFolder(request.path.c_str()));
    return refused ? Reason::Refused : Reason::Done;
}

// A download that retries refuses, beside a download's own refusals: no source or more than it takes, an
// empty source or one holding a control character, a policy out of its bounds.
Reason ResilientRefusal(const ResilientRequest& request) {
    const auto unusable = [](const std::string& source) {
        return source.empty() || HoldsControlCharacter(source.c_str());
    };
    const DownloadPolicy& policy = request.policy;
    const bool refused = request.sources.empty() || request.sources.size() > ResilientRequest::MAX_SOURCES ||
                         std::any_of(request.sources.begin(), request.sources.end(), unusable) ||
                         policy.maxAttempts == 0 || policy.maxAttempts > DownloadPolicy::MAX_ATTEMPTS ||
                         policy.connections > DownloadPolicy::MAX_CONNECTIONS;
    return refused ? Reason::Refused : DownloadRefusal(request.download);
}

}  // namespace

DownloadFacts SafeFacts(const web::DownloadResult& transfer, const PartialDownload& partial, HashedBody& body,
                        const ExpectedSize& expected) {
    DownloadFacts facts;
    facts.transfer = transfer;
    facts.fileRefused = partial.Refused() || transfer.end == web::TransferEnd::ConsumerFailed;
    facts.localError = body.LocalError();
    facts.announcedOtherwise = partial.SizeMismatch();
    facts.ofExpectedSize = expected.Fits(partial.Size());
    facts.ofAnnouncedSize = partial.Size() == partial.Whole().value_or(partial.Size());
    facts.digestMatches = body.Matches();
    return facts;
}

const uint32_t AgentObject::PROBE_WAIT_MS = web::WebSession::PROBE_WAIT_MS;

AgentObject::AgentObject() noexcept = default;

AgentObject::~AgentObject() = default;

// One network operation: the object claimed for its length, the opening, the work, and the statuses kept
// behind its answer. own is the operation's own verdict on its arguments, asked only once it holds the object.
template <typename Own, typename Work>
void AgentObject::Run(Answer& answer, const Opening& opening, Own&& own, Work&& work) noexcept {
    const NetworkOperation operation(m_busy);
    if (!operation.Claimed()) {
        answer.reason = Reason::Busy;
        return;
    }
    answer.reason = Open(opening, Contained(own));
    if (answer.reason == Reason::Done) {
        answer.reason = Contained(work);
        if (opening.timing == ProbeTiming::ALONGSIDE) answer.reason = ProbedOutcome(answer.reason);
    }
    answer.httpStatus = m_lastHttpStatus;
    answer.serviceStatus = m_lastServiceStatus;
}

// The opening of every network operation, in this order (after busy, which changes nothing): control
// characters, then the operation's own refusals, before the probe, so that such an argument sends nothing
// at all; the probe, which replaces the session and clears the status slots; and only then empty arguments,
// as the first interface always answered them (without the internet, an empty argument is NoInternet,
// which hosts and the tests of the probe hold to). An operation whose probe runs alongside refuses its
// empty arguments in its work, inside ProbedOutcome, which still answers NoInternet first.
Reason AgentObject::Open(const Opening& opening, Reason own) noexcept {
    if (std::any_of(opening.sent.begin(), opening.sent.end(), HoldsControlCharacter)) return Reason::Refused;
    if (own != Reason::Done) return own;
    const Reason probed = opening.timing == ProbeTiming::BEFORE ? ProbeFirst() : ProbeAlongside();
    if (probed != Reason::Done) return probed;
    if (std::any_of(opening.required.begin(), opening.required.end(), IsEmpty)) return Reason::Refused;
    return Reason::Done;
}

// Replaces the session with a fresh one and resets the status slots; false when none could be made.
bool AgentObject::FreshSession() noexcept {
    m_session.reset();
    const Reason built = Contained([&] {
        m_session = std::make_unique<web::WebSession>(m_proxyCredentials);
        return Reason::Done;
    });
    m_lastHttpStatus = -1;
    m_lastServiceStatus = -1;
    return built == Reason::Done;
}

// A fresh session, kept only if its probe saw the internet.
Reason AgentObject::ProbeFirst() noexcept {
    if (FreshSession() && !m_session->ProbeConnectivity()) {
        NoteProxyRefusal();
        m_session.reset();
        NoteProbeFailed();
    }
    if (m_session) NoteProbePassed();
    return m_session ? Reason::Done : Reason::NoInternet;
}

// A fresh session whose probe runs alongside the first request, or none when one passed on this object a
// moment ago. Every answer after it goes through ProbedOutcome, so that none but NoInternet comes without
// a probe's 200.
Reason AgentObject::ProbeAlongside() noexcept {
    if (!FreshSession()) return Reason::NoInternet;
    if (m_probePassedAt && ::GetTickCount() - *m_probePassedAt < RECENT_PROBE_MS) {
        m_session->TrustProbe();
    } else {
        m_session->StartProbe();
    }
    return Reason::Done;
}

// reason, once the probe has passed; NoInternet, and no session kept, when it did not.
Reason AgentObject::ProbedOutcome(Reason reason) noexcept {
    if (!m_session || !m_session->ProbePassed()) {
        if (m_session) NoteProxyRefusal();
        m_session.reset();
        NoteProbeFailed();
        return Reason::NoInternet;
    }
    if (m_session->ProbeAnswered()) NoteProbePassed();
    return reason;
}

void AgentObject::NoteProbePassed() noexcept {
    m_probePassedAt = ::GetTickCount();
}

// The network is not what it was when the last probe passed (a captive portal may have taken it over):
// that pass no longer stands for the next download, which probes again.
void AgentObject::NoteProbeFailed() noexcept {
    m_probePassedAt.reset();
}

// A probe that a proxy asked for credentials is no machine without the internet: its 407 is kept for the
// getter (no other status of the probe is: it tells nothing the host can act on).
void AgentObject::NoteProxyRefusal() noexcept {
    if (m_session->ProbeStatus() == HTTP_STATUS_PROXY_AUTH_REQ) m_lastHttpStatus = HTTP_STATUS_PROXY_AUTH_REQ;
}

// A status other than 200 is kept for the getter.
Reason AgentObject::HttpStatusOf(int32_t status) noexcept {
    if (status == HTTP_STATUS_OK) return Reason::Done;
    m_lastHttpStatus = status;
    return Reason::HttpStatus;
}

// A service status the service's protocol does not accept is kept for the getter.
Reason AgentObject::ServiceStatusOf(const ServiceVerdict& verdict) noexcept {
    if (verdict.accepted) return Reason::Done;
    m_lastServiceStatus = verdict.serviceStatus;
    return Reason::ServiceStatus;
}

Answer AgentObject::SetProxyCredentials(const wchar_t* user, const wchar_t* password) noexcept {
    const NetworkOperation operation(m_busy);
    Answer answer;
    if (!operation.Claimed()) {
        answer.reason = Reason::Busy;
    } else if (user != nullptr && std::wcschr(user, L':') != nullptr) {
        answer.reason = Reason::Refused;
    } else {
        m_proxyCredentials.Clear();
        answer.reason = Contained([&] {
            m_proxyCredentials = web::ProxyCredentials(user, password);
            return Reason::Done;
        });
    }
    return answer;
}

LookupAnswer AgentObject::LookupRedirect(const char* lookupUrl, const char* serial, const char* language,
                                         const char* type) noexcept {
    LookupAnswer answer;
    Run(answer, {{lookupUrl, serial, language, type}, {lookupUrl, serial, language, type}}, NothingOwn,
        [&] { return Look(lookupUrl, serial, language, type, answer.target); });
    return answer;
}

Reason AgentObject::Look(const char* lookupUrl, const char* serial, const char* language, const char* type,
                         std::string& target) {
    // Plain concatenation: nothing is escaped, and a lookup URL with a query gets a second "?".
    const std::string query = std::string(lookupUrl) + "?SN=" + serial + "&LN=" + language + "&TYPE=" + type;
    int32_t status = 0;
    std::string location =
        web::QueryUrlHeader(query.c_str(), "Location", false, nullptr, &m_proxyCredentials, &status);
    // A proxy that refused the look found nothing either way, but the host can do something about it.
    if (location.empty() && status == HTTP_STATUS_PROXY_AUTH_REQ) return HttpStatusOf(status);
    if (location.empty() || location == HomePageUrl) return Reason::NotFound;
    target = std::move(location);
    return Reason::Done;
}

QueryAnswer AgentObject::QueryDownload(const char* serviceUrl, const char* code, NamedDigest digest) noexcept {
    QueryAnswer answer;
    Run(answer, {{serviceUrl, code}, {serviceUrl, code}}, NothingOwn,
        [&] { return Ask(serviceUrl, code, digest, answer); });
    return answer;
}

ReportAnswer AgentObject::ReportDownload(const char* serviceUrl, const char* code, bool success) noexcept {
    ReportAnswer answer;
    // The code is not required: an empty one is sent as an empty "ActivateCode".
    Run(answer, {{serviceUrl, code}, {serviceUrl}}, NothingOwn,
        [&] { return Tell(ReportForm(code, success), serviceUrl, answer); });
    return answer;
}

ReportAnswer AgentObject::ReportDownload(const char* serviceUrl, const char* code, bool success,
                                         const ReportedDownload& download) noexcept {
    ReportAnswer answer;
    Run(answer, {{serviceUrl, code}, {serviceUrl}}, NothingOwn,
        [&] { return Tell(ReportForm(code, success, download), serviceUrl, answer); });
    return answer;
}

// Posts the form to the service URL (after at most one Location look); Done when the reply came with 200.
Reason AgentObject::PostForm(const char* serviceUrl, const std::vector<FormField>& form, web::WebReply& reply) {
    if (!m_session->SetUrl(serviceUrl)) return Reason::Refused;
    for (const FormField& field : form) m_session->AddField(field.name, field.value.c_str());
    reply = m_session->Post(web::BodyEncoding::MULTIPART_FORM_DATA);
    return HttpStatusOf(reply.status);
}

Reason AgentObject::Ask(const char* serviceUrl, const char* code, NamedDigest digest, QueryAnswer& answer) {
    web::WebReply reply;
    const Reason posted = PostForm(serviceUrl, QueryForm(code), reply);
    if (posted != Reason::Done) return posted;
    return ServiceStatusOf(ReadQueryReply(reply.body, digest, answer));
}

Reason AgentObject::Tell(const std::vector<FormField>& form, const char* serviceUrl, ReportAnswer& answer) {
    web::WebReply reply;
    const Reason posted = PostForm(serviceUrl, form, reply);
    if (posted != Reason::Done) return posted;
    return ServiceStatusOf(ReadReportReply(reply.body, answer));
}

DownloadOutcome AgentObject::Download(const DownloadRequest& request, DownloadProgress* progress) noexcept {
    DownloadOutcome outcome;
    const bool lookFirst = request.route == DownloadRequest::Route::LookFirst;
    Run(outcome, {{request.url}, {}, lookFirst ? ProbeTiming::BEFORE : ProbeTiming::ALONGSIDE},
        [&] { return DownloadRefusal(request); }, [&] { return Fetch(request, progress, outcome); });
    return outcome;
}

ResilientOutcome AgentObject::DownloadResilient(const ResilientRequest& request, DownloadProgress* progress) noexcept {
    ResilientOutcome outcome;
    Run(outcome, {{request.download.url}, {}, ProbeTiming::ALONGSIDE}, [&] { return ResilientRefusal(request); },
        [&] { return FetchResilient(request, progress, outcome); });
    return outcome;
}

// The download's empty arguments and its paths, its URL set, then the body into the target itself or into
// a partial file beside it.
Reason AgentObject::Fetch(const DownloadRequest& request, DownloadProgress* progress, DownloadOutcome& outcome) {
    if (IsEmpty(request.url) || request.path.empty()) return Reason::Refused;
    const std::wstring target = request.pathAsGiven ? request.path : PlatformPath(request.path.c_str());
    if (target.empty()) return Reason::Refused;
    const bool urlSet = request.route == DownloadRequest::Route::LookFirst
                            ? m_session->SetUrl(request.url, request.strictTls)
                            : m_session->SetDownloadUrl(request.url, request.strictTls);
    if (!urlSet) return Reason::Refused;
    web::DownloadAsk ask;
    ask.strictTls = request.strictTls;
    ask.expectedSize = request.expectedSize;
    // A digest is proven in a partial file only, which asking for one asks for too.
    if (request.safely || request.resume || !request.sha256.empty()) {
        return FetchSafely(request, target, ask, progress, outcome);
    }
    return FetchDirectly(target, ask, progress, outcome);
}

// The target itself, opened on a 200 and written as the body comes: a download of any size keeps memory
// flat, and one that fails before its 200 leaves any existing file alone.
Reason AgentObject::FetchDirectly(const std::wstring& path, const web::DownloadAsk& ask, DownloadProgress* progress,
                                  DownloadOutcome& outcome) {
    const ExpectedSize expected(ask.expectedSize);
    LocalFile file(path);
    DirectTarget target(file, expected);
    ProgressBody body(target, progress, outcome.reach);
    DownloadFacts facts;
    facts.transfer = m_session->Get(ask, body);
    if (!m_session->ProbePassed()) return Reason::NoInternet;
    if (facts.transfer.urlRefused) return Reason::Refused;
    target.Finish();
    facts.fileRefused = target.refused;
    facts.localError = target.localError;
    facts.announcedOtherwise = target.mismatch;
    facts.ofExpectedSize = expected.Fits(file.Size());
    return Judged(facts, path, outcome);
}

// The body into a partial file beside the target, which takes the target's place only when whole (and,
// with a digest, only when the digest matches).
Reason AgentObject::FetchSafely(const DownloadRequest& request, const std::wstring& path, web::DownloadAsk& ask,
                                DownloadProgress* progress, DownloadOutcome& outcome) {
    const ExpectedSize expected(ask.expectedSize);
    const std::optional<SafePaths> paths = UsablePathsFor(path);
    if (!paths) return Reason::LocalFile;  // every name beside the target leads elsewhere: nothing is touched
    const std::optional<Digest> digest = ParseDigest(request.sha256);
    std::optional<ResumePoint> point = request.resume ? FindResumePoint(*paths, request.url) : std::nullopt;
    ask.wantsValidator = request.resume;
    ask.digestProvesWhole = digest.has_value();
    for (;;) {
        PartialDownload partial(*paths, request.url, point, expected, request.resume);
        HashedBody hashed(partial, digest ? &*digest : nullptr);
        ProgressBody body(hashed, progress, outcome.reach);
        ask.resumeFrom = point ? point->offset : 0;
        ask.ifRange = point ? point->validator : std::string();
        const web::DownloadResult transfer = m_session->Get(ask, body);
        if (!m_session->ProbePassed() || transfer.urlRefused) {
            partial.LeaveAlone();  // nothing was sent to it: what an earlier attempt left stays
            return m_session->ProbePassed() ? Reason::Refused : Reason::NoInternet;
        }
        if (partial.StartOver() && point) {
            point.reset();  // the server cannot continue that file: ask for all of it, once
            continue;
        }
        DownloadFacts facts = SafeFacts(transfer, partial, hashed, expected);
        const std::optional<Reason> settled = SettleAttempt(facts, partial, paths->target, outcome);
        if (settled) return *settled;
        point.reset();
    }
}

// How an attempt of a safe download ended, once the partial file took the target's place or was let go of;
// nothing when the whole file is to be asked for once more.
std::optional<Reason> AgentObject::SettleAttempt(DownloadFacts& facts, PartialDownload& partial,
                                                 const std::wstring& target, DownloadOutcome& outcome) {
    const Reason reason = Judged(facts, target, outcome);
    if (reason == Reason::DigestMismatch && partial.MaySplice()) {
        // The earlier bytes and the rest may be of two versions of the file (an FTP file replaced by one of
        // the same size within the minute its listing tells), which only the digest could tell: the whole
        // file once more, from its first byte, before its digest is called wrong.
        partial.Abandon(false);
        return std::nullopt;
    }
    if (reason != Reason::Done) {
        // Bytes past the expected size, or bytes whose digest does not match, are no start to resume.
        partial.Abandon(facts.transfer.end != web::TransferEnd::TooLong && reason != Reason::DigestMismatch);
        return reason;
    }
    if (partial.Replace()) return Reason::Done;
    outcome.localError = ::GetLastError();
    partial.Abandon();  // without a record to resume from, nothing stays beside the target
    return Reason::LocalFile;
}

// The judge's reading of facts, and what it leaves beside the answer: an HTTP status kept for the getter,
// the platform's error of a local failure. A read-only target whose file was refused is access denied,
// whatever the file said: it is never overwritten, nor replaced.
Reason AgentObject::Judged(DownloadFacts& facts, const std::wstring& target, DownloadOutcome& outcome) noexcept {
    if (facts.fileRefused && IsReadOnly(target)) facts.localError = ERROR_ACCESS_DENIED;
    const Reason reason = Judge(facts);
    if (reason == Reason::HttpStatus) m_lastHttpStatus = facts.transfer.status;
    if (reason == Reason::LocalFile) outcome.localError = facts.localError;
    return reason;
}

}  // namespace tamsel::agent
